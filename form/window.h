// The window port: everything a command may do to the window, and nothing
// more. The Qt window and the headless window both implement it, so every
// command runs the same in the application and in tests.
#pragma once

#include "model/errors.h"
#include "model/state.h"
#include "plots/surface.h"

#include <cstdint>
#include <new>
#include <string>

namespace form {

// The types the port speaks in.
using model::Cancelled;
using model::RuntimeError;
using model::State;
using plots::Surface;

// The controls a command reads or writes, named as in the control table.
enum class Control : uint8_t {
    txtW0, txtW1, txtW2, txtW3, txtW4, txtW5,
    txtP0, txtP1, txtP2, txtP3,
    txtIdx0, txtIdx1,
    txtX00, txtX01,
    txtNumStartValues,
    txtFileName,
    txtStepSize, txtIterations, txtAccuracy,
    chkReshuffle, chkFp,
    lblx, lbly, lblpx, lblpy,
    Count
};

// Members of the control groups. Selecting a member that does not exist is
// the index-out-of-range error.
Control txtW(int index);
Control txtP(int index);
Control txtIdx(int index);
Control txtX0(int index);

// The name of a control as it appears in the control table, e.g. "txtW(4)".
const char* ControlName(Control c);

// The design-time text of a field or caption of a label ("" for check boxes).
const char* DefaultText(Control c);

class Window {
public:
    virtual ~Window() = default;

    virtual State& state() = 0;

    virtual std::string text(Control c) const = 0;
    // Sets a field's text or a label's caption. When the text really changes,
    // the field's change handling runs at once, nested inside this call, as a
    // real text field raises its change event; writing the same text raises
    // nothing.
    virtual void setText(Control c, const std::string& text) = 0;
    virtual bool isChecked(Control c) const = 0;

    // A coordinate as the readout labels show it: the pattern "0.0000" (four
    // decimals, at least one digit before the separator, a minus sign for
    // any negative value, "-0.0000" included) with the decimal separator of
    // the user's locale. This default always writes a full stop; the screen
    // window supplies its locale's separator. Display only, never read back.
    virtual std::string formatCoordinate(double v) const;

    virtual Surface& canvas() = 0;

    // The pause between two columns of a plot: shows what was drawn and lets
    // every pending window event run. Throws Cancelled when the window is
    // closing, so the running plots unwind.
    virtual void processPendingEvents() = 0;

    // Tells the user about a run-time error that stopped a handler.
    virtual void reportError(const RuntimeError& error) = 0;
};

// Runs one bound event handler: a run-time error is reported and swallowed,
// a Cancelled unwind ends the handler silently. Nothing crosses the event loop:
// running out of memory (say, for a text of gigabytes) is reported like any
// other run-time error, and the program goes on.
template <class Handler>
void Guarded(Window& window, Handler&& handler)
{
    try {
        handler();
    } catch (const RuntimeError& e) {
        window.reportError(e);
    } catch (const Cancelled&) {
    } catch (const std::bad_alloc&) {
        window.reportError(RuntimeError(RuntimeError::Kind::OutOfMemory,
                                        "Out of memory: the command could not be completed."));
    }
}

} // namespace form
