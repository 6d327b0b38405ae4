// The column engine: evaluates the dots of the columns of a raster plot on
// every core, ahead of the column being drawn, and commits them in order.
//
// A raster plot walks its columns left to right and lets window events run
// only between two columns, so inside a column the settings, the parameter
// vector and the check boxes cannot change. A column's dots are therefore
// evaluated as a whole (pure work, no shared writes) from the inputs the
// column reads, and committed in drawing order, exactly as the
// one-dot-at-a-time loop would. While one column is committed and the window
// runs its events, the workers already evaluate the next ones with the inputs
// that hold now; a column whose inputs turn out different at its turn is
// evaluated again (see model/ENGINE.md).
#pragma once

#include <algorithm>
#include <memory>
#include <type_traits>
#include <vector>

namespace model {

// Number of threads the engine uses; 0 follows the machine (its cores).
// Inside RunThreads::run, the run's count.
void SetThreadCount(int count);
int ThreadCount();
// The cores of this machine (as far as this process may use them).
int Cores();

// The threads of one run, held by the run rather than by the process: an
// arena of its own. Everything inside run(), every ForEachChunk and every
// parallel loop of the library, runs on at most count() threads, so that a
// run told to use N threads uses at most N cores.
class RunThreads {
public:
    explicit RunThreads(int count); // 0: every core
    ~RunThreads();
    RunThreads(const RunThreads&) = delete;
    RunThreads& operator=(const RunThreads&) = delete;

    int count() const { return count_; }
    // Calls fn() on the calling thread, inside the run's arena; exceptions
    // pass through.
    template <class Fn>
    void run(Fn&& fn)
    {
        runIn([](void* f) { (*static_cast<std::remove_reference_t<Fn>*>(f))(); }, &fn);
    }

private:
    void runIn(void (*fn)(void*), void* ctx);
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int count_;
};

// The most threads that worked together since the last call (0 when none
// ran); for benchmarks.
int LargestTeam();

namespace detail {
// Counts the calling thread for LargestTeam: work done on it alone.
void NoteCallingThread();
} // namespace detail

// Calls fn(ctx, begin, end) over chunks that cover [0, count) exactly once,
// concurrently. fn must not throw and must not write shared state.
void ForEachChunk(int count, int grain, void (*fn)(void*, int, int), void* ctx);

template <class Body>
void ForEachChunk(int count, int grain, Body& body)
{
    ForEachChunk(
        count, grain,
        [](void* ctx, int begin, int end) { (*static_cast<Body*>(ctx))(begin, end); }, &body);
}

// The number of blocks of `size` items that cover `count`.
inline int BlocksOf(int count, int size) { return (count + size - 1) / size; }

// Calls body(block, begin, end) for every block of `size` items of [0, count)
// (the last may be short), concurrently: results kept by the block's index
// come out in the items' order, whichever thread took the block.
template <class Body>
void ForEachBlock(int count, int size, Body& body)
{
    auto blocks = [&](int first, int end) {
        for (int b = first; b < end; ++b)
            body(b, b * size, std::min(count, (b + 1) * size));
    };
    ForEachChunk(BlocksOf(count, size), 1, blocks);
}

// The parts of several columns in flight, one slot per column, shared by
// the engine's workers and the calling thread. A part is handed out once,
// from a counter per slot, to whichever thread asks first. The calling
// thread never waits for a worker: when the column it needs next has a part
// that a worker has taken and not finished, it evaluates the other columns'
// parts that no one has taken, and when there are none it evaluates that
// part again itself, into the plot's spare results (the evaluation is pure,
// so both give the same bits; the worker's copy is never read).
//
// A slot comes free for another column once it is committed or dropped and
// no worker is still inside one of its parts. Destroying the tasks stops
// those that have not started and waits for the running ones, so no task
// outlives its owner.
class ColumnTasks {
public:
    using PartFn = void (*)(void* ctx, int slot, int part);

    // evaluate writes a part into its slot (any thread); aside writes it into
    // the spare results of the slot (the calling thread only).
    ColumnTasks(int slots, PartFn evaluate, PartFn aside, void* ctx);
    ~ColumnTasks();
    ColumnTasks(const ColumnTasks&) = delete;
    ColumnTasks& operator=(const ColumnTasks&) = delete;

