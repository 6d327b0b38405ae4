#include "ui/canvas_widget.h"

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace ui {

namespace {

constexpr int kBorder = 1;

QRect onWidget(const plots::PixelRect& r)
{
    return QRect(r.left + kBorder, r.top + kBorder, r.right - r.left, r.bottom - r.top);
}

} // namespace

CanvasWidget::CanvasWidget(plots::Canvas& canvas, QWidget* parent)
    : QWidget(parent), canvas_(canvas)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CanvasWidget::showChanges()
{
    const plots::PixelRect r = canvas_.takeDirty();
    if (!r.empty())
        update(onWidget(r));
}

void CanvasWidget::showChangesNow()
{
    const plots::PixelRect r = canvas_.takeDirty();
    if (!r.empty())
        repaint(onWidget(r));
}

void CanvasWidget::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QImage image(reinterpret_cast<const uchar*>(canvas_.bits()), canvas_.width(),
                       canvas_.height(), canvas_.width() * 4, QImage::Format_RGB32);
    const QRect target = event->rect().intersected(
        QRect(kBorder, kBorder, canvas_.width(), canvas_.height()));
    painter.drawImage(target, image, target.translated(-kBorder, -kBorder));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(0, 0, width() - 1, height() - 1);
    canvas_.takeDirty(); // everything is on the screen now
}

int ButtonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return 0;
    }
}

int ShiftCode(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0)
           | (modifiers & Qt::AltModifier ? 4 : 0);
}

bool InDrawingArea(QPointF p, int width, int height)
{
    return p.x() >= 0 && p.y() >= 0 && p.x() < width && p.y() < height;
}

void CanvasWidget::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    const QPointF p = event->position() - QPointF(kBorder, kBorder);
    if (onMouseDown && InDrawingArea(p, canvas_.width(), canvas_.height())) {
        onMouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()),
                    static_cast<float>(p.x()), static_cast<float>(p.y()));
    }
}

void CanvasWidget::mouseMoveEvent(QMouseEvent* event)
{
    // Also a move dragged past the edge of the canvas reports nothing.
    const QPointF p = event->position() - QPointF(kBorder, kBorder);
    if (onMouseMove && InDrawingArea(p, canvas_.width(), canvas_.height())) {
        int buttons = 0;
        if (event->buttons() & Qt::LeftButton) buttons |= 1;
        if (event->buttons() & Qt::RightButton) buttons |= 2;
        if (event->buttons() & Qt::MiddleButton) buttons |= 4;
        onMouseMove(buttons, ShiftCode(event->modifiers()), static_cast<float>(p.x()),
                    static_cast<float>(p.y()));
    }
}

} // namespace ui
