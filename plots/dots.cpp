#include "plots/dots.h"

namespace plots {

using Failure = DotResult::Failure;

DotResult ResultOf(const model::kernel::Orbit& o)
{
    if (o.failed)
        return {.failure = Failure::Orbit};
    return {.cls = static_cast<uint16_t>(o.cls),
            .hasFixpoint = o.cls == model::kFixpointClass,
            .fpColor = o.fpColor,
            .x = o.x,
            .y = o.y};
}

DotResult ResultOf(const model::kernel::LongOrbit& o)
{
    return {.cls = o.cls, .failure = o.failed ? Failure::Orbit : Failure::None};
}

DotResult ResultOf(const model::kernel::Exponent& e)
{
    return {.failure = e.failed ? Failure::Orbit : Failure::None, .lambda = e.lambda};
}

DotResult ResultOf(const model::kernel::Spectrum& s)
{
    return {.failure = s.failed ? Failure::Orbit : Failure::None, .lambda = s.lambda1,
            .lambda2 = static_cast<float>(s.lambda2)};
}

namespace {

// A state-plane mode: the dot's place is the start point of its orbit;
// kernel(xs, ys, m, results) runs m orbits under the inputs' w.
template <class Result, class Kernel>
void statePlaneDots(const Raster& raster, int column, int row, int count, DotResult* out,
                    Kernel kernel)
{
    const double x = raster.columnValue(column);
    double xs[kDotsPerPiece], ys[kDotsPerPiece];
    auto place = [&](int k, int r) {
        xs[k] = x;
        ys[k] = raster.rowValue(r);
        const bool mapped = std::isfinite(x) && std::isfinite(ys[k]);
        if (!mapped)
            xs[k] = ys[k] = 0; // not computed; the dot fails with the mapping
        return mapped;
    };
    EvaluatePieces<Result>(row, count, out, place,
                           [&](int m, Result* results) { kernel(xs, ys, m, results); });
}

template <bool locateFp>
void basinDots(const DotInputs& in, const Raster& raster, int column, int row, int count,
               DotResult* out)
{
    statePlaneDots<model::kernel::Orbit>(
        raster, column, row, count, out, [&](const double* xs, const double* ys, int m, auto* r) {
            model::kernel::ClassifyMany(in.w, in.iterations, in.accuracy, xs, ys, m, locateFp, r);
        });
}

} // namespace

void VeltraneDots(const DotInputs& in, const Raster& raster, int column, int row, int count,
                  DotResult* out)
{
    basinDots<false>(in, raster, column, row, count, out);
}

void FpBasDots(const DotInputs& in, const Raster& raster, int column, int row, int count,
               DotResult* out)
{
    basinDots<true>(in, raster, column, row, count, out);
}

void FixptDots(const DotInputs& in, const Raster& raster, int column, int row, int count,
               DotResult* out)
{
    const double x = raster.columnValue(column);
    for (int k = 0; k < count; ++k) {
        DotResult& r = out[k] = {};
        const double y = raster.rowValue(row + k);
        if (!std::isfinite(x) || !std::isfinite(y)) {
            r.failure = Failure::Mapping;
            continue;
        }
        bool ok = true;
        r.cls = model::kernel::IsNearFixpoint(in.w, in.accuracy, x, y, ok) ? 1 : 0;
        if (!ok)
            r.failure = Failure::Orbit;
    }
}

void LongPeriodDots(const DotInputs& in, const Raster& raster, int column, int row, int count,
                    DotResult* out)
{
    statePlaneDots<model::kernel::LongOrbit>(
        raster, column, row, count, out, [&](const double* xs, const double* ys, int m, auto* r) {
            model::kernel::ClassifyLongMany(in.w, in.iterations, in.accuracy, in.maxPeriod, xs, ys,
                                            m, r);
        });
}

void LyapunovDots(const DotInputs& in, const Raster& raster, int column, int row, int count,
                  DotResult* out)
{
    statePlaneDots<model::kernel::Exponent>(
        raster, column, row, count, out, [&](const double* xs, const double* ys, int m, auto* r) {
            model::kernel::LyapunovMany(in.w, in.iterations, in.lyapunovSteps, xs, ys, m, r);
        });
}

void LyapunovSpectrumDots(const DotInputs& in, const Raster& raster, int column, int row,
                          int count, DotResult* out)
{
    statePlaneDots<model::kernel::Spectrum>(
        raster, column, row, count, out, [&](const double* xs, const double* ys, int m, auto* r) {
            model::kernel::LyapunovSpectrumMany(in.w, in.iterations, in.lyapunovSteps, xs, ys, m,
                                                r);
        });
}

} // namespace plots
