// A window without a screen, for tests, benchmarks and batch use. It holds the
// same fields, check boxes and canvas as the real window; its pause between
// two columns calls a hook, so a caller can run any handler nested inside a
// plot, deterministically.
#pragma once

#include "form/window.h"
#include "plots/canvas.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace form {

class HeadlessWindow : public Window {
public:
    // Creates the fields with their design-time texts (no change events) and
    // runs the load handler.
    HeadlessWindow();

    model::State& state() override { return state_; }
    std::string text(Control c) const override;
    void setText(Control c, const std::string& text) override;
    bool isChecked(Control c) const override;
    plots::Canvas& canvas() override { return canvas_; }
    void processPendingEvents() override;
    void reportError(const model::RuntimeError& error) override;

    void setChecked(Control c, bool checked);

    // Runs a handler the way the window's event binding does: inside the guard.
    template <class Handler>
    void run(Handler&& handler)
    {
        Guarded(*this, [&] { handler(*this); });
    }

    // Called at every pause between two columns (none when empty).
    std::function<void()> onYield;
    int yieldCount = 0;
    // When set, the next pause throws Cancelled, as when the window closes.
    bool closing = false;

    // Every error reported so far, in order.
    std::vector<model::RuntimeError> errors;

private:
    model::State state_;
    std::array<std::string, static_cast<size_t>(Control::Count)> texts_;
    std::array<bool, static_cast<size_t>(Control::Count)> checked_{};
    plots::Canvas canvas_;
};

} // namespace form
