#include "model/engine.h"

#include <algorithm>
#include <atomic>

#ifdef _OPENMP
#include <omp.h>
#endif

// The OpenMP runtime is not built for ThreadSanitizer, which therefore cannot
// see that a team starts after the master's writes and ends before its
// reads. Under the sanitizer the fork and the join are declared to it.
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define VELTRANE_TSAN_RELEASE(p) __tsan_release(p)
#define VELTRANE_TSAN_ACQUIRE(p) __tsan_acquire(p)
#else
#define VELTRANE_TSAN_RELEASE(p) ((void)(p))
#define VELTRANE_TSAN_ACQUIRE(p) ((void)(p))
#endif

namespace model {

namespace {
std::atomic<int> requestedThreads{0};
std::atomic<int> largestTeam{0};
char forkToken, joinToken; // addresses only: the sanitizer's fork and join

void noteTeam(int size)
{
    int seen = largestTeam.load(std::memory_order_relaxed);
    while (size > seen && !largestTeam.compare_exchange_weak(seen, size)) {
    }
}
} // namespace

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

int LargestTeam() { return largestTeam.exchange(0); }

void ForEachChunk(int count, int grain, void (*fn)(void*, int, int), void* ctx)
{
    if (count <= 0)
        return;
    grain = std::max(1, grain);
    const int threads = std::min(ThreadCount(), (count + grain - 1) / grain);
    if (threads <= 1) {
        noteTeam(1);
        fn(ctx, 0, count);
        return;
    }
    // About four chunks a thread: enough to even out dots of very different
    // cost (the repeat shortcut ends some orbits after a few steps, others
    // never), few enough that each chunk keeps its lockstep lanes busy.
    grain = std::max(grain, count / (threads * 4));
    const int chunks = (count + grain - 1) / grain;
#ifdef _OPENMP
    VELTRANE_TSAN_RELEASE(&forkToken);
#pragma omp parallel num_threads(threads)
    {
        VELTRANE_TSAN_ACQUIRE(&forkToken);
        if (omp_get_thread_num() == 0)
            noteTeam(omp_get_num_threads());
#pragma omp for schedule(dynamic, 1)
        for (int c = 0; c < chunks; ++c)
            fn(ctx, c * grain, std::min(count, (c + 1) * grain));
        VELTRANE_TSAN_RELEASE(&joinToken);
    }
    VELTRANE_TSAN_ACQUIRE(&joinToken);
#else
    fn(ctx, 0, count);
#endif
}

} // namespace model
