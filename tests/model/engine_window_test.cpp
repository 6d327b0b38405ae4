// The evaluate-ahead window of the column engine.
#include "model/engine.h"

#include <gtest/gtest.h>

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

} // namespace
