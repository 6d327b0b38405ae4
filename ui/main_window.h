// frmVeltrane: the program's only window. It owns the controls, the canvas
// with its persistent image and the model state, and binds every control's
// event to its handler through one guard.
#pragma once

#include "form/window.h"
#include "plots/canvas.h"

#include <QFont>
#include <QWidget>

#include <array>
#include <functional>
#include <map>
#include <string>

class QDialog;

namespace ui {

class CanvasWidget;
class PickerWidget;

// The window system's default dialog font, which every control and the
// legend use. The program makes it the application's font.
QFont DialogFont();

class MainWindow : public QWidget, public form::Window {
    Q_OBJECT
public:
    // Creates every control with its design-time content, then runs the load
    // handler; the caller shows the window.
    explicit MainWindow(QWidget* parent = nullptr);

    model::State& state() override { return state_; }
    std::string text(form::Control c) const override;
    void setText(form::Control c, const std::string& text) override;
    bool isChecked(form::Control c) const override;
    // "0.0000" in ASCII digits with "-" for a negative value, and the decimal
    // separator of QLocale(), the user's locale unless a default was set; no
    // group separators.
    std::string formatCoordinate(double v) const override;
    plots::Canvas& canvas() override { return canvas_; }
    void processPendingEvents() override;
    // Shows the canvas as it stands, then the error: to errorSink where one
    // is set, else in a message box that the failing handler waits for.
    void reportError(const model::RuntimeError& error) override;

    // The control of the given table name, e.g. "txtW(4)" or "cmdVeltrane".
    QWidget* control(const QString& name) const;
    CanvasWidget* canvasWidget() const { return canvasWidget_; }
    PickerWidget* pickerWidget() const { return picker_; }

    // Replaces the modal message box, for tests.
    std::function<void(const model::RuntimeError&)> errorSink;

    // Runs a handler inside the guard, as the event binding does.
    void runGuarded(const std::function<void(form::Window&)>& handler);

    bool isClosing() const { return closing_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void bindHandlers();
    void installTextPainter();
    void bindClick(const char* button, void (*handler)(form::Window&));
    void showErrorBox(const QString& message);

    model::State state_;
    plots::Canvas canvas_;
    CanvasWidget* canvasWidget_ = nullptr;
    PickerWidget* picker_ = nullptr;
    std::map<QString, QWidget*> byName_;
    std::array<QWidget*, static_cast<size_t>(form::Control::Count)> byControl_{};
    bool closing_ = false;
    QDialog* errorBox_ = nullptr; // the error box while it is open
};

} // namespace ui
