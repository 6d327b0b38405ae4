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
#include <vector>

namespace model {

// Number of threads the engine uses; 0 follows the machine (its cores).
void SetThreadCount(int count);
int ThreadCount();

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

// Tasks of several columns in flight on the engine's threads, one slot per
// column. Destroying it stops the tasks that have not started and waits for
// the running ones, so no task outlives its owner.
class ColumnTasks {
public:
    explicit ColumnTasks(int slots);
    ~ColumnTasks();
    ColumnTasks(const ColumnTasks&) = delete;
    ColumnTasks& operator=(const ColumnTasks&) = delete;

    // Starts fn(ctx, slot, part) for every part in [0, parts); fn must not throw.
    void launch(int slot, int parts, void (*fn)(void*, int, int), void* ctx);
    // Returns once every part of slot has run; the calling thread works on
    // waiting parts (of any slot) meanwhile.
    void wait(int slot);
    // Stops the parts of slot that have not started and waits for the others.
    void drop(int slot);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

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
// The window must outlast the time the operating system may take a worker
// away. With another program busy on one of two cores, three threads share
// two cores and a worker can sit out a whole time slice (several
// milliseconds) while it holds the part of the column to be committed next.
// The calling thread then goes on with the parts of the later columns; only
// when the window is used up does it wait, and two threads fall behind one.
// A cheap column (a parameter plane at a coarse dot size: well under a
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
//   void commit(int slot, const Inputs& in, int c)
//                          the side effects in drawing order (may throw);
//
// and yield() is the pause between two columns (may throw). With one thread
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

    const int slots = ahead + 1;
    std::vector<Inputs> assumed(slots);
    ColumnTasks tasks(slots); // destroyed first: nothing runs once the walk ends
    int launched = 0;         // columns c .. launched - 1 are in flight
    auto launch = [&](int column, const Inputs& in) {
        const int slot = column % slots;
        assumed[slot] = in;
        tasks.launch(slot, plot.prepare(slot, in, column), evaluateParts, &plot);
        ++launched;
    };
    for (int c = 0; c < columns; ++c) {
        const Inputs in = plot.begin(c);
        if (launched > c && !(assumed[c % slots] == in)) {
            // Something the evaluation assumed changed at the pause: drop this
            // column and every later one, newest first.
            for (int k = launched - 1; k >= c; --k)
                tasks.drop(k % slots);
            launched = c;
        }
        if (launched == c)
            launch(c, in);
        Inputs next;
        while (launched < columns && launched <= c + ahead
               && plot.predict(assumed[(launched - 1) % slots], launched - 1,
                               (launched - 1) % slots, next))
            launch(launched, next);
        tasks.wait(c % slots);
        plot.commit(c % slots, in, c);
        yield();
    }
}

} // namespace model
