// The transfer function over a block of sums at once, and the lockstep step
// of many orbits, in vector lanes.
#pragma once

#include "model/state.h"

#include <cstdint>

namespace model::kernel {

constexpr int kTransferLanes = 16;

// t[i] = Transfer(s[i]) for i < kTransferLanes, the same bits as one at a
// time; bad[i] is 0 where the step was sound and NaN where s + s or its
// exponential overflowed (or s was NaN).
void TransferLanes(const double* s, double* t, double* bad);

// The most orbits stepped side by side by StepLanes: enough independent
// chains of exponentials and divisions to hide their latency. The shape
// chosen for the processor steps StepLanesWidth() of them.
constexpr int kOrbitLanes = 32;

// The state of up to kOrbitLanes orbits, one per lane, laid out for vector
// registers (entry [lane]); the vector step uses the first StepLanesWidth().
struct alignas(64) OrbitLanes {
    double x[kOrbitLanes], y[kOrbitLanes];
    double w[6][kOrbitLanes];   // each lane's parameter vector
    double bad[kOrbitLanes];    // 0 while every step was sound, NaN after a failed one
    uint64_t cx[kOrbitLanes], cy[kOrbitLanes]; // the checkpoint's bits
    int64_t t[kOrbitLanes];     // steps taken by the lane's orbit
    int64_t cpos[kOrbitLanes];  // the step the checkpoint was taken after
    int64_t cnext[kOrbitLanes]; // the step at which the checkpoint moves next
    int64_t watch[kOrbitLanes]; // -1 while the lane looks for a repeat, else 0
    // Every lane that carries an orbit lies below active; the step may leave
    // the lanes from active on as they are.
    int active = kOrbitLanes;
    // The state before global step g is kept in hx[g % kHistory], hy[...]:
    // the last kHistory states of every lane, written without a branch.
    static constexpr int kHistory = kWindowPeriodCap;
    static_assert((kHistory & (kHistory - 1)) == 0, "the ring's index is a mask");
    double hx[kHistory][kOrbitLanes], hy[kHistory][kOrbitLanes];
};

// Takes up to steps steps of every lane (global steps g, g + 1, ...): each
// step is the map from (x, y), in the scalar classifier's operations and
// order, then the repeat check of a watching lane: a state equal, bit for
// bit, to its checkpoint is a repeat; otherwise the checkpoint moves to the
// state when t reaches cnext (cpos = t, cnext = 2 t). Returns the steps
// taken: fewer than steps when a watching lane found a repeat, which then
// stands in x, y, t against cx, cy, cpos.
int StepLanes(OrbitLanes& lanes, int64_t g, int steps);

// The tangent vectors of the lanes of an OrbitLanes (model/tangent.h).
struct alignas(64) TangentLanes {
    double vx[kOrbitLanes], vy[kOrbitLanes];
    int64_t e[kOrbitLanes]; // the summed scaling exponents
};

// As StepLanes, keeping no history, and carrying each lane's tangent vector
// through each step (CarryTangent at the new point). Returns the steps
// taken, fewer than steps when a watching lane found a repeat.
int StepTangentLanes(OrbitLanes& lanes, TangentLanes& tangent, int steps);

// The lanes the chosen shape steps, at most kOrbitLanes.
int StepLanesWidth();

// The processor as the choice of shape sees it.
struct Processor {
    enum Vendor { Other, Intel, Amd } vendor = Other;
    int family = 0, model = 0;
    bool avx2 = false, avx512f = false, avx512vl = false;
};
Processor ThisProcessor();

// The family and model of a processor signature (cpuid leaf 1, eax).
void DecodeSignature(unsigned eax, int& family, int& model);

// The shape of the vector step for processor p (1 .. StepShapeCount()), and
// in why a short reason. Every shape gives the same bits.
int ChooseStepShape(const Processor& p, const char** why);

// Which shape of StepLanes runs, e.g. "AVX-512, 2 registers of 8", and why it
// was chosen.
const char* StepLanesClone();
const char* StepLanesReason();

// The shapes, numbered 1 .. StepShapeCount().
int StepShapeCount();
const char* StepShapeName(int which);

// For tests and the bench: runs StepLanes in shape `which` from now on, or as
// chosen for the processor (0, the default); false when the processor lacks
// it.
bool UseStepLanesClone(int which);

} // namespace model::kernel
