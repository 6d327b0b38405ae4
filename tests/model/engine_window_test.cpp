// The evaluate-ahead window of the column engine.
#include "model/engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(ColumnsAhead, CheapColumnsGetADeepWindowAndTheEntriesHeldStayBounded)
{
    // A column of a parameter plane at a coarse dot size takes a fraction of
    // a millisecond; the window must cover a time slice in which the system
    // may keep a worker away (tens of such columns). However large the
    // columns, the window holds at least the next column and at most 65536
    // entries beyond a single column.
    struct Row {
        int entries;
        int atLeast, atMost;
    };
    const Row rows[] = {
        {0, 32, 64},        {1, 32, 64},     {100, 32, 64},     {200, 32, 64},
        {1000, 32, 64},     {4000, 16, 16},  {65536, 1, 1},     {800 * 40, 2, 2},
        {1 << 24, 1, 1},
    };
    for (const Row& r : rows) {
        const int ahead = model::ColumnsAhead(r.entries);
        EXPECT_GE(ahead, r.atLeast) << r.entries;
        EXPECT_LE(ahead, r.atMost) << r.entries;
        if (r.entries > 0 && ahead > 1) {
            EXPECT_LE(static_cast<long>(ahead) * r.entries, 65536L) << r.entries;
        }
    }
}

// Synthetic columns whose dots are a pure mix of the column's input, the
// column and the row. One part of one column, when a worker takes it, is held
// until that column has been committed: a worker the system keeps away. The
// walk must commit every column with the plain loop's values without waiting
// for it.
class HeldWorkerPlot {
public:
    struct Inputs {
        uint64_t seed = 0;
        friend bool operator==(const Inputs&, const Inputs&) = default;
    };

    static constexpr int kRows = 40, kParts = 4, kHeldPart = 2;

    HeldWorkerPlot(int columns, int ahead, int heldColumn, int changeAt)
        : columns_(columns), heldColumn_(heldColumn), changeAt_(changeAt),
          slots_(model::SlotsFor(ahead)), committed_(static_cast<size_t>(columns) * kRows)
    {
    }

    static uint64_t Dot(uint64_t seed, int c, int k)
    {
        uint64_t x = seed * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(c) * 1000003u
                     + static_cast<uint64_t>(k);
        x ^= x >> 31;
        x *= 0xBF58476D1CE4E5B9ull;
        return x ^ (x >> 29);
    }
    uint64_t seedOf(int c) const { return c >= changeAt_ ? 2 : 1; }

    Inputs begin(int c) const { return {seedOf(c)}; }
    bool predict(const Inputs& in, int, int, Inputs& next) const
    {
        next = in;
        return true;
    }
    int prepare(int slot, const Inputs& in, int c)
    {
        if (asideSlot_ == slot)
            asideSlot_ = -1;
        slots_[slot].in = in;
        slots_[slot].column = c;
        return kParts;
    }
    void evaluate(int slot, int part)
    {
        Slot& s = slots_[slot];
        if (s.column == heldColumn_ && part == kHeldPart && s.in.seed == 1
            && std::this_thread::get_id() != caller_ && !held_.exchange(true)) {
            held_.notify_all();
            released_.wait(false);
        }
        fill(s, part, s.dots);
    }
    void evaluateAside(int slot, int part)
    {
        EXPECT_EQ(std::this_thread::get_id(), caller_);
        if (asideSlot_ != slot) {
            asideSlot_ = slot;
            asideParts_.assign(kParts, 0);
        }
        fill(slots_[slot], part, aside_);
        asideParts_[part] = 1;
        if (slots_[slot].column == heldColumn_ && part == kHeldPart && slots_[slot].in.seed == 1)
            ++heldAside_;
    }
    void commit(int slot, const Inputs& in, int c)
    {
        const Slot& s = slots_[slot];
        EXPECT_EQ(s.column, c);
        EXPECT_EQ(s.in, in);
        for (int k = 0; k < kRows; ++k) {
            const bool aside = asideSlot_ == slot && asideParts_[k * kParts / kRows];
            committed_[static_cast<size_t>(c) * kRows + k] = aside ? aside_[k] : s.dots[k];
        }
        if (c == heldColumn_) {
            released_.store(true);
            released_.notify_all();
        }
    }
    // The pause after the first column lasts until a worker holds its part:
    // no part is taken here, so a worker takes it.
    void pause(int c)
    {
        if (c == 0)
            held_.wait(false);
    }

    bool everyDotIsThePlainLoops() const
    {
        for (int c = 0; c < columns_; ++c)
            for (int k = 0; k < kRows; ++k)
                if (committed_[static_cast<size_t>(c) * kRows + k] != Dot(seedOf(c), c, k))
                    return false;
        return true;
    }
    // How often the held part, as first launched, was evaluated aside.
    int heldAside() const { return heldAside_; }

private:
    struct Slot {
        Inputs in;
        int column = -1;
        std::vector<uint64_t> dots = std::vector<uint64_t>(kRows);
    };
    void fill(const Slot& s, int part, std::vector<uint64_t>& out) const
    {
        for (int k = kRows * part / kParts; k < kRows * (part + 1) / kParts; ++k)
            out[k] = Dot(s.in.seed, s.column, k);
    }

    const int columns_, heldColumn_, changeAt_;
    const std::thread::id caller_ = std::this_thread::get_id();
    std::vector<Slot> slots_;
    std::vector<uint64_t> committed_;
    std::atomic<bool> held_{false}, released_{false};
    int asideSlot_ = -1;
    std::vector<char> asideParts_;
    std::vector<uint64_t> aside_ = std::vector<uint64_t>(kRows);
    int heldAside_ = 0;
};

TEST(ColumnTasks, TheCommittingThreadNeverWaitsForAHeldWorker)
{
    // held: the held part's column is committed from the part evaluated again
    // aside; changed: that column's input changes at its turn, so its slot is
    // dropped with the worker still inside and the column goes to another
    // slot. Either way every column keeps the plain loop's values, and the
    // walk ends (its last wait lets the released worker finish).
    struct Run {
        const char* name;
        int changeAt;
        int asideOfHeld;
    };
    const Run runs[] = {{"held", 1 << 30, 1}, {"changed", 5, 0}};
    for (const Run& r : runs) {
        for (int threads : {2, 3}) {
            model::SetThreadCount(threads);
            const int columns = 30, ahead = 8, heldColumn = 5;
            HeldWorkerPlot plot(columns, ahead, heldColumn, r.changeAt);
            int c = 0;
            model::WalkColumns(plot, columns, ahead, [&] { plot.pause(c++); });
            const std::string what = std::string(r.name) + " threads " + std::to_string(threads);
            EXPECT_EQ(c, columns) << what;
            EXPECT_TRUE(plot.everyDotIsThePlainLoops()) << what;
            EXPECT_EQ(plot.heldAside(), r.asideOfHeld) << what;
        }
    }
    model::SetThreadCount(0);
}

} // namespace
