#include "model/fixed_point_lanes.h"

#include "model/cycles.h"

#include <immintrin.h>

namespace model::analysis {

namespace {

static_assert(kSampleLanes == 16, "the sign bits below take two registers of 8, four of 4");

inline void sampleLanes(const Elimination& w, const double* p, double* g, double* slope,
                        double* curve)
{
#pragma GCC ivdep
    for (int i = 0; i < kSampleLanes; ++i)
        SampleOf(w, p[i], g[i], slope[i], curve[i]);
}

// The signs of v[0..kSampleLanes) as bits, lane i in bit i, where v[i]
// compares with 0 as the predicate P says (ordered: false for a NaN), one
// lane at a time; the variants below do the same by vector comparisons.
template <int P>
unsigned BitsBaseline(const double* v)
{
    unsigned bits = 0;
    for (int i = 0; i < kSampleLanes; ++i) {
        const bool holds = P == _CMP_LT_OQ ? v[i] < 0 : P == _CMP_GT_OQ ? v[i] > 0 : v[i] == 0;
        bits |= static_cast<unsigned>(holds) << i;
    }
    return bits;
}

template <int P>
__attribute__((target("avx512f"))) inline unsigned BitsAvx512(const double* v)
{
    const __m512d zero = _mm512_setzero_pd();
    const unsigned low = _mm512_cmp_pd_mask(_mm512_loadu_pd(v), zero, P);
    const unsigned high = _mm512_cmp_pd_mask(_mm512_loadu_pd(v + 8), zero, P);
    return low | high << 8;
}

template <int P>
__attribute__((target("avx2"))) inline unsigned BitsAvx2(const double* v)
{
    const __m256d zero = _mm256_setzero_pd();
    unsigned bits = 0;
    for (int i = 0; i < kSampleLanes; i += 4) {
        const __m256d mask = _mm256_cmp_pd(_mm256_loadu_pd(v + i), zero, P);
        bits |= static_cast<unsigned>(_mm256_movemask_pd(mask)) << i;
    }
    return bits;
}

__attribute__((target("avx512f"), flatten)) void sampleAvx512(const Elimination& w,
                                                              const double* p, double* g,
                                                              double* slope, double* curve,
                                                              SampleSigns& signs)
{
    sampleLanes(w, p, g, slope, curve);
    signs = {BitsAvx512<_CMP_LT_OQ>(g),     BitsAvx512<_CMP_GT_OQ>(g),
             BitsAvx512<_CMP_LT_OQ>(slope), BitsAvx512<_CMP_GT_OQ>(slope),
             BitsAvx512<_CMP_LT_OQ>(curve), BitsAvx512<_CMP_GT_OQ>(curve),
             BitsAvx512<_CMP_EQ_OQ>(g)};
}

__attribute__((target("avx2"), flatten)) void sampleAvx2(const Elimination& w, const double* p,
                                                         double* g, double* slope, double* curve,
                                                         SampleSigns& signs)
{
    sampleLanes(w, p, g, slope, curve);
    signs = {BitsAvx2<_CMP_LT_OQ>(g),     BitsAvx2<_CMP_GT_OQ>(g),
             BitsAvx2<_CMP_LT_OQ>(slope), BitsAvx2<_CMP_GT_OQ>(slope),
             BitsAvx2<_CMP_LT_OQ>(curve), BitsAvx2<_CMP_GT_OQ>(curve),
             BitsAvx2<_CMP_EQ_OQ>(g)};
}

__attribute__((flatten)) void sampleSse2(const Elimination& w, const double* p, double* g,
                                         double* slope, double* curve, SampleSigns& signs)
{
    sampleLanes(w, p, g, slope, curve);
    // The same seven masks in each variant: a variant's comparisons take its
    // own instructions, so they cannot share one function.
    signs = {BitsBaseline<_CMP_LT_OQ>(g),     BitsBaseline<_CMP_GT_OQ>(g),
             BitsBaseline<_CMP_LT_OQ>(slope), BitsBaseline<_CMP_GT_OQ>(slope),
             BitsBaseline<_CMP_LT_OQ>(curve), BitsBaseline<_CMP_GT_OQ>(curve),
             BitsBaseline<_CMP_EQ_OQ>(g)};
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
using SampleFunction = void (*)(const Elimination&, const double*, double*, double*, double*,
                                SampleSigns&);
using PhiFunction = void (*)(double, double, const double*, double*);

// The variant for this processor, chosen once by each caller's static (a
// plain function pointer, as the vector step is chosen, rather than the
// loader's indirect functions).
bool Supports(LaneIsa isa)
{
    __builtin_cpu_init();
    switch (isa) {
    case LaneIsa::Avx512: return __builtin_cpu_supports("avx512f");
    case LaneIsa::Avx2: return __builtin_cpu_supports("avx2");
    case LaneIsa::Baseline: break;
    }
    return true;
}

template <class F>
F Choose(F avx512, F avx2, F sse2)
{
    return Supports(LaneIsa::Avx512) ? avx512 : Supports(LaneIsa::Avx2) ? avx2 : sse2;
}

} // namespace

void PhiLanes(double a, double e, const double* p, double* phi)
{
    static const PhiFunction chosen = Choose<PhiFunction>(&phiAvx512, &phiAvx2, &phiSse2);
    chosen(a, e, p, phi);
}

void SampleLanes(const Elimination& w, const double* p, double* g, double* slope, double* curve,
                 SampleSigns& signs)
{
    static const SampleFunction chosen = Choose<SampleFunction>(&sampleAvx512, &sampleAvx2, &sampleSse2);
    chosen(w, p, g, slope, curve, signs);
}

bool SampleLanesWith(LaneIsa isa, const Elimination& w, const double* p, double* g,
                     double* slope, double* curve, SampleSigns& signs)
{
    if (!Supports(isa))
        return false;
    const SampleFunction variant = isa == LaneIsa::Avx512 ? &sampleAvx512
                                   : isa == LaneIsa::Avx2 ? &sampleAvx2
                                                          : &sampleSse2;
    variant(w, p, g, slope, curve, signs);
    return true;
}

void TanhWithSlopeLanes(const double* s, double* t, double* slope, int n)
{
    static const TanhFunction chosen = Choose<TanhFunction>(&tanhAvx512, &tanhAvx2, &tanhSse2);
    chosen(s, t, slope, n);
}

} // namespace model::analysis
