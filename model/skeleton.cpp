#include "model/skeleton.h"

#include "model/engine.h"
#include "model/errors.h"

#include <string>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace model::analysis {

namespace {

// Points of two orbits this close coincide: the minimal-period test. Newton's
// runs converge to defects below 1e-12, far inside it; an orbit collapsing
// onto one of half its period is still kMaxMove-far from it at a step of the
// segment's resolution away from the flip (the separation grows as the
// square root of the distance).
constexpr double kSamePoint = 1e-9;
// How near +1 a multiplier must be where a branch ends for the end to be a
// fold (it approaches +1 as the square root of the distance to the fold).
constexpr double kFoldNear = 0.1;
// A step this short (of the segment) that collapses the orbit is taken to end
// at the half cycle's flip, which is then sought around it; a longer one is
// halved first.
constexpr double kCollapseReach = 1e-4;

double Move(const std::vector<Point>& a, const std::vector<Point>& b)
{
    double m = 0;
    for (size_t i = 0; i < a.size(); ++i)
        m = std::max({m, std::fabs(a[i].x - b[i].x), std::fabs(a[i].y - b[i].y)});
    return m;
}

// The two halves of a cycle of even period this close, point for point: it is
// about to collapse onto the cycle of half its period.
constexpr double kHalvesApart = 1e-2;

// How far apart the two halves of an orbit of even period lie, point for
// point (the larger coordinate difference); infinity for an odd period.
double HalvesApart(const std::vector<Point>& points)
{
    if (points.size() % 2 != 0)
        return INFINITY;
    const size_t half = points.size() / 2;
    double apart = 0;
    for (size_t i = 0; i < half; ++i)
        apart = std::max({apart, std::fabs(points[i].x - points[i + half].x),
                          std::fabs(points[i].y - points[i + half].y)});
    return apart;
}

TrackedCycle Track(std::vector<Point> points, const Monodromy& monodromy)
{
    TrackedCycle c;
    c.points = std::move(points);
    c.monodromy = monodromy;
    c.multipliers = Multipliers(c.monodromy.trace, c.monodromy.det);
    c.type = TypeOf(c.multipliers);
    return c;
}

bool Finite(const Monodromy& m) { return std::isfinite(m.trace) && std::isfinite(m.det); }

// The three test functions; each changes sign where its kind of multiplier
// crosses (see the header).
double FoldTest(const Monodromy& m) { return 1 - m.trace + m.det; }
double FlipTest(const Monodromy& m) { return 1 + m.trace + m.det; }
double CircleTest(const Monodromy& m) { return m.det - 1; }

bool SignChanged(double a, double b) { return (a < 0) != (b < 0); }

bool Complex(const TrackedCycle& c) { return c.multipliers[0].im != 0; }

enum class StepOutcome { Accepted, Collapsed, Failed };

// One continuation step: the cycle at w refined from `previous`, accepted
// where it converged nearby with the same minimal period.
StepOutcome TryStep(const Weights& w, const TrackedCycle& previous, TrackedCycle& out,
                    int& collapsedTo, const std::vector<Point>* guess = nullptr)
{
    Monodromy monodromy;
    auto refined = RefineCycle(w, guess ? *guess : previous.points, &monodromy);
    if (!refined || Move(*refined, previous.points) > kMaxMove)
        return StepOutcome::Failed;
    const int minimal = MinimalPeriod(*refined, kSamePoint);
    if (minimal < previous.period()) {
        collapsedTo = minimal;
        return StepOutcome::Collapsed;
    }
    out = Track(std::move(*refined), monodromy);
    if (!Finite(out.monodromy))
        return StepOutcome::Failed;
    return StepOutcome::Accepted;
}

// The crossings between two accepted steps a and b (b's step no longer than
// the resolution), placed at the middle of the step.
void Crossings(const TrackedCycle& a, const TrackedCycle& b, double t,
               std::vector<CycleCrossing>& out)
{
    const int k = a.period();
    // Not where the orbit's halves have all but met: there its multiplier
    // nears +1 because it is about to collapse onto the cycle of half its
    // period, whose flip the collapse finds.
    if (SignChanged(FoldTest(a.monodromy), FoldTest(b.monodromy))
        && !(HalvesApart(a.points) < kHalvesApart && HalvesApart(b.points) < kHalvesApart))
        out.push_back({t, k, CurveType::Fold, 0});
    if (SignChanged(FlipTest(a.monodromy), FlipTest(b.monodromy)))
        out.push_back({t, k, CurveType::Flip, std::numbers::pi});
    if (SignChanged(CircleTest(a.monodromy), CircleTest(b.monodromy)) && (Complex(a) || Complex(b))) {
        const TrackedCycle& c = Complex(a) ? a : b;
        out.push_back({t, k, CurveType::NeimarkSacker,
                       std::fabs(std::atan2(c.multipliers[0].im, c.multipliers[0].re))});
    }
}

bool AnyChange(const TrackedCycle& a, const TrackedCycle& b)
{
    return SignChanged(FoldTest(a.monodromy), FoldTest(b.monodromy))
           || SignChanged(FlipTest(a.monodromy), FlipTest(b.monodromy))
           || (SignChanged(CircleTest(a.monodromy), CircleTest(b.monodromy))
               && (Complex(a) || Complex(b)));
}

// The one test function that changed sign between a and b, or null where
// none or several did.
double (*OnlyChange(const TrackedCycle& a, const TrackedCycle& b))(const Monodromy&)
{
    double (*changed)(const Monodromy&) = nullptr;
    int n = 0;
    for (auto test : {FoldTest, FlipTest, CircleTest})
        if (SignChanged(test(a.monodromy), test(b.monodromy))) {
            changed = test;
            ++n;
        }
    if (changed == CircleTest && !Complex(a) && !Complex(b))
        return nullptr;
    return n == 1 ? changed : nullptr;
}

// Narrows [ta, tb] (either way round), over which `test` changes sign from
// the cycle a to the cycle b, to within `resolution`, by regula falsi with the
// Illinois weighting: a smooth test function is bracketed in a few Newton
// runs, where halving would take thirty. False where a run fails; a and b
// then hold the bracket reached so far.
bool Narrow(const Weights& from, const Weights& to, double (*test)(const Monodromy&),
            double& ta, TrackedCycle& a, double& tb, TrackedCycle& b, double resolution,
            int& runs)
{
    double ga = test(a.monodromy), gb = test(b.monodromy);
    int side = 0; // the end kept last time: -1 a, +1 b
    for (int i = 0; i < 100 && std::fabs(tb - ta) > resolution; ++i) {
        double tm = ta + (tb - ta) * (ga / (ga - gb));
        // Keep the trial strictly inside, and at least a quarter of the
        // resolution from either end, so that the bracket always shrinks. A
        // trial that falls nearer an end than that (the zero lies right at
        // it) is taken that quarter from the end, so that the next bracket is
        // likely within the resolution, rather than at the middle, from
        // where the far end would only be halved towards the zero.
        const double lo = std::min(ta, tb) + 0.25 * resolution;
        const double hi = std::max(ta, tb) - 0.25 * resolution;
        if (std::isnan(tm))
            tm = 0.5 * (ta + tb);
        tm = std::clamp(tm, lo, hi);
        TrackedCycle m;
        int collapsedTo = 0;
        ++runs;
        if (TryStep(Lerp(from, to, tm), a, m, collapsedTo) != StepOutcome::Accepted)
            return false;
        const double gm = test(m.monodromy);
        if (SignChanged(ga, gm)) {
            tb = tm;
            b = std::move(m);
            gb = gm;
            if (side == 1)
                ga /= 2;
            side = 1;
        } else {
            ta = tm;
            a = std::move(m);
            ga = gm;
            if (side == -1)
                gb /= 2;
            side = -1;
        }
    }
    return std::fabs(tb - ta) <= resolution;
}

// The real multiplier nearest +1, its distance from +1 (infinity for a
// complex pair).
double DistanceFromOne(const TrackedCycle& c)
{
    if (Complex(c))
        return INFINITY;
    return std::min(std::fabs(c.multipliers[0].re - 1), std::fabs(c.multipliers[1].re - 1));
}

void Step(const Weights& w, Point& z, double jacobian[4])
{
    const double s1 = (w[0] * z.x + w[1] * z.y) + w[4];
    const double s2 = (w[2] * z.x + w[3] * z.y) + w[5];
    const double d1 = TanhSlope(s1), d2 = TanhSlope(s2);
    jacobian[0] = d1 * w[0];
    jacobian[1] = d1 * w[1];
    jacobian[2] = d2 * w[2];
    jacobian[3] = d2 * w[3];
    z = {std::tanh(s1), std::tanh(s2)};
}

} // namespace