    // A free slot, or -1 when none is free and wait is false; with wait true
    // it waits for a worker to leave a slot that is no longer in use.
    int freeSlot(bool wait);
    // Hands out the parts [0, parts) of a free slot that the caller has just
    // prepared.
    void launch(int slot, int parts);
    // Returns once every part of slot is evaluated, in the slot or aside;
    // works meanwhile on the parts no one has taken, this slot's first, then
    // those of the slots launched earliest.
    void wait(int slot);
    // The slot's column is committed; the slot may be used again.
    void release(int slot);
    // Hands out no more parts of slot and releases it; workers inside one of
    // its parts finish it, and the slot comes free after them.
    void drop(int slot);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Slots a walk with the given window uses: the columns in flight, and spare
// ones for columns whose slot a worker has not left yet.
constexpr int kSpareSlots = 2;
inline int SlotsFor(int ahead) { return ahead + 1 + kSpareSlots; }

// Entries one task of a column takes: enough to keep the lockstep lanes of a
// thread busy to the end, few enough that a long column is shared out.
constexpr int kEntriesPerPart = 400;
inline int PartsFor(int entries)
{
    return std::max(1, (entries + kEntriesPerPart - 1) / kEntriesPerPart);
}

// Columns evaluated ahead of the one being committed, for columns of the
// given number of entries: up to 64, fewer for very large columns so that the
// entries held stay below 65536; at least 1.
//
// The window should outlast the time the operating system may take a worker
// away. With another program busy on one of two cores, three threads share
// two cores and a worker can sit out a whole time slice (several
// milliseconds) while it holds the part of the column to be committed next.
// The calling thread then goes on with the parts of the later columns; only
// when the window is used up does it evaluate the held part again itself
// (ColumnTasks::wait), work that the deeper window mostly spares. A cheap column (a parameter plane at a coarse dot size: well under a
// millisecond) needs dozens of columns to cover a slice; an expensive one
// covers it with a few, and the extra columns cost only their results'
// memory. A nested event that changes a column's inputs drops the columns
// after it, which were evaluated by threads that would otherwise have waited.
inline int ColumnsAhead(int entriesPerColumn)
{
    return std::clamp(65536 / std::max(1, entriesPerColumn), 1, 64);
}

// Walks the columns 0..columns-1 of a raster plot: evaluate ahead, commit in
// order. Plot provides
//
//   Inputs                 what a column's evaluation reads, with operator==
//                          (bit for bit);
//   Inputs begin(int c)    the plain loop's reads and side effects at the
//                          start of column c, on the calling thread (may throw);
//   bool predict(const Inputs& in, int c, int slot, Inputs& next)
//                          the inputs of column c + 1 if column c, evaluated
//                          from in into slot, commits with no event in
//                          between; false when they cannot be told;
//   int prepare(int slot, const Inputs& in, int c)
//                          sets slot up for column c from in on the calling
//                          thread and returns the number of parts;
//   void evaluate(int slot, int part)
//                          evaluates one part on any thread: reads only the
//                          slot and what stays fixed for the whole plot,
//                          writes only the slot, never throws;
//   void evaluateAside(int slot, int part)
//                          the same part again on the calling thread, into
//                          the plot's spare results for the slot, while a
//                          worker may still be writing the slot's copy; the
//                          commit of slot then reads that part from there;
//   void commit(int slot, const Inputs& in, int c)
//                          the side effects in drawing order (may throw);
//
// The plot holds SlotsFor(ahead) slots. yield() is the pause between two
// columns (may throw). With one thread
// every column is evaluated at its turn on the calling thread. The picture and
// the final state are those of the plain loop: a column is committed only from
// an evaluation whose inputs equal, bit for bit, those that the plain loop
// reads at that column's start; any other evaluation, and every one after it,
// is dropped and done again.
template <class Plot, class Yield>
void WalkColumns(Plot& plot, int columns, int ahead, Yield&& yield)
{
    using Inputs = typename Plot::Inputs;
    auto evaluateParts = [](void* ctx, int slot, int part) {
        static_cast<Plot*>(ctx)->evaluate(slot, part);
    };
    if (ThreadCount() <= 1 || ahead <= 0) {
        detail::NoteCallingThread();
        for (int c = 0; c < columns; ++c) {
            const Inputs in = plot.begin(c);
            const int parts = plot.prepare(0, in, c);
            for (int part = 0; part < parts; ++part)
                evaluateParts(&plot, 0, part);
            plot.commit(0, in, c);
            yield();
        }
        return;
    }

    const int ring = ahead + 1; // columns in flight: c .. c + ahead
    const int slots = SlotsFor(ahead);
    std::vector<Inputs> assumed(slots);
    std::vector<int> slotOf(ring, -1); // column k's slot, at k % ring
    ColumnTasks tasks( // destroyed first: nothing runs once the walk ends
        slots, evaluateParts,
        [](void* ctx, int slot, int part) { static_cast<Plot*>(ctx)->evaluateAside(slot, part); },
        &plot);
    int launched = 0; // columns c .. launched - 1 are in flight
    // Launches column `column` into a free slot; without `must`, gives up
    // (and the window stays shorter for now) when no slot is free.
    auto launch = [&](int column, const Inputs& in, bool must) {
        const int slot = tasks.freeSlot(must);
        if (slot < 0)
            return false;
        assumed[slot] = in;
        slotOf[column % ring] = slot;
        tasks.launch(slot, plot.prepare(slot, in, column));
        ++launched;
        return true;
    };
    for (int c = 0; c < columns; ++c) {
        const Inputs in = plot.begin(c);
        if (launched > c && !(assumed[slotOf[c % ring]] == in)) {
            // Something the evaluation assumed changed at the pause: drop this
            // column and every later one.
            for (int k = launched - 1; k >= c; --k)
                tasks.drop(slotOf[k % ring]);
            launched = c;
        }
        if (launched == c)
            launch(c, in, true);
        Inputs next;
        while (launched < columns && launched <= c + ahead) {
            const int last = slotOf[(launched - 1) % ring];
            if (!plot.predict(assumed[last], launched - 1, last, next)
                || !launch(launched, next, false))
                break;
        }
        const int slot = slotOf[c % ring];
        tasks.wait(slot);
        plot.commit(slot, in, c);
        tasks.release(slot);
        yield();
    }
}

} // namespace model
