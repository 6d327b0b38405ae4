// A headless window whose canvas records every dot set on it, in order.
#pragma once

#include "plots/headless_window.h"

#include <vector>

namespace testing_support {

// The whole picture of a canvas, for comparing two runs pixel for pixel.
inline std::vector<uint32_t> pictureOf(const plots::Canvas& c)
{
    return std::vector<uint32_t>(c.bits(), c.bits() + c.width() * c.height());
}

struct DotRecorder : plots::HeadlessWindow {
    struct Dot {
        int column, row, width;
        model::Color color;
    };
    std::vector<Dot> dots;
    struct Recording : plots::Canvas {
        std::vector<Dot>* out = nullptr;
        void setDot(int c, int r, model::Color color) override
        {
            out->push_back({c, r, dotWidth(), color});
            plots::Canvas::setDot(c, r, color);
        }
    } recording;
    DotRecorder() { recording.out = &dots; }
    plots::Canvas& canvas() override { return recording; }
};

} // namespace testing_support
