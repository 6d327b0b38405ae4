// All fixed points of the network map at one parameter vector, their
// stability, and the bifurcations that fixed points undergo between two
// parameter vectors: what a stability plane draws per dot and between dots.
//
// A fixed point satisfies p = (w11 tanh p + w12 tanh q) + b1 and
// q = (w21 tanh p + w22 tanh q) + b2 in the pre-activations p and q, with
// (x, y) = (tanh p, tanh q), and all of them are found so:
// - With w12 = 0 (or w21 = 0) the equations are triangular: one neuron's
//   equation alone, then the other's for each of its roots, each a
//   one-dimensional equation p - a tanh p = t solved exactly on the (at most
//   three) pieces where its left side is monotone. Couplings too weak for the
//   elimination below (under 1e-7 of the other terms of their equation) are
//   solved so too, the weaker one left out and restored by the polish.
// - Otherwise the first equation gives y = (p - w11 tanh p - b1) / w12 on the
//   pieces of p where |y| <= 1, and the second becomes one equation g(p) = 0.
//   Its roots are bracketed between samples, split where g turns: at a change
//   of sign of g' (one extremum: two close roots at a fold) and at the two
//   extrema around a change of sign of g'' (three close roots, as at a
//   pitchfork). The variable eliminated is the one with the larger coupling.
// Each root is polished by Newton's method on both equations, and kept only
// where the map sends it onto itself within its rounding.
#pragma once

#include "model/cycles.h"
#include "model/state.h"

#include <array>
#include <cstdint>
#include <vector>

namespace model::analysis {

struct FixedPoint {
    double x = 0;
    double y = 0;
    // The eigenvalues of diag(1 - x^2, 1 - y^2) * [w11 w12; w21 w22].
    std::array<Multiplier, 2> multipliers{};
    OrbitType type = OrbitType::NonHyperbolic;
};

// Every fixed point, by x, then y. None where a weight is not finite.
std::vector<FixedPoint> FindFixedPoints(const Weights& w);
// The same into `points` (replaced), reusing its memory: for a loop over
// many parameter vectors.
void FindFixedPoints(const Weights& w, std::vector<FixedPoint>& points);

// How many fixed points of each type: a stability plane's dot.
struct FixedPointCounts {
    uint8_t attracting = 0;
    uint8_t saddle = 0;
    uint8_t repelling = 0;
    uint8_t nonHyperbolic = 0;
    friend bool operator==(const FixedPointCounts&, const FixedPointCounts&) = default;
};

FixedPointCounts CountTypes(const std::vector<FixedPoint>& points);

// The four counts as one class, the one encoding of a stability dot, its
// classes and its statistics' keys: four 4-bit fields, attracting in the
// highest, each count capped at 15 (the network has at most 9 fixed points).
uint16_t ClassKey(const FixedPointCounts& counts);
FixedPointCounts CountsOfKey(int64_t key);

// Bifurcation curves between neighbouring dots.
enum class Bifurcation : uint8_t {
    SaddleNode,     // a multiplier crosses +1: fixed points are born or die
    PeriodDoubling, // a real multiplier crosses -1
    NeimarkSacker,  // a complex pair crosses the unit circle
};

// "saddle-node", "period-doubling" or "neimark-sacker".
const char* BifurcationName(Bifurcation kind);

// Where along the segment w(t) = lerp(from, to, t) a bifurcation happens.
struct Crossing {
    double t = 0; // in [0, 1]
    Bifurcation kind = Bifurcation::SaddleNode;
    friend bool operator==(const Crossing&, const Crossing&) = default;
};

// What the bifurcations change, counted over all fixed points of a dot:
// - count: the number of fixed points; it changes exactly where a multiplier
//   passes +1 (two fixed points meet and vanish, or one splits in three at a
//   symmetric parameter);
// - flipping: the fixed points with one real multiplier below -1 and one
//   above, (1 + mu1)(1 + mu2) < 0; away from a change of count it changes
//   only where a real multiplier passes -1 (a complex pair has
//   (1 + mu)(1 + conj mu) > 0 and cannot pass -1 without first turning real);
// - expanding: the fixed points with mu1 * mu2 = det J > 1; it changes where a
//   complex pair passes the unit circle, and also where a real pair passes a
//   product of 1, which is no bifurcation and is told apart at the crossing.
// Counting avoids matching the fixed points of one dot to those of the next,
// which fails exactly where fixed points are born or die; a pair of equal
// crossings in opposite directions between the same two dots cancels and is
// not seen, which at one dot's distance takes two bifurcations at once.
struct CurveSignature {
    uint8_t count = 0;
    uint8_t flipping = 0;
    uint8_t expanding = 0;
    friend bool operator==(const CurveSignature&, const CurveSignature&) = default;
};

CurveSignature SignatureOf(const std::vector<FixedPoint>& points);

// The bifurcations between two parameter vectors (two neighbouring dots, in
// a row or a column), by t. Where the signatures of the two ends differ, the
// segment is halved, and each half whose ends differ is halved again, until
// it is shorter than `resolution`; its midpoint is the crossing, typed by
// what changed: the count (saddle-node) before flipping (period-doubling)
// before expanding (Neimark-Sacker where the fixed point whose det J is
// nearest 1 has complex multipliers; nothing otherwise).
std::vector<Crossing> FindCrossings(const Weights& from, const Weights& to,
                                    double resolution = 1e-7);

// As above, with the ends' signatures known already (a renderer has them from
// the dots themselves): nothing is computed where they are equal.
std::vector<Crossing> FindCrossings(const Weights& from, const CurveSignature& atFrom,
                                    const Weights& to, const CurveSignature& atTo,
                                    double resolution = 1e-7);

} // namespace model::analysis
