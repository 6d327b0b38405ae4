// picColorPicker on the screen: a flat one-pixel border around a drawing area
// that keeps no picture. Every paint runs the paint handler afresh into a
// scratch surface that starts as the background; a press hands the handler
// the picker as it is displayed.
#pragma once

#include "form/window.h"
#include "plots/canvas.h"

#include <QWidget>

#include <functional>
#include <optional>

namespace ui {

class PickerWidget : public QWidget, public plots::Surface {
    Q_OBJECT
public:
    explicit PickerWidget(QWidget* parent);

    std::function<void(plots::Surface&)> onPaint;
    std::function<void(plots::Surface&, int button, int shift, float x, float y)> onMouseDown;

    // The surface of a press: pixels are read from the strip as displayed,
    // dots are shown by repainting (the paint handler draws penColor).
    void clear() override;
    void setDotWidth(int width) override { dotWidth_ = width; }
    int dotWidth() const override { return dotWidth_; }
    void setDot(int column, int row, model::Color color) override;
    model::Color pixel(int column, int row) const override;
    void setForeColor(model::Color) override {}
    void setPrintX(int) override {}
    void setPrintY(int) override {}
    int printX() const override { return 0; }
    int printY() const override { return 0; }
    void print(const std::string&) override {}

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    // The drawing area as the paint handler draws it, in the picker's own
    // pixels: what the screen shows, scaled by the display's factor.
    plots::Canvas strip() const;

    int dotWidth_ = 1;
    std::optional<plots::Canvas> shown_; // the strip as it stood when a press began
};

} // namespace ui
