#include "python/arguments.h"

#include "render/options.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>

namespace pyvt {

using render::Option;
using render::UsageError;
using render::ValueKind;

namespace {

std::string typeName(py::handle v) { return py::str(py::type::handle_of(v).attr("__name__")); }

bool isBool(py::handle v)
{
    static const py::object numpyBool = py::module_::import("numpy").attr("bool_");
    return PyBool_Check(v.ptr()) || py::isinstance(v, numpyBool);
}

// The shortest text that reads back as d; the option's reader refuses "nan"
// and "inf" as it refuses them on the command line.
std::string doubleText(double d)
{
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, d).ptr);
}

std::string numberText(const std::string& option, py::handle v)
{
    if (py::isinstance<py::str>(v))
        return v.cast<std::string>();
    if (!isBool(v)) {
        if (PyFloat_Check(v.ptr()))
            return doubleText(PyFloat_AS_DOUBLE(v.ptr()));
        if (PyIndex_Check(v.ptr()))
            return py::str(py::reinterpret_steal<py::object>(PyNumber_Index(v.ptr())));
        // numpy's float32, float16 and 0-d arrays, and any other real number.
        const auto* number = Py_TYPE(v.ptr())->tp_as_number;
        if (number && number->nb_float) {
            PyObject* real = PyNumber_Float(v.ptr());
            if (real) {
                const double d = PyFloat_AS_DOUBLE(real);
                Py_DECREF(real);
                return doubleText(d);
            }
            PyErr_Clear(); // an array of several numbers, say
        }
    }
    throw UsageError(option + ": expects a number, not " + typeName(v) + ".");
}

// The rows a keyword may name: not the files (save() writes them) nor --quiet
// (progress= says whether a line is drawn).
bool isKeyword(const Option& o) { return o.kind != ValueKind::File && o.name != "quiet"; }

// The texts of a value for a row, as the command line would give them.
std::vector<std::string> textsOf(const Option& o, py::handle value)
{
    const std::string option = render::Flagged(o);
    if (o.kind == ValueKind::Flag) {
        if (!isBool(value))
            throw UsageError(option + ": expects True or False, not " + typeName(value) + ".");
        return {py::bool_(py::reinterpret_borrow<py::object>(value)) ? "true" : "false"};
    }
    if (o.kind == ValueKind::Choice) {
        if (!py::isinstance<py::str>(value))
            throw UsageError(option + ": expects one of " + std::string(o.valueNames)
                             + ", not " + typeName(value) + ".");
        return {value.cast<std::string>()};
    }
    if (o.arity <= 1)
        return {numberText(option, value)};
    const std::string expected = option + ": expects " + std::to_string(o.arity) + " numbers";
    if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value)
        || !PySequence_Check(value.ptr()))
        throw UsageError(expected + ", not " + typeName(value) + ".");
    const auto items = py::reinterpret_borrow<py::sequence>(value);
    if (static_cast<int>(py::len(items)) != o.arity)
        throw UsageError(expected + ", not " + std::to_string(py::len(items)) + ".");
    std::vector<std::string> texts;
    for (py::handle item : items)
        texts.push_back(numberText(option, item));
    return texts;
}

const Option& rowOf(const std::string& keyword)
{
    std::string name = keyword.ends_with('_') ? keyword.substr(0, keyword.size() - 1) : keyword;
    for (char& c : name)
        if (c == '_')
            c = '-';
    const Option* row =
        keyword.find('-') == std::string::npos ? render::FindOption(name) : nullptr;
    if (row && row->kind == ValueKind::File)
        throw UsageError("\"" + keyword + "\" is a file of the command line: write the files "
                         "with save().");
    if (row && isKeyword(*row))
        return *row;
    py::list keywords;
    for (const Option& o : render::Options())
        if (isKeyword(o))
            keywords.append(KeywordOf(o.name));
    const py::list near =
        py::module_::import("difflib").attr("get_close_matches")(keyword, keywords, 1);
    throw UsageError("unknown option \"" + keyword + "\""
                     + (near.empty() ? std::string(".")
                                     : "; did you mean " + std::string(py::str(near[0])) + "?"));
}

