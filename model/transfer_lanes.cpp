#include "model/transfer_lanes.h"

#include "model/exp.h"
#include "model/map.h"
#include "model/tangent.h"

#include <atomic>
#include <bit>
#include <cpuid.h>
#include <cstring>
#include <immintrin.h>
#include <string_view>
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
VELTRANE_PACK_OPERATOR(&)
VELTRANE_PACK_OPERATOR(|)
VELTRANE_PACK_OPERATOR(<<)
VELTRANE_PACK_OPERATOR(>>)
#undef VELTRANE_PACK_OPERATOR

using V2I = int64_t __attribute__((vector_size(16)));
using V4I = int64_t __attribute__((vector_size(32)));
using V8I = int64_t __attribute__((vector_size(64)));

// The lane comparison of 64-bit integers, built for the instruction set of
// its width. Written in a function without that target (as the operators'
// lambdas are), it would be taken apart lane by lane before it is inlined
// into the vector step.
inline V2I equal(V2I a, V2I b) { return a == b; }
__attribute__((target("avx2"))) inline V4I equal(V4I a, V4I b) { return a == b; }
__attribute__((target("avx512f"))) inline V8I equal(V8I a, V8I b) { return a == b; }

template <class T, int P>
inline Pack<T, P> operator==(const Pack<T, P>& a, const Pack<T, P>& b)
{
    return map(a, b, [](T x, T y) { return equal(x, y); });
}

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

// Whether any bit of a vector is set: one test instruction per width, where
// a test of each element in turn would take the register apart lane by lane.

inline bool anyBit(V2I v) { return (v[0] | v[1]) != 0; }

__attribute__((target("avx"))) inline bool anyBit(V4I v)
{
    return !_mm256_testz_si256(reinterpret_cast<__m256i>(v), reinterpret_cast<__m256i>(v));
}

__attribute__((target("avx512f"))) inline bool anyBit(V8I v)
{
    return _mm512_test_epi64_mask(reinterpret_cast<__m512i>(v), reinterpret_cast<__m512i>(v)) != 0;
}

template <class T, int P>
inline bool anyLane(const Pack<T, P>& m)
{
    T all = m.v[0];
    for (int i = 1; i < P; ++i)
        all |= m.v[i];
    return anyBit(all);
}

