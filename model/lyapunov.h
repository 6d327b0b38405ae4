// The Lyapunov exponents of an orbit of the network map.
//
// From the start point the map takes `iterations` transient steps; then it
// takes `steps` more, carrying tangent vectors through the Jacobian of each
// step, diag(1 - x'^2, 1 - y'^2) * W, where (x', y') is the new point and W
// the weight matrix [w11 w12; w21 w22].
//
// The largest exponent carries one vector from (1, 0), kept in range by
// exact scalings by powers of two, so that its whole growth is known as a
// length times a power of two; the exponent is the log of that growth over
// `steps`, one logarithm per orbit (model/tangent.h). It agrees with the
// per-step renormalised sum of logarithms to far below 1e-12.
//
// The spectrum carries two vectors from (1, 0) and (0, 1), orthonormalised by
// Gram-Schmidt after every step; the exponents are the mean logarithms of the
// growth of the first vector and of the area the two span, over its first.
//
// The map steps are the classifier's, bit for bit (same sums, same transfer),
// so the orbit whose exponent is measured is the very orbit that is
// classified. Like the classifier, the functions report a floating-point
// error through their result and never throw.
#pragma once

#include "model/state.h"

namespace model::kernel {

struct Exponent {
    // The exponent. -infinity when the tangent vector was mapped to exactly 0
    // (a saturated neuron whose Jacobian row is 0, or a singular W): the
    // recursion's own answer, every later growth being log 0.
    double lambda = 0;
    // A floating-point error of the map (an overflowing sum) or of the tangent
    // vector (an overflowing growth); lambda is then meaningless.
    bool failed = false;

    friend bool operator==(const Exponent&, const Exponent&) = default; // exact
};

// The largest exponent of the orbit from (x0, y0), one step after the other: the
// definition that the batch forms reproduce bit for bit. steps below 1 count
// as 1; iterations below 1 mean no transient.
Exponent Lyapunov(const Weights& w, int iterations, int steps, double x0, double y0);

// The exponents of n orbits from (x0[k], y0[k]) into out[k], bit for bit those
// of n calls of Lyapunov, computed together: several orbits step in lockstep,
// and a transient whose state repeats exactly is cut short.
void LyapunovMany(const Weights& w, int iterations, int steps, const double* x0,
                  const double* y0, int n, Exponent* out);

// As LyapunovMany, but orbit k runs under its own parameter vector w[k]: the
// parameter plane, whose weights change from dot to dot.
void LyapunovManyEach(const Weights* w, int iterations, int steps, const double* x0,
                      const double* y0, int n, Exponent* out);

// Both exponents, lambda1 >= lambda2.
struct Spectrum {
    // -infinity where the tangent space is mapped to exactly 0 (both neurons
    // saturated): both; where only the area is (one neuron saturated, or a
    // singular W): lambda2.
    double lambda1 = 0, lambda2 = 0;
    bool failed = false; // as Exponent's

    friend bool operator==(const Spectrum&, const Spectrum&) = default; // exact
};

// The spectrum of the orbit from (x0, y0), one step after the other: the
// definition that the batch forms reproduce bit for bit. steps and
// iterations as for Lyapunov.
Spectrum LyapunovSpectrum(const Weights& w, int iterations, int steps, double x0, double y0);

// The spectra of n orbits from (x0[k], y0[k]) into out[k], bit for bit those
// of n calls of LyapunovSpectrum, computed in lockstep.
void LyapunovSpectrumMany(const Weights& w, int iterations, int steps, const double* x0,
                          const double* y0, int n, Spectrum* out);

// As LyapunovSpectrumMany, but orbit k runs under its own parameter vector w[k].
void LyapunovSpectrumManyEach(const Weights* w, int iterations, int steps, const double* x0,
                              const double* y0, int n, Spectrum* out);

} // namespace model::kernel