// A help line cut at blanks to lines of at most 79 characters, the ones
// after the first indented further.
std::string wrapped(const std::string& line)
{
    constexpr size_t kWidth = 79;
    std::string out, rest = line;
    while (rest.size() > kWidth) {
        const size_t cut = rest.rfind(' ', kWidth);
        if (cut == std::string::npos || cut <= 8)
            break;
        out += rest.substr(0, cut) + "\n";
        rest = "        " + rest.substr(cut + 1);
    }
    return out + rest + "\n";
}


} // namespace

py::object FromJson(const nlohmann::json& v)
{
    if (v.is_boolean())
        return py::bool_(v.get<bool>());
    if (v.is_number_integer())
        return py::int_(v.get<int64_t>());
    if (v.is_number())
        return py::float_(v.get<double>());
    if (v.is_string())
        return py::str(v.get<std::string>());
    if (v.is_object()) {
        py::dict out;
        for (const auto& [key, item] : v.items())
            out[py::str(key)] = FromJson(item);
        return out;
    }
    if (v.is_array()) {
        py::list out;
        for (const auto& item : v)
            out.append(FromJson(item));
        return out;
    }
    return py::none();
}

std::string KeywordOf(std::string_view name)
{
    std::string keyword(name);
    for (char& c : keyword)
        if (c == '-')
            c = '_';
    // A word Python reserves ("continue") takes an underscore after it.
    if (py::module_::import("keyword").attr("iskeyword")(keyword).cast<bool>())
        keyword += '_';
    return keyword;
}

int WholeNumber(const std::string& name, py::handle value, int lo, int hi)
{
    const std::string text = numberText(name, value);
    const double v = render::ReadStrictNumber(name, text);
    if (v != std::floor(v) || v < lo || v > hi)
        throw UsageError(name + ": " + render::Quoted(text) + " is not a whole number in "
                         + std::to_string(lo) + ".." + std::to_string(hi) + ".");
    return static_cast<int>(v);
}

double Number(const std::string& name, py::handle value)
{
    return render::ReadStrictNumber(name, numberText(name, value));
}

render::Request RequestOf(const std::string& mode, const py::dict& options)
{
    render::Request request;
    request.job.mode = render::ModeOf(mode);
    for (auto [key, value] : options) {
        if (value.is_none())
            continue;
        const Option& row = rowOf(py::str(key));
        render::SetFromTexts(request, row, textsOf(row, value));
    }
    render::Check(request);
    return request;
}

py::dict JobKeywords(const render::Job& job)
{
    render::Request request;
    request.job = job;
    py::dict out;
    out["mode"] = render::ModeName(job.mode);
    for (const Option& o : render::Options())
        if (o.recorded && render::Reads(job.mode, o))
            out[py::str(KeywordOf(o.name))] = FromJson(render::ValueAsJson(request, o));
    return out;
}

py::list OptionTable(const std::optional<std::string>& mode)
{
    const render::Mode m = mode ? render::ModeOf(*mode) : render::Mode{};
    py::list table;
    for (const render::OptionLine& line : render::OptionTable(mode ? &m : nullptr)) {
        auto textOrNone = [](const std::string& text) {
            return text.empty() ? py::object(py::none()) : py::object(py::str(text));
        };
        py::dict row;
        row["option"] = render::Flagged(*line.option);
        row["keyword"] = textOrNone(isKeyword(*line.option) ? KeywordOf(line.option->name) : "");
        row["names"] = line.names;
        row["help"] = line.help;
        row["range"] = textOrNone(line.range);
        row["default"] = textOrNone(line.defaultText);
        table.append(row);
    }
    return table;
}

std::string OptionsHelp()
{
    std::string text;
    for (const Option& o : render::Options()) {
        if (!isKeyword(o))
            continue;
        std::string line = "    " + KeywordOf(o.name);
        if (o.arity > 1)
            line += " (" + std::string(o.valueNames) + ")";
        line += ": " + std::string(o.help);
        if (const std::string range = render::RangeText(o); !range.empty())
            line += ", " + range;
        if (o.kind != ValueKind::Flag)
            line += "; default " + render::DefaultText(o);
        if (!o.everyMode) {
            std::string modes;
            for (render::Mode m : render::AllModes())
                if (render::Reads(m, o))
                    modes += (modes.empty() ? "" : ", ") + std::string(render::ModeName(m));
            line += " [" + modes + "]";
        }
        text += wrapped(line);
    }
    return text;
}

} // namespace pyvt
