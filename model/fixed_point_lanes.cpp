#include "model/fixed_point_lanes.h"

#include "model/cycles.h"

namespace model::analysis {

namespace {

inline void sampleLanes(const Elimination& w, const double* p, double* g, double* slope,
                        double* curve)
{
#pragma GCC ivdep
    for (int i = 0; i < kSampleLanes; ++i)
        SampleOf(w, p[i], g[i], slope[i], curve[i]);
}

__attribute__((target("avx512f"), flatten)) void sampleAvx512(const Elimination& w,
                                                              const double* p, double* g,
                                                              double* slope, double* curve)
{
    sampleLanes(w, p, g, slope, curve);
}

__attribute__((target("avx2"), flatten)) void sampleAvx2(const Elimination& w, const double* p,
                                                         double* g, double* slope, double* curve)
{
    sampleLanes(w, p, g, slope, curve);
}

__attribute__((flatten)) void sampleSse2(const Elimination& w, const double* p, double* g,
                                         double* slope, double* curve)
{
    sampleLanes(w, p, g, slope, curve);
}

inline void phiLanes(double a, double e, const double* p, double* phi)
{
#pragma GCC ivdep
    for (int i = 0; i < kSampleLanes; ++i)
        phi[i] = PhiOf(a, e, p[i]);
}

__attribute__((target("avx512f"), flatten)) void phiAvx512(double a, double e, const double* p,
                                                           double* phi)
{
    phiLanes(a, e, p, phi);
}

__attribute__((target("avx2"), flatten)) void phiAvx2(double a, double e, const double* p,
                                                      double* phi)
{
    phiLanes(a, e, p, phi);
}

__attribute__((flatten)) void phiSse2(double a, double e, const double* p, double* phi)
{
    phiLanes(a, e, p, phi);
}

inline void tanhLanes(const double* s, double* t, double* slope, int n)
{
#pragma GCC ivdep
    for (int i = 0; i < n; ++i)
        TanhWithSlope(s[i], t[i], slope[i]);
}

__attribute__((target("avx512f"), flatten)) void tanhAvx512(const double* s, double* t,
                                                            double* slope, int n)
{
    tanhLanes(s, t, slope, n);
}

__attribute__((target("avx2"), flatten)) void tanhAvx2(const double* s, double* t, double* slope,
                                                       int n)
{
    tanhLanes(s, t, slope, n);
}

__attribute__((flatten)) void tanhSse2(const double* s, double* t, double* slope, int n)
{
    tanhLanes(s, t, slope, n);
}

using TanhFunction = void (*)(const double*, double*, double*, int);
using SampleFunction = void (*)(const Elimination&, const double*, double*, double*, double*);
using PhiFunction = void (*)(double, double, const double*, double*);

// The variant for this processor, chosen once by each caller's static (a
// plain function pointer, as the vector step is chosen, rather than the
// loader's indirect functions).
template <class F>
F Choose(F avx512, F avx2, F sse2)
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
        return avx512;
    if (__builtin_cpu_supports("avx2"))
        return avx2;
    return sse2;
}

} // namespace

void PhiLanes(double a, double e, const double* p, double* phi)
{
    static const PhiFunction chosen = Choose<PhiFunction>(&phiAvx512, &phiAvx2, &phiSse2);
    chosen(a, e, p, phi);
}

void SampleLanes(const Elimination& w, const double* p, double* g, double* slope, double* curve)
{
    static const SampleFunction chosen = Choose<SampleFunction>(&sampleAvx512, &sampleAvx2, &sampleSse2);
    chosen(w, p, g, slope, curve);
}

void TanhWithSlopeLanes(const double* s, double* t, double* slope, int n)
{
    static const TanhFunction chosen = Choose<TanhFunction>(&tanhAvx512, &tanhAvx2, &tanhSse2);
    chosen(s, t, slope, n);
}

} // namespace model::analysis
