// The column engine: evaluates the dots of one column at once, on every core.
//
// A raster plot walks its columns left to right and lets window events run
// only between two columns, so inside a column the settings, the parameter
// vector and the check boxes cannot change. The plots therefore evaluate a
// whole column first (pure work, no shared writes) and then commit the
// results in drawing order, exactly as the one-dot-at-a-time loop would.
#pragma once

namespace model {

// Number of threads the engine uses; 0 follows the machine (its cores).
void SetThreadCount(int count);
int ThreadCount();

// The most threads that worked together on one ForEachChunk since the last
// call (0 when none ran); for benchmarks.
int LargestTeam();

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

} // namespace model
