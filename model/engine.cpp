#include "model/engine.h"

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/info.h>
#include <oneapi/tbb/task_arena.h>
#include <oneapi/tbb/task_group.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// The library's scheduler is not built for ThreadSanitizer, so the sanitizer
// cannot see that a task starts after its launch and ends before its wait
// returns. Under the sanitizer these two hand-overs are declared to it.
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
char launchToken, doneToken; // addresses only: the sanitizer's hand-overs

std::atomic<int> requestedThreads{0};
std::atomic<int> largestTeam{0};

// The run whose threads the calling thread works for: set by RunThreads::run
// on the thread that runs it, and on a worker while it runs one of the run's
// chunks, so that nested loops stay in the run's arena. Null: the process's
// own count and arena.
struct RunArena {
    std::shared_ptr<tbb::task_arena> arena;
    int count = 1;
};
thread_local const RunArena* currentRun = nullptr;

// Sets currentRun for a scope, and puts back what it was.
class InRun {
public:
    explicit InRun(const RunArena* run) : before_(currentRun) { currentRun = run; }
    ~InRun() { currentRun = before_; }
    InRun(const InRun&) = delete;
    InRun& operator=(const InRun&) = delete;

private:
    const RunArena* before_;
};

void noteThread()
{
    // Slots of an arena are numbered from 0; the highest one in use tells how
    // many threads worked together.
    const int size = tbb::this_task_arena::current_thread_index() + 1;
    int seen = largestTeam.load(std::memory_order_relaxed);
    while (size > seen && !largestTeam.compare_exchange_weak(seen, size)) {
    }
}

// The arena the engine's work runs in, sized to ThreadCount(), and the limit
// on the library's worker pool that lets an arena hold more threads than the
// machine has cores (tests run 8 threads on 2 cores). Both are made again
// when the thread count changes; callers hold the returned pointer, so an
// arena in use stays alive until its last user lets go.
struct Pool {
    std::mutex mutex;
    int size = 0;
    std::shared_ptr<tbb::task_arena> arena;
    std::unique_ptr<tbb::global_control> limit;
};

Pool& pool()
{
    static Pool p;
    return p;
}

// One task's work: fn(ctx, a, b) on whichever thread runs it, for the run
// (or null) that launched it.
struct WorkFields {
    void (*fn)(void*, int, int);
    void* ctx;
    int a, b;
    const RunArena* run;
};

// The running thread's one read of the fields that the launching thread wrote
// into the task object. The library hands the object over, and recycles its
// memory, where the sanitizer cannot see; scripts/tsan.supp names this
// function, and only it, for that. The plots' data is handed over by the
// declared launch and completion.
__attribute__((noinline)) WorkFields TakeHandedOverWork(const WorkFields& fields)
{
    return fields;
}

class Work {
public:
    Work(void (*fn)(void*, int, int), void* ctx, int a, int b, const RunArena* run = nullptr)
        : fields_{fn, ctx, a, b, run}
    {
    }

    void operator()() const
    {
        const WorkFields w = TakeHandedOverWork(fields_);
        VELTRANE_TSAN_ACQUIRE(&launchToken);
        noteThread();
        InRun in(w.run);
        w.fn(w.ctx, w.a, w.b);
        VELTRANE_TSAN_RELEASE(&doneToken);
    }

private:
    WorkFields fields_;
};

// The chunk [begin, end) of a ForEachChunk.
struct Chunk {
    void (*fn)(void*, int, int);
    void* ctx;
    static void run(void* self, int begin, int end)
    {
        const Chunk& c = *static_cast<const Chunk*>(self);
        c.fn(c.ctx, begin, end);
    }
};
} // namespace

void SetThreadCount(int count) { requestedThreads = std::max(0, count); }

int Cores() { return std::max(1, tbb::info::default_concurrency()); }

int ThreadCount()
{
    if (currentRun)
        return currentRun->count;
    const int requested = requestedThreads;
    if (requested > 0)
        return requested;
    return Cores();
}

int LargestTeam() { return largestTeam.exchange(0); }

void detail::NoteCallingThread()
{
    int seen = 0;
    largestTeam.compare_exchange_strong(seen, 1);
}

