#include "model/engine.h"

#include <algorithm>
#include <atomic>

#ifdef _OPENMP
#include <omp.h>
#endif

namespace model {

namespace {
std::atomic<int> requestedThreads{0};
}

void SetThreadCount(int count) { requestedThreads = std::max(0, count); }

int ThreadCount()
{
    const int requested = requestedThreads;
    if (requested > 0)
        return requested;
#ifdef _OPENMP
    return omp_get_num_procs();
#else
    return 1;
#endif
}

void ForEachChunk(int count, int grain, void (*fn)(void*, int, int), void* ctx)
{
    if (count <= 0)
        return;
    grain = std::max(1, grain);
    const int chunks = (count + grain - 1) / grain;
    const int threads = std::min(ThreadCount(), chunks);
    if (threads <= 1) {
        fn(ctx, 0, count);
        return;
    }
#ifdef _OPENMP
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
    for (int c = 0; c < chunks; ++c)
        fn(ctx, c * grain, std::min(count, (c + 1) * grain));
#else
    fn(ctx, 0, count);
#endif
}

} // namespace model