Weights Lerp(const Weights& from, const Weights& to, double t)
{
    Weights w;
    for (size_t i = 0; i < w.size(); ++i)
        w[i] = std::lerp(from[i], to[i], t);
    return w;
}

bool SameCycle(const std::vector<Point>& a, const std::vector<Point>& b, double tolerance)
{
    const size_t k = a.size();
    if (k == 0 || b.size() != k)
        return false;
    for (size_t offset = 0; offset < k; ++offset) {
        bool same = true;
        for (size_t i = 0; i < k && same; ++i) {
            const Point& p = a[i];
            const Point& q = b[(i + offset) % k];
            same = std::fabs(p.x - q.x) <= tolerance && std::fabs(p.y - q.y) <= tolerance;
        }
        if (same)
            return true;
    }
    return false;
}

std::optional<TrackedCycle> SolveCycle(const Weights& w, const std::vector<Point>& guess)
{
    Monodromy monodromy;
    auto refined = RefineCycle(w, guess, &monodromy);
    if (!refined || MinimalPeriod(*refined, kSamePoint) != static_cast<int>(guess.size()))
        return std::nullopt;
    TrackedCycle c = Track(std::move(*refined), monodromy);
    if (!Finite(c.monodromy))
        return std::nullopt;
    return c;
}

