#include "model/fixed_points.h"

#include "model/fixed_point_lanes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

namespace model::analysis {

namespace {

constexpr double kWeakCoupling = 1e-7;
constexpr double kMapsOntoItself = 1e-8;
// Rounds of samples for the edges of the window: 7^-12 of |w11| at most.
constexpr int kMaxWindowRounds = 12;

// A root of f on [lo, hi], where f(lo) = flo and f(hi) = fhi have opposite
// signs: Newton's method from the midpoint, falling back to bisection
// whenever a step would leave the bracket or shrink it too slowly. f returns
// the value and the slope.
template <class F>
double Bracketed(F f, double lo, double flo, double hi, double fhi)
{
    if (flo == 0)
        return lo;
    if (fhi == 0)
        return hi;
    // neg < pos in the sense f(neg) < 0 < f(pos).
    double neg = flo < 0 ? lo : hi, pos = flo < 0 ? hi : lo;
    double x = 0.5 * (lo + hi);
    double step = std::fabs(hi - lo), lastStep = step;
    auto [fx, dfx] = f(x);
    (fx < 0 ? neg : pos) = x;
    for (int i = 0; i < 200 && fx != 0; ++i) {
        const bool newtonLeaves = ((x - pos) * dfx - fx) * ((x - neg) * dfx - fx) > 0;
        if (newtonLeaves || std::fabs(2 * fx) > std::fabs(lastStep * dfx)) {
            lastStep = step;
            step = 0.5 * (pos - neg);
            const double mid = neg + step;
            if (mid == x || mid == neg || mid == pos)
                break;
            x = mid;
        } else {
            lastStep = step;
            step = fx / dfx;
            const double next = x - step;
            if (next == x)
                break;
            x = next;
        }
        std::tie(fx, dfx) = f(x);
        (fx < 0 ? neg : pos) = x;
        if (std::fabs(pos - neg) <= 4 * std::numeric_limits<double>::epsilon() * std::fabs(x))
            break;
    }
    return x;
}

// Where f changes sign between lo and hi, f(lo) = flo and f(hi) = fhi having
// opposite signs: regula falsi with the Illinois correction, which converges
// superlinearly and keeps the bracket.
template <class F>
double SignChange(F f, double lo, double flo, double hi, double fhi)
{
    int side = 0;
    for (int i = 0; i < 100; ++i) {
        double x = (lo * fhi - hi * flo) / (fhi - flo);
        if (!(x > std::min(lo, hi) && x < std::max(lo, hi)))
            x = 0.5 * (lo + hi);
        if (x == lo || x == hi)
            break;
        const double fx = f(x);
        if (fx == 0)
            return x;
        if ((fx < 0) == (flo < 0)) {
            lo = x;
            flo = fx;
            if (side == -1)
                fhi /= 2;
            side = -1;
        } else {
            hi = x;
            fhi = fx;
            if (side == 1)
                flo /= 2;
            side = 1;
        }
        if (std::fabs(hi - lo) <= 4 * std::numeric_limits<double>::epsilon() * std::fabs(x))
            break;
    }
    return 0.5 * (lo + hi);
}

bool OppositeSigns(double u, double v) { return (u < 0 && v > 0) || (u > 0 && v < 0); }

// The pieces of [lo, hi] on which p - a tanh p is monotone: one for a <= 1;
// for a > 1 the slope 1 - a (1 - tanh^2 p) vanishes at p = +-acosh(sqrt a).
// At most three pieces, held in place: this runs for every dot of a plane.
struct Pieces {
    std::pair<double, double> piece[3];
    int count = 0;
    const std::pair<double, double>* begin() const { return piece; }
    const std::pair<double, double>* end() const { return piece + count; }
};

Pieces MonotonePieces(double a, double lo, double hi)
{
    Pieces pieces;
    if (!(a > 1)) {
        pieces.piece[pieces.count++] = {lo, hi};
        return pieces;
    }
    const double fold = std::acosh(std::sqrt(a));
    const double cuts[] = {lo, std::clamp(-fold, lo, hi), std::clamp(fold, lo, hi), hi};
    for (int i = 0; i < 3; ++i)
        if (cuts[i] < cuts[i + 1])
            pieces.piece[pieces.count++] = {cuts[i], cuts[i + 1]};
    return pieces;
}

// The roots p of p - a tanh p = t, ascending. |p - t| <= |a| bounds them.
std::vector<double> Roots1D(double a, double t)
{
    const auto f = [a, t](double p) {
        return std::pair{(p - a * std::tanh(p)) - t, 1 - a * TanhSlope(p)};
    };
    std::vector<double> roots;
    const double reach = std::fabs(a) + 1;
    for (auto [lo, hi] : MonotonePieces(a, t - reach, t + reach)) {
        const double flo = f(lo).first, fhi = f(hi).first;
        if (flo == 0)
            roots.push_back(lo);
        if (fhi == 0)
            roots.push_back(hi);
        if (OppositeSigns(flo, fhi))
            roots.push_back(Bracketed(f, lo, flo, hi, fhi));
    }
    std::sort(roots.begin(), roots.end());
    roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
    return roots;
}

// A fixed point by its pre-activations.
struct Root {
    double p = 0;
    double q = 0;
};

// A root polished, with the tanh of both pre-activations, their slopes
// 1 - tanh^2 and the residual at it, as its last Newton step evaluated them.
struct Polished {
    Root r;
    double x = 0, y = 0, d1 = 0, d2 = 0, h1 = 0, h2 = 0;
};

// A few Newton steps on both equations (their Jacobian is
// I - W diag(1 - x^2, 1 - y^2)), each kept only if it lowers the residual:
// the roots from one equation inherit the rounding of the elimination, and
// those of a triangular system with a weak coupling left out lack it.
Polished Polish(const Weights& w, Root r)
{
    // Both equations, p and q less their images, with x = tanh p, y = tanh q
    // and their slopes.
    const auto residual = [&w](Root at, Polished& out) {
        out.r = at;
        TanhWithSlope(at.p, out.x, out.d1);
        TanhWithSlope(at.q, out.y, out.d2);
        out.h1 = at.p - ((w[0] * out.x + w[1] * out.y) + w[4]);
        out.h2 = at.q - ((w[2] * out.x + w[3] * out.y) + w[5]);
        return std::max(std::fabs(out.h1), std::fabs(out.h2));
    };
    Polished out, trial;
    double size = residual(r, out);
    for (int i = 0; i < 4 && size > 0; ++i) {
        const double d1 = out.d1, d2 = out.d2, h1 = out.h1, h2 = out.h2;
        const double a = 1 - w[0] * d1, b = -w[1] * d2, c = -w[2] * d1, d = 1 - w[3] * d2;
        const double det = a * d - b * c;
        if (det == 0 || !std::isfinite(det))
            break;
        const double nextSize = residual({out.r.p - (d * h1 - b * h2) / det, out.r.q - (a * h2 - c * h1) / det}, trial);
        if (!(nextSize < size))
            break;
        out = trial;
        size = nextSize;
    }
    return out;
}

// The roots with w12 = 0 or w21 = 0: one neuron's equation alone, then the
// other's for each of its roots.
void Triangular(const Weights& w, std::vector<Root>& roots)
{
    roots.clear();
    if (w[1] == 0) {
        for (double p : Roots1D(w[0], w[4]))
            for (double q : Roots1D(w[3], w[2] * std::tanh(p) + w[5]))
                roots.push_back({p, q});
    } else {
        for (double q : Roots1D(w[3], w[5]))
            for (double p : Roots1D(w[0], w[1] * std::tanh(q) + w[4]))
                roots.push_back({p, q});
    }
}

// The roots with w12 != 0, eliminating y through the first equation:
// y(p) = (p - w11 tanh p - b1) / w12, a fixed point wherever
// g(p) = tanh((w21 tanh p + w22 y(p)) + b2) - y(p) vanishes with |y(p)| <= 1.
void Eliminated(const Weights& w, std::vector<Root>& roots)
{
    const double a = w[0], b = w[1], c = w[2], d = w[3], e = w[4], f = w[5];
    const double bound = std::fabs(b);
    // phi = p - a tanh p - e, with the sampled tanh (PhiOf, as the lanes
    // take it): for the window of the samples, which needs no more than their
    // accuracy.
    const auto phi = [a, e](double p) { return PhiOf(a, e, p); };
    // g and its first two derivatives (fixed_point_lanes.h).
    const Elimination el{a, b, c, d, e, f};
    struct Sample {
        double p, g, slope, curve;
    };
    const auto at = [&](double p) {
        Sample s{p, 0, 0, 0};
        SampleOf(el, p, s.g, s.slope, s.curve);
        return s;
    };
    // The root of g between samples u and v of opposite signs: Halley's
    // method, which g'' makes cheap, from the secant, kept in the bracket
    // (bisection where a step would leave it or shrink it too slowly). Once
    // a step is below 1e-7 and a thousandth of the one before, convergence
    // is cubic and the error after it below rounding: the step is taken
    // without a further sample. Near a double root, where convergence is
    // slower, it runs to the last bit.
    const auto rootBetween = [&](const Sample& u, const Sample& v) {
        double neg = u.g < 0 ? u.p : v.p, pos = u.g < 0 ? v.p : u.p;
        double x = (u.p * v.g - v.p * u.g) / (v.g - u.g);
        if (!(x > std::min(u.p, v.p) && x < std::max(u.p, v.p)))
            x = 0.5 * (u.p + v.p);
        double lastStep = std::fabs(v.p - u.p);
        bool lastHalley = false;
        for (int i = 0; i < 200; ++i) {
            const Sample s = at(x);
            if (s.g == 0)
                break;
            (s.g < 0 ? neg : pos) = x;
            if (std::fabs(pos - neg) <= 4 * std::numeric_limits<double>::epsilon() * std::fabs(x))
                break;
            const double denominator = 2 * s.slope * s.slope - s.g * s.curve;
            double step = denominator != 0 ? 2 * s.g * s.slope / denominator : s.g / s.slope;
            double next = x - step;
            const bool halley = next > std::min(neg, pos) && next < std::max(neg, pos)
                                && std::fabs(2 * step) <= lastStep;
            if (!halley) {
                next = 0.5 * (neg + pos);
                step = x - next;
            } else if (lastHalley && std::fabs(step) <= 1e-7 * std::max(1.0, std::fabs(x))
                       && std::fabs(step) <= 1e-3 * lastStep) {
                x = next;
                break;
            }
            if (next == x)
                break;
            lastStep = std::fabs(step);
            lastHalley = halley;
            x = next;
        }
        return x;
    };
    // Where `derivative` (g' or g'') changes sign between u and v, the one
    // extremum there of `value` (g or g'). Where value has one sign, not
    // zero, at both u and v, the search ends sooner, where the extremum is
    // seen not to matter to the last bit:
    // - at a point on the way where value has the other sign: a cut there
    //   splits [u, v] into the same monotone stretches as the extremum does,
    //   up to a part without a change of sign;
    // - once the bracket around the extremum is so narrow that value, at most
    //   twice the larger derivative of its ends times its width from their
    //   values, keeps their sign across it: value has no zero between u and
    //   v then, and the point returned has the ends' sign.
    const auto turn = [&](const Sample& u, const Sample& v, double Sample::*value,
                          double Sample::*derivative) {
        const bool early = u.*value != 0 && !OppositeSigns(u.*value, v.*value) && v.*value != 0;
        Sample last{}, lo = u, hi = v;
        bool decided = false;
        const double p = SignChange([&](double q) {
            last = at(q);
            (OppositeSigns(last.*derivative, u.*derivative) ? hi : lo) = last;
            if (early) {
                const double reach = 2 * std::max(std::fabs(lo.*derivative), std::fabs(hi.*derivative))
                                     * std::fabs(hi.p - lo.p);
                decided = OppositeSigns(last.*value, u.*value)
                          || (!OppositeSigns(lo.*value, u.*value) && !OppositeSigns(hi.*value, u.*value)
                              && std::min(std::fabs(lo.*value), std::fabs(hi.*value)) > reach);
            }
            return decided ? 0.0 : last.*derivative;
        }, u.p, u.*derivative, v.p, v.*derivative);
        return decided ? last : at(p);
    };

    // The roots' p, in a buffer each thread keeps: no allocation per dot.
    thread_local std::vector<double> ps;
    ps.clear();
    // The roots between two neighbouring samples. g is split where it turns:
    // at a change of sign of its slope (an extremum), or, where the slope
    // keeps its sign at both samples, at the extrema on either side of a
    // change of sign of its curvature where the slope there has the other
    // sign (the two extrema of a near-triple root, as at a pitchfork). Each
    // part holds at most one root, and one where its ends' signs differ.
    const auto rootsBetween = [&](const Sample& u, const Sample& v) {
        // Most sample pairs hold no turn: nothing is cut or cleared then.
        if (!OppositeSigns(u.slope, v.slope) && !OppositeSigns(u.curve, v.curve)) {
            if (OppositeSigns(u.g, v.g))
                ps.push_back(rootBetween(u, v));
            return;
        }
        Sample cuts[4];
        cuts[0] = u;
        int n = 1;
        if (OppositeSigns(u.slope, v.slope)) {
            // Ends of opposite signs with one extremum between them hold
            // exactly one root: no cut is needed.
            if (!OppositeSigns(u.g, v.g))
                cuts[n++] = turn(u, v, &Sample::g, &Sample::slope);
        } else if (OppositeSigns(u.curve, v.curve)) {
            const Sample inflection = turn(u, v, &Sample::slope, &Sample::curve);
            if (OppositeSigns(inflection.slope, u.slope)) {
                cuts[n++] = turn(u, inflection, &Sample::g, &Sample::slope);
                cuts[n++] = turn(inflection, v, &Sample::g, &Sample::slope);
            }
        }
        cuts[n++] = v;
        for (int i = 0; i + 1 < n; ++i) {
            if (i > 0 && cuts[i].g == 0)
                ps.push_back(cuts[i].p);
            if (OppositeSigns(cuts[i].g, cuts[i + 1].g))
                ps.push_back(rootBetween(cuts[i], cuts[i + 1]));
        }
    };
    const double reach = std::fabs(a) + bound + 1;
    for (const auto& piece : MonotonePieces(a, e - reach, e + reach)) {
        // Named copies, not a structured binding, so that the solver below
        // may capture them with every compiler the fuzz build uses.
        const double lo = piece.first, hi = piece.second;
        // The window of the piece where |phi| <= |w12|.
        const double plo = phi(lo), phi_hi = phi(hi);
        const bool rising = phi_hi >= plo;
        const double first = rising ? -bound : bound, last = rising ? bound : -bound;
        const auto beyond = [rising](double v, double limit) { return rising ? v > limit : v < limit; };
        if (beyond(plo, last) || beyond(first, phi_hi))
            continue;
        // The window's edges, from samples of phi taken side by side. Where
        // phi = v, p = e + v + a tanh p: each edge lies within |w11| of
        // e -+ |w12|. One round samples both of these stretches (lanes
        // 0..kHalf-1 the left, the rest the right); where that leaves an
        // edge coarser than a sixteenth of the window, a second round
        // samples the stretch between its two samples, a seventh of it, and
        // further rounds follow while an edge is coarser than a quarter of
        // the window (only where |w11| is far larger than |w12|). Each edge
        // is the last sample
        // outside the window (or the piece's end), so that the window holds
        // every root, which lies strictly inside: |y| <= tanh(|w21| + |w22| +
        // |b2|) < 1.
        const bool leftOpen = beyond(first, plo), rightOpen = beyond(phi_hi, last);
        // With phi at both: the lanes give the bits of PhiOf.
        double wl = lo, wr = hi, phiWl = plo, phiWr = phi_hi;
        if (leftOpen || rightOpen) {
            constexpr int kHalf = kSampleLanes / 2;
            double lp[kSampleLanes], lv[kSampleLanes];
            // Samples both stretches; [l0, l1] and [r0, r1] become the
            // samples about each edge, wl and wr the outer ones.
            const auto round = [&](double& l0, double& l1, double& r0, double& r1) {
                for (int k = 0; k < kHalf; ++k) {
                    const double t = static_cast<double>(k) / (kHalf - 1);
                    lp[k] = k == kHalf - 1 ? l1 : std::lerp(l0, l1, t);
                    lp[kHalf + k] = k == kHalf - 1 ? r1 : std::lerp(r0, r1, t);
                }
                PhiLanes(a, e, lp, lv);
                int l = 0, r = kSampleLanes - 1;
                while (l + 1 < kHalf - 1 && beyond(first, lv[l + 1]))
                    ++l;
                while (r - 1 > kHalf && beyond(lv[r - 1], last))
                    --r;
                l0 = lp[l];
                l1 = lp[l + 1];
                r0 = lp[r - 1];
                r1 = lp[r];
                if (leftOpen) {
                    wl = l0;
                    phiWl = lv[l];
                }
                if (rightOpen) {
                    wr = r1;
                    phiWr = lv[r];
                }
            };
            const double reachA = std::fabs(a);
            double l0 = std::max(lo, (e + first) - reachA), l1 = std::min(hi, (e + first) + reachA);
            double r0 = std::max(lo, (e + last) - reachA), r1 = std::min(hi, (e + last) + reachA);
            if (!(l0 <= l1 && r0 <= r1)) { // rounding at the piece's ends: all of it
                l0 = r0 = lo;
                l1 = r1 = hi;
            }
            // Whether an edge's samples lie further apart than the window over
            // `parts`.
            const auto coarse = [&](double parts) {
                const double fine = (wr - wl) / parts;
                return (leftOpen && l1 - l0 > fine) || (rightOpen && r1 - r0 > fine);
            };
            round(l0, l1, r0, r1);
            if (coarse(16)) {
                round(l0, l1, r0, r1);
                for (int rounds = 2; rounds < kMaxWindowRounds && coarse(4); ++rounds)
                    round(l0, l1, r0, r1);
            }
        }
        if (!(wl < wr))
            continue;
        // Samples dense enough for the turns of the second equation's tanh.
        double xl, xr, unused;
        TanhAndSlopeOf(wl, xl, unused);
        TanhAndSlopeOf(wr, xr, unused);
        const double dx = std::fabs(xr - xl);
        const double dy = std::fabs(phiWr - phiWl) / bound;
        const double turns = std::fabs(c) * dx + (std::fabs(d) + 1) * std::min(dy, 2.0);
        const int n = static_cast<int>(std::clamp(16 + 2 * turns, 16.0, 2048.0));
        // Sample j at wl + j * spacing, nondecreasing in j; the last at wr.
        const double spacing = (wr - wl) / n;
        // In blocks of kSampleLanes, taken side by side, the first from wl;
        // a last short block repeats its last sample.
        Sample prev{};
        double lp[kSampleLanes], lg[kSampleLanes], lslope[kSampleLanes], lcurve[kSampleLanes];
        for (int j0 = 0; j0 <= n; j0 += kSampleLanes) {
            for (int i = 0; i < kSampleLanes; ++i) {
                const int j = std::min(j0 + i, n);
                lp[i] = j == n ? wr : wl + j * spacing;
            }
            SampleSigns signs;
            SampleLanes(el, lp, lg, lslope, lcurve, signs);
            // The pairs of the block where anything happens, screened
            // branch-free: a change of sign of g, g' or g'', or a zero of g.
            // Only those are looked at. With the signs as bits (lane i in bit
            // i), the pair (i - 1, i) changes sign where bit i of one sign
            // meets bit i of the other shifted up by one, the sample before
            // the block in bit 0.
            const int count = std::min(kSampleLanes, n - j0 + 1);
            const auto before = [](unsigned bits, bool first) {
                return bits << 1 | static_cast<unsigned>(first);
            };
            const SampleSigns& z = signs;
            unsigned busy = (before(z.gNeg, prev.g < 0) & z.gPos) | (before(z.gPos, prev.g > 0) & z.gNeg)
                            | (before(z.slopeNeg, prev.slope < 0) & z.slopePos)
                            | (before(z.slopePos, prev.slope > 0) & z.slopeNeg)
                            | (before(z.curveNeg, prev.curve < 0) & z.curvePos)
                            | (before(z.curvePos, prev.curve > 0) & z.curveNeg) | z.gZero;
            busy &= (1u << count) - 1;
            if (j0 == 0) { // sample 0 opens the run: no pair ends there
                prev = {lp[0], lg[0], lslope[0], lcurve[0]};
                if (prev.g == 0)
                    ps.push_back(prev.p);
                busy &= ~1u;
            }
            for (; busy; busy &= busy - 1) {
                const int i = std::countr_zero(busy);
                const Sample before = i ? Sample{lp[i - 1], lg[i - 1], lslope[i - 1], lcurve[i - 1]} : prev;
                const Sample next{lp[i], lg[i], lslope[i], lcurve[i]};
                rootsBetween(before, next);
                if (next.g == 0)
                    ps.push_back(next.p);
            }
            prev = {lp[count - 1], lg[count - 1], lslope[count - 1], lcurve[count - 1]};
        }
    }
    std::sort(ps.begin(), ps.end());
    ps.erase(std::unique(ps.begin(), ps.end()), ps.end());
    roots.clear();
    for (double p : ps) {
        const double x = std::tanh(p), y = std::clamp(((p - a * x) - e) / b, -1.0, 1.0);
        roots.push_back({p, (c * x + d * y) + f});
    }
}

} // namespace

std::vector<FixedPoint> FindFixedPoints(const Weights& w)
{
    std::vector<FixedPoint> points;
    FindFixedPoints(w, points);
    return points;
}

void FindFixedPoints(const Weights& w, std::vector<FixedPoint>& points)
{
    points.clear();
    for (double v : w)
        if (!std::isfinite(v))
            return;
    // The elimination divides by the coupling weight; below kWeakCoupling
    // times the size of the other terms of its equation, its rounding would
    // blur y, and the smaller coupling is dropped instead: the equations are
    // triangular then, and polishing restores it.
    const bool byFirst = std::fabs(w[1]) >= std::fabs(w[2]);
    const double coupling = byFirst ? std::fabs(w[1]) : std::fabs(w[2]);
    const double rest = 1 + (byFirst ? std::fabs(w[0]) + std::fabs(w[4]) : std::fabs(w[3]) + std::fabs(w[5]));
    // The roots, in a buffer each thread keeps: no allocation per dot.
    thread_local std::vector<Root> roots;
    if (coupling < kWeakCoupling * rest) {
        Weights triangular = w;
        triangular[byFirst ? 2 : 1] = 0;
        Triangular(triangular, roots);
    } else if (byFirst) {
        Eliminated(w, roots);
    } else {
        // Eliminate x instead: the same equations with the neurons swapped.
        Eliminated({w[3], w[2], w[1], w[0], w[5], w[4]}, roots);
        for (Root& r : roots)
            std::swap(r.p, r.q);
    }
    // A root is kept where the map maps it onto itself within its rounding:
    // a safeguard against a polish gone astray at extreme weights.
    const double eps = std::numeric_limits<double>::epsilon();
    const double slack1 = kMapsOntoItself + 16 * eps * (std::fabs(w[0]) + std::fabs(w[1]) + std::fabs(w[4]));
    const double slack2 = kMapsOntoItself + 16 * eps * (std::fabs(w[2]) + std::fabs(w[3]) + std::fabs(w[5]));
    for (const Root& root : roots) {
        const Polished r = Polish(w, root);
        FixedPoint fp;
        fp.x = r.x;
        fp.y = r.y;
        // tanh moves its argument's error no further: a residual of half
        // the slack keeps the point without the images evaluated.
        const bool near = std::fabs(r.h1) <= 0.5 * slack1 && std::fabs(r.h2) <= 0.5 * slack2;
        if (!near && !(std::fabs(std::tanh((w[0] * fp.x + w[1] * fp.y) + w[4]) - fp.x) <= slack1 &&
                       std::fabs(std::tanh((w[2] * fp.x + w[3] * fp.y) + w[5]) - fp.y) <= slack2))
            continue;
        const double d1 = r.d1, d2 = r.d2;
        fp.multipliers = Multipliers(d1 * w[0] + d2 * w[3], d1 * d2 * (w[0] * w[3] - w[1] * w[2]));
        fp.type = TypeOf(fp.multipliers);
        points.push_back(fp);
    }
    std::sort(points.begin(), points.end(), [](const FixedPoint& u, const FixedPoint& v) {
        return u.x < v.x || (u.x == v.x && u.y < v.y);
    });
    // One point once: where a neuron saturates, several roots of the sampled
    // equation (distinct pre-activations, tanh exactly +-1) polish to the
    // same state, or to states apart by their rounding. Points within the
    // slack of the test above are one; two fixed points that close lie
    // within about 1e-16 of a fold.
    size_t kept = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        bool seen = false;
        for (size_t j = kept; j > 0 && points[i].x - points[j - 1].x <= kMapsOntoItself && !seen; --j)
            seen = std::fabs(points[i].y - points[j - 1].y) <= kMapsOntoItself;
        if (!seen)
            points[kept++] = points[i];
    }
    points.resize(kept);
}

