#include "render/options.h"

#include "model/errors.h"
#include "model/long_period.h"
#include "model/cycles.h"
#include "model/numbers.h"
#include "model/orbit_diagram.h"
#include "model/settings.h"
#include "render/plan.h"
#include "params/coexisting.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>

namespace render {

namespace {

using model::kMaxAccuracy;
using model::kMaxDotSize;
using model::kMaxIterations;
constexpr int kLastParameter = static_cast<int>(std::tuple_size_v<model::Weights>) - 1;
constexpr int kMaxColourComponent = 0xFF;
constexpr int kMaxThreads = 4096;

// --- Where a value lives -----------------------------------------------------

double elementOf(double v, int) { return v; }
double elementOf(int v, int) { return v; }
double elementOf(bool v, int) { return v ? 1 : 0; }
template <class T, size_t n>
double elementOf(const std::array<T, n>& a, int i) { return elementOf(a[i], 0); }

void assign(double& to, int, double v) { to = v; }
void assign(int& to, int, double v) { to = static_cast<int>(v); }
void assign(bool& to, int, double v) { to = v != 0; }
template <class T, size_t n>
void assign(std::array<T, n>& to, int i, double v) { assign(to[i], 0, v); }

// get and put of a member of the job or of the request.
template <auto member>
double getJob(const Request& r, int i) { return elementOf(r.job.*member, i); }
template <auto member>
void putJob(Request& r, int i, double v) { assign(r.job.*member, i, v); }
template <auto member>
double getRun(const Request& r, int i) { return elementOf(r.*member, i); }
template <auto member>
void putRun(Request& r, int i, double v) { assign(r.*member, i, v); }
// One entry of w, for --w11 ... --b2.
template <int entry>
double getWeight(const Request& r, int) { return r.job.w[entry]; }
template <int entry>
void putWeight(Request& r, int, double v) { r.job.w[entry] = v; }

void scaleInOrder(const Job& job)
{
    if (!(job.scale[0] < job.scale[1]))
        throw UsageError("--scale: the low limit must lie below the high one.");
}

constexpr std::string_view kPlanes[] = {"state", "parameter"};
constexpr std::string_view kNeurons[] = {"x", "y"};

void sweepSound(const Job& job)
{
    const double k = job.sweep[0];
    if (!(k == std::floor(k) && k >= 0 && k <= kLastParameter))
        throw UsageError("--sweep: the parameter K must be a whole number in 0.."
                         + model::IntegerText(kLastParameter) + ".");
    if (job.sweep[1] == job.sweep[2])
        throw UsageError("--sweep: the left value L must differ from the right one R.");
}

void boundsInOrder(const Job& job)
{
    if (!(job.bounds[0] < job.bounds[1]))
        throw UsageError("--bounds: the low bound must lie below the high one.");
}

// Read by every mode, or by the modes whose rows list it.
constexpr bool kEvery = true, kListed = false;

void statsBoxWithStats(const Job& job)
{
    if (job.statsBox != 5 && !job.stats)
        throw UsageError("--stats-box: the box size applies with --stats only.");
}

// A row recorded only for the modes that read it.
constexpr Option recordedForItsModes(Option o)
{
    o.recordedAlways = false;
    return o;
}

// Rows of each kind; the designated fields say what differs.
constexpr Option number(std::string_view name, int arity, std::string_view values,
                        std::string_view help, bool everyMode, double (*get)(const Request&, int),
                        void (*put)(Request&, int, double), bool recordedAlways = true)
{
    return Option{name, 0, ValueKind::Number, arity, values, help, everyMode, true, recordedAlways,
                  0, 0, Rounding::Exact, {}, {}, get, put, nullptr, nullptr};
}

constexpr Option whole(std::string_view name, int arity, std::string_view values,
                       std::string_view help, bool everyMode, int lo, int hi, Rounding rounding,
                       double (*get)(const Request&, int), void (*put)(Request&, int, double),
                       bool recordedAlways = true)
{
    return Option{name, 0, ValueKind::WholeNumber, arity, values, help, everyMode, true,
                  recordedAlways, lo, hi, rounding, {}, {}, get, put, nullptr, nullptr};
}

constexpr Option weight(std::string_view name, std::string_view help,
                        double (*get)(const Request&, int), void (*put)(Request&, int, double))
{
    Option o = number(name, 1, "", help, kEvery, get, put);
    o.recorded = false; // recorded as an entry of "w"
    return o;
}

constexpr Option flag(std::string_view name, char shortName, std::string_view help,
                      bool everyMode, double (*get)(const Request&, int),
                      void (*put)(Request&, int, double), bool recorded)
{
    return Option{name, shortName, ValueKind::Flag, 0, "", help, everyMode, recorded, recorded,
                  0, 1, Rounding::Exact, {}, {}, get, put, nullptr, nullptr};
}

constexpr Option file(std::string_view name, char shortName, std::string_view values,
                      std::string_view help, std::string Request::*text)
{
    return Option{name, shortName, ValueKind::File, 1, values, help, kEvery, false,
                  false, 0, 0, Rounding::Exact, {}, {}, nullptr, nullptr, text, nullptr};
}

constexpr Option withCheck(Option o, void (*check)(const Job&))
{
    o.check = check;
    return o;
}

// A row read by the modes that list it.
constexpr Option listed(Option o)
{
    o.everyMode = kListed;
    return o;
}


// A run option: how to run the job, not part of it, so never recorded.
constexpr Option runOption(Option o, std::string_view note)
{
    o.recorded = o.recordedAlways = false;
    o.defaultNote = note;
    return o;
}

constexpr Option kRows[] = {
    file("output", 'o', "OUT.png|OUT.bmp",
         "the picture: a name ending in .png or .bmp; the job is recorded beside it as "
         "OUT.png.json (OUT.bmp.json)",
         &Request::output),
    file("classes", 0, "OUT.npy", "also write the class of every pixel as a .npy array",
         &Request::classes),
    file("from", 0, "JOB.json",
         "render the job recorded in a .json file again; options given beside it override it",
         &Request::from),
    number("w", 6, "W11 W12 W21 W22 B1 B2", "the six parameters", kEvery,
           getJob<&Job::w>, putJob<&Job::w>),
    weight("w11", "the parameter w11", getWeight<0>, putWeight<0>),
    weight("w12", "the parameter w12", getWeight<1>, putWeight<1>),
    weight("w21", "the parameter w21", getWeight<2>, putWeight<2>),
    weight("w22", "the parameter w22", getWeight<3>, putWeight<3>),
    weight("b1", "the parameter b1", getWeight<4>, putWeight<4>),
    weight("b2", "the parameter b2", getWeight<5>, putWeight<5>),
    whole("size", 1, "S", "dot size", kListed, 1, kMaxDotSize, Rounding::Floor,
          getJob<&Job::size>, putJob<&Job::size>),
    whole("iterations", 1, "I", "iterations", kListed, 1, kMaxIterations, Rounding::Floor,
          getJob<&Job::iterations>, putJob<&Job::iterations>),
    whole("accuracy", 1, "A", "accuracy", kListed, 1, kMaxAccuracy, Rounding::Floor,
          getJob<&Job::accuracy>, putJob<&Job::accuracy>),
    whole("idx", 2, "H V", "parameter-plane axes", kListed, 0, kLastParameter,
          Rounding::HalfEven, getJob<&Job::idx>, putJob<&Job::idx>),
    number("range", 4, "L R B T", "parameter-plane ranges", kListed,
           getJob<&Job::range>, putJob<&Job::range>),
    number("x0", 2, "X Y", "start point of the parameter plane's orbits (orbit: the first's)",
           kListed, getJob<&Job::x0>, putJob<&Job::x0>),
    whole("start-values", 1, "N", "start points", kListed, 1, params::kMaxStartValues,
          Rounding::HalfEven, getJob<&Job::startValues>, putJob<&Job::startValues>),
    flag("reshuffle", 0, "new random start points for every dot", kListed,
         getJob<&Job::reshuffle>, putJob<&Job::reshuffle>, true),
    flag("fp", 0, "count distinct fixed points one by one", kListed,
         getJob<&Job::fp>, putJob<&Job::fp>, true),
    whole("pen", 3, "R G B", "drawing colour", kListed, 0, kMaxColourComponent,
          Rounding::HalfEven, getJob<&Job::pen>, putJob<&Job::pen>),
    whole("pixels", 1, "N", "picture size N x N", kEvery, 2, kMaxPixels,
          Rounding::Exact, getJob<&Job::pixels>, putJob<&Job::pixels>),
    number("region", 4, "X0 X1 Y0 Y1", "state-plane part shown", kListed,
           getJob<&Job::region>, putJob<&Job::region>),
    whole("max-period", 1, "P",
          "longest period sought (veltrane and parametric from 16, cycles up to 64)", kListed, 1,
          model::kernel::kMaxPeriodCap, Rounding::Exact, getJob<&Job::maxPeriod>,
          putJob<&Job::maxPeriod>, false),
    whole("seeds", 1, "G",
          "the side of the square grid of Newton starts over --region, besides the attractors "
          "of the basin picture; each start runs once per period, so 1024 up to period 64 "
          "take hours",
          kListed, 2, model::analysis::kMaxCycleSeeds, Rounding::Exact,
          getJob<&Job::seeds>, putJob<&Job::seeds>, false),
    recordedForItsModes(flag("stats", 0,
                             "basin statistics of the classes (fractions, basin entropy, "
                             "boundary basin entropy) into the job record and onto stdout",
                             kListed, getJob<&Job::stats>, putJob<&Job::stats>, true)),
    withCheck(whole("stats-box", 1, "B", "box size of the basin entropy, in pixels",
                    kListed, 1, kMaxPixels, Rounding::Exact, getJob<&Job::statsBox>,
                    putJob<&Job::statsBox>, false),
              statsBoxWithStats),
    recordedForItsModes(flag("curves", 0,
                             "draw the bifurcation curves of the fixed points over the picture",
                             kListed, getJob<&Job::curves>, putJob<&Job::curves>, true)),
    recordedForItsModes(flag("curves-only", 0, "draw only the bifurcation curves, on white",
                             kListed, getJob<&Job::curvesOnly>,
                             putJob<&Job::curvesOnly>, true)),
    listed(file("json", 0, "OUT.json",
                    "the record with the cycles, without a picture (beside -o it replaces "
                    "OUT.png.json)",
                    &Request::json)),
    Option{"plane", 0, ValueKind::Choice, 1, "state|parameter",
           "state: the start points of veltrane; parameter: the plane of parametric",
           kListed, true, false, 0, 1, Rounding::Exact, kPlanes, {},
           getJob<&Job::parameterPlane>, putJob<&Job::parameterPlane>, nullptr, nullptr},
    whole("lyapunov-steps", 1, "M", "steps measured after the iterations", kListed, 1,
          kMaxLyapunovSteps, Rounding::Exact, getJob<&Job::lyapunovSteps>,
          putJob<&Job::lyapunovSteps>, false),
    withCheck(number("scale", 2, "LO HI", "colour limits, blue to white at 0 to red",
                     kListed, getJob<&Job::scale>, putJob<&Job::scale>, false),
              scaleInOrder),
    recordedForItsModes(flag("spectrum", 0,
                   "both exponents: the classes hold lambda1 and lambda2 per pixel",
                   kListed, getJob<&Job::spectrum>, putJob<&Job::spectrum>, true)),
    withCheck(number("sweep", 3, "K L R",
                     "parameter K (0..5: w11 w12 w21 w22 b1 b2) from L at the left to R at the "
                     "right",
                     kListed, getJob<&Job::sweep>, putJob<&Job::sweep>, false),
              sweepSound),
    Option{"show", 0, ValueKind::Choice, 1, "x|y", "the neuron whose state runs up the picture",
           kListed, true, false, 0, 1, Rounding::Exact, kNeurons, {},
           getJob<&Job::showY>, putJob<&Job::showY>, nullptr, nullptr},
    withCheck(number("bounds", 2, "LO HI", "the states shown, bottom to top", kListed,
                     getJob<&Job::bounds>, putJob<&Job::bounds>, false),
              boundsInOrder),
    whole("points", 1, "M", "states counted per orbit after the iterations", kListed, 1,
          model::kernel::kMaxOrbitPoints, Rounding::Exact, getJob<&Job::points>,
          putJob<&Job::points>, false),
    recordedForItsModes(flag("continue", 0,
                   "each column's orbits go on from the previous column's final states",
                   kListed, getJob<&Job::continueOrbits>, putJob<&Job::continueOrbits>,
                   true)),
    listed(file("orbits", 0, "OUT.npy",
                "also write every counted state as float64 columns x start values x points x 2",
                &Request::orbits)),
    runOption(whole("threads", 1, "T", "threads to use, at most the cores", kEvery, 1,
                   kMaxThreads, Rounding::Exact, getRun<&Request::threads>,
                   putRun<&Request::threads>),
             "every core"),
    runOption(flag("quiet", 'q', "no progress line", kEvery, getRun<&Request::quiet>,
                   putRun<&Request::quiet>, false),
              ""),
};

[[noreturn]] void refuse(const Option& o, const std::string& what)
{
    throw UsageError(Flagged(o) + ": " + what);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whether text is one number in the window's notation and nothing else.
bool isOneNumber(std::string_view s)
{
    size_t p = 0;
    const size_t n = s.size();
    if (n >= 2 && s[0] == '&') {
        const char base = static_cast<char>(s[1] | 0x20);
        if (base != 'h' && base != 'o')
            return false;
        if (n == 2)
            return false;
        for (p = 2; p < n; ++p) {
            const char c = s[p], lower = static_cast<char>(c | 0x20);
            const bool ok = base == 'h' ? isDigit(c) || (lower >= 'a' && lower <= 'f')
                                        : c >= '0' && c <= '7';
            if (!ok)
                return false;
        }
        return true;
    }
    if (p < n && (s[p] == '+' || s[p] == '-'))
        ++p;
    size_t digits = 0;
    while (p < n && isDigit(s[p]))
        ++p, ++digits;
    if (p < n && s[p] == '.')
        for (++p; p < n && isDigit(s[p]); ++p)
            ++digits;
    if (digits == 0)
        return false;
    if (p < n && (s[p] | 0x20) != 'e' && (s[p] | 0x20) != 'd')
        return false;
    if (p < n) {
        ++p;
        if (p < n && (s[p] == '+' || s[p] == '-'))
            ++p;
        if (p == n)
            return false;
        while (p < n && isDigit(s[p]))
            ++p;
    }
    return p == n;
}

// Length of the UTF-8 sequence that starts at s[i], or 0 when it is not one.
size_t utf8Length(std::string_view s, size_t i)
{
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > s.size())
        return 0;
    for (size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 0;
    return length;
}

double wholeOf(const Option& o, double v)
{
    switch (o.rounding) {
    case Rounding::Floor: return std::floor(v);
    case Rounding::HalfEven: return std::nearbyint(v);
    case Rounding::Exact: break;
    }
    return v;
}

// A whole number from a number given by the user: rounded as the row says and
// within its range, or refused naming what was given.
int wholeValue(const Option& o, double v, const std::string& given)
{
    const double r = wholeOf(o, v);
    // An exact row takes the number as it is (wholeOf leaves it), so the
    // number itself must be whole.
    if (o.rounding == Rounding::Exact && (r != std::floor(r) || r < o.lo || r > o.hi))
        refuse(o, given + " is not a whole number in " + RangeText(o) + ".");
    if (r >= o.lo && r <= o.hi)
        return static_cast<int>(r);
    // As the window's 16-bit fields: a value they hold is named, else the text.
    if (r >= INT16_MIN && r <= INT16_MAX)
        refuse(o, model::IntegerText(static_cast<int>(r)) + " is outside " + RangeText(o) + ".");
    refuse(o, given + " is outside " + RangeText(o) + ".");
}

void setNumber(Request& r, const Option& o, int i, double v, const std::string& given)
{
    if (o.kind == ValueKind::WholeNumber)
        o.put(r, i, wholeValue(o, v, given));
    else
        o.put(r, i, v);
}

std::string jsonKey(const Option& o) { return "\"" + std::string(o.name) + "\""; }

double jsonElement(const Option& o, const nlohmann::json& v)
{
    switch (o.kind) {
    case ValueKind::Number:
        if (!v.is_number())
            throw UsageError(jsonKey(o) + " must hold numbers.");
        return v.get<double>();
    case ValueKind::WholeNumber:
        if (!v.is_number_integer() || v.get<int64_t>() < INT32_MIN || v.get<int64_t>() > INT32_MAX)
            throw UsageError(jsonKey(o) + " must hold whole numbers.");
        return static_cast<double>(v.get<int64_t>());
    case ValueKind::Flag:
        if (!v.is_boolean())
            throw UsageError(jsonKey(o) + " must be true or false.");
        return v.get<bool>() ? 1 : 0;
    case ValueKind::Choice:
        if (!v.is_string())
            throw UsageError(jsonKey(o) + " must be a text.");
        for (size_t k = 0; k < o.choices.size(); ++k)
            if (v.get<std::string>() == o.choices[k])
                return static_cast<double>(k);
        refuse(o, Quoted(v.get<std::string>()) + " is not one of " + std::string(o.valueNames)
                      + ".");
    case ValueKind::File: break;
    }
    throw UsageError("unknown option " + jsonKey(o) + ".");
}

std::string modeList(ModeSet modes)
{
    std::vector<std::string> names;
    for (Mode m : AllModes())
        if (modes.contains(m))
            names.push_back(ModeName(m));
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

std::string notRead(const Option& o, Mode mode)
{
    return Flagged(o) + " applies to " + modeList(ReadersOf(o)) + " only, not to " + ModeName(mode)
           + ".";
}

bool sameAsDefault(const Request& r, const Option& o)
{
    static const Request fresh;
    for (int i = 0; i < std::max(1, o.arity); ++i)
        if (o.get(r, i) != o.get(fresh, i))
            return false;
    return true;
}

void checkValue(const Request& r, const Option& o)
{
    if (o.kind == ValueKind::Number) {
        for (int i = 0; i < o.arity; ++i)
            if (!std::isfinite(o.get(r, i)))
                refuse(o, "every value must be finite.");
    } else if (o.kind == ValueKind::WholeNumber) {
        for (int i = 0; i < o.arity; ++i) {
            const double v = o.get(r, i);
            if (v < o.lo || v > o.hi)
                refuse(o, model::IntegerText(static_cast<int>(v)) + " is outside " + RangeText(o)
                              + ".");
        }
    }
    if (o.check)
        o.check(r.job);
    if (const auto [lo, hi] = RangeFor(r.job.mode, o); o.kind == ValueKind::WholeNumber
                                                        && (lo != o.lo || hi != o.hi))
        for (int i = 0; i < o.arity; ++i)
            if (const double v = o.get(r, i); v < lo || v > hi)
                refuse(o, model::IntegerText(static_cast<int>(v)) + " is outside "
                              + RangeText(r.job.mode, o) + " for " + ModeName(r.job.mode) + ".");
    if (!Reads(r.job.mode, o)
        && (r.sources[IndexOf(o)] == Source::Given || !sameAsDefault(r, o)))
        throw UsageError(notRead(o, r.job.mode));
}

} // namespace

Request::Request() : sources(Options().size(), Source::Default) {}

std::span<const Option> Options() { return kRows; }

const Option* FindOption(std::string_view name)
{
    for (const Option& o : kRows)
        if (o.name == name)
            return &o;
    return nullptr;
}

size_t IndexOf(const Option& option) { return static_cast<size_t>(&option - kRows); }

std::string Flagged(const Option& option) { return "--" + std::string(option.name); }

namespace {

// The mode's use of an option, or null where its row does not list it.
const OptionUse* useOf(Mode mode, const Option& option)
{
    for (const OptionUse& use : RowOf(mode).options)
        if (use.name == option.name)
            return &use;
    return nullptr;
}

} // namespace

bool Reads(Mode mode, const Option& option) { return option.everyMode || useOf(mode, option); }

ModeSet ReadersOf(const Option& option)
{
    ModeSet modes;
    for (Mode m : AllModes())
        if (Reads(m, option))
            modes.add(m);
    return modes;
}

std::pair<int, int> RangeFor(Mode mode, const Option& option)
{
    const OptionUse* use = useOf(mode, option);
    if (use && (use->lo || use->hi))
        return {use->lo, use->hi};
    return {option.lo, option.hi};
}

std::string Quoted(std::string_view text)
{
    constexpr size_t kShown = 40;
    std::string out = "\"";
    size_t shown = 0, i = 0;
    for (; i < text.size() && shown < kShown; ++shown) {
        const size_t length = utf8Length(text, i);
        const auto c = static_cast<unsigned char>(text[i]);
        char buf[8];
        if (length == 0 || c < 0x20 || c == 0x7F) {
            const char* named = c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : nullptr;
            if (!named)
                std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += named ? named : buf;
            ++i;
        } else {
            if (c == '"' || c == '\\')
                out += '\\';
            out.append(text.substr(i, length));
            i += length;
        }
    }
    out += '"';
    if (i < text.size())
        out += "...";
    return out;
}

double ReadStrictNumber(std::string_view option, std::string_view text)
{
    if (!isOneNumber(text))
        throw UsageError(std::string(option) + ": " + Quoted(text) + " is not a number.");
    try {
        return model::ReadNumber(text);
    } catch (const model::RuntimeError&) {
        throw UsageError(std::string(option) + ": the number " + Quoted(text) + " is too large.");
    }
}

void SetFromTexts(Request& request, const Option& option, std::span<const std::string> texts)
{
    const size_t wanted = static_cast<size_t>(std::max(1, option.arity));
    if (texts.size() != wanted)
        refuse(option, "takes " + std::to_string(wanted) + " values, not "
                           + std::to_string(texts.size()) + ".");
    switch (option.kind) {
    case ValueKind::File: request.*option.text = texts[0]; break;
    case ValueKind::Flag:
        if (texts[0] != "true" && texts[0] != "false")
            refuse(option, Quoted(texts[0]) + " is neither true nor false.");
        option.put(request, 0, texts[0] == "true");
        break;
    case ValueKind::Choice: option.put(request, 0, jsonElement(option, texts[0])); break;
    case ValueKind::Number:
    case ValueKind::WholeNumber:
        for (size_t i = 0; i < texts.size(); ++i)
            setNumber(request, option, static_cast<int>(i),
                      ReadStrictNumber(Flagged(option), texts[i]), Quoted(texts[i]));
    }
    request.sources[IndexOf(option)] = Source::Given;
}

void SetFromNumbers(Request& request, const Option& option, std::span<const double> values)
{
    if (option.kind == ValueKind::File || option.kind == ValueKind::Choice
        || values.size() != static_cast<size_t>(std::max(1, option.arity)))
        refuse(option, "takes " + std::to_string(std::max(1, option.arity)) + " "
                           + (option.kind == ValueKind::Choice || option.kind == ValueKind::File
                                  ? "text." : "numbers."));
    for (size_t i = 0; i < values.size(); ++i)
        setNumber(request, option, static_cast<int>(i), values[i], model::DecimalText(values[i]));
    request.sources[IndexOf(option)] = Source::Given;
}

void SetFromJson(Request& request, const Option& option, const nlohmann::json& value)
{
    if (option.arity > 1) {
        if (!value.is_array() || value.size() != static_cast<size_t>(option.arity))
            throw UsageError(jsonKey(option) + " must be a list of "
                             + std::to_string(option.arity) + " numbers.");
        for (int i = 0; i < option.arity; ++i)
            option.put(request, i, jsonElement(option, value[i]));
    } else {
        option.put(request, 0, jsonElement(option, value));
    }
    request.sources[IndexOf(option)] = Source::Record;
}

nlohmann::json ValueAsJson(const Request& request, const Option& option)
{
    auto element = [&](int i) -> nlohmann::json {
        const double v = option.get(request, i);
        switch (option.kind) {
        case ValueKind::WholeNumber: return static_cast<int>(v);
        case ValueKind::Flag: return v != 0;
        case ValueKind::Choice: return std::string(option.choices[static_cast<size_t>(v)]);
        default: return v;
        }
    };
    if (option.kind == ValueKind::File)
        return request.*option.text;
    if (option.arity <= 1)
        return element(0);
    nlohmann::json list = nlohmann::json::array();
    for (int i = 0; i < option.arity; ++i)
        list.push_back(element(i));
    return list;
}

std::string ValueText(const Request& request, const Option& option)
{
    if (option.kind == ValueKind::File)
        return request.*option.text;
    std::string text;
    for (int i = 0; i < std::max(1, option.arity); ++i) {
        const double v = option.get(request, i);
        text += i ? " " : "";
        switch (option.kind) {
        case ValueKind::Flag: text += v != 0 ? "true" : "false"; break;
        case ValueKind::Choice: text += option.choices[static_cast<size_t>(v)]; break;
        default: text += model::DecimalText(v);
        }
    }
    return text;
}

std::string DefaultText(const Option& option)
{
    if (!option.defaultNote.empty())
        return std::string(option.defaultNote);
    return ValueText(Request(), option);
}

std::string RangeText(const Option& option)
{
    if (option.kind != ValueKind::WholeNumber)
        return "";
    return model::IntegerText(option.lo) + ".." + model::IntegerText(option.hi);
}

std::string Metavariable(const Option& o)
{
    if (o.kind == ValueKind::Number || o.kind == ValueKind::WholeNumber)
        return o.arity > 1 ? "NUMBER x " + std::to_string(o.arity) : "NUMBER";
    return std::string(o.valueNames);
}

std::vector<OptionLine> OptionTable(const Mode* mode)
{
    std::vector<OptionLine> lines;
    for (const Option& o : kRows) {
        if (mode ? o.everyMode || !Reads(*mode, o) : !o.everyMode)
            continue;
        OptionLine line{&o, o.shortName ? std::string("-") + o.shortName + ", " : "", "", "", ""};
        line.names += Flagged(o);
        if (o.kind == ValueKind::Flag)
            line.names += ", --no-" + std::string(o.name);
        else
            line.names += " " + Metavariable(o);
        line.help = std::string(o.help);
        if (o.arity > 1)
            line.help += " " + std::string(o.valueNames);
        line.range = mode ? RangeText(*mode, o) : RangeText(o);
        if (o.kind != ValueKind::Flag && o.kind != ValueKind::File)
            line.defaultText = DefaultText(o);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string RangeText(Mode mode, const Option& option)
{
    if (option.kind != ValueKind::WholeNumber)
        return "";
    const auto [lo, hi] = RangeFor(mode, option);
    return model::IntegerText(lo) + ".." + model::IntegerText(hi);
}

void MergeJson(Request& request, const nlohmann::json& record)
{
    if (!record.is_object() || !record.contains("mode") || !record["mode"].is_string())
        throw UsageError("the job has no \"mode\".");
    request.job.mode = ModeOf(record["mode"].get<std::string>());
    if (!record.contains("options"))
        return;
    const nlohmann::json& options = record["options"];
    if (!options.is_object())
        throw UsageError("\"options\" must be an object.");
    for (const auto& [key, value] : options.items()) {
        const Option* o = FindOption(key);
        if (!o || !o->recorded)
            throw UsageError("unknown option \"" + key + "\".");
        SetFromJson(request, *o, value);
    }
}

void Check(const Request& request)
{
    for (const Option& o : kRows) {
        // A default is sound by construction.
        if (request.sources[IndexOf(o)] == Source::Default)
            continue;
        if (o.kind == ValueKind::File) {
            if (!(request.*o.text).empty() && !Reads(request.job.mode, o))
                throw UsageError(notRead(o, request.job.mode));
            continue;
        }
        try {
            checkValue(request, o);
        } catch (const UsageError& e) {
            if (request.sources[IndexOf(o)] == Source::Record)
                throw UsageError("the job file \"" + request.from + "\": " + e.what());
            throw;
        }
    }
}

} // namespace render
