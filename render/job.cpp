#include "render/job.h"

#include "model/errors.h"
#include "model/numbers.h"
#include "model/window.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace render {

namespace {

struct ModeEntry {
    Mode mode;
    const char* name;
};
constexpr ModeEntry kModes[] = {
    {Mode::Veltrane, "veltrane"},     {Mode::FpBas, "fpbas"},
    {Mode::Fixpt, "fixpt"},           {Mode::Parametric, "parametric"},
    {Mode::Coexisting, "coexisting"}, {Mode::Lyapunov, "lyapunov"},
};

std::string rangeText(int lo, int hi) { return std::to_string(lo) + ".." + std::to_string(hi); }

void checkRange(const std::string& option, int v, int lo, int hi)
{
    if (v < lo || v > hi)
        throw UsageError(option + ": " + std::to_string(v) + " is outside " + rangeText(lo, hi)
                         + ".");
}

} // namespace

const char* ModeName(Mode mode)
{
    for (const ModeEntry& m : kModes)
        if (m.mode == mode)
            return m.name;
    return "?";
}

Mode ModeOf(std::string_view name)
{
    for (const ModeEntry& m : kModes)
        if (name == m.name)
            return m.mode;
    throw UsageError("unknown mode \"" + std::string(name) + "\" (use one of " + ModeNames()
                     + ").");
}

bool PlaneOf(std::string_view name)
{
    if (name == "state" || name == "parameter")
        return name == "parameter";
    throw UsageError("--plane: \"" + std::string(name) + "\" is neither state nor parameter.");
}

std::string ModeNames()
{
    std::string names;
    for (const ModeEntry& m : kModes)
        names += (names.empty() ? "" : ", ") + std::string(m.name);
    return names;
}

double ReadValue(const std::string& option, const std::string& text)
{
    try {
        return model::ReadNumber(text);
    } catch (const model::RuntimeError&) {
        throw UsageError(option + ": the number \"" + text + "\" is too large.");
    }
}

int ReadSetting(const std::string& option, const std::string& text, int lo, int hi)
{
    int v;
    try {
        v = model::Floor16(ReadValue(option, text));
    } catch (const model::RuntimeError&) {
        throw UsageError(option + ": \"" + text + "\" is outside " + rangeText(lo, hi) + ".");
    }
    checkRange(option, v, lo, hi);
    return v;
}

int ReadRounded(const std::string& option, const std::string& text, int lo, int hi)
{
    int v;
    try {
        v = model::RoundHalfEven16(ReadValue(option, text));
    } catch (const model::RuntimeError&) {
        throw UsageError(option + ": \"" + text + "\" is outside " + rangeText(lo, hi) + ".");
    }
    checkRange(option, v, lo, hi);
    return v;
}

Job DefaultJob()
{
    using model::Control;
    using model::DefaultText;
    Job job;
    for (int i = 0; i < 6; ++i)
        job.w[i] = model::ReadNumber(DefaultText(model::txtW(i)));
    job.iterations = model::Floor16(model::ReadNumber(DefaultText(Control::txtIterations)));
    job.accuracy = model::Floor16(model::ReadNumber(DefaultText(Control::txtAccuracy)));
    job.idx = {model::RoundHalfEven16(model::ReadNumber(DefaultText(Control::txtIdx0))),
               model::RoundHalfEven16(model::ReadNumber(DefaultText(Control::txtIdx1)))};
    for (int i = 0; i < 4; ++i)
        job.range[i] = model::ReadNumber(DefaultText(model::txtP(i)));
    for (int i = 0; i < 2; ++i)
        job.x0[i] = model::ReadNumber(DefaultText(model::txtX0(i)));
    job.startValues =
        model::RoundHalfEven16(model::ReadNumber(DefaultText(Control::txtNumStartValues)));
    return job;
}

void Validate(const Job& job)
{
    checkRange("--size", job.size, 1, 100);
    checkRange("--iterations", job.iterations, 1, 32767);
    checkRange("--accuracy", job.accuracy, 1, 14);
    // The window fails with an index out of range at the first dot; here the
    // job is refused before anything is computed.
    checkRange("--idx", job.idx[0], 0, 5);
    checkRange("--idx", job.idx[1], 0, 5);
    checkRange("--start-values", job.startValues, 1, 500);
    for (int c : job.pen)
        checkRange("--pen", c, 0, 255);
    checkRange("--pixels", job.pixels, 2, kMaxPixels);
    auto finite = [](const auto& values, const char* option) {
        for (double v : values)
            if (!std::isfinite(v))
                throw UsageError(std::string(option) + ": every value must be finite.");
    };
    finite(job.w, "--w");
    finite(job.range, "--range");
    finite(job.x0, "--x0");
    finite(job.region, "--region");
    checkRange("--max-period", job.maxPeriod, 16, 4096);
    if (job.maxPeriod != 16 && job.mode != Mode::Veltrane && job.mode != Mode::Parametric)
        throw UsageError("--max-period applies to veltrane and parametric only.");
    if (job.parameterPlane && job.mode != Mode::Lyapunov)
        throw UsageError("--plane applies to lyapunov only.");
    checkRange("--lyapunov-steps", job.lyapunovSteps, 1, kMaxLyapunovSteps);
    finite(job.scale, "--scale");
    if (!(job.scale[0] < job.scale[1]))
        throw UsageError("--scale: the low limit must lie below the high one.");
}

