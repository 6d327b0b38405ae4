#include "plots/canvas.h"

#include "model/numbers.h"

#include <algorithm>
#include <cstddef>

namespace plots {

Canvas::Canvas(int width, int height, model::Color background)
    : width_(width), height_(height), background_(background),
      bits_(static_cast<size_t>(width) * height, ToPixel(background))
{
}

uint32_t Canvas::ToPixel(model::Color c)
{
    return 0xFF000000u | (static_cast<uint32_t>(model::RedOf(c)) << 16)
           | (static_cast<uint32_t>(model::GreenOf(c)) << 8)
           | static_cast<uint32_t>(model::BlueOf(c));
}

model::Color Canvas::FromPixel(uint32_t p)
{
    return model::Rgb((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

void Canvas::clear()
{
    std::fill(bits_.begin(), bits_.end(), ToPixel(background_));
    printX_ = printY_ = 0;
    printed_.clear();
    markDirty({0, 0, width_, height_});
}

void Canvas::setDot(int column, int row, model::Color color)
{
    // A dot of width s covers columns c - h .. c - h + s - 1 and rows
    // r + h - s + 1 .. r + h, with h = s / 2 rounded half to even. The raster
    // counts columns from the left edge and rows from the bottom edge, both
    // centred at offset + h, so its dots tile the canvas without gap or
    // overlap in both directions. Width 1 is exactly one pixel.
    const int s = std::max(1, dotWidth_);
    const int h = model::RoundHalfEven16(s / 2.0);
    const int left = std::max(0, column - h), right = std::min(width_, column - h + s);
    const int top = std::max(0, row + h - s + 1), bottom = std::min(height_, row + h + 1);
    if (left >= right || top >= bottom)
        return;
    const uint32_t p = ToPixel(color);
    for (int y = top; y < bottom; ++y)
        std::fill(bits_.begin() + static_cast<ptrdiff_t>(y) * width_ + left,
                  bits_.begin() + static_cast<ptrdiff_t>(y) * width_ + right, p);
    markDirty({left, top, right, bottom});
}

model::Color Canvas::pixel(int column, int row) const
{
    if (column < 0 || row < 0 || column >= width_ || row >= height_)
        return background_;
    return FromPixel(bits_[static_cast<size_t>(row) * width_ + column]);
}

void Canvas::print(const std::string& line)
{
    printed_.push_back({printX_, printY_, foreColor_, line});
    int lineHeight = 16;
    if (textPainter_)
        lineHeight = textPainter_(*this, printX_, printY_, foreColor_, line);
    printX_ = 0;
    printY_ += lineHeight;
}

void Canvas::markDirty(const PixelRect& r)
{
    if (r.empty())
        return;
    if (dirty_.empty()) {
        dirty_ = r;
        return;
    }
    dirty_.left = std::min(dirty_.left, r.left);
    dirty_.top = std::min(dirty_.top, r.top);
    dirty_.right = std::max(dirty_.right, r.right);
    dirty_.bottom = std::max(dirty_.bottom, r.bottom);
}

PixelRect Canvas::takeDirty()
{
    PixelRect r = dirty_;
    dirty_ = {};
    return r;
}

} // namespace plots