std::optional<TrackedCycle> AttractingCycle(const Weights& w, double x, double y, int iterations,
                                            int maxPeriod)
{
    double jacobian[4];
    Point z{x, y};
    for (int i = 0; i < iterations; ++i)
        Step(w, z, jacobian);
    std::vector<Point> orbit{z};
    for (int i = 0; i < maxPeriod; ++i) {
        Step(w, z, jacobian);
        if (!std::isfinite(z.x) || !std::isfinite(z.y))
            return std::nullopt;
        orbit.push_back(z);
    }
    // The loosest return of the orbit that still tells periods apart: an orbit
    // near a bifurcation converges slowly, and Newton finishes the work.
    constexpr double kReturn = 1e-4;
    for (int p = 1; p <= maxPeriod; ++p) {
        if (std::max(std::fabs(orbit[p].x - orbit[0].x), std::fabs(orbit[p].y - orbit[0].y)) > kReturn)
            continue;
        auto c = SolveCycle(w, std::vector<Point>(orbit.begin(), orbit.begin() + p));
        if (c && (c->type == OrbitType::Attracting || c->type == OrbitType::NonHyperbolic))
            return c;
    }
    return std::nullopt;
}

namespace {

// Near a fold the branch is a parabola lying on its side: the fold test and
// the cycle's distance from the fold point both go as the square root of the
// parameter's distance from the fold. From two accepted steps (the cycle p at
// distance dp from the predicted fold, q at dq) the cycle at distance dr is
// guessed on that parabola, point for point, where Newton's method from q
// itself would fall outside the shrinking basin of the branch.
std::vector<Point> OnParabola(const std::vector<Point>& p, double dp, const std::vector<Point>& q,
                              double dq, double dr)
{
    const double sp = std::sqrt(dp), sq = std::sqrt(dq), sr = std::sqrt(dr);
    const double f = (sr - sq) / (sp - sq);
    std::vector<Point> guess(q.size());
    for (size_t i = 0; i < q.size(); ++i)
        guess[i] = {q[i].x + f * (p[i].x - q[i].x), q[i].y + f * (p[i].y - q[i].y)};
    return guess;
}

// How much of the predicted distance to a fold one step covers: the next
// prediction is then ten times nearer, and the guess on the parabola lies well
// inside Newton's basin.
constexpr double kFoldApproach = 0.9;

// Follows `start` (the cycle at t0) along the segment towards t1, either way.
Continuation Follow(const Weights& from, const Weights& to, const TrackedCycle& start, double t0,
                    double t1, double resolution, int smallestPeriod, int depth)
{
    Continuation result;
    const int k = start.period();
    const double direction = t1 > t0 ? 1 : -1;
    TrackedCycle current = start;
    double t = t0, h = std::fabs(t1 - t0);
    double previousT = NAN, previousFold = 0; // the accepted step before the current one
    std::vector<Point> previousPoints;
    // Where the last two accepted steps predict a fold ahead: its distance
    // from t, and the guess for the next step on the parabola.
    double foldAhead = INFINITY;
    // The last t at which the orbit's halves (for an even period) were more
    // than kHalvesApart apart, or its period odd.
    double lastApartT = HalvesApart(start.points) < kHalvesApart ? NAN : t0;
    // The distance from t to the fold that the last two accepted steps
    // predict (the fold test goes to zero as the square root of the distance,
    // its square linearly); infinity where the test is not falling to zero.
    auto predictedFold = [&]() -> double {
        const double g = FoldTest(current.monodromy);
        if ((g < 0) != (previousFold < 0) || !(std::fabs(g) < std::fabs(previousFold)))
            return INFINITY;
        return std::fabs(t - previousT) * g * g / (previousFold * previousFold - g * g);
    };
    // Predicted folds, a few: a failure that is no fold must not be
    // approached in steps of the resolution.
    int predictions = 8;
    while (direction * (t1 - t) > 0) {
        const double next = h >= std::fabs(t1 - t) ? t1 : t + direction * h;
        TrackedCycle trial;
        int collapsedTo = 0;
        ++result.newtonRuns;
        std::vector<Point> guess;
        const double beyondNext = foldAhead - std::fabs(next - t); // of the fold, past next
        if (std::isfinite(foldAhead) && beyondNext > 0 && std::isfinite(previousT))
            guess = OnParabola(previousPoints, foldAhead + std::fabs(t - previousT), current.points,
                               foldAhead, beyondNext);
        StepOutcome outcome = TryStep(Lerp(from, to, next), current, trial, collapsedTo,
                                      guess.empty() ? nullptr : &guess);
        // While a fold is approached, a step may land on the other half of
        // the parabola, the saddle branch that meets this one at the fold
        // (from the guess, or stepping just past the fold where it lies a
        // hair further than predicted): not a step along the branch.
        if (outcome == StepOutcome::Accepted && std::isfinite(foldAhead)
            && SignChanged(FoldTest(current.monodromy), FoldTest(trial.monodromy)))
            outcome = StepOutcome::Failed;
        const bool shortest = std::fabs(next - t) <= resolution;
        if (outcome == StepOutcome::Accepted && (!AnyChange(current, trial) || shortest)) {
            Crossings(current, trial, 0.5 * (t + next), result.crossings);
            previousT = t;
            previousFold = FoldTest(current.monodromy);
            previousPoints = std::move(current.points);
            current = std::move(trial);
            t = next;
            h *= 2;
            if (!(HalvesApart(current.points) < kHalvesApart))
                lastApartT = t;
            // A fold ahead, nearer than the doubled step: approach it on the
            // parabola, each step kFoldApproach of the way; within the
            // resolution, step just past it, where the branch ends. Not where
            // the orbit is about to fold onto one of half its period: its
            // multiplier nears +1 too, but there the branch ends at the half
            // cycle's flip, which the collapse below finds.
            foldAhead = INFINITY;
            if (!(HalvesApart(current.points) < kHalvesApart)) {
                const double d = predictedFold();
                if (d < h && d < std::fabs(t1 - t)) {
                    foldAhead = d;
                    h = d > 0.5 * resolution ? kFoldApproach * d : d + 0.5 * resolution;
                }
            }
            continue;
        }
        if (outcome == StepOutcome::Accepted) {
            // One test function changed sign: narrow the step onto its zero.
            if (auto test = OnlyChange(current, trial)) {
                double ta = t, tb = next;
                TrackedCycle a = current, b = trial;
                if (Narrow(from, to, test, ta, a, tb, b, resolution, result.newtonRuns)) {
                    Crossings(a, b, 0.5 * (ta + tb), result.crossings);
                    current = std::move(b);
                    h = std::max(std::fabs(next - tb), resolution) * 2;
                    t = tb;
                    foldAhead = INFINITY;
                    continue;
                }
            }
        }
        result.lastT = t;
        // At the flip of a cycle whose crossings are not wanted the branch
        // ends, unless its multipliers are complex: a collapse needs a real
        // one at +1, so the pair turns real first, and it may leave the
        // circle on the way.
        if (outcome == StepOutcome::Collapsed && 2 * collapsedTo == k && collapsedTo < smallestPeriod
            && !Complex(current))
            return result;
        if (outcome == StepOutcome::Collapsed && 2 * collapsedTo == k && depth == 0
            && std::fabs(next - t) <= kCollapseReach) {
            // The orbit fell onto the cycle of half its period: the branch
            // ends at that cycle's flip, near `next` (Newton may fall onto it
            // a little before the flip, where the Jacobian of the doubled
            // orbit is nearly singular), or just behind t where the last
            // accepted step landed on the flip itself. Follow the half cycle
            // from there, back to a little behind t and then on, to its flip.
            auto refined = RefineCycle(Lerp(from, to, next), current.points);
            std::optional<TrackedCycle> half;
            if (refined)
                half = SolveCycle(Lerp(from, to, next),
                                  std::vector<Point>(refined->begin(), refined->begin() + collapsedTo));
            // Newton may also have carried the doubled orbit a little past the
            // flip, its halves a hair apart: behind reaches back to where
            // they were last clearly apart.
            double behind = std::clamp(t - direction * kCollapseReach, 0.0, 1.0);
            if (std::isfinite(lastApartT) && direction * (behind - lastApartT) > 0)
                behind = lastApartT;
            for (double end : {behind, t1}) {
                if (!half)
                    break;
                Continuation h2 = Follow(from, to, *half, next, end, resolution, smallestPeriod,
                                         depth + 1);
                result.newtonRuns += h2.newtonRuns;
                for (const CycleCrossing& c : h2.crossings)
                    if (c.type == CurveType::Flip && c.period == collapsedTo) {
                        result.crossings.push_back(c);
                        return result;
                    }
            }
            result.lost = true;
            return result;
        }
        if (!shortest) {
            // A failure or a change of sign: approach it in halved steps; a
            // failure beyond a fold in steps aimed just short of the fold
            // that the last two steps predict (the fold test goes to zero as
            // the square root of the distance, its square linearly).
            h = 0.5 * std::fabs(next - t);
            if (outcome == StepOutcome::Failed && std::isfinite(previousT) && predictions-- > 0) {
                const double d = predictedFold();
                if (d < h)
                    h = std::max(resolution, 0.999 * d);
            }
            continue;
        }
        // The branch ends within the resolution: it turns back at a fold;
        // anything else lost it.
        if (outcome == StepOutcome::Failed && DistanceFromOne(current) < kFoldNear)
            result.crossings.push_back({0.5 * (t + next), k, CurveType::Fold, 0});
        else
            result.lost = true;
        return result;
    }
    result.reached = true;
    result.lastT = t1;
    result.end = std::move(current);
    return result;
}

} // namespace

