// A headless window whose canvas records every dot set on it, in order, with
// the parameter vector as it stands when the dot is set.
#pragma once

#include "form/headless_window.h"
#include "plots/canvas.h"

#include <vector>

namespace testing_support {

// The whole picture of a canvas, for comparing two runs pixel for pixel.
inline std::vector<uint32_t> PictureOf(const plots::Canvas& c)
{
    return std::vector<uint32_t>(c.bits(), c.bits() + c.width() * c.height());
}

struct DotRecorder : form::HeadlessWindow {
    struct Dot {
        int column, row, width;
        model::Weights w;
        model::Color color;
    };
    std::vector<Dot> dots;
    struct Recording : plots::Canvas {
        DotRecorder* owner = nullptr;
        void setDot(int c, int r, model::Color color) override
        {
            owner->dots.push_back({c, r, dotWidth(), owner->state().w, color});
            plots::Canvas::setDot(c, r, color);
        }
    } recording;
    DotRecorder() { recording.owner = this; }
    plots::Canvas& canvas() override { return recording; }
};

inline const uint32_t kWhite = plots::Canvas::ToPixel(model::Rgb(255, 255, 255));

} // namespace testing_support