FixedPointCounts CountTypes(const std::vector<FixedPoint>& points)
{
    FixedPointCounts n;
    for (const FixedPoint& p : points) {
        uint8_t& slot = p.type == OrbitType::Attracting ? n.attracting
                      : p.type == OrbitType::Saddle     ? n.saddle
                      : p.type == OrbitType::Repelling  ? n.repelling
                                                        : n.nonHyperbolic;
        slot = static_cast<uint8_t>(std::min(255, slot + 1));
    }
    return n;
}

uint16_t ClassKey(const FixedPointCounts& n)
{
    auto field = [](uint8_t count) { return static_cast<unsigned>(std::min<uint8_t>(count, 15)); };
    return static_cast<uint16_t>(field(n.attracting) << 12 | field(n.saddle) << 8
                                 | field(n.repelling) << 4 | field(n.nonHyperbolic));
}

FixedPointCounts CountsOfKey(int64_t key)
{
    return {static_cast<uint8_t>(key >> 12 & 0xF), static_cast<uint8_t>(key >> 8 & 0xF),
            static_cast<uint8_t>(key >> 4 & 0xF), static_cast<uint8_t>(key & 0xF)};
}

const char* BifurcationName(Bifurcation kind)
{
    switch (kind) {
    case Bifurcation::SaddleNode: return "saddle-node";
    case Bifurcation::PeriodDoubling: return "period-doubling";
    case Bifurcation::NeimarkSacker: break;
    }
    return "neimark-sacker";
}

