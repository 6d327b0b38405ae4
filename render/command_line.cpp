#include "render/command_line.h"

#include "model/engine.h"
#include "render/analyses.h"
#include "render/job.h"
#include "render/npy.h"
#include "render/options.h"
#include "render/orbit.h"
#include "render/output.h"
#include "plots/files.h"
#include "render/plan.h"
#include "render/progress.h"
#include "render/record.h"
#include "render/tiles.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>

#include <unistd.h>

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

// The usage error of an option given the wrong number of values, or more
// than once.
UsageError miscounted(const Option& o)
{
    if (o.kind == ValueKind::Flag)
        return UsageError(Flagged(o) + " takes no value.");
    if (o.arity == 1)
        return UsageError(Flagged(o) + " takes one " + Metavariable(o) + ", given once.");
    return UsageError(Flagged(o) + " takes " + std::to_string(o.arity) + " numbers ("
                      + std::string(o.valueNames) + "), given once.");
}

// The option of args, if any, that the parser refused for its count: given
// twice, with too few values, or a flag with a value. The parser's own
// message is not read.
const Option* miscountedOption(const std::vector<std::string>& args)
{
    const std::vector<std::string> names = optionNames();
    auto optionOf = [](const std::string& text) -> const Option* {
        const std::string name = text.substr(0, text.find('='));
        for (const Option& o : Options()) {
            if (name == Flagged(o) || (o.shortName && name == std::string("-") + o.shortName)
                || (o.kind == ValueKind::Flag && name == "--no-" + std::string(o.name)))
                return &o;
        }
        return nullptr;
    };
    std::vector<int> seen(Options().size(), 0);
    for (size_t i = 0; i < args.size(); ++i) {
        const Option* o = optionOf(args[i]);
        if (!o)
            continue;
        if (++seen[IndexOf(*o)] > 1)
            return o;
        const bool inline_ = args[i].find('=') != std::string::npos;
        if (o->kind == ValueKind::Flag) {
            if (inline_)
                return o;
            continue;
        }
        size_t values = inline_ ? 1 : 0;
        while (values < static_cast<size_t>(o->arity) && i + 1 < args.size()
               && std::find(names.begin(), names.end(),
                            args[i + 1].substr(0, args[i + 1].find('=')))
                      == names.end()) {
            ++i;
            ++values;
        }
        if (values < static_cast<size_t>(o->arity))
            return o;
    }
    return nullptr;
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
    } catch (const CLI::ParseError&) {
        if (const Option* o = miscountedOption(args))
            throw miscounted(*o);
        throw UsageError("the command line cannot be read as given.");
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
                throw miscounted(o);
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
        MergeJson(merged, ReadRecordFile(given.from));
    } catch (const UsageError& e) {
        if (!e.fields().record.empty())
            throw;
        model::Error::Fields f = e.fields();
        f.record = given.from;
        throw UsageError(std::move(f));
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
    // A mode that may write its record alone (--json) needs no picture.
    const bool recordAlone = Reads(request.job.mode, *FindOption("json"));
    if (request.output.empty() && !(recordAlone && !request.json.empty()))
        throw UsageError(recordAlone ? "nothing to write: give -o OUT.png or --json OUT.json."
                                     : "no picture named: give -o OUT.png or -o OUT.bmp.");
    if (!request.output.empty())
        FormatOf(request.output);
    auto sameFile = [](const std::string& a, const std::string& b) {
        return !a.empty() && !b.empty() && samePlace(a) == samePlace(b);
    };
    if (sameFile(request.json, request.output) || sameFile(request.json, request.classes))
        throw UsageError("--json: " + model::QuotedPath(request.json)
                         + " is another file of the run; the record needs a file of its own.");
    // A further file of the run may be none of the picture, its record and
    // the classes.
    auto ownFile = [&](const std::string& path, const char* option, const char* what) {
        if (sameFile(path, request.output) || sameFile(path, JobFileName(request.output))
            || sameFile(path, request.classes))
            throw UsageError(std::string(option) + ": " + model::QuotedPath(path)
                             + " is another file of the run; " + what
                             + " need a file of their own.");
    };
    if (!request.orbits.empty()) {
        CheckOrbitStatesSize(request.job);
        ownFile(request.orbits, "--orbits", "the states");
    }
    if (!request.curvesData.empty()) {
        if (!request.job.curves)
            throw UsageError("--curves-data: the curve points are written with --curves only.");
        ownFile(request.curvesData, "--curves-data", "the curve points");
    }
    if (request.classes.empty() || request.output.empty())
        return;
    const std::string classes = samePlace(request.classes);
    if (classes == samePlace(request.output))
        throw UsageError("--classes: " + model::QuotedPath(request.classes)
                         + " is the picture; the classes need a file of their own.");
    if (classes == samePlace(JobFileName(request.output)))
        throw UsageError("--classes: " + model::QuotedPath(request.classes)
                         + " is the picture's job record; the classes need a file of their "
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

// Renders the picture (and the classes) and returns the seconds it took. A
// mode rendered whole adds its part of the record to analyses.
double renderPicture(const Request& request, const Plan& plan, plots::Canvas& canvas,
                     NpyArray* classes, const Team* team, nlohmann::json& analyses)
{
    const auto start = std::chrono::steady_clock::now();
    {
        Progress progress(plan.dots(), team ? !request.quiet && team->progressShown
                                            : ProgressWanted(request.quiet));
        auto update = [&](int64_t done) { progress.update(done); };
        // A plan whose columns follow one another, or that writes raw
        // states, is rendered here alone.
        if (plan.row->whole)
            plan.row->whole(plan, canvas, classes, analyses, update);
        else if (team && !plan.alone())
            team->render(plan, request.threads, canvas, classes, update);
        else
            Render(plan, canvas, classes, update);
        progress.finish();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

std::vector<uint8_t> RecordBytes(const Request& request, double seconds, int threads,
                                 int processes, const nlohmann::json& analyses)
{
    const Job& job = request.job;
    nlohmann::json record;
    ToJson(job, record);
    record["program"] = "veltrane-render";
    record["version"] = VELTRANE_VERSION;
    record["picture"] =
        request.output.empty() ? nlohmann::json(nullptr) : PathToJson(request.output);
    record["classes"] =
        request.classes.empty() ? nlohmann::json(nullptr) : PathToJson(request.classes);
    if (const ModeRow& row = RowOf(job.mode); row.record)
        row.record(job, record);
    if (!request.orbits.empty())
        record["orbits"] = PathToJson(request.orbits);
    if (!request.curvesData.empty())
        record["curves_data"] = PathToJson(request.curvesData);
    record.update(analyses);
    record["threads"] = threads;
    record["processes"] = processes;
    record["elapsed_seconds"] = seconds;
    const std::string text = record.dump(2) + "\n";
    return std::vector<uint8_t>(text.begin(), text.end());
}

void WriteRender(const Request& request, Rendered& rendered)
{
    const auto step = [&] {
        if (rendered.between)
            rendered.between();
    };
    step();
    std::vector<uint8_t> picture;
    if (!request.output.empty())
        picture = EncodePicture(request.output, *rendered.canvas);
    const std::vector<uint8_t> record =
        RecordBytes(request, rendered.seconds, rendered.threads, rendered.processes,
                    rendered.analyses ? *rendered.analyses : nlohmann::json::object());
    FileSet files(rendered.signals);
    step();
    if (!request.curvesData.empty()) {
        files.add(request.curvesData, rendered.curvesData);
        step();
    }
    if (!request.orbits.empty()) {
        files.add(request.orbits, rendered.states);
        std::vector<uint8_t>().swap(rendered.states);
        step();
    }
    if (rendered.classes && !request.classes.empty()) {
        files.add(request.classes, rendered.classes->bytes());
        step();
    }
    if (!request.output.empty()) {
        files.add(request.output, picture, true);
        std::vector<uint8_t>().swap(picture);
        step();
    }
    files.add(recordName(request), record);
    step();
    files.commit();
    step();
}

int ThreadsFor(int requested)
{
    const int cores = model::Cores();
    return requested > 0 ? std::min(requested, cores) : cores;
}

std::string ThreadsNote(int requested, int used)
{
    if (used >= requested)
        return "";
    return "--threads " + std::to_string(requested) + " is more than the " + std::to_string(used)
           + " cores of this machine; " + std::to_string(used) + " are used.";
}

namespace {

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

std::string tableText(const std::vector<OptionLine>& lines)
{
    std::string text;
    for (const OptionLine& line : lines)
        text += helpLine(line.names, line.help + (line.range.empty() ? "" : ", " + line.range)
                                         + (line.defaultText.empty()
                                                ? ""
                                                : " (default " + line.defaultText + ")"));
    return text;
}

} // namespace

std::string HelpText()
{
    return std::string(kAbout) + kUsage + "MODE: " + ModeNames() + "\n\nCommon options:\n"
           + helpLine("-h, --help", "print this help and exit") + tableText(OptionTable(nullptr))
           + "\nveltrane-render MODE --help lists the options of MODE, with their ranges and "
             "defaults.\n";
}

std::string HelpText(Mode mode)
{
    return "Options of veltrane-render " + std::string(ModeName(mode))
           + ", besides the common ones of veltrane-render --help:\n"
           + tableText(OptionTable(&mode));
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
        Plan plan = MakePlan(request.job);
        Rendered rendered;
        if (!request.orbits.empty())
            rendered.states = OrbitStatesFile(plan);
        plots::Canvas canvas(plan.pixels, plan.pixels);
        std::optional<NpyArray> classes;
        // The statistics and the cycles read the classes, written or not.
        if (!request.classes.empty() || KeepsClasses(request.job))
            classes.emplace(plan.row->classType, plan.pixels, plan.pixels);
        rendered.threads = ThreadsFor(request.threads);
        if (const std::string note = ThreadsNote(request.threads, rendered.threads); !note.empty())
            err << "veltrane-render: " << note << "\n";
        nlohmann::json analyses = nlohmann::json::object();
        // The tables wait until the files are in place: a reader that stops
        // early, or a full disc under them, cannot cost the run its files.
        std::ostringstream tables;
        model::RunThreads threads(rendered.threads);
        threads.run([&] {
            rendered.seconds =
                renderPicture(request, plan, canvas, classes ? &*classes : nullptr, team,
                              analyses);
            Analyse(plan, canvas, classes ? &*classes : nullptr, analyses,
                    out ? &tables : nullptr,
                    request.curvesData.empty() ? nullptr : &rendered.curvesData);
        });
        rendered.canvas = &canvas;
        rendered.classes = classes ? &*classes : nullptr;
        rendered.processes = team ? team->processes : 1;
        rendered.analyses = &analyses;
        if (team && team->beforeCommit)
            team->beforeCommit();
        WriteRender(request, rendered);
        if (out && !WriteOut(*out, tables.str())) {
            err << "veltrane-render: the files are written, but the table could not be "
                   "written to the standard output: "
                << model::FileReason(errno) << ".\n";
            return kExitRunTime;
        }
    } catch (const UsageError& e) {
        // A mode's own checks of the whole job, made as its plan is prepared.
        return usageError(err, e.what());
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

bool WriteOut(std::ostream& out, const std::string& text)
{
    if (&out != &std::cout) {
        out << text;
        return true;
    }
    // The standard output itself, unbuffered, so that its failure is known.
    std::cout.flush();
    const int error = plots::WriteAll(STDOUT_FILENO, text.data(), text.size());
    // A reader that has gone wants no more; that is no failure of the run.
    if (error == 0 || error == EPIPE)
        return true;
    errno = error;
    return false;
}

Request ParseRequest(const std::vector<std::string>& args, bool* help)
{
    const CommandLine line = parseCommandLine(args);
    *help = line.help;
    return line.help ? Request() : mergeSources(line);
}

int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
         const Team* team)
{
    Request request;
    try {
        const CommandLine line = parseCommandLine(args);
        if (line.help) {
            if (!WriteOut(out, line.mode.empty() ? HelpText() : HelpText(ModeOf(line.mode)))) {
                err << "veltrane-render: the help could not be written to the standard output: "
                    << model::FileReason(errno) << ".\n";
                return kExitRunTime;
            }
            return kExitOk;
        }
        request = mergeSources(line);
    } catch (const UsageError& e) {
        return usageError(err, e.what());
    }
    try {
        return Execute(request, err, team, &out);
    } catch (const model::Cancelled&) {
        throw;
    } catch (const std::exception& e) {
        // Nothing a library throws ends the program unreported; the file
        // set has removed its temporary files on the way here.
        err << "veltrane-render: an unexpected error: " << model::Quoted(e.what()) << ".\n";
        return kExitRunTime;
    }
}

} // namespace render
