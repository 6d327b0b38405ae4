#include "render/command_line.h"

#include "model/engine.h"
#include "model/scales.h"
#include "render/analyses.h"
#include "render/job.h"
#include "render/npy.h"
#include "render/options.h"
#include "render/orbit.h"
#include "render/output.h"
#include "render/plan.h"
#include "render/progress.h"
#include "render/tiles.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

#ifndef VELTRANE_VERSION
#define VELTRANE_VERSION "unknown"
#endif

namespace render {

namespace {

const char* const kAbout =
    "Renders the plots of the two-neuron network without the window, at any resolution, "
    "with the classes of every pixel.\n\n";
const char* const kUsage =
    "usage: veltrane-render MODE [options] -o OUT.png|OUT.bmp\n"
    "       veltrane-render --from JOB.json [options] -o OUT.png|OUT.bmp\n";

// What the command line says, as typed: the mode and, in the order of the
// option table, the texts of every option given.
struct CommandLine {
    std::string mode;
    std::vector<std::pair<const Option*, std::vector<std::string>>> given;
    bool help = false;
};

// The option names a mistyped one may have meant.
std::vector<std::string> optionNames()
{
    std::vector<std::string> names = {"--help", "-h"};
    for (const Option& o : Options()) {
        names.push_back(Flagged(o));
        if (o.kind == ValueKind::Flag)
            names.push_back("--no-" + std::string(o.name));
        if (o.shortName)
            names.push_back(std::string("-") + o.shortName);
    }
    return names;
}

size_t editDistance(std::string_view a, std::string_view b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The usage error of an argument nobody asked for.
UsageError unexpected(const std::string& argument)
{
    const std::string name = argument.substr(0, argument.find('='));
    if (name.size() < 2 || name[0] != '-' || (name[1] != '-' && !std::isalpha(name[1] & 0xFF)))
        return UsageError("unexpected argument " + Quoted(argument) + ".");
    std::string nearest;
    size_t best = SIZE_MAX;
    for (const std::string& candidate : optionNames())
        if (const size_t d = editDistance(name, candidate); d < best) {
            best = d;
            nearest = candidate;
        }
    return UsageError("unknown option " + Quoted(name) + "; did you mean " + nearest + "?");
}

std::string metavariable(const Option& o)
{
    switch (o.kind) {
    case ValueKind::Number:
    case ValueKind::WholeNumber:
        return o.arity > 1 ? "NUMBER x " + std::to_string(o.arity) : "NUMBER";
    default: return std::string(o.valueNames);
    }
}

// The usage error of an option given the wrong number of values, which the
// parser reports as "--region: ..." or "reshuffle was given ...".
UsageError miscounted(const std::string& what)
{
    for (const Option& o : Options()) {
        const std::string name(o.name);
        if (what.rfind(Flagged(o) + ":", 0) != 0 && what.rfind(name + " was given", 0) != 0)
            continue;
        if (o.kind == ValueKind::Flag)
            return UsageError(Flagged(o) + " takes no value.");
        if (o.arity == 1)
            return UsageError(Flagged(o) + " takes one " + metavariable(o) + ", given once.");
        return UsageError(Flagged(o) + " takes " + std::to_string(o.arity) + " numbers ("
                          + std::string(o.valueNames) + "), given once.");
    }
    return UsageError(what);
}

CommandLine parseCommandLine(const std::vector<std::string>& args)
{
    CLI::App app;
    app.allow_extras();
    app.set_help_flag("-h,--help");
    CommandLine line;
    app.add_option("mode", line.mode);
    struct Texts {
        std::vector<std::string> texts;
        bool on = false;
        CLI::Option* option = nullptr;
    };
    std::vector<Texts> got(Options().size());
    for (const Option& o : Options()) {
        Texts& t = got[IndexOf(o)];
        std::string names = o.shortName ? std::string("-") + o.shortName + "," : "";
        names += Flagged(o);
        if (o.kind == ValueKind::Flag) {
            t.option = app.add_flag(names + ",!--no-" + std::string(o.name), t.on)
                           ->disable_flag_override();
        } else {
            // Exactly arity values, taken whatever they look like, so that a
            // list holds "-.5" as well as "-0.5".
            t.option = app.add_option(names, t.texts)
                           ->type_size(o.arity)
                           ->expected(1)
                           ->allow_extra_args(false);
        }
    }

    std::vector<std::string> argvText{"veltrane-render"};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText)
        argv.push_back(a.data());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp&) {
        line.help = true;
        return line;
    } catch (const CLI::ArgumentMismatch& e) {
        throw miscounted(e.what());
    } catch (const CLI::ParseError& e) {
        throw UsageError(e.what());
    }
    const std::vector<std::string> names = optionNames();
    for (const Option& o : Options()) {
        Texts& t = got[IndexOf(o)];
        if (t.option->count() == 0)
            continue;
        // Values are taken whatever they look like; one that names an option
        // means too few were given.
        for (const std::string& text : t.texts)
            if (std::find(names.begin(), names.end(), text.substr(0, text.find('=')))
                != names.end())
                throw miscounted(Flagged(o) + ":");
    }
    if (!app.remaining().empty())
        throw unexpected(app.remaining().front());
    for (const Option& o : Options()) {
        Texts& t = got[IndexOf(o)];
        if (t.option->count() == 0)
            continue;
        if (o.kind == ValueKind::Flag)
            t.texts = {t.on ? "true" : "false"};
        line.given.emplace_back(&o, std::move(t.texts));
    }
    return line;
}

nlohmann::json readRecord(const std::string& name)
{
    const std::string said = "the job file \"" + name + "\"";
    std::error_code ec;
    if (std::filesystem::is_directory(name, ec))
        throw UsageError(said + " cannot be read: it is a folder.");
    std::ifstream in(name);
    if (!in)
        throw UsageError(said + " cannot be read.");
    try {
        return nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception& e) {
        throw UsageError(said + " is not valid JSON (" + e.what() + ").");
    } catch (const std::exception& e) {
        throw UsageError(said + " cannot be read (" + e.what() + ").");
    }
}

void applyGiven(const CommandLine& line, Request& request)
{
    for (const auto& [option, texts] : line.given)
        SetFromTexts(request, *option, texts);
}

// The job record named by --from, if any, with the options given beside it
// over it; the mode given beside it replaces the recorded one.
Request mergeSources(const CommandLine& line)
{
    Request given;
    applyGiven(line, given);
    if (given.from.empty() && line.mode.empty())
        throw UsageError("no mode given.");
    if (given.from.empty()) {
        given.job.mode = ModeOf(line.mode);
        return given;
    }
    Request merged;
    merged.from = given.from;
    try {
        MergeJson(merged, readRecord(given.from));
    } catch (const UsageError& e) {
        const std::string what = e.what();
        if (what.rfind("the job file", 0) == 0)
            throw;
        throw UsageError("the job file \"" + given.from + "\": " + what);
    }
    if (!line.mode.empty())
        merged.job.mode = ModeOf(line.mode);
    applyGiven(line, merged);
    return merged;
}

std::string samePlace(const std::string& name)
{
    std::error_code ec;
    const auto p = std::filesystem::weakly_canonical(std::filesystem::absolute(name), ec);
    return ec ? name : p.string();
}

} // namespace

