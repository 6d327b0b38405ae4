#include "ui/main_window.h"

#include "form/basins.h"
#include "form/canvas_mouse.h"
#include "form/coexisting.h"
#include "form/fixpoints.h"
#include "form/parametric.h"
#include "form/settings.h"
#include "form/side_tools.h"
#include "ui/canvas_widget.h"
#include "ui/controls.h"
#include "ui/icon.h"
#include "ui/picker_widget.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QWindow>

#include <algorithm>
#include <climits>

namespace ui {

QFont DialogFont()
{
    // Small enough that every caption fits its fixed box ("Iterations" in 49
    // pixels, "x =" in 17), given in pixels so that it looks the same on
    // every screen.
    QFont font(QStringLiteral("DejaVu Sans Condensed"));
    font.setPixelSize(11);
    return font;
}

MainWindow::MainWindow(QWidget* parent) : QWidget(parent)
{
    setObjectName("frmVeltrane");
    setWindowTitle(QStringLiteral("ABC of 2-Neuron-Network with Bias.   {veltrane@example.org}"));
    setWindowIcon(ProgramIcon());
    setFixedSize(kClientWidth, kClientHeight);
    createControls();
    installTextPainter();
    form::Form_Load(*this);
    bindHandlers(); // after the design-time texts, so start-up raises no change
}

void MainWindow::createControls()
{
    for (const ControlSpec& entry : ControlTable()) {
        QWidget* container = this;
        if (*entry.container)
            container = byName_.at(QString::fromLatin1(entry.container));
        QWidget* w = nullptr;
        const QString text = QString::fromUtf8(entry.text);
        switch (entry.kind) {
        case Kind::PictureBox:
            if (QLatin1String(entry.name) == QLatin1String("picBasins")) {
                canvasWidget_ = new CanvasWidget(canvas_, container);
                w = canvasWidget_;
            } else {
                picker_ = new PickerWidget(container);
                w = picker_;
            }
            break;
        case Kind::Label:
            w = new QLabel(text, container);
            break;
        case Kind::TextField: {
            auto* edit = new QLineEdit(text, container);
            edit->setMaxLength(INT_MAX); // any text of any length
            w = edit;
            break;
        }
        case Kind::Button:
            w = new QPushButton(text, container);
            break;
        case Kind::Frame:
            w = new QGroupBox(text, container);
            break;
        case Kind::CheckBox:
            w = new QCheckBox(container);
            break;
        }
        w->setObjectName(QString::fromLatin1(entry.name));
        if (*entry.toolTip)
            w->setToolTip(QString::fromUtf8(entry.toolTip));
        w->setGeometry(entry.left, entry.top, entry.width, entry.height);
        byName_[w->objectName()] = w;
    }
    for (int i = 0; i < static_cast<int>(form::Control::Count); ++i) {
        const auto c = static_cast<form::Control>(i);
        byControl_[i] = byName_.at(QString::fromLatin1(form::ControlName(c)));
    }
    const auto order = TabOrder();
    for (size_t i = 0; i + 1 < order.size(); ++i)
        setTabOrder(byName_.at(order[i]), byName_.at(order[i + 1]));
    canvasWidget_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::installTextPainter()
{
    // Legend text goes into the persistent image in the window's font, with
    // plain pixels of the text colour only, so a saved picture keeps its
    // colours exact.
    canvas_.setTextPainter([this](plots::Canvas& c, int x, int y, model::Color color,
                                  const std::string& line) {
        QImage image(reinterpret_cast<uchar*>(c.bits()), c.width(), c.height(), c.width() * 4,
                     QImage::Format_RGB32);
        QFont f = font();
        f.setStyleStrategy(QFont::NoAntialias);
        const QFontMetrics metrics(f);
        const QString text = QString::fromStdString(line);
        {
            QPainter painter(&image);
            painter.setFont(f);
            painter.setPen(QColor(model::RedOf(color), model::GreenOf(color),
                                  model::BlueOf(color)));
            painter.drawText(x, y + metrics.ascent(), text);
        }
        c.markDirty({std::max(0, x), std::max(0, y),
                     std::min(c.width(), x + metrics.horizontalAdvance(text) + 2),
                     std::min(c.height(), y + metrics.height())});
        return metrics.height();
    });
}

void MainWindow::runGuarded(const std::function<void(form::Window&)>& handler)
{
    form::Guarded(*this, [&] { handler(*this); });
    canvasWidget_->showChanges(); // what a handler drew shows when it returns
}

void MainWindow::bindClick(const char* button, void (*handler)(form::Window&))
{
    auto* b = qobject_cast<QPushButton*>(byName_.at(QString::fromLatin1(button)));
    connect(b, &QPushButton::clicked, this, [this, handler] { runGuarded(handler); });
}

void MainWindow::bindHandlers()
{
    for (form::Control c :
         {form::Control::txtStepSize, form::Control::txtIterations, form::Control::txtAccuracy}) {
        auto* edit = qobject_cast<QLineEdit*>(byControl_[static_cast<size_t>(c)]);
        form::ChangeHandler handler = form::ChangeHandlerOf(c);
        connect(edit, &QLineEdit::textChanged, this, [this, handler] { runGuarded(handler); });
    }
    bindClick("cmdVeltrane", &form::cmdVeltrane_Click);
    bindClick("cmdFixpointBasins", &form::cmdFixpointBasins_Click);
    bindClick("cmdParametric", &form::cmdParametric_Click);
    bindClick("cmdCoexisting", &form::cmdCoexisting_Click);
    canvasWidget_->onMouseDown = [this](int button, int shift, float x, float y) {
        runGuarded([=](form::Window& w) {
            form::picBasins_MouseDown(w, static_cast<int16_t>(button),
                                      static_cast<int16_t>(shift), x, y);
        });
    };
    canvasWidget_->onMouseMove = [this](int button, int shift, float x, float y) {
        runGuarded([=](form::Window& w) {
            form::picBasins_MouseMove(w, static_cast<int16_t>(button),
                                      static_cast<int16_t>(shift), x, y);
        });
    };
    bindClick("cmdLegend", &form::cmdLegend_Click);
    bindClick("cmdClear", &form::cmdClear_Click);
    bindClick("cmdSave", &form::cmdSave_Click);
    // The picker's paint cannot fail; it runs in the guard all the same, so
    // nothing ever crosses the event loop.
    picker_->onPaint = [this](plots::Surface& picker) {
        form::Guarded(*this, [&] { form::picColorPicker_Paint(*this, picker); });
    };
    picker_->onMouseDown = [this](plots::Surface& picker, int button, int shift, float x,
                                  float y) {
        runGuarded([&](form::Window& w) {
            form::picColorPicker_MouseDown(w, picker, button, shift, x, y);
        });
    };
    bindClick("cmdFixpoints", &form::cmdFixpoints_Click);
}

QWidget* MainWindow::control(const QString& name) const
{
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

std::string MainWindow::text(form::Control c) const
{
    QWidget* w = byControl_[static_cast<size_t>(c)];
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text().toStdString();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text().toStdString();
    return {};
}

void MainWindow::setText(form::Control c, const std::string& text)
{
    QWidget* w = byControl_[static_cast<size_t>(c)];
    const QString q = QString::fromStdString(text);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        if (edit->text() != q)
            edit->setText(q); // raises the change handling, nested
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(q);
    }
}

std::string MainWindow::formatCoordinate(double v) const
{
    // Digits and sign stay ASCII whatever the locale (no native digits, no
    // typographic minus, no direction marks, no group separators); only the
    // decimal separator is the user's.
    std::string text = form::Window::formatCoordinate(v);
    const size_t point = text.find('.');
    if (point != std::string::npos)
        text.replace(point, 1, QLocale().decimalPoint().toStdString());
    return text;
}

bool MainWindow::isChecked(form::Control c) const
{
    auto* box = qobject_cast<QCheckBox*>(byControl_[static_cast<size_t>(c)]);
    return box && box->isChecked();
}

void MainWindow::processPendingEvents()
{
    canvasWidget_->showChanges();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (closing_)
        throw model::Cancelled{};
}

namespace {

// Keeps the user's input away from one window while it exists.
class InputHold : public QObject {
public:
    explicit InputHold(QWidget* window) : window_(window) { qApp->installEventFilter(this); }
    ~InputHold() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* target, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::InputMethod:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
            if (auto* widget = qobject_cast<QWidget*>(target))
                return widget->window() == window_;
            return target == window_->windowHandle();
        default:
            return false;
        }
    }

private:
    QWidget* window_;
};

} // namespace