Continuation ContinueCycle(const Weights& from, const Weights& to, const TrackedCycle& start,
                           double resolution, int smallestPeriod)
{
    return Follow(from, to, start, 0, 1, resolution, smallestPeriod, 0);
}

namespace {

// The orbit of period 2k born at the flip of `cycle` (period k, one real
// multiplier below -1 past the flip): the cycle displaced by `amplitude`
// along the flip's eigenvector, carried around twice, where the
// displacement changes its sign after each round.
std::vector<Point> DoubledGuess(const Weights& w, const TrackedCycle& cycle, double amplitude)
{
    const Monodromy& m = cycle.monodromy;
    const double mu = std::min(cycle.multipliers[0].re, cycle.multipliers[1].re);
    // (M - mu I) v = 0: v = (b, mu - a) or (mu - d, c), whichever is longer.
    Point v{m.b, mu - m.a};
    const Point other{mu - m.d, m.c};
    if (std::hypot(other.x, other.y) > std::hypot(v.x, v.y))
        v = other;
    const double norm = std::hypot(v.x, v.y);
    if (norm == 0 || !std::isfinite(norm))
        v = {1, 0};
    else
        v = {v.x / norm, v.y / norm};
    const int k = cycle.period();
    std::vector<Point> guess(2 * static_cast<size_t>(k));
    double jacobian[4];
    for (int i = 0; i < 2 * k; ++i) {
        const Point z = cycle.points[i % k];
        guess[i] = {z.x + amplitude * v.x, z.y + amplitude * v.y};
        Point image = z;
        Step(w, image, jacobian);
        v = {jacobian[0] * v.x + jacobian[1] * v.y, jacobian[2] * v.x + jacobian[3] * v.y};
        const double n = std::hypot(v.x, v.y);
        if (n > 1 && std::isfinite(n)) // keep the displacement within the amplitude
            v = {v.x / n, v.y / n};
    }
    return guess;
}

} // namespace

