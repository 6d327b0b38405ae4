#include "ui/picker_widget.h"

#include "form/side_tools.h"
#include "ui/canvas_widget.h"

#include <QMouseEvent>
#include <QPainter>

namespace ui {

namespace {
constexpr int kBorder = 1;
}

PickerWidget::PickerWidget(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

plots::Canvas PickerWidget::strip() const
{
    plots::Canvas scratch(form::kPickerWidth, form::kPickerHeight, form::kPickerBackground);
    if (onPaint)
        onPaint(scratch);
    return scratch;
}

void PickerWidget::paintEvent(QPaintEvent*)
{
    const plots::Canvas shown = strip();
    dotWidth_ = shown.dotWidth();
    const QImage image(reinterpret_cast<const uchar*>(shown.bits()), shown.width(),
                       shown.height(), shown.width() * 4, QImage::Format_RGB32);
    QPainter painter(this);
    painter.drawImage(kBorder, kBorder, image);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(0, 0, width() - 1, height() - 1);
}

void PickerWidget::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    const QPointF p = event->position() - QPointF(kBorder, kBorder);
    // The border is not part of the drawing area: a press on it chooses nothing.
    if (!onMouseDown || !InDrawingArea(p, form::kPickerWidth, form::kPickerHeight))
        return;
    // Read from the strip in the picker's own pixels rather than from a grab
    // of the screen, which on a scaled display counts device pixels.
    shown_ = strip();
    onMouseDown(*this, ButtonCode(event->button()), ShiftCode(event->modifiers()),
                static_cast<float>(p.x()), static_cast<float>(p.y()));
    shown_.reset();
}

void PickerWidget::clear()
{
    update();
}

void PickerWidget::setDot(int column, int row, model::Color)
{
    const int s = dotWidth_;
    update(QRect(column - s / 2 - 1 + kBorder, row - s / 2 - 1 + kBorder, s + 2, s + 2));
}

model::Color PickerWidget::pixel(int column, int row) const
{
    return shown_ ? shown_->pixel(column, row) : strip().pixel(column, row);
}

} // namespace ui
