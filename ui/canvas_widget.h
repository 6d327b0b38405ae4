// picBasins on the screen: shows the persistent image inside a flat one-pixel
// border and reports mouse presses and moves in drawing-area pixels; those
// on the border are not reported.
#pragma once

#include "plots/canvas.h"

#include <QWidget>

#include <functional>

namespace ui {

class CanvasWidget : public QWidget {
    Q_OBJECT
public:
    using MouseHandler = std::function<void(int button, int shift, float x, float y)>;

    CanvasWidget(plots::Canvas& canvas, QWidget* parent);

    // Repaints the part of the image drawn since the last call, when the
    // event loop next runs.
    void showChanges();
    // The same at once, before anything else appears on the screen.
    void showChangesNow();

    MouseHandler onMouseDown;
    MouseHandler onMouseMove;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    plots::Canvas& canvas_;
};

// Button and shift state of a mouse event as the handlers take them:
// 1 left, 2 right, 4 middle; shift 1, control 2, alt 4.
int ButtonCode(Qt::MouseButton button);
int ShiftCode(Qt::KeyboardModifiers modifiers);

// Whether a mouse position, in drawing-area pixels, lies in a drawing area of
// width x height pixels. The border around it does not.
bool InDrawingArea(QPointF p, int width, int height);

} // namespace ui