CurveSignature SignatureOf(const std::vector<FixedPoint>& points)
{
    CurveSignature s;
    s.count = static_cast<uint8_t>(std::min<size_t>(255, points.size()));
    for (const FixedPoint& p : points) {
        const Multiplier u = p.multipliers[0], v = p.multipliers[1];
        const bool real = u.im == 0;
        if (real && (1 + u.re) * (1 + v.re) < 0)
            s.flipping = static_cast<uint8_t>(std::min(255, s.flipping + 1));
        const double det = real ? u.re * v.re : u.re * u.re + u.im * u.im;
        if (det > 1)
            s.expanding = static_cast<uint8_t>(std::min(255, s.expanding + 1));
    }
    return s;
}

namespace {

Weights Along(const Weights& from, const Weights& to, double t)
{
    Weights w;
    for (int i = 0; i < 6; ++i)
        w[i] = std::lerp(from[i], to[i], t);
    return w;
}

// Whether the fixed point whose det J is nearest 1 has complex multipliers.
bool ComplexNearUnitDet(const std::vector<FixedPoint>& points)
{
    double nearest = INFINITY;
    bool complex = false;
    for (const FixedPoint& p : points) {
        const Multiplier u = p.multipliers[0], v = p.multipliers[1];
        const double det = u.im == 0 ? u.re * v.re : u.re * u.re + u.im * u.im;
        if (std::fabs(det - 1) < nearest) {
            nearest = std::fabs(det - 1);
            complex = u.im != 0;
        }
    }
    return complex;
}

struct Search {
    const Weights& from;
    const Weights& to;
    double resolution;
    std::vector<Crossing> found;