void MainWindow::reportError(const model::RuntimeError& error)
{
    // The box stands over the canvas as the failing handler left it.
    canvasWidget_->showChangesNow();
    if (errorSink) {
        errorSink(error);
        return;
    }
    if (closing_)
        return; // the program is ending; nobody is left to read it
    showErrorBox(QString::fromStdString(error.what()));
}

void MainWindow::showErrorBox(const QString& message)
{
    // The failing handler waits for the answer and the window takes no input
    // meanwhile, as under a modal box. The box is not modal to the window
    // system all the same: that would drop the close request of the window,
    // and closing the window ends the program, box or not.
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Veltrane"), message, QMessageBox::Ok,
                    this);
    box.setWindowModality(Qt::NonModal);
    QEventLoop answered;
    connect(&box, &QDialog::finished, &answered, &QEventLoop::quit);
    const InputHold hold(this);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    errorBox_ = &box;
    box.show();
    // Ask for the keyboard focus outright: with no window manager nobody
    // hands it to a new window, and Return would go on to the window, where
    // the hold swallows it. With the focus on OK, Return and Escape answer.
    box.raise();
    box.activateWindow();
    box.defaultButton()->setFocus(Qt::ActiveWindowFocusReason);
    answered.exec();
    errorBox_ = nullptr;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A plot that is drawing notices at its next pause and unwinds; an open
    // error box goes with the window; the event loop then ends the program.
    closing_ = true;
    if (errorBox_)
        errorBox_->reject();
    event->accept();
    QCoreApplication::quit();
}

} // namespace ui