void CheckRequest(const Request& request)
{
    Check(request);
    const bool cycles = request.job.mode == Mode::Cycles;
    if (!request.json.empty() && !cycles)
        throw UsageError("--json applies to cycles only, not to "
                         + std::string(ModeName(request.job.mode)) + ".");
    if (request.output.empty() && !(cycles && !request.json.empty()))
        throw UsageError(cycles ? "nothing to write: give -o OUT.png or --json OUT.json."
                                : "no picture named: give -o OUT.png or -o OUT.bmp.");
    if (!request.output.empty())
        FormatOf(request.output);
    auto sameFile = [](const std::string& a, const std::string& b) {
        return !a.empty() && !b.empty() && samePlace(a) == samePlace(b);
    };
    if (sameFile(request.json, request.output) || sameFile(request.json, request.classes))
        throw UsageError("--json: \"" + request.json
                         + "\" is another file of the run; the record needs a file of its own.");
    if (!request.orbits.empty()) {
        CheckOrbitStatesSize(request.job);
        if (sameFile(request.orbits, request.output)
            || sameFile(request.orbits, JobFileName(request.output))
            || sameFile(request.orbits, request.classes))
            throw UsageError("--orbits: \"" + request.orbits
                             + "\" is another file of the run; the states need a file of their "
                               "own.");
    }
    if (!request.curvesData.empty()) {
        if (!request.job.curves)
            throw UsageError("--curves-data: the curve points are written with --curves only.");
        if (sameFile(request.curvesData, request.output)
            || sameFile(request.curvesData, JobFileName(request.output))
            || sameFile(request.curvesData, request.classes))
            throw UsageError("--curves-data: \"" + request.curvesData
                             + "\" is another file of the run; the curve points need a file of "
                               "their own.");
    }
    if (request.classes.empty() || request.output.empty())
        return;
    const std::string classes = samePlace(request.classes);
    if (classes == samePlace(request.output))
        throw UsageError("--classes: \"" + request.classes
                         + "\" is the picture; the classes need a file of their own.");
    if (classes == samePlace(JobFileName(request.output)))
        throw UsageError("--classes: \"" + request.classes
                         + "\" is the picture's job record; the classes need a file of their "
                           "own.");
}