    // One flip, or one change of a fixed point's area across 1, with the
    // number of fixed points kept: the product over the fixed points of
    // (1 + u)(1 + v), or of (det J - 1), changes sign there and is smooth
    // along the segment, so that regula falsi (Illinois) locates it in a
    // few searches where bisection takes one per halving. A trial with
    // another number of fixed points (a pair born and gone within the
    // segment), ends whose signatures are not those of the segment's ends,
    // or anything not finite hand the segment back to bisection.
    bool falsi(const CurveSignature& s0, const CurveSignature& s1)
    {
        const bool flip = s0.count == s1.count && s0.expanding == s1.expanding
                          && std::abs(s0.flipping - s1.flipping) == 1;
        const bool area = s0.count == s1.count && s0.flipping == s1.flipping
                          && std::abs(s0.expanding - s1.expanding) == 1;
        if (!flip && !area)
            return false;
        struct End {
            double t, f;
            CurveSignature s;
        };
        const auto at = [&](double t) {
            const std::vector<FixedPoint> points = FindFixedPoints(Along(from, to, t));
            double f = 1;
            for (const FixedPoint& p : points) {
                const Multiplier u = p.multipliers[0], v = p.multipliers[1];
                const bool real = u.im == 0;
                f *= flip ? (real ? (1 + u.re) * (1 + v.re) : (1 + u.re) * (1 + u.re) + u.im * u.im)
                          : (real ? u.re * v.re : u.re * u.re + u.im * u.im) - 1;
            }
            return End{t, f, SignatureOf(points)};
        };
        End lo = at(0), hi = at(1);
        if (!(lo.s == s0 && hi.s == s1) || !std::isfinite(lo.f) || !std::isfinite(hi.f)
            || !OppositeSigns(lo.f, hi.f))
            return false;
        double flo = lo.f, fhi = hi.f;
        int side = 0;
        for (int i = 0; i < 100 && hi.t - lo.t > resolution; ++i) {
            // The first trial is bisection's, at the middle.
            double t = i == 0 ? 0.5 : (lo.t * fhi - hi.t * flo) / (fhi - flo);
            if (!(t > lo.t && t < hi.t))
                t = 0.5 * (lo.t + hi.t);
            const End m = at(t);
            if (!std::isfinite(m.f) || m.f == 0 || m.s.count != s0.count)
                return false;
            if (OppositeSigns(m.f, lo.f)) {
                hi = m;
                fhi = m.f;
                if (side == 1)
                    flo /= 2;
                side = 1;
            } else {
                lo = m;
                flo = m.f;
                if (side == -1)
                    fhi /= 2;
                side = -1;
            }
        }
        if (!(hi.t - lo.t <= resolution && lo.s == s0 && hi.s == s1))
            return false;
        const double mid = 0.5 * (lo.t + hi.t);
        if (flip)
            found.push_back({mid, Bifurcation::PeriodDoubling});
        else if (ComplexNearUnitDet(FindFixedPoints(Along(from, to, mid))))
            found.push_back({mid, Bifurcation::NeimarkSacker});
        return true;
    }