FlipCascade FindFlipCascade(const Weights& w, int index, double from, double to, double x0,
                            double y0, int iterations, int maxPeriod, double tolerance)
{
    FlipCascade result;
    if (index < 0 || index >= static_cast<int>(w.size()) || !std::isfinite(from)
        || !std::isfinite(to) || from == to)
        return result;
    auto at = [&](double s) {
        Weights v = w;
        v[index] = s;
        return v;
    };
    auto first = AttractingCycle(at(from), x0, y0, iterations, kMaxCyclePeriod);
    if (!first)
        return result;
    result.startPeriod = first->period();
    const double direction = to > from ? 1 : -1;
    const double span = std::fabs(to - from);
    TrackedCycle current = std::move(*first);
    double s = from;
    double largest = span / 100; // the longest continuation step
    double h = largest;
    while (current.period() <= maxPeriod) {
        // Follow the cycle to the change of sign of its flip test.
        bool flipped = false;
        TrackedCycle beyond;
        double a = s, b = s;
        while (direction * (to - s) > 0) {
            const double next = std::fabs(to - s) <= h ? to : s + direction * h;
            TrackedCycle trial;
            int collapsedTo = 0;
            if (TryStep(at(next), current, trial, collapsedTo) != StepOutcome::Accepted) {
                h /= 2;
                if (h < tolerance)
                    return result; // the cycle is lost (a fold ends it)
                continue;
            }
            if (SignChanged(FlipTest(current.monodromy), FlipTest(trial.monodromy))) {
                a = s;
                b = next;
                beyond = std::move(trial);
                flipped = true;
                break;
            }
            current = std::move(trial);
            s = next;
            h = std::min(2 * h, largest);
        }
        if (!flipped)
            break;
        // Bisection on the parameter; the cycle at a keeps the sign of the
        // side before the flip, the one at b of the side past it.
        while (std::fabs(b - a) > tolerance) {
            const double mid = 0.5 * (a + b);
            if (mid == a || mid == b)
                break;
            TrackedCycle trial;
            int collapsedTo = 0;
            if (TryStep(at(mid), current, trial, collapsedTo) != StepOutcome::Accepted)
                break;
            if (SignChanged(FlipTest(current.monodromy), FlipTest(trial.monodromy))) {
                b = mid;
                beyond = std::move(trial);
            } else {
                a = mid;
                current = std::move(trial);
            }
        }
        const double value = 0.5 * (a + b);
        result.flips.push_back({current.period(), value});
        if (2 * current.period() > maxPeriod)
            break;
        // The doubled cycle, a little past the flip: a small fraction of the
        // last interval between flips (the next one comes after about a
        // fifth of it in a cascade).
        const size_t n = result.flips.size();
        const double interval = n >= 2 ? std::fabs(value - result.flips[n - 2].value) : span / 20;
        const double past = value + direction * interval / 256;
        TrackedCycle base;
        int collapsedTo = 0;
        if (TryStep(at(past), beyond, base, collapsedTo) != StepOutcome::Accepted)
            break;
        std::optional<TrackedCycle> doubled;
        for (double amplitude : {1e-3, 3e-3, 1e-2, 3e-2, 3e-4, 1e-1, 1e-4}) {
            doubled = SolveCycle(at(past), DoubledGuess(at(past), base, amplitude));
            if (doubled && (doubled->type == OrbitType::Attracting
                            || doubled->type == OrbitType::NonHyperbolic))
                break;
            doubled.reset();
        }
        if (!doubled)
            break;
        current = std::move(*doubled);
        s = past;
        largest = interval / 16;
        h = largest;
    }
    for (size_t i = 0; i + 2 < result.flips.size(); ++i)
        result.ratios.push_back((result.flips[i + 1].value - result.flips[i].value)
                                / (result.flips[i + 2].value - result.flips[i + 1].value));
    return result;
}

