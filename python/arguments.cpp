#include "python/arguments.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>

namespace pyvt {

using render::UsageError;

namespace {

std::string typeName(py::handle v) { return py::str(py::type::handle_of(v).attr("__name__")); }

bool isBool(py::handle v)
{
    static const py::object numpyBool = py::module_::import("numpy").attr("bool_");
    return PyBool_Check(v.ptr()) || py::isinstance(v, numpyBool);
}

// The shortest text that reads back as d.
std::string doubleText(const std::string& option, double d)
{
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, d).ptr;
    std::string text(buf, end);
    if (!std::isfinite(d))
        throw UsageError(option + ": \"" + text + "\" is not a number.");
    return text;
}

std::string numberText(const std::string& option, py::handle v)
{
    if (py::isinstance<py::str>(v))
        return v.cast<std::string>();
    if (!isBool(v)) {
        if (PyFloat_Check(v.ptr()))
            return doubleText(option, PyFloat_AS_DOUBLE(v.ptr()));
        if (PyIndex_Check(v.ptr()))
            return py::str(py::reinterpret_steal<py::object>(PyNumber_Index(v.ptr())));
        // numpy's float32, float16 and 0-d arrays, and any other real number.
        const auto* number = Py_TYPE(v.ptr())->tp_as_number;
        if (number && number->nb_float)
            return doubleText(option, py::float_(py::reinterpret_borrow<py::object>(v)));
    }
    throw UsageError(option + ": expects a number, not " + typeName(v) + ".");
}

} // namespace

std::string KeywordOf(const std::string& option)
{
    std::string keyword = option.substr(option.starts_with("--") ? 2 : 0);
    for (char& c : keyword)
        if (c == '-')
            c = '_';
    return keyword;
}

std::string OptionOf(const std::string& keyword)
{
    std::string option = "--" + keyword;
    for (char& c : option)
        if (c == '_')
            c = '-';
    return option;
}

std::vector<std::string> TextsOf(const std::string& option, py::handle value, ValueKind kind,
                                 int count)
{
    if (kind == ValueKind::Flag) {
        if (!isBool(value))
            throw UsageError(option + ": expects True or False, not " + typeName(value) + ".");
        return {py::bool_(py::reinterpret_borrow<py::object>(value)) ? "true" : "false"};
    }
    if (kind == ValueKind::Word) {
        if (!py::isinstance<py::str>(value))
            throw UsageError(option + ": expects a text, not " + typeName(value) + ".");
        return {value.cast<std::string>()};
    }
    if (count == 1)
        return {numberText(option, value)};
    const std::string expected = option + ": expects " + std::to_string(count) + " numbers";
    if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value)
        || !PySequence_Check(value.ptr()))
        throw UsageError(expected + ", not " + typeName(value) + ".");
    const py::sequence items = py::reinterpret_borrow<py::sequence>(value);
    if (static_cast<int>(py::len(items)) != count)
        throw UsageError(expected + ", not " + std::to_string(py::len(items)) + ".");
    std::vector<std::string> texts;
    for (py::handle item : items)
        texts.push_back(numberText(option, item));
    return texts;
}

int WholeNumber(const std::string& option, py::handle value, int lo, int hi)
{
    const std::string text = TextsOf(option, value, ValueKind::Number, 1)[0];
    const double v = render::ReadValue(option, text);
    if (v != std::floor(v) || v < lo || v > hi)
        throw UsageError(option + ": \"" + text + "\" is not a whole number in "
                         + std::to_string(lo) + ".." + std::to_string(hi) + ".");
    return static_cast<int>(v);
}

