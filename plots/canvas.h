// The canvas picBasins: a persistent image of 800 x 800 pixels that every
// command draws into, and that is shown, cleared and saved as a whole.
#pragma once

#include "plots/surface.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace plots {

using model::kCanvasSize;

// A rectangle of pixels, right and bottom exclusive.
struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return right <= left || bottom <= top; }
};

// A picture box with a persistent image of any size. Pixels are stored as
// 0xFFRRGGBB, so a window can show them without conversion.
class Canvas : public plots::Surface {
public:
    // Draws one line of text into the image at (x, y), the top-left corner of
    // the line, and returns the line height. The window supplies one that uses
    // its font; without one the text is only recorded.
    using TextPainter =
        std::function<int(Canvas&, int x, int y, model::Color, const std::string&)>;

    struct PrintedLine {
        int x, y;
        model::Color color;
        std::string text;
    };

    explicit Canvas(int width = kCanvasSize, int height = kCanvasSize,
                    model::Color background = model::Rgb(255, 255, 255));

    void clear() override;
    void setDotWidth(int width) override { dotWidth_ = width; }
    int dotWidth() const override { return dotWidth_; }
    void setDot(int column, int row, model::Color color) override;
    model::Color pixel(int column, int row) const override;

    void setForeColor(model::Color color) override { foreColor_ = color; }
    void setPrintX(int x) override { printX_ = x; }
    void setPrintY(int y) override { printY_ = y; }
    int printX() const override { return printX_; }
    int printY() const override { return printY_; }
    void print(const std::string& line) override;

    int width() const { return width_; }
    int height() const { return height_; }
    model::Color background() const { return background_; }
    model::Color foreColor() const { return foreColor_; }
    uint32_t* bits() { return bits_.data(); }
    const uint32_t* bits() const { return bits_.data(); }

    void setTextPainter(TextPainter painter) { textPainter_ = std::move(painter); }
    const std::vector<PrintedLine>& printedLines() const { return printed_; }

    // The part of the image changed since the last call, for repainting.
    PixelRect takeDirty();
    void markDirty(const PixelRect& r);

    static uint32_t ToPixel(model::Color c);
    static model::Color FromPixel(uint32_t p);

private:
    int width_, height_;
    model::Color background_;
    std::vector<uint32_t> bits_;
    int dotWidth_ = 1;
    model::Color foreColor_ = 0;
    int printX_ = 0, printY_ = 0;
    TextPainter textPainter_;
    std::vector<PrintedLine> printed_;
    PixelRect dirty_;
};

} // namespace plots
