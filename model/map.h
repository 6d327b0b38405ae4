// The input sums of the network map, written once. Every step of the map,
// plain or in vector lanes, forms its sums here, so that all give the same
// bits: the products first, the bias last.
#pragma once

namespace model::kernel {

// (a x + b y) + bias. T and C are double or a vector of doubles.
template <class T, class C>
inline T InputSum(const C& a, const C& b, const C& bias, const T& x, const T& y)
{
    return (a * x + b * y) + bias;
}

// The sums of the two neurons under the parameter vector p (w11 w12 w21 w22
// b1 b2): (w11 x + w12 y) + b1 and (w21 x + w22 y) + b2.
inline double Sum1(const double* p, double x, double y) { return InputSum(p[0], p[1], p[4], x, y); }
inline double Sum2(const double* p, double x, double y) { return InputSum(p[2], p[3], p[5], x, y); }

} // namespace model::kernel
