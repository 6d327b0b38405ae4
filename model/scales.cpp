#include "model/scales.h"

#include "model/long_period.h"
#include "model/network.h"

#include <algorithm>
#include <cmath>

namespace model {

namespace {

constexpr Color kWhite = Rgb(255, 255, 255);
constexpr Color kBlue = Rgb(33, 102, 172); // the ends of a red-blue diverging map
constexpr Color kRed = Rgb(178, 24, 43);

int mixComponent(int a, int b, double t) { return static_cast<int>(std::lround(a + (b - a) * t)); }

Color mix(Color a, Color b, double t)
{
    return Rgb(mixComponent(RedOf(a), RedOf(b), t), mixComponent(GreenOf(a), GreenOf(b), t),
               mixComponent(BlueOf(a), BlueOf(b), t));
}

// Nine evenly spaced samples of a well-known perceptually uniform sequential
// map (dark violet, blue, teal, green, yellow), interpolated linearly.
constexpr Color kSequential[] = {
    Rgb(68, 1, 84),    Rgb(71, 44, 122),  Rgb(59, 81, 139),  Rgb(44, 113, 142),
    Rgb(33, 144, 141), Rgb(39, 173, 129), Rgb(92, 200, 99),  Rgb(170, 220, 50),
    Rgb(253, 231, 37),
};

} // namespace

Color LyapunovColor(double lambda, double low, double high)
{
    if (std::isnan(lambda))
        return 0;
    const double v = std::max(low, std::min(high, lambda)); // low wins when low > high
    // v at or beyond a limit takes its full colour; that test also covers a
    // limit on the wrong side of 0 when low > high.
    if (v < 0)
        return mix(kWhite, kBlue, v <= low ? 1.0 : v / low);
    if (v > 0)
        return mix(kWhite, kRed, v >= high ? 1.0 : v / high);
    return kWhite;
}

std::vector<ScaleStop> LyapunovStops(double low, double high)
{
    std::vector<ScaleStop> stops{{low, LyapunovColor(low, low, high)}};
    if (low < 0 && 0 < high)
        stops.push_back({0.0, kWhite});
    if (high > low)
        stops.push_back({high, LyapunovColor(high, low, high)});
    return stops;
}

Color LongPeriodColor(int period)
{
    constexpr int first = kWindowPeriodCap + 1; // the first period past the palette
    if (period >= 1 && period < first)
        return PeriodColor(State{}, static_cast<int16_t>(period));
    if (period < first || period > kernel::kMaxPeriodCap)
        return 0;
    constexpr int last = static_cast<int>(std::size(kSequential)) - 1;
    const double t = std::log(period / static_cast<double>(first))
                     / std::log(kernel::kMaxPeriodCap / static_cast<double>(first));
    const double at = t * last;
    const int i = std::min(last - 1, static_cast<int>(at));
    return mix(kSequential[i], kSequential[i + 1], at - i);
}

} // namespace model

namespace model {

Color OrbitDensityColor(uint64_t count, uint64_t most)
{
    if (count == 0)
        return kWhite;
    constexpr int last = static_cast<int>(std::size(kSequential)) - 1;
    const double t = std::min(1.0, std::log1p(static_cast<double>(count))
                                       / std::log1p(static_cast<double>(std::max(most, count))));
    const double at = (1.0 - t) * last;
    const int i = std::min(last - 1, static_cast<int>(at));
    return mix(kSequential[i], kSequential[i + 1], at - i);
}

} // namespace model
