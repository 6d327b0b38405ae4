#include "bench/scalar_lockstep.h"

#include "model/lanes.h"

namespace bench {

namespace {

using model::kWindowPeriodCap;
using model::kernel::Orbit;
namespace lanes = model::kernel::lanes;

// W orbits, each stepped by MapStep one after the other, refilled by
// lanes::Run; the transient is cut short by an exact repeat when shortcut.
template <int W>
class ScalarLanes {
public:
    ScalarLanes(bool shortcut, const model::Weights& w, int iterations, int accuracy,
                const double* x0, const double* y0, bool locateFp, Orbit* out)
        : w_(w.data()), x0_(x0), y0_(y0), out_(out), iterations_(iterations),
          eps_(model::kernel::Tolerance(accuracy)), shortcut_(shortcut), locateFp_(locateFp)
    {
    }

    void idle(int) {}

    void start(int l, int k)
    {
        x_[l] = x0_[k];
        y_[l] = y0_[k];
        ok_[l] = true;
        recorded_[l] = 0;
        clock_[l].start(iterations_, shortcut_, x_[l], y_[l]);
    }

    void step(const int* orbit)
    {
        for (int l = 0; l < W; ++l) {
            if (orbit[l] < 0)
                continue; // an idle lane costs no exponential
            if (clock_[l].done()) {
                hx_[l][recorded_[l]] = x_[l];
                hy_[l][recorded_[l]] = y_[l];
            }
            model::kernel::MapStep(w_, x_[l], y_[l], ok_[l]);
        }
    }

    bool finished(int l, int k)
    {
        if (!clock_[l].done()) {
            clock_[l].stepped(x_[l], y_[l]);
            return false;
        }
        if (++recorded_[l] < kWindowPeriodCap)
            return false;
        out_[k] = model::kernel::FinishOrbit(hx_[l], hy_[l], x_[l], y_[l], ok_[l], eps_, locateFp_);
        return true;
    }

private:
    const double* w_;
    const double *x0_, *y0_;
    Orbit* out_;
    int iterations_;
    double eps_;
    bool shortcut_, locateFp_;
    double x_[W], y_[W];
    bool ok_[W];
    int recorded_[W];
    lanes::Transient clock_[W];
    double hx_[W][kWindowPeriodCap], hy_[W][kWindowPeriodCap];
};

template <int W>
void run(bool shortcut, const model::Weights& w, int iterations, int accuracy, const double* x0,
         const double* y0, int n, bool locateFp, Orbit* out)
{
    ScalarLanes<W> k(shortcut, w, iterations, accuracy, x0, y0, locateFp, out);
    lanes::Run<W>(n, k);
}

} // namespace

void ClassifyScalarLockstep(int width, bool shortcut, const model::Weights& w, int iterations,
                            int accuracy, const double* x0, const double* y0, int n,
                            bool locateFp, Orbit* out)
{
    switch (width) {
    case 8:
        return run<8>(shortcut, w, iterations, accuracy, x0, y0, n, locateFp, out);
    case 4:
        return run<4>(shortcut, w, iterations, accuracy, x0, y0, n, locateFp, out);
    case 2:
        return run<2>(shortcut, w, iterations, accuracy, x0, y0, n, locateFp, out);
    default:
        return run<1>(shortcut, w, iterations, accuracy, x0, y0, n, locateFp, out);
    }
}

} // namespace bench