namespace {

bool FirstBefore(const Point& a, const Point& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }

bool CycleBefore(const Cycle& a, const Cycle& b)
{
    if (a.period != b.period)
        return a.period < b.period;
    return FirstBefore(a.points[0], b.points[0]);
}

// A converged orbit as FindCycles lists a cycle: rotated to its point of
// smallest x (then y), with the multipliers of the k-fold map there.
Cycle Listed(const Weights& w, const std::vector<Point>& orbit)
{
    const auto first = std::min_element(orbit.begin(), orbit.end(), FirstBefore) - orbit.begin();
    const size_t k = orbit.size();
    Cycle c;
    c.period = static_cast<int>(k);
    c.points.reserve(k);
    for (size_t i = 0; i < k; ++i)
        c.points.push_back(orbit[(first + i) % k]);
    const Monodromy m = MonodromyOf(w, c.points);
    c.multipliers = Multipliers(m.trace, m.det);
    c.type = TypeOf(c.multipliers);
    return c;
}

bool Holds(const std::vector<Cycle>& cycles, const std::vector<Point>& points)
{
    for (const Cycle& c : cycles)
        if (c.period == static_cast<int>(points.size())
            && SameCycle(c.points, points, kSameDotCycle))
            return true;
    return false;
}

// What one dot's part of a sweep found.
struct DotGain {
    std::vector<Cycle> cycles;
    int64_t runs = 0, notConverged = 0, overflowed = 0;
};

} // namespace

