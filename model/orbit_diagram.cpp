#include "model/orbit_diagram.h"

#include "model/network.h"

#include <cmath>

namespace model::kernel {

int OrbitRow(const OrbitColumnSetup& setup, double v)
{
    if (!(v >= setup.low && v <= setup.high))
        return -1; // outside the bounds, or NaN
    const double r = std::floor(((v - setup.low) * setup.rows) / (setup.high - setup.low));
    return r >= setup.rows ? setup.rows - 1 : static_cast<int>(r);
}

int OrbitColumn(const Weights& w, const OrbitColumnSetup& setup, double* x, double* y, int n,
                uint32_t* counts, double* states)
{
    for (int k = 0; k < n; ++k) {
        double a = x[k], b = y[k];
        bool ok = true;
        const int total = setup.iterations + setup.points;
        for (int t = 0; t < total && ok; ++t) {
            const double s1 = (w[0] * a + w[1] * b) + w[4];
            const double s2 = (w[2] * a + w[3] * b) + w[5];
            b = Transfer(s2, ok);
            a = Transfer(s1, ok);
            const int j = t - setup.iterations;
            if (j < 0 || !ok)
                continue;
            const int row = OrbitRow(setup, setup.showY ? b : a);
            if (row >= 0)
                ++counts[row];
            if (states) {
                states[(static_cast<int64_t>(k) * setup.points + j) * 2] = a;
                states[(static_cast<int64_t>(k) * setup.points + j) * 2 + 1] = b;
            }
        }
        x[k] = a;
        y[k] = b;
        if (!ok)
            return k;
    }
    return -1;
}

} // namespace model::kernel