namespace {

// The job record: beside the picture, or where --json says.
std::string recordName(const Request& request)
{
    return request.json.empty() ? JobFileName(request.output) : request.json;
}

} // namespace

void CheckFiles(const Request& request)
{
    if (!request.output.empty())
        CheckWritable(request.output);
    CheckWritable(recordName(request));
    if (!request.classes.empty())
        CheckWritable(request.classes);
    if (!request.orbits.empty())
        CheckWritable(request.orbits);
    if (!request.curvesData.empty())
        CheckWritable(request.curvesData);
}

namespace {

// Renders the picture (and the classes) and returns the seconds it took.
double renderPicture(const Request& request, const Plan& plan, plots::Canvas& canvas,
                     NpyArray* classes, std::vector<uint8_t>* states, const Team* team,
                     std::ostream& err)
{
    if (const int threads = UseThreads(request.threads); threads < request.threads)
        err << "veltrane-render: --threads " << request.threads << " is more than the "
            << threads << " cores of this machine; " << threads << " are used.\n";
    const auto start = std::chrono::steady_clock::now();
    {
        Progress progress(plan.dots(), team ? !request.quiet && team->progressShown
                                            : ProgressWanted(request.quiet));
        auto update = [&](int64_t done) { progress.update(done); };
        // Continued orbits are sequential and raw states stay on this
        // process: those diagrams are rendered here alone.
        if (OrbitsRenderedAlone(plan, states != nullptr))
            RenderOrbits(plan, canvas, classes, states, update);
        else if (team)
            team->render(plan, request.threads, canvas, classes, update);
        else
            Render(plan, canvas, classes, update);
        progress.finish();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The orbit diagram's scale: white for no state, else the colour at
// t = log(1 + count) / log(1 + most) along the sequential scale from its light
// end (t = 0) to its dark end (t = 1: every state of the column's orbits in
// one pixel), with the colours of a few counts.
nlohmann::json orbitScale(const Job& job)
{
    const uint64_t most = OrbitPixelMost(job);
    nlohmann::json stops = nlohmann::json::array();
    for (const uint64_t count : {uint64_t{1}, most / 64, most / 8, most}) {
        if (count == 0)
            continue;
        const model::Color c = model::OrbitDensityColor(count, most);
        stops.push_back({{"count", count},
                         {"rgb", {model::RedOf(c), model::GreenOf(c), model::BlueOf(c)}}});
    }
    return {{"kind", "log"}, {"zero", "white"}, {"most", most},
            {"position", "log(1 + count) / log(1 + most)"}, {"stops", stops}};
}

} // namespace

std::vector<uint8_t> RecordBytes(const Request& request, double seconds, int processes,
                                 const nlohmann::json& analyses)
{
    const Job& job = request.job;
    nlohmann::json record;
    ToJson(job, record);
    record["program"] = "veltrane-render";
    record["version"] = VELTRANE_VERSION;
    record["picture"] =
        request.output.empty() ? nlohmann::json(nullptr) : nlohmann::json(request.output);
    record["classes"] =
        request.classes.empty() ? nlohmann::json(nullptr) : nlohmann::json(request.classes);
    if (job.mode == Mode::Lyapunov) {
        // The colour bar of the picture: the scale is linear in each colour
        // component between these stops and clamped beyond the outer two.
        nlohmann::json stops = nlohmann::json::array();
        for (const model::ScaleStop& s : model::LyapunovStops(job.scale[0], job.scale[1]))
            stops.push_back({{"value", s.value},
                             {"rgb", {model::RedOf(s.color), model::GreenOf(s.color),
                                      model::BlueOf(s.color)}}});
        record["colour_bar"] = {{"low", job.scale[0]}, {"high", job.scale[1]}, {"stops", stops}};
    }
    if (job.mode == Mode::Orbit)
        record["colour_scale"] = orbitScale(job);
    if (!request.orbits.empty())
        record["orbits"] = request.orbits;
    if (!request.curvesData.empty())
        record["curves_data"] = request.curvesData;
    record.update(analyses);
    record["threads"] = model::ThreadCount();
    record["processes"] = processes;
    record["elapsed_seconds"] = seconds;
    const std::string text = record.dump(2) + "\n";
    return std::vector<uint8_t>(text.begin(), text.end());
}

namespace {

// The classes, the picture and the job record, replaced together.
void writeFiles(const Request& request, const plots::Canvas& canvas,
                std::optional<NpyArray>& classes, std::vector<uint8_t>& states,
                const std::vector<uint8_t>& curvesData, double seconds, int processes,
                const nlohmann::json& analyses)
{
    FileSet files;
    if (!request.curvesData.empty())
        files.add(request.curvesData, curvesData);
    if (!request.orbits.empty()) {
        files.add(request.orbits, states);
        std::vector<uint8_t>().swap(states);
    }
    if (classes && !request.classes.empty())
        files.add(request.classes, classes->bytes());
    classes.reset(); // its memory serves the picture's encoding
    if (!request.output.empty())
        files.add(request.output, EncodePicture(request.output, canvas), true);
    files.add(recordName(request), RecordBytes(request, seconds, processes, analyses));
    files.commit();
}

int usageError(std::ostream& err, const std::string& message)
{
    err << "veltrane-render: " << message << "\n--help lists the options.\n";
    return kExitUsage;
}

std::string helpLine(std::string names, const std::string& help)
{
    constexpr size_t kColumn = 30;
    names = "  " + names;
    names += names.size() + 1 < kColumn ? std::string(kColumn - names.size(), ' ')
                                        : "\n" + std::string(kColumn, ' ');
    return names + help + "\n";
}

} // namespace

std::string HelpText()
{
    std::string text = std::string(kAbout) + kUsage + "MODE: " + ModeNames() + "\n\nOptions:\n";
    text += helpLine("-h, --help", "print this help and exit");
    for (const Option& o : Options()) {
        std::string names = o.shortName ? std::string("-") + o.shortName + ", " : "";
        names += Flagged(o);
        names += o.kind == ValueKind::Flag ? ", --no-" + std::string(o.name)
                                           : " " + metavariable(o);
        std::string help;
        if (!o.modes.all()) {
            for (Mode m : AllModes())
                if (o.modes.contains(m))
                    help += (help.empty() ? "" : ", ") + std::string(ModeName(m));
            help += ": ";
        }
        help += o.help;
        if (o.arity > 1)
            help += " " + std::string(o.valueNames);
        if (const std::string range = RangeText(o); !range.empty())
            help += ", " + range;
        if (o.kind != ValueKind::Flag && o.kind != ValueKind::File)
            help += " (default " + DefaultText(o) + ")";
        text += helpLine(names, help);
    }
    return text;
}

int UseThreads(int requested)
{
    model::SetThreadCount(0);
    const int cores = model::ThreadCount();
    model::SetThreadCount(requested > 0 ? std::min(requested, cores) : 0);
    return model::ThreadCount();
}

int Execute(const Request& request, std::ostream& err, const Team* team, std::ostream* out)
{
    try {
        CheckRequest(request);
    } catch (const UsageError& e) {
        return usageError(err, e.what());
    }
    try {
        CheckFiles(request);
        const Plan plan = MakePlan(request.job);
        plots::Canvas canvas(plan.pixels, plan.pixels);
        std::optional<NpyArray> classes;
        // The statistics and the cycles read the classes, written or not.
        if (!request.classes.empty() || request.job.stats || request.job.mode == Mode::Cycles)
            classes.emplace(plan.traits->classType, plan.pixels, plan.pixels);
        std::vector<uint8_t> states;
        const double seconds =
            renderPicture(request, plan, canvas, classes ? &*classes : nullptr,
                          request.orbits.empty() ? nullptr : &states, team, err);
        nlohmann::json analyses = nlohmann::json::object();
        std::vector<uint8_t> curvesData;
        Analyse(plan, canvas, classes ? &*classes : nullptr, analyses, out,
                request.curvesData.empty() ? nullptr : &curvesData);
        writeFiles(request, canvas, classes, states, curvesData, seconds,
                   team ? team->processes : 1, analyses);
    } catch (const model::RuntimeError& e) {
        err << "veltrane-render: " << e.what() << "\n";
        return kExitRunTime;
    } catch (const std::bad_alloc&) {
        err << "veltrane-render: out of memory: a picture of " << request.job.pixels << " x "
            << request.job.pixels << " pixels does not fit this machine.\n";
        return kExitRunTime;
    }
    return kExitOk;
}

int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
         const Team* team)
{
    Request request;
    try {
        const CommandLine line = parseCommandLine(args);
        if (line.help) {
            out << HelpText();
            return kExitOk;
        }
        request = mergeSources(line);
    } catch (const UsageError& e) {
        return usageError(err, e.what());
    }
    return Execute(request, err, team, &out);
}

} // namespace render