void ToJson(const Job& job, nlohmann::json& out)
{
    out["mode"] = ModeName(job.mode);
    out["options"] = {
        {"w", job.w},
        {"size", job.size},
        {"iterations", job.iterations},
        {"accuracy", job.accuracy},
        {"idx", job.idx},
        {"range", job.range},
        {"x0", job.x0},
        {"start-values", job.startValues},
        {"reshuffle", job.reshuffle},
        {"fp", job.fp},
        {"pen", job.pen},
        {"pixels", job.pixels},
        {"region", job.region},
    };
    if (job.mode == Mode::Veltrane || job.mode == Mode::Parametric)
        out["options"]["max-period"] = job.maxPeriod;
    if (job.mode == Mode::Lyapunov) {
        out["options"]["plane"] = job.parameterPlane ? "parameter" : "state";
        out["options"]["lyapunov-steps"] = job.lyapunovSteps;
        out["options"]["scale"] = job.scale;
    }
}

namespace {

double jsonDouble(const std::string& key, const nlohmann::json& v)
{
    if (!v.is_number())
        throw UsageError("\"" + key + "\" must hold numbers.");
    return v.get<double>();
}

int jsonInt(const std::string& key, const nlohmann::json& v)
{
    if (!v.is_number_integer() || v.get<int64_t>() < INT32_MIN || v.get<int64_t>() > INT32_MAX)
        throw UsageError("\"" + key + "\" must hold whole numbers.");
    return v.get<int>();
}

template <class T, size_t n, class Read>
void jsonArray(const std::string& key, const nlohmann::json& v, std::array<T, n>& out,
               Read read)
{
    if (!v.is_array() || v.size() != n)
        throw UsageError("\"" + key + "\" must be a list of " + std::to_string(n) + " numbers.");
    for (size_t i = 0; i < n; ++i)
        out[i] = read(key, v[i]);
}

std::string jsonString(const std::string& key, const nlohmann::json& v)
{
    if (!v.is_string())
        throw UsageError("\"" + key + "\" must be a text.");
    return v.get<std::string>();
}

bool jsonBool(const std::string& key, const nlohmann::json& v)
{
    if (!v.is_boolean())
        throw UsageError("\"" + key + "\" must be true or false.");
    return v.get<bool>();
}

} // namespace

Job FromJson(const nlohmann::json& in)
{
    if (!in.is_object() || !in.contains("mode") || !in["mode"].is_string())
        throw UsageError("the job has no \"mode\".");
    Job job = DefaultJob();
    job.mode = ModeOf(in["mode"].get<std::string>());
    if (!in.contains("options"))
        return job;
    const nlohmann::json& options = in["options"];
    if (!options.is_object())
        throw UsageError("\"options\" must be an object.");
    for (const auto& [key, v] : options.items()) {
        if (key == "w") jsonArray(key, v, job.w, jsonDouble);
        else if (key == "size") job.size = jsonInt(key, v);
        else if (key == "iterations") job.iterations = jsonInt(key, v);
        else if (key == "accuracy") job.accuracy = jsonInt(key, v);
        else if (key == "idx") jsonArray(key, v, job.idx, jsonInt);
        else if (key == "range") jsonArray(key, v, job.range, jsonDouble);
        else if (key == "x0") jsonArray(key, v, job.x0, jsonDouble);
        else if (key == "start-values") job.startValues = jsonInt(key, v);
        else if (key == "reshuffle") job.reshuffle = jsonBool(key, v);
        else if (key == "fp") job.fp = jsonBool(key, v);
        else if (key == "pen") jsonArray(key, v, job.pen, jsonInt);
        else if (key == "pixels") job.pixels = jsonInt(key, v);
        else if (key == "region") jsonArray(key, v, job.region, jsonDouble);
        else if (key == "max-period") job.maxPeriod = jsonInt(key, v);
        else if (key == "plane") job.parameterPlane = PlaneOf(jsonString(key, v));
        else if (key == "lyapunov-steps") job.lyapunovSteps = jsonInt(key, v);
        else if (key == "scale") jsonArray(key, v, job.scale, jsonDouble);
        else throw UsageError("unknown option \"" + key + "\".");
    }
    Validate(job);
    return job;
}

} // namespace render
