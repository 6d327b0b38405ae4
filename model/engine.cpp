#include "model/engine.h"

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/info.h>
#include <oneapi/tbb/task_arena.h>
#include <oneapi/tbb/task_group.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
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

namespace {
// One slot's parts. claim packs the number of parts (high half) and the next
// part to hand out (low half), so that a single atomic addition hands out a
// part of the column the slot holds now and no other: a task left over from
// an earlier column of the slot either takes a part of the current one, which
// is as good, or finds none. Storing it with release also hands the slot's
// prepared inputs to the thread that takes a part.
struct SlotParts {
    std::atomic<uint64_t> claim{0};
    std::atomic<int> busy{0}; // workers inside a part of this slot
    std::unique_ptr<std::atomic<uint8_t>[]> done; // per part, set with release
    int capacity = 0;
    // The calling thread's own records.
    int parts = 0;
    bool inUse = false;
    long order = 0; // when it was launched

    static uint64_t Claims(int parts) { return static_cast<uint64_t>(parts) << 32; }
    // A part handed out by this claim, or -1.
    static int PartOf(uint64_t claim)
    {
        const auto part = static_cast<uint32_t>(claim), parts = static_cast<uint32_t>(claim >> 32);
        return part < parts ? static_cast<int>(part) : -1;
    }
    bool unclaimed() const { return PartOf(claim.load()) >= 0; }
};
} // namespace

struct ColumnTasks::Impl {
    std::shared_ptr<tbb::task_arena> arena = EngineArena();
    tbb::task_group group;
    std::vector<SlotParts> slots;
    PartFn evaluate, aside;
    void* ctx;
    long launches = 0;
    // A calling thread waiting in freeSlot for a worker to leave a slot.
    std::atomic<bool> waiting{false};
    std::mutex mutex;
    std::condition_variable left;

    Impl(int n, PartFn e, PartFn a, void* c) : slots(n), evaluate(e), aside(a), ctx(c) {}

    // A worker's task: takes one part of the slot, if one is left.
    static void RunPart(void* self, int slot, int)
    {
        Impl& im = *static_cast<Impl*>(self);
        SlotParts& s = im.slots[slot];
        s.busy.fetch_add(1);
        const int part = SlotParts::PartOf(s.claim.fetch_add(1));
        if (part >= 0) {
            im.evaluate(im.ctx, slot, part);
            s.done[part].store(1, std::memory_order_release);
        }
        s.busy.fetch_sub(1);
        if (im.waiting.load()) {
            std::lock_guard<std::mutex> lock(im.mutex);
            im.left.notify_all();
        }
    }

    // The calling thread takes one part of slot, if one is left.
    bool takePart(int slot)
    {
        SlotParts& s = slots[slot];
        const int part = SlotParts::PartOf(s.claim.fetch_add(1));
        if (part < 0)
            return false;
        evaluate(ctx, slot, part);
        s.done[part].store(1, std::memory_order_relaxed);
        return true;
    }

    int findFree() const
    {
        for (int k = 0; k < static_cast<int>(slots.size()); ++k)
            if (!slots[k].inUse && slots[k].busy.load() == 0)
                return k;
        return -1;
    }
};

ColumnTasks::ColumnTasks(int slots, PartFn evaluate, PartFn aside, void* ctx)
    : impl_(std::make_unique<Impl>(slots, evaluate, aside, ctx))
{
}

ColumnTasks::~ColumnTasks()
{
    for (SlotParts& s : impl_->slots)
        s.claim.store(0);
    impl_->group.cancel();
    impl_->arena->execute([&] { impl_->group.wait(); });
    VELTRANE_TSAN_ACQUIRE(&doneToken);
}

int ColumnTasks::freeSlot(bool wait)
{
    int slot = impl_->findFree();
    if (slot >= 0 || !wait)
        return slot;
    // Every slot not in use still has a worker inside one of its parts (a
    // part evaluated aside); they are running, so this ends.
    std::unique_lock<std::mutex> lock(impl_->mutex);
    impl_->waiting.store(true);
    impl_->left.wait(lock, [&] { return (slot = impl_->findFree()) >= 0; });
    impl_->waiting.store(false);
    return slot;
}

void ColumnTasks::launch(int slot, int parts)
{
    SlotParts& s = impl_->slots[slot];
    // No worker is inside a part of this slot, and none can take one until
    // the claim below: the part flags are the calling thread's to reset.
    if (s.capacity < parts) {
        s.done = std::make_unique<std::atomic<uint8_t>[]>(static_cast<size_t>(parts));
        s.capacity = parts;
    }
    for (int part = 0; part < parts; ++part)
        s.done[part].store(0, std::memory_order_relaxed);
    s.parts = parts;
    s.inUse = true;
    s.order = ++impl_->launches;
    s.claim.store(SlotParts::Claims(parts), std::memory_order_release);
    for (int part = 0; part < parts; ++part) {
        tbb::task_handle task = impl_->group.defer(Work(Impl::RunPart, impl_.get(), slot, 0));
        VELTRANE_TSAN_RELEASE(&launchToken);
        // Into the arena's queue: the workers take the parts while this thread
        // goes on (commits, runs window events).
        impl_->arena->enqueue(std::move(task));
    }
}

void ColumnTasks::wait(int slot)
{
    detail::NoteCallingThread();
    Impl& im = *impl_;
    SlotParts& s = im.slots[slot];
    auto finished = [&] {
        for (int part = 0; part < s.parts; ++part)
            if (!s.done[part].load(std::memory_order_acquire))
                return false;
        return true;
    };
    while (im.takePart(slot)) {
    }
    while (!finished()) {
        // A worker holds a part of this column: take a part no one has taken,
        // of the column launched earliest.
        int next = -1;
        for (int k = 0; k < static_cast<int>(im.slots.size()); ++k)
            if (k != slot && im.slots[k].inUse && im.slots[k].unclaimed()
                && (next < 0 || im.slots[k].order < im.slots[next].order))
                next = k;
        if (next >= 0) {
            im.takePart(next);
            continue;
        }
        // Nothing left to take: rather than wait for a worker that the
        // system may keep away for long, evaluate its parts again here.
        for (int part = 0; part < s.parts; ++part)
            if (!s.done[part].load(std::memory_order_acquire))
                im.aside(im.ctx, slot, part);
        break;
    }
}

void ColumnTasks::release(int slot) { impl_->slots[slot].inUse = false; }

void ColumnTasks::drop(int slot)
{
    impl_->slots[slot].claim.store(0);
    impl_->slots[slot].inUse = false;
}

} // namespace model
