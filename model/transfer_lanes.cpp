#include "model/transfer_lanes.h"

#include "model/exp.h"

namespace model::kernel {

// Built with -O3 -fno-trapping-math (see CMakeLists.txt) so that the
// branch-free exponential vectorises: neither flag changes a single result,
// as only IEEE additions, multiplications, divisions, comparisons and bit
// operations are used and no operations are fused or reordered. One clone per
// vector width; all give the same bits.
__attribute__((target_clones("avx512f", "avx2", "default")))
void TransferLanes(const double* s, double* t, double* bad)
{
#pragma GCC ivdep
    for (int i = 0; i < kTransferLanes; ++i) {
        const double a = s[i] + s[i];
        const double e = Exp(a);
        t[i] = (e - 1.0) / (e + 1.0);
        bad[i] = (a - a) + (e - e); // a difference of an infinity or NaN is NaN
    }
}

} // namespace model::kernel