PlaneCycles FollowPlaneCycles(const std::vector<Weights>& dots, int columns, int rows,
                              const CycleSearch& search,
                              const std::function<void(int64_t dotsDone)>& between,
                              int64_t maxPoints)
{
    PlaneCycles plane;
    if (columns <= 0 || rows <= 0 || static_cast<int64_t>(columns) * rows > INT32_MAX
        || dots.size() != static_cast<size_t>(columns) * rows)
        return plane;
    const int n = columns * rows;
    plane.cycles.resize(static_cast<size_t>(n));

    // Each dot's own search, in runs of dots with a word to the caller
    // between them.
    std::vector<DotGain> gains(static_cast<size_t>(n));
    int start = 0;
    auto own = [&](int begin, int end) {
        for (int d = start + begin; d < start + end; ++d) {
            const CycleReport r = FindCycles(dots[d], search);
            gains[d].cycles = r.cycles;
            gains[d].runs = r.newtonRuns;
            gains[d].notConverged = r.notConverged;
            gains[d].overflowed = r.overflowed;
        }
    };
    const int run = std::max(16, n / 128);
    for (; start < n; start += run) {
        ForEachChunk(std::min(run, n - start), 1, own);
        if (between)
            between(std::min(start + run, n));
    }
    int64_t points = 0;

    // The sweeps: gains[d] holds what dot d gained in the sweep before.
    bool gained = true;
    bool first = true;
    while (gained) {
        gained = false;
        for (int d = 0; d < n; ++d) {
            DotGain& g = gains[d];
            plane.newtonRuns += g.runs;
            plane.notConverged += g.notConverged;
            plane.overflowed += g.overflowed;
            if (!first)
                plane.continued += static_cast<int64_t>(g.cycles.size());
            gained = gained || !g.cycles.empty();
            std::vector<Cycle>& held = plane.cycles[d];
            held.insert(held.end(), g.cycles.begin(), g.cycles.end());
            for (const Cycle& c : g.cycles)
                points += c.period;
        }
        if (points > maxPoints)
            throw RuntimeError(RuntimeError::Kind::OutOfMemory,
                               "The cycles of the plane would hold more than "
                                   + std::to_string(maxPoints)
                                   + " points; a smaller plane or fewer periods hold fewer.");
        if (!gained)
            break;
        if (!first)
            ++plane.sweeps;
        first = false;
        std::vector<DotGain> next(static_cast<size_t>(n));
        auto sweep = [&](int begin, int end) {
            for (int d = begin; d < end; ++d) {
                const int column = d / rows, row = d % rows;
                const int beside[4] = {column > 0 ? d - rows : -1,
                                       column + 1 < columns ? d + rows : -1,
                                       row > 0 ? d - 1 : -1, row + 1 < rows ? d + 1 : -1};
                DotGain& out = next[d];
                const std::vector<Cycle>& held = plane.cycles[d];
                for (int b : beside) {
                    if (b < 0)
                        continue;
                    for (const Cycle& c : gains[b].cycles) {
                        if (held.size() + out.cycles.size() >= kMaxDotCycles)
                            break;
                        if (Holds(held, c.points) || Holds(out.cycles, c.points))
                            continue;
                        ++out.runs;
                        auto refined = RefineCycle(dots[d], c.points);
                        if (!refined) {
                            ++out.notConverged;
                            continue;
                        }
                        // Continued onto a cycle of shorter period: that one is
                        // the dot's own or a neighbour's to find.
                        if (MinimalPeriod(*refined, kSamePoint) != c.period)
                            continue;
                        if (Holds(held, *refined) || Holds(out.cycles, *refined))
                            continue;
                        Cycle listed = Listed(dots[d], *refined);
                        if (!std::isfinite(listed.multipliers[0].re)
                            || !std::isfinite(listed.multipliers[1].re))
                            continue;
                        out.cycles.push_back(std::move(listed));
                    }
                }
            }
        };
        ForEachChunk(n, 16, sweep);
        gains = std::move(next);
    }
    for (auto& held : plane.cycles)
        std::sort(held.begin(), held.end(), CycleBefore);
    return plane;
}

} // namespace model::analysis