    void between(double t0, const CurveSignature& s0, double t1, const CurveSignature& s1)
    {
        if (s0 == s1)
            return;
        const double mid = 0.5 * (t0 + t1);
        const std::vector<FixedPoint> points = FindFixedPoints(Along(from, to, mid));
        if (t1 - t0 <= resolution || mid == t0 || mid == t1) {
            if (s0.count != s1.count)
                found.push_back({mid, Bifurcation::SaddleNode});
            else if (s0.flipping != s1.flipping)
                found.push_back({mid, Bifurcation::PeriodDoubling});
            else if (ComplexNearUnitDet(points))
                found.push_back({mid, Bifurcation::NeimarkSacker});
            return;
        }
        const CurveSignature sm = SignatureOf(points);
        between(t0, s0, mid, sm);
        between(mid, sm, t1, s1);
    }
};

} // namespace

std::vector<Crossing> FindCrossings(const Weights& from, const CurveSignature& atFrom,
                                    const Weights& to, const CurveSignature& atTo,
                                    double resolution)
{
    Search search{from, to, resolution, {}};
    if (!search.falsi(atFrom, atTo))
        search.between(0, atFrom, 1, atTo);
    return std::move(search.found);
}

std::vector<Crossing> FindCrossings(const Weights& from, const Weights& to, double resolution)
{
    return FindCrossings(from, SignatureOf(FindFixedPoints(from)), to,
                         SignatureOf(FindFixedPoints(to)), resolution);
}

} // namespace model::analysis