namespace {
std::shared_ptr<tbb::task_arena> EngineArena()
{
    const int threads = ThreadCount();
    Pool& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.arena || p.size != threads) {
        p.limit.reset();
        p.limit = std::make_unique<tbb::global_control>(
            tbb::global_control::max_allowed_parallelism,
            std::max<size_t>(threads, tbb::info::default_concurrency()));
        p.arena = std::make_shared<tbb::task_arena>(threads);
        p.size = threads;
    }
    return p.arena;
}
} // namespace

void ForEachChunk(int count, int grain, void (*fn)(void*, int, int), void* ctx)
{
    if (count <= 0)
        return;
    grain = std::max(1, grain);
    const int threads = std::min(ThreadCount(), (count + grain - 1) / grain);
    if (threads <= 1) {
        detail::NoteCallingThread();
        fn(ctx, 0, count);
        return;
    }
    // About four chunks a thread: enough to even out dots of very different
    // cost (the repeat shortcut ends some orbits after a few steps, others
    // never), few enough that each chunk keeps its lockstep lanes busy. Idle
    // threads steal the chunks that are left.
    grain = std::max(grain, count / (threads * 4));
    const RunArena* run = currentRun;
    const std::shared_ptr<tbb::task_arena> arena = run ? run->arena : EngineArena();
    const int chunks = (count + grain - 1) / grain;
    Chunk chunk{fn, ctx};
    VELTRANE_TSAN_RELEASE(&launchToken);
    arena->execute([&] {
        tbb::task_group group;
        for (int c = 0; c < chunks; ++c) {
            const int end = std::min(count, (c + 1) * grain);
            group.run(group.defer(Work(Chunk::run, &chunk, c * grain, end, run)));
        }
        group.wait();
    });
    VELTRANE_TSAN_ACQUIRE(&doneToken);
}

struct RunThreads::Impl {
    // Lets the library hold more threads than the machine has cores, for a
    // run that asks for more (tests); kept for the run's life.
    std::unique_ptr<tbb::global_control> limit;
    RunArena run;
};

RunThreads::RunThreads(int count)
    : impl_(std::make_unique<Impl>()), count_(count > 0 ? count : Cores())
{
    if (count_ > Cores())
        impl_->limit = std::make_unique<tbb::global_control>(
            tbb::global_control::max_allowed_parallelism, count_);
    impl_->run.arena = std::make_shared<tbb::task_arena>(count_);
    impl_->run.count = count_;
}

RunThreads::~RunThreads() = default;

void RunThreads::runIn(void (*fn)(void*), void* ctx)
{
    InRun in(&impl_->run);
    impl_->run.arena->execute([&] { fn(ctx); });
}

struct ColumnTasks::Impl {
    std::shared_ptr<tbb::task_arena> arena = EngineArena();
    std::vector<std::unique_ptr<tbb::task_group>> groups;
    std::vector<char> pending; // a slot has parts launched and not yet waited for
};

ColumnTasks::ColumnTasks(int slots) : impl_(std::make_unique<Impl>())
{
    for (int s = 0; s < slots; ++s)
        impl_->groups.push_back(std::make_unique<tbb::task_group>());
    impl_->pending.assign(slots, 0);
}

ColumnTasks::~ColumnTasks()
{
    for (int s = static_cast<int>(impl_->groups.size()) - 1; s >= 0; --s)
        drop(s);
}

void ColumnTasks::launch(int slot, int parts, void (*fn)(void*, int, int), void* ctx)
{
    tbb::task_group& group = *impl_->groups[slot];
    impl_->pending[slot] = 1;
    for (int part = 0; part < parts; ++part) {
        tbb::task_handle task = group.defer(Work(fn, ctx, slot, part));
        VELTRANE_TSAN_RELEASE(&launchToken);
        // Into the arena's queue: the workers take the parts while this thread
        // goes on (commits, runs window events); it joins them when it waits.
        impl_->arena->enqueue(std::move(task));
    }
}

void ColumnTasks::wait(int slot)
{
    if (!impl_->pending[slot])
        return;
    tbb::task_group& group = *impl_->groups[slot];
    impl_->arena->execute([&] { group.wait(); });
    impl_->pending[slot] = 0;
    VELTRANE_TSAN_ACQUIRE(&doneToken);
}

void ColumnTasks::drop(int slot)
{
    if (!impl_->pending[slot])
        return;
    impl_->groups[slot]->cancel();
    wait(slot); // also resets the group for its next column
}

} // namespace model
