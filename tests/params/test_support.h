// Helpers shared by the parameter-plane tests.
#pragma once

#include "plots/canvas.h"
#include "plots/headless_window.h"

#include <vector>

namespace testing_support {

inline std::vector<uint32_t> PictureOf(plots::Canvas& c)
{
    return std::vector<uint32_t>(c.bits(), c.bits() + c.width() * c.height());
}

// A headless window that records every dot together with the parameter
// vector as it stands when the dot is set.
struct DotRecorder : plots::HeadlessWindow {
    struct Dot {
        int column, row;
        model::Weights w;
        model::Color color;
    };
    std::vector<Dot> dots;
    struct Recording : plots::Canvas {
        DotRecorder* owner = nullptr;
        void setDot(int c, int r, model::Color color) override
        {
            owner->dots.push_back({c, r, owner->state().w, color});
            plots::Canvas::setDot(c, r, color);
        }
    } recording;
    DotRecorder() { recording.owner = this; }
    plots::Canvas& canvas() override { return recording; }
};

inline const uint32_t kWhite = plots::Canvas::ToPixel(model::Rgb(255, 255, 255));

} // namespace testing_support
