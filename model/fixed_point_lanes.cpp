#include "model/fixed_point_lanes.h"

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

using SampleFunction = void (*)(const Elimination&, const double*, double*, double*, double*);

// Chosen once, by the processor (a plain function pointer, as the vector step
// is chosen, rather than the loader's indirect functions).
SampleFunction chosen()
{
    static const SampleFunction f = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f"))
            return &sampleAvx512;
        if (__builtin_cpu_supports("avx2"))
            return &sampleAvx2;
        return &sampleSse2;
    }();
    return f;
}

} // namespace

void SampleLanes(const Elimination& w, const double* p, double* g, double* slope, double* curve)
{
    chosen()(w, p, g, slope, curve);
}

} // namespace model::analysis
