// One batch render: the plot, the window's fields it reads, and the raster.
//
// The fields carry their values as the window would read them from the text
// typed into the field, each text read strictly as one number. A job is checked against the ranges the window
// accepts before anything is computed, and it is written beside the picture
// as JSON, from which the same picture can be rendered again.
#pragma once

#include "model/state.h"

#include <nlohmann/json_fwd.hpp>

#include <array>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace render {

// A mode: the position of its row in the table of modes (render/plan.h,
// rows in render/modes.cpp). The first row, veltrane, is the default.
struct Mode {
    uint8_t index = 0;
    friend bool operator==(Mode, Mode) = default;
};

// The command-line name of a mode ("veltrane", "fpbas", ...).
const char* ModeName(Mode mode);
// The mode of a name; throws UsageError for an unknown one.
Mode ModeOf(std::string_view name);
// "veltrane, fpbas, fixpt, parametric, coexisting, lyapunov, ...".
std::string ModeNames();
// Every mode, in the order of the table.
std::span<const Mode> AllModes();

constexpr int kMaxPixels = 32767;
constexpr int kMaxLyapunovSteps = 1000000;

struct Job {
    Mode mode;                               // veltrane
    model::Weights w{};                      // w11 w12 w21 w22 b1 b2
    int size = 1;                            // dot size 1..100 (the window's default is 20)
    int iterations = 1000;                   // 1..32767
    int accuracy = 8;                        // 1..14
    std::array<int, 2> idx{4, 5};            // parameter-plane axes, 0..5 each
    std::array<double, 4> range{-1, 1, -1, 1};  // parameter plane: left right bottom top
    std::array<double, 2> x0{1, 1};          // start point of the parametric plot
    int startValues = 5;                     // 1..params::kMaxStartValues
    bool reshuffle = false, fp = false;      // the two check boxes
    std::array<int, 3> pen{0, 0, 0};         // drawing colour, 0..255 each
    int pixels = model::kCanvasSize;                       // N: the picture is N x N, 2..32767
    std::array<double, 4> region{-1, 1, -1, 1}; // state plane: x0 x1 y0 y1
    // Beyond the window: the period cap of veltrane and parametric, 16..4096
    // (16 is the window's); lyapunov's plane, measuring steps and colour limits.
    int maxPeriod = model::kWindowPeriodCap;
    bool parameterPlane = false;             // lyapunov over the parameter plane from x0
    int lyapunovSteps = 1000;                // 1..kMaxLyapunovSteps
    std::array<double, 2> scale{-1, 0.5};    // lyapunov colour limits LO < HI
    // The analyses: the Newton starts of cycles (G x G), the basin statistics
    // of the modes with classes and their box size, the bifurcation curves of
    // the fixed points over parametric, and stability's curves alone.
    int seeds = 64;
    bool stats = false;
    int statsBox = 5;
    bool curves = false;
    bool curvesOnly = false;
    bool spectrum = false;                   // lyapunov: both exponents in the classes
    // The orbit diagram: parameter K (0..5) swept from L at the left to R at
    // the right, the neuron shown (y when set) over the bounds LO < HI, the
    // states counted per orbit, and whether each column's orbits go on from
    // the previous column's final states.
    std::array<double, 3> sweep{4, -1, 1};
    bool showY = false;
    std::array<double, 2> bounds{-1, 1};
    int points = 1000;                       // 1..model::kernel::kMaxOrbitPoints
    bool continueOrbits = false;

    friend bool operator==(const Job&, const Job&) = default;
};

// A command line or job file that cannot be run as given.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The job of the window's design-time texts, with dot size 1.
Job DefaultJob();

// Throws UsageError naming the first value outside what the window accepts,
// or an option the job's mode does not read that is not at its default.
void Validate(const Job& job);

// The job as JSON: {"mode": ..., "options": {...}}, each option under its
// command-line name without the dashes; and back. FromJson starts from the
// defaults, so a hand-written job file may leave options out; an unknown
// option, a value of the wrong kind or out of range is a UsageError. The rows
// of the option table (render/options.h) say what is written and read.
void ToJson(const Job& job, nlohmann::json& out);
Job FromJson(const nlohmann::json& in);

} // namespace render