namespace {

// The options of a job, until the renderer's option table replaces this list.
struct Keyword {
    const char* option;
    int count;
    ValueKind kind;
    const char* help;
    void (*apply)(render::Job& job, const std::vector<std::string>& texts);
};

template <size_t n>
void readValues(const char* option, const std::vector<std::string>& texts, std::array<double, n>& out)
{
    for (size_t i = 0; i < n; ++i)
        out[i] = render::ReadValue(option, texts[i]);
}

int whole(const char* option, const std::string& text, int lo, int hi)
{
    return WholeNumber(option, py::str(text), lo, hi);
}

const Keyword kKeywords[] = {
    {"--w", 6, ValueKind::Number, "the six parameters w11 w12 w21 w22 b1 b2",
     [](render::Job& j, const auto& t) { readValues("--w", t, j.w); }},
    {"--w11", 1, ValueKind::Number, "the parameter w11",
     [](render::Job& j, const auto& t) { j.w[0] = render::ReadValue("--w11", t[0]); }},
    {"--w12", 1, ValueKind::Number, "the parameter w12",
     [](render::Job& j, const auto& t) { j.w[1] = render::ReadValue("--w12", t[0]); }},
    {"--w21", 1, ValueKind::Number, "the parameter w21",
     [](render::Job& j, const auto& t) { j.w[2] = render::ReadValue("--w21", t[0]); }},
    {"--w22", 1, ValueKind::Number, "the parameter w22",
     [](render::Job& j, const auto& t) { j.w[3] = render::ReadValue("--w22", t[0]); }},
    {"--b1", 1, ValueKind::Number, "the parameter b1",
     [](render::Job& j, const auto& t) { j.w[4] = render::ReadValue("--b1", t[0]); }},
    {"--b2", 1, ValueKind::Number, "the parameter b2",
     [](render::Job& j, const auto& t) { j.w[5] = render::ReadValue("--b2", t[0]); }},
    {"--size", 1, ValueKind::Number, "dot size 1..100 (default 1)",
     [](render::Job& j, const auto& t) { j.size = render::ReadSetting("--size", t[0], 1, 100); }},
    {"--iterations", 1, ValueKind::Number, "iterations 1..32767 (1000)",
     [](render::Job& j, const auto& t) {
         j.iterations = render::ReadSetting("--iterations", t[0], 1, 32767);
     }},
    {"--accuracy", 1, ValueKind::Number, "accuracy 1..14 (8)",
     [](render::Job& j, const auto& t) {
         j.accuracy = render::ReadSetting("--accuracy", t[0], 1, 14);
     }},
    {"--idx", 2, ValueKind::Number, "parameter-plane axes H V, 0..5 (4 5)",
     [](render::Job& j, const auto& t) {
         for (int i = 0; i < 2; ++i)
             j.idx[i] = render::ReadRounded("--idx", t[i], 0, 5);
     }},
    {"--range", 4, ValueKind::Number, "parameter-plane ranges L R B T (-1 1 -1 1)",
     [](render::Job& j, const auto& t) { readValues("--range", t, j.range); }},
    {"--x0", 2, ValueKind::Number, "start point of parametric (1 1)",
     [](render::Job& j, const auto& t) { readValues("--x0", t, j.x0); }},
    {"--start-values", 1, ValueKind::Number, "start points of coexisting, 1..500 (5)",
     [](render::Job& j, const auto& t) {
         j.startValues = render::ReadRounded("--start-values", t[0], 1, 500);
     }},
    {"--reshuffle", 1, ValueKind::Flag, "coexisting: new random start points for every dot",
     [](render::Job& j, const auto& t) { j.reshuffle = t[0] == "true"; }},
    {"--fp", 1, ValueKind::Flag, "coexisting: count distinct fixed points one by one",
     [](render::Job& j, const auto& t) { j.fp = t[0] == "true"; }},
    {"--pen", 3, ValueKind::Number, "drawing colour of fixpt, R G B 0..255 (0 0 0)",
     [](render::Job& j, const auto& t) {
         for (int i = 0; i < 3; ++i)
             j.pen[i] = render::ReadRounded("--pen", t[i], 0, 255);
     }},
    {"--pixels", 1, ValueKind::Number, "picture size N x N, 2..32767 (800)",
     [](render::Job& j, const auto& t) {
         j.pixels = whole("--pixels", t[0], 2, render::kMaxPixels);
     }},
    {"--region", 4, ValueKind::Number, "state-plane part shown X0 X1 Y0 Y1 (-1 1 -1 1)",
     [](render::Job& j, const auto& t) { readValues("--region", t, j.region); }},
    {"--max-period", 1, ValueKind::Number,
     "veltrane, parametric: longest period sought, 16..4096 (16, the window's)",
     [](render::Job& j, const auto& t) { j.maxPeriod = whole("--max-period", t[0], 16, 4096); }},
    {"--plane", 1, ValueKind::Word,
     "lyapunov: state (the start points of veltrane) or parameter (the plane of parametric) "
     "(state)",
     [](render::Job& j, const auto& t) { j.parameterPlane = render::PlaneOf(t[0]); }},
    {"--lyapunov-steps", 1, ValueKind::Number,
     "lyapunov: steps measured after the iterations (1000)",
     [](render::Job& j, const auto& t) {
         j.lyapunovSteps = whole("--lyapunov-steps", t[0], 1, render::kMaxLyapunovSteps);
     }},
    {"--scale", 2, ValueKind::Number,
     "lyapunov: colour limits LO HI, blue to white at 0 to red (-1 0.5)",
     [](render::Job& j, const auto& t) { readValues("--scale", t, j.scale); }},
};

py::object fromJson(const nlohmann::json& v)
{
    if (v.is_boolean())
        return py::bool_(v.get<bool>());
    if (v.is_number_integer())
        return py::int_(v.get<int64_t>());
    if (v.is_number())
        return py::float_(v.get<double>());
    if (v.is_string())
        return py::str(v.get<std::string>());
    if (v.is_array()) {
        py::list out;
        for (const auto& item : v)
            out.append(fromJson(item));
        return out;
    }
    return py::none();
}

} // namespace

render::Job JobOf(const std::string& mode, const py::dict& options)
{
    render::Job job = render::DefaultJob();
    job.mode = render::ModeOf(mode);
    for (auto [key, value] : options) {
        if (value.is_none())
            continue;
        const std::string option = OptionOf(py::str(key));
        const Keyword* row = nullptr;
        for (const Keyword& k : kKeywords)
            if (option == k.option)
                row = &k;
        if (!row)
            throw UsageError("unknown option \"" + std::string(py::str(key)) + "\".");
        row->apply(job, TextsOf(option, value, row->kind, row->count));
    }
    render::Validate(job);
    return job;
}

py::dict JobKeywords(const render::Job& job)
{
    nlohmann::json record;
    render::ToJson(job, record);
    py::dict out;
    out["mode"] = record["mode"].get<std::string>();
    for (const auto& [key, value] : record["options"].items())
        out[py::str(KeywordOf(key))] = fromJson(value);
    return out;
}

std::string OptionsHelp()
{
    std::string text;
    for (const Keyword& k : kKeywords) {
        text += "    " + KeywordOf(k.option) + ": " + k.help + "\n";
    }
    return text;
}

} // namespace pyvt
