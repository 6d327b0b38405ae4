// The transfer function over a block of sums at once, in vector lanes.
#pragma once

namespace model::kernel {

constexpr int kTransferLanes = 16;

// t[i] = Transfer(s[i]) for i < kTransferLanes, the same bits as one at a
// time; bad[i] is 0 where the step was sound and NaN where s + s or its
// exponential overflowed (or s was NaN).
void TransferLanes(const double* s, double* t, double* bad);

} // namespace model::kernel