// The lower half of a's registers and the upper half of b's: a choice of
// registers, no operation. Packs of one or two registers take all of a (they
// are bound by the chain rather than by the divider queue, and keep the
// order they were tuned with).
template <class T, int P>
inline Pack<T, P> halves(const Pack<T, P>& a, const Pack<T, P>& b)
{
    constexpr int lower = P >= 3 ? (P + 1) / 2 : P;
    Pack<T, P> r;
    for (int i = 0; i < P; ++i)
        r.v[i] = i < lower ? a.v[i] : b.v[i];
    return r;
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
template <class VD, class VI, int P, bool kTangent>
inline int stepLanes(OrbitLanes& b, TangentLanes* tg, int64_t g, int steps)
{
    static_assert(P * sizeof(VD) <= kOrbitLanes * sizeof(double), "the lanes fit OrbitLanes");
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
        // Each division right after its exponential, and with three or more
        // registers the lower half takes y's transfer first, the upper half
        // x's: the divider, which takes one division at a time, then works
        // while the other registers evaluate their exponentials instead of
        // queueing all of the step's divisions at its end.
        const D af = halves(s2, s1) + halves(s2, s1);
        const D ef = ExpForTransfer<D, I>(af);
        const D tf = (ef - 1.0) / (ef + 1.0);
        const D as = halves(s1, s2) + halves(s1, s2);
        const D es = ExpForTransfer<D, I>(as);
        const D ts = (es - 1.0) / (es + 1.0);
        const D a2 = halves(af, as), e2 = halves(ef, es), a1 = halves(as, af), e1 = halves(es, ef);
        y = halves(tf, ts);
        x = halves(ts, tf);
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
using V4D = double __attribute__((vector_size(32)));
using V8D = double __attribute__((vector_size(64)));

// A shape of the vector step: P registers of VD, P * (doubles per register)
// lanes, built for one instruction set. Every shape takes each lane's
// operations in the scalar order, so all give the same bits; they differ only
// in how many independent chains the processor sees at once.
#define VELTRANE_STEP_SHAPE(name, attributes, VD, VI, P)                                         \
    __attribute__((attributes)) int name(OrbitLanes& b, int64_t g, int steps)                    \
    {                                                                                              \
        return stepLanes<VD, VI, P, false>(b, nullptr, g, steps);                                 \
    }                                                                                              \
    __attribute__((attributes)) int name##Tangent(OrbitLanes& b, TangentLanes& tg, int steps)    \
    {                                                                                              \
        return stepLanes<VD, VI, P, true>(b, &tg, 0, steps);                                      \
    }

#define VELTRANE_SSE2 flatten
#define VELTRANE_AVX2 target("avx2"), flatten
#define VELTRANE_AVX512 target("avx512f"), flatten
// 256-bit registers with the AVX-512 encodings: 32 registers instead of 16,
// and compare masks in their own registers.
#define VELTRANE_AVX512VL target("avx512f,avx512vl"), flatten
VELTRANE_STEP_SHAPE(stepSse2x8, VELTRANE_SSE2, V2D, V2I, 8)
VELTRANE_STEP_SHAPE(stepAvx2x4, VELTRANE_AVX2, V4D, V4I, 4)
VELTRANE_STEP_SHAPE(stepAvx2x8, VELTRANE_AVX2, V4D, V4I, 8)
VELTRANE_STEP_SHAPE(stepAvx512Ymmx4, VELTRANE_AVX512VL, V4D, V4I, 4)
VELTRANE_STEP_SHAPE(stepAvx512Ymmx6, VELTRANE_AVX512VL, V4D, V4I, 6)
VELTRANE_STEP_SHAPE(stepAvx512Ymmx8, VELTRANE_AVX512VL, V4D, V4I, 8)
VELTRANE_STEP_SHAPE(stepAvx512x1, VELTRANE_AVX512, V8D, V8I, 1)
VELTRANE_STEP_SHAPE(stepAvx512x2, VELTRANE_AVX512, V8D, V8I, 2)
VELTRANE_STEP_SHAPE(stepAvx512x3, VELTRANE_AVX512, V8D, V8I, 3)
VELTRANE_STEP_SHAPE(stepAvx512x4, VELTRANE_AVX512, V8D, V8I, 4)
#undef VELTRANE_STEP_SHAPE

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

// The shapes of the vector step, chosen at the first call by the processor
// (a plain function pointer rather than the loader's indirect functions,
// which would run before a sanitizer's start-up). The transfer function over
// a block follows the chosen shape's instruction set.
enum class Isa { Sse2, Avx2, Avx512 };

struct Shape {
    int (*step)(OrbitLanes&, int64_t, int);
    int (*stepTangent)(OrbitLanes&, TangentLanes&, int);
    const char* name;
    int lanes;
    int perRegister; // lanes per vector register
    Isa isa;
    bool avx512vl; // needs AVX-512VL besides its isa
};

// The shape for Intel processors with AVX-512 (see model/ENGINE.md).
constexpr const char* kIntelAvx512Shape = "AVX-512, 4 registers of 8";
constexpr const char* kIntelAvx512Why =
    "Intel with AVX-512: four registers of chains keep both 512-bit ports busy through the "
    "step's latency";

// Numbered from 1 for UseStepLanesClone; 0 is the choice for this processor.
constexpr Shape kShapes[] = {
    {stepSse2x8, stepSse2x8Tangent, "SSE2, 8 registers of 2", 16, 2, Isa::Sse2, false},
    {stepAvx2x4, stepAvx2x4Tangent, "AVX2, 4 registers of 4", 16, 4, Isa::Avx2, false},
    {stepAvx512x2, stepAvx512x2Tangent, "AVX-512, 2 registers of 8", 16, 8, Isa::Avx512, false},
    {stepAvx2x8, stepAvx2x8Tangent, "AVX2, 8 registers of 4", 32, 4, Isa::Avx2, false},
    {stepAvx512Ymmx4, stepAvx512Ymmx4Tangent, "AVX-512VL, 4 registers of 4", 16, 4, Isa::Avx512, true},
    {stepAvx512Ymmx6, stepAvx512Ymmx6Tangent, "AVX-512VL, 6 registers of 4", 24, 4, Isa::Avx512, true},
    {stepAvx512Ymmx8, stepAvx512Ymmx8Tangent, "AVX-512VL, 8 registers of 4", 32, 4, Isa::Avx512, true},
    {stepAvx512x1, stepAvx512x1Tangent, "AVX-512, 1 register of 8", 8, 8, Isa::Avx512, false},
    {stepAvx512x3, stepAvx512x3Tangent, "AVX-512, 3 registers of 8", 24, 8, Isa::Avx512, false},
    {stepAvx512x4, stepAvx512x4Tangent, "AVX-512, 4 registers of 8", 32, 8, Isa::Avx512, false},
};
constexpr int kShapeCount = static_cast<int>(sizeof kShapes / sizeof kShapes[0]);

bool runs(const Shape& s, const Processor& p)
{
    switch (s.isa) {
    case Isa::Sse2:
        return true;
    case Isa::Avx2:
        return p.avx2;
    case Isa::Avx512:
        return p.avx512f && (!s.avx512vl || p.avx512vl);
    }
    return false;
}

void (*transferFor(Isa isa))(const double*, double*, double*)
{
    return isa == Isa::Avx512 ? transferAvx512 : isa == Isa::Avx2 ? transferAvx2 : transferSse2;
}

std::atomic<const Shape*> chosen{nullptr};
std::atomic<const char*> chosenWhy{nullptr};

const Shape& shape()
{
    const Shape* s = chosen.load(std::memory_order_relaxed);
    if (!s) {
        const char* why = nullptr;
        s = &kShapes[ChooseStepShape(ThisProcessor(), &why) - 1];
        chosenWhy.store(why, std::memory_order_relaxed);
        chosen.store(s, std::memory_order_relaxed);
    }
    return *s;
}

// The shape that steps lanes 0..active-1 at the least cost: of the shapes
// built like s (instruction set and register), the one of fewest registers
// that still holds them. When a batch runs out of orbits its lanes fall idle
// from the top (the lanes are loaded in order, and most orbits of a batch
// take the same number of steps), so the last round of a batch steps fewer
// registers. A lane's operations are the same in every shape.
const Shape& narrowest(const Shape& s, int active)
{
    if (active >= s.lanes)
        return s;
    const Shape* best = &s;
    for (const Shape& t : kShapes) {
        if (t.isa == s.isa && t.avx512vl == s.avx512vl && t.perRegister == s.perRegister
            && t.lanes >= active && t.lanes < best->lanes)
            best = &t;
    }
    return *best;
}

// The number of the shape of the given name, found at compile time.
constexpr int find(std::string_view name)
{
    for (int i = 0; i < kShapeCount; ++i)
        if (kShapes[i].name == name)
            return i + 1;
    return 0;
}

} // namespace

void DecodeSignature(unsigned eax, int& family, int& model)
{
    // The family is the base family, plus the extended family when the base
    // is 15; the model takes the extended model as its high digit for
    // families 6 and 15.
    const unsigned base = (eax >> 8) & 0xf, extendedFamily = (eax >> 20) & 0xff;
    const unsigned low = (eax >> 4) & 0xf, extendedModel = (eax >> 16) & 0xf;
    family = static_cast<int>(base == 0xf ? base + extendedFamily : base);
    model = static_cast<int>(base == 0x6 || base == 0xf ? (extendedModel << 4) | low : low);
}

Processor ThisProcessor()
{
    Processor p;
    __builtin_cpu_init();
    p.vendor = __builtin_cpu_is("intel") ? Processor::Intel
               : __builtin_cpu_is("amd") ? Processor::Amd
                                         : Processor::Other;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        DecodeSignature(eax, p.family, p.model);
    p.avx2 = __builtin_cpu_supports("avx2") != 0;
    p.avx512f = __builtin_cpu_supports("avx512f") != 0;
    p.avx512vl = __builtin_cpu_supports("avx512vl") != 0;
    return p;
}

int ChooseStepShape(const Processor& p, const char** why)
{
    constexpr int intel = find(kIntelAvx512Shape), avx512 = find("AVX-512, 2 registers of 8"),
                  avx2 = find("AVX2, 4 registers of 4"), sse2 = find("SSE2, 8 registers of 2");
    static_assert(intel && avx512 && avx2 && sse2, "the chosen shapes are in the table");
    const char* reason;
    int which;
    if (p.avx512f && p.vendor == Processor::Intel && p.avx512vl) {
        which = intel;
        reason = kIntelAvx512Why;
    } else if (p.avx512f) {
        which = avx512;
        reason = p.vendor == Processor::Amd
                     ? "AMD with AVX-512: 16 lanes hide the divider's latency"
                     : "AVX-512: 16 lanes in two registers";
    } else if (p.avx2) {
        which = avx2;
        reason = "AVX2 without AVX-512";
    } else {
        which = sse2;
        reason = "no AVX2";
    }
    if (why)
        *why = reason;
    return which;
}

int StepLanes(OrbitLanes& b, int64_t g, int steps)
{
    return narrowest(shape(), b.active).step(b, g, steps);
}

int StepTangentLanes(OrbitLanes& b, TangentLanes& tangent, int steps)
{
    return narrowest(shape(), b.active).stepTangent(b, tangent, steps);
}

int StepLanesWidth() { return shape().lanes; }

// Built with -O3 -fno-trapping-math (see CMakeLists.txt) so that the
// branch-free exponential vectorises: neither flag changes a single result,
// as only IEEE additions, multiplications, divisions, comparisons and bit
// operations are used and no operations are fused or reordered. All builds
// give the same bits.
void TransferLanes(const double* s, double* t, double* bad) { transferFor(shape().isa)(s, t, bad); }

const char* StepLanesClone() { return shape().name; }

const char* StepLanesReason()
{
    shape();
    const char* why = chosenWhy.load(std::memory_order_relaxed);
    return why ? why : "chosen by hand";
}

int StepShapeCount() { return kShapeCount; }

const char* StepShapeName(int which)
{
    return which >= 1 && which <= kShapeCount ? kShapes[which - 1].name : "";
}

bool UseStepLanesClone(int which)
{
    if (which == 0) {
        chosen = nullptr;
        return true;
    }
    if (which < 1 || which > kShapeCount || !runs(kShapes[which - 1], ThisProcessor()))
        return false;
    chosenWhy = nullptr;
    chosen = &kShapes[which - 1];
    return true;
}

} // namespace model::kernel
