// The bifurcation curves of the cycles over a parameter plane: for every dot,
// the attracting cycle its orbit reaches (period 2 up to the job's
// --curves-period), followed by continuation to the right and upper
// neighbours, and from the neighbour's own cycle back; every crossing of a
// fold, flip or Neimark-Sacker curve on the way, located to 1e-9 of the
// segment. A segment whose two ends hold the same clearly attracting cycle,
// as one more period of each dot's orbit shows, is not followed. The fixed
// points' curves are the stability pass's (analyses.cpp), exact for every
// fixed point, so period 1 is left to it.
#pragma once

#include "model/skeleton.h"
#include "render/plan.h"

#include <cstdint>
#include <vector>

namespace render {

// One located point of a curve: its pixel, its parameter values on the two
// axes, and what bifurcates there.
struct CurvePointRow {
    int column = 0, row = 0; // row 0 at the top
    double h = 0, v = 0;
    int period = 0;
    model::analysis::CurveType type = model::analysis::CurveType::Fold;
    double argument = 0;
};

struct CycleCurves {
    // In the order they are drawn: by dot, then by segment (right, upper),
    // then by t.
    std::vector<CurvePointRow> points;
    // Segments where both ends' cycles attract and each reaches the other end
    // still attracting without a crossing, yet they are different cycles: the
    // orbit's start switched basins there.
    int64_t basinSwitches = 0;
    // Continuations that ended neither at a fold nor at a flip, and dots whose
    // orbit looked periodic but whose cycle Newton's method did not confirm
    // (sought only where a segment that is not quiet needs the cycle).
    int64_t lost = 0;
    int64_t notConverged = 0;
    int64_t newtonRuns = 0;
};

// The curves of the cycles of periods 2..maxPeriod of a parametric plan. The
// same on any number of threads: each dot's work writes only its own slot.
// With everySegment, quiet segments are followed too: the plain reference the
// tests hold the shortcut to.
CycleCurves FindCycleCurves(const Plan& plan, int maxPeriod, bool everySegment = false);

} // namespace render
