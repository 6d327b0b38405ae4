#include "model/transfer_lanes.h"

#include "model/exp.h"
#include "model/map.h"
#include "model/tangent.h"

#include <atomic>
#include <bit>
#include <cstring>
#include <type_traits>

namespace model::kernel {

namespace {

// All lanes as P registers of the machine's vector type (2 doubles for SSE2, 4
// for AVX2, 8 for AVX-512): every operation on a Pack is that operation on
// each register, issued one after the other, so the independent chains of
// the lanes interleave instruction by instruction and the processor overlaps
// them. Each lane takes exactly the scalar operations.
template <class T, int P>
struct Pack {
    T v[P];
};

template <class T, int P, class F>
inline auto map(const Pack<T, P>& a, F f)
{
    Pack<decltype(f(a.v[0])), P> r;
    for (int i = 0; i < P; ++i)
        r.v[i] = f(a.v[i]);
    return r;
}

template <class T, class U, int P, class F>
inline auto map(const Pack<T, P>& a, const Pack<U, P>& b, F f)
{
    Pack<decltype(f(a.v[0], b.v[0])), P> r;
    for (int i = 0; i < P; ++i)
        r.v[i] = f(a.v[i], b.v[i]);
    return r;
}

#define VELTRANE_PACK_OPERATOR(op)                                                             \
    template <class T, class U, int P>                                                        \
    inline auto operator op(const Pack<T, P>& a, const Pack<U, P>& b)                          \
    {                                                                                          \
        return map(a, b, [](T x, U y) { return x op y; });                                     \
    }                                                                                          \
    template <class T, int P, class S>                                                        \
        requires std::is_arithmetic_v<S>                                                       \
    inline auto operator op(const Pack<T, P>& a, S b)                                          \
    {                                                                                          \
        return map(a, [b](T x) { return x op b; });                                            \
    }                                                                                          \
    template <class T, int P, class S>                                                        \
        requires std::is_arithmetic_v<S>                                                       \
    inline auto operator op(S a, const Pack<T, P>& b)                                          \
    {                                                                                          \
        return map(b, [a](T y) { return a op y; });                                            \
    }
VELTRANE_PACK_OPERATOR(+)
VELTRANE_PACK_OPERATOR(-)
VELTRANE_PACK_OPERATOR(*)
VELTRANE_PACK_OPERATOR(/)
VELTRANE_PACK_OPERATOR(<)
VELTRANE_PACK_OPERATOR(>)
VELTRANE_PACK_OPERATOR(==)
VELTRANE_PACK_OPERATOR(&)
VELTRANE_PACK_OPERATOR(|)
VELTRANE_PACK_OPERATOR(<<)
VELTRANE_PACK_OPERATOR(>>)
#undef VELTRANE_PACK_OPERATOR

template <class T, int P>
inline Pack<T, P> operator~(const Pack<T, P>& a)
{
    return map(a, [](T x) { return ~x; });
}

// The clamp of exp.h: a where mask is set, else b.
template <class M, class T, int P>
inline Pack<T, P> Select(const Pack<M, P>& mask, const Pack<T, P>& a, const Pack<T, P>& b)
{
    Pack<T, P> r;
    for (int i = 0; i < P; ++i)
        r.v[i] = mask.v[i] ? a.v[i] : b.v[i];
    return r;
}

template <class T, int P>
inline bool anyLane(const Pack<T, P>& m)
{
    T all = m.v[0];
    for (int i = 1; i < P; ++i)
        all |= m.v[i];
    for (int i = 0; i < static_cast<int>(sizeof(T) / sizeof(all[0])); ++i)
        if (all[i])
            return true;
    return false;
}

template <class V>
inline V load(const void* p)
{
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class V>
inline void store(void* p, const V& v)
{
    std::memcpy(p, &v, sizeof v);
}

// One pass is one step of every orbit: 2 * kOrbitLanes exponentials and
// divisions with no dependence between lanes. The history store, the failure
// flag and the repeat check hang off each step's result and are not on the
// chain from one state to the next.
//
// With kTangent, no history is kept, and every lane carries its tangent
// vector in tg through each step (CarryTangent, after the map's step).
template <class VD, class VI, bool kTangent>
inline int stepLanes(OrbitLanes& b, TangentLanes* tg, int64_t g, int steps)
{
    constexpr int P = kOrbitLanes * static_cast<int>(sizeof(double)) / static_cast<int>(sizeof(VD));
    using D = Pack<VD, P>;
    using I = Pack<VI, P>;
    D x = load<D>(b.x), y = load<D>(b.y), bad = load<D>(b.bad);
    const D w0 = load<D>(b.w[0]), w1 = load<D>(b.w[1]), w2 = load<D>(b.w[2]),
            w3 = load<D>(b.w[3]), w4 = load<D>(b.w[4]), w5 = load<D>(b.w[5]);
    const I watch = load<I>(b.watch);
    I t = load<I>(b.t), cx = load<I>(b.cx), cy = load<I>(b.cy), cpos = load<I>(b.cpos),
      cnext = load<I>(b.cnext);
    D vx{}, vy{};
    I te{};
    if constexpr (kTangent) {
        vx = load<D>(tg->vx);
        vy = load<D>(tg->vy);
        te = load<I>(tg->e);
    }
    int s = 0;
    while (s < steps) {
        if constexpr (!kTangent) {
            store(b.hx[(g + s) & (OrbitLanes::kHistory - 1)], x);
            store(b.hy[(g + s) & (OrbitLanes::kHistory - 1)], y);
        }
        const D s1 = InputSum(w0, w1, w4, x, y);
        const D s2 = InputSum(w2, w3, w5, x, y);
        const D a2 = s2 + s2;
        const D e2 = ExpForTransfer<D, I>(a2);
        const D a1 = s1 + s1;
        const D e1 = ExpForTransfer<D, I>(a1);
        y = (e2 - 1.0) / (e2 + 1.0);
        x = (e1 - 1.0) / (e1 + 1.0);
        bad = bad + (((a2 - a2) + (e2 - e2)) + ((a1 - a1) + (e1 - e1)));
        if constexpr (kTangent)
            CarryTangent<D, I>(w0, w1, w2, w3, x, y, vx, vy, te);
        ++s;

        t = t + 1;
        const I bx = std::bit_cast<I>(x), by = std::bit_cast<I>(y);
        const I repeat = watch & (bx == cx) & (by == cy);
        const I move = ~repeat & (t == cnext);
        cx = (bx & move) | (cx & ~move);
        cy = (by & move) | (cy & ~move);
        cpos = (t & move) | (cpos & ~move);
        cnext = ((t + t) & move) | (cnext & ~move);
        if (anyLane(repeat))
            break;
    }
    store(b.x, x);
    store(b.y, y);
    store(b.bad, bad);
    store(b.t, t);
    store(b.cx, cx);
    store(b.cy, cy);
    store(b.cpos, cpos);
    store(b.cnext, cnext);
    if constexpr (kTangent) {
        store(tg->vx, vx);
        store(tg->vy, vy);
        store(tg->e, te);
    }
    return s;
}

using V2D = double __attribute__((vector_size(16)));
using V2I = int64_t __attribute__((vector_size(16)));
using V4D = double __attribute__((vector_size(32)));
using V4I = int64_t __attribute__((vector_size(32)));
using V8D = double __attribute__((vector_size(64)));
using V8I = int64_t __attribute__((vector_size(64)));

__attribute__((target("avx512f"), flatten)) int stepAvx512(OrbitLanes& b, int64_t g, int steps)
{
    return stepLanes<V8D, V8I, false>(b, nullptr, g, steps);
}

__attribute__((target("avx512f"), flatten)) int stepAvx512Tangent(OrbitLanes& b, TangentLanes& tg, int steps)
{
    return stepLanes<V8D, V8I, true>(b, &tg, 0, steps);
}

__attribute__((target("avx2"), flatten)) int stepAvx2(OrbitLanes& b, int64_t g, int steps)
{
    return stepLanes<V4D, V4I, false>(b, nullptr, g, steps);
}

__attribute__((target("avx2"), flatten)) int stepAvx2Tangent(OrbitLanes& b, TangentLanes& tg, int steps)
{
    return stepLanes<V4D, V4I, true>(b, &tg, 0, steps);
}

__attribute__((flatten)) int stepSse2(OrbitLanes& b, int64_t g, int steps)
{
    return stepLanes<V2D, V2I, false>(b, nullptr, g, steps);
}

__attribute__((flatten)) int stepSse2Tangent(OrbitLanes& b, TangentLanes& tg, int steps)
{
    return stepLanes<V2D, V2I, true>(b, &tg, 0, steps);
}

// The transfer function over kTransferLanes sums, vectorised by the compiler.
inline void transferLanes(const double* s, double* t, double* bad)
{
#pragma GCC ivdep
    for (int i = 0; i < kTransferLanes; ++i) {
        const double a = s[i] + s[i];
        const double e = ExpForTransfer(a);
        t[i] = (e - 1.0) / (e + 1.0);
        bad[i] = (a - a) + (e - e); // a difference of an infinity or NaN is NaN
    }
}

__attribute__((target("avx512f"), flatten)) void transferAvx512(const double* s, double* t,
                                                                double* bad)
{
    transferLanes(s, t, bad);
}

__attribute__((target("avx2"), flatten)) void transferAvx2(const double* s, double* t, double* bad)
{
    transferLanes(s, t, bad);
}

__attribute__((flatten)) void transferSse2(const double* s, double* t, double* bad)
{
    transferLanes(s, t, bad);
}

// The builds for each vector width, chosen at the first call by what the
// processor supports (a plain function pointer rather than the loader's
// indirect functions, which would run before a sanitizer's start-up).
struct Clone {
    int (*step)(OrbitLanes&, int64_t, int);
    int (*stepTangent)(OrbitLanes&, TangentLanes&, int);
    void (*transfer)(const double*, double*, double*);
    const char* name;
    bool supported;
};

const Clone* clones()
{
    static const Clone all[] = {
        {stepSse2, stepSse2Tangent, transferSse2, "default (SSE2)", true},
        {stepAvx2, stepAvx2Tangent, transferAvx2, "AVX2",
         (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0)},
        {stepAvx512, stepAvx512Tangent, transferAvx512, "AVX-512", __builtin_cpu_supports("avx512f") != 0},
    };
    return all;
}

std::atomic<const Clone*> chosen{nullptr};

const Clone& clone()
{
    const Clone* c = chosen.load(std::memory_order_relaxed);
    if (!c) {
        const Clone* all = clones();
        c = all[2].supported ? &all[2] : all[1].supported ? &all[1] : &all[0];
        chosen.store(c, std::memory_order_relaxed);
    }
    return *c;
}

} // namespace

int StepLanes(OrbitLanes& b, int64_t g, int steps) { return clone().step(b, g, steps); }

int StepTangentLanes(OrbitLanes& b, TangentLanes& tangent, int steps)
{
    return clone().stepTangent(b, tangent, steps);
}

// Built with -O3 -fno-trapping-math (see CMakeLists.txt) so that the
// branch-free exponential vectorises: neither flag changes a single result,
// as only IEEE additions, multiplications, divisions, comparisons and bit
// operations are used and no operations are fused or reordered. All builds
// give the same bits.
void TransferLanes(const double* s, double* t, double* bad) { clone().transfer(s, t, bad); }

const char* StepLanesClone() { return clone().name; }

bool UseStepLanesClone(int which)
{
    const Clone* all = clones();
    if (which == 0) {
        chosen = nullptr;
        return true;
    }
    if (which < 1 || which > 3 || !all[which - 1].supported)
        return false;
    chosen = &all[which - 1];
    return true;
}

} // namespace model::kernel
