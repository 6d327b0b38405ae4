#include "ui/picker_widget.h"

#include "plots/canvas.h"
#include "ui/canvas_widget.h"
#include "ui/side_tools.h"

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

void PickerWidget::paintEvent(QPaintEvent*)
{
    plots::Canvas scratch(kPickerWidth, kPickerHeight, kPickerBackground);
    if (onPaint)
        onPaint(scratch);
    dotWidth_ = scratch.dotWidth();
    const QImage image(reinterpret_cast<const uchar*>(scratch.bits()), scratch.width(),
                       scratch.height(), scratch.width() * 4, QImage::Format_RGB32);
    QPainter painter(this);
    painter.drawImage(kBorder, kBorder, image);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(0, 0, width() - 1, height() - 1);
}

void PickerWidget::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    if (!onMouseDown)
        return;
    shown_ = grab().toImage();
    const QPointF p = event->position() - QPointF(kBorder, kBorder);
    onMouseDown(*this, ButtonCode(event->button()), ShiftCode(event->modifiers()),
                static_cast<float>(p.x()), static_cast<float>(p.y()));
    shown_ = QImage();
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
    const QImage shown = shown_.isNull() ? const_cast<PickerWidget*>(this)->grab().toImage()
                                         : shown_;
    const QPoint p(column + kBorder, row + kBorder);
    if (!shown.valid(p))
        return plots::Canvas::FromPixel(palette().color(QPalette::Window).rgb());
    return plots::Canvas::FromPixel(shown.pixel(p));
}

} // namespace ui
