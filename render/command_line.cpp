#include "render/command_line.h"

#include "model/engine.h"
#include "model/scales.h"
#include "render/job.h"
#include "render/npy.h"
#include "render/output.h"
#include "render/plan.h"
#include "render/progress.h"
#include "render/tiles.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#ifndef VELTRANE_VERSION
#define VELTRANE_VERSION "unknown"
#endif

namespace render {

namespace {

const char* const kUsage =
    "usage: veltrane-render MODE [options] -o OUT.png|OUT.bmp\n"
    "       veltrane-render --from JOB.json [options] -o OUT.png|OUT.bmp\n"
    "MODE: veltrane, fpbas, fixpt, parametric, coexisting or lyapunov; --help lists the options.\n";

constexpr const char* kWeightNames[] = {"w11", "w12", "w21", "w22", "b1", "b2"};

// Everything the command line may say, as typed.
struct Given {
    std::string mode, output, classes, from;
    std::vector<std::string> w, idx, range, x0, pen, region, scale;
    std::array<std::string, 6> weight;
    std::string size, iterations, accuracy, startValues, pixels;
    std::string maxPeriod, plane, lyapunovSteps;
    bool reshuffle = false, fp = false, quiet = false;
    int threads = 0;
};

int wholeNumber(const std::string& option, const std::string& text, int lo, int hi)
{
    const double v = ReadValue(option, text);
    if (v != std::floor(v) || v < lo || v > hi)
        throw UsageError(option + ": \"" + text + "\" is not a whole number in "
                         + std::to_string(lo) + ".." + std::to_string(hi) + ".");
    return static_cast<int>(v);
}

Job loadJob(const std::string& name)
{
    std::ifstream in(name);
    if (!in)
        throw UsageError("the job file \"" + name + "\" cannot be read.");
    try {
        return FromJson(nlohmann::json::parse(in));
    } catch (const nlohmann::json::exception& e) {
        throw UsageError("the job file \"" + name + "\" is not valid JSON (" + e.what() + ").");
    } catch (const UsageError& e) {
        throw UsageError("the job file \"" + name + "\": " + e.what());
    }
}

std::string samePlace(const std::string& name)
{
    std::error_code ec;
    const auto p = std::filesystem::weakly_canonical(std::filesystem::absolute(name), ec);
    return ec ? name : p.string();
}

void writeJobFile(const std::string& name, const Job& job, const std::string& picture,
                  const std::string& classes, double seconds, int processes)
{
    nlohmann::json record;
    ToJson(job, record);
    record["program"] = "veltrane-render";
    record["version"] = VELTRANE_VERSION;
    record["picture"] = picture;
    record["classes"] = classes.empty() ? nlohmann::json(nullptr) : nlohmann::json(classes);
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
    record["threads"] = model::ThreadCount();
    record["processes"] = processes;
    record["elapsed_seconds"] = seconds;
    const std::string text = record.dump(2) + "\n";
    WriteDataFile(name, std::vector<uint8_t>(text.begin(), text.end()));
}

} // namespace

int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
         const Team* team)
{
    Given g;
    CLI::App app{"Renders the plots of the two-neuron network without the window, at any "
                 "resolution, with the classes of every pixel.",
                 "veltrane-render"};
    app.add_option("mode", g.mode, "veltrane, fpbas, fixpt, parametric, coexisting or lyapunov");
    app.add_option("-o,--output", g.output, "the picture: a name ending in .png or .bmp; the "
                                            "job is recorded beside it as .json");
    app.add_option("--classes", g.classes, "also write the class of every pixel as a .npy array");
    app.add_option("--from", g.from, "render the job recorded in a .json file again; options "
                                     "given beside it override it");
    auto* wOpt = app.add_option("--w", g.w, "the six parameters W11 W12 W21 W22 B1 B2 "
                                           "(0.4 1.9 -2.7 -4.311 -0.9 1.8)")
                     ->expected(6);
    std::array<CLI::Option*, 6> weightOpt;
    for (int i = 0; i < 6; ++i)
        weightOpt[i] = app.add_option(std::string("--") + kWeightNames[i], g.weight[i],
                                      std::string("the parameter ") + kWeightNames[i]);
    auto* sizeOpt = app.add_option("--size", g.size, "dot size 1..100 (default 1)");
    auto* iterOpt = app.add_option("--iterations", g.iterations, "iterations 1..32767 (1000)");
    auto* accOpt = app.add_option("--accuracy", g.accuracy, "accuracy 1..14 (8)");
    auto* idxOpt = app.add_option("--idx", g.idx, "parameter-plane axes H V, 0..5 (4 5)")
                       ->expected(2);
    auto* rangeOpt = app.add_option("--range", g.range,
                                    "parameter-plane ranges L R B T (-1 1 -1 1)")
                         ->expected(4);
    auto* x0Opt = app.add_option("--x0", g.x0, "start point of parametric (1 1)")->expected(2);
    auto* startOpt = app.add_option("--start-values", g.startValues,
                                    "start points of coexisting, 1..500 (5)");
    auto* reshuffleOpt = app.add_flag("--reshuffle,!--no-reshuffle", g.reshuffle,
                                      "coexisting: new random start points for every dot");
    auto* fpOpt = app.add_flag("--fp,!--no-fp", g.fp,
                               "coexisting: count distinct fixed points one by one");
    auto* penOpt = app.add_option("--pen", g.pen, "drawing colour of fixpt, R G B 0..255 (0 0 0)")
                       ->expected(3);
    auto* pixelsOpt = app.add_option("--pixels", g.pixels, "picture size N x N, 2..32767 (800)");
    auto* regionOpt = app.add_option("--region", g.region,
                                     "state-plane part shown X0 X1 Y0 Y1 (-1 1 -1 1)")
                          ->expected(4);
    auto* maxPeriodOpt = app.add_option("--max-period", g.maxPeriod,
                                        "veltrane, parametric: longest period sought, "
                                        "16..4096 (16, the window's)");
    auto* planeOpt = app.add_option("--plane", g.plane,
                                    "lyapunov: state (the start points of veltrane) or "
                                    "parameter (the plane of parametric) (state)");
    auto* stepsOpt = app.add_option("--lyapunov-steps", g.lyapunovSteps,
                                    "lyapunov: steps measured after the iterations (1000)");
    auto* scaleOpt = app.add_option("--scale", g.scale,
                                    "lyapunov: colour limits LO HI, blue to white at 0 to red "
                                    "(-1 0.5)")
                         ->expected(2);
    app.add_option("--threads", g.threads, "threads to use (default: every core)")
        ->check(CLI::Range(1, 4096));
    app.add_flag("-q,--quiet", g.quiet, "no progress line");

    std::vector<std::string> argvText{"veltrane-render"};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText)
        argv.push_back(a.data());

    auto usage = [&](const std::string& message) {
        err << "veltrane-render: " << message << "\n" << kUsage;
        return kExitUsage;
    };

    Job job;
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::Success&) {
        out << app.help();
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        return usage(e.what());
    }

    try {
        if (!g.from.empty())
            job = loadJob(g.from);
        else if (g.mode.empty())
            throw UsageError("no mode given.");
        else
            job = DefaultJob();
        if (!g.mode.empty())
            job.mode = ModeOf(g.mode);

        auto given = [](const CLI::Option* o) { return o->count() > 0; };
        if (given(wOpt))
            for (int i = 0; i < 6; ++i)
                job.w[i] = ReadValue("--w", g.w[i]);
        for (int i = 0; i < 6; ++i)
            if (given(weightOpt[i]))
                job.w[i] = ReadValue(std::string("--") + kWeightNames[i], g.weight[i]);
        if (given(sizeOpt))
            job.size = ReadSetting("--size", g.size, 1, 100);
        if (given(iterOpt))
            job.iterations = ReadSetting("--iterations", g.iterations, 1, 32767);
        if (given(accOpt))
            job.accuracy = ReadSetting("--accuracy", g.accuracy, 1, 14);
        if (given(idxOpt))
            for (int i = 0; i < 2; ++i)
                job.idx[i] = ReadRounded("--idx", g.idx[i], 0, 5);
        if (given(rangeOpt))
            for (int i = 0; i < 4; ++i)
                job.range[i] = ReadValue("--range", g.range[i]);
        if (given(x0Opt))
            for (int i = 0; i < 2; ++i)
                job.x0[i] = ReadValue("--x0", g.x0[i]);
        if (given(startOpt))
            job.startValues = ReadRounded("--start-values", g.startValues, 1, 500);
        if (given(reshuffleOpt))
            job.reshuffle = g.reshuffle;
        if (given(fpOpt))
            job.fp = g.fp;
        if (given(penOpt))
            for (int i = 0; i < 3; ++i)
                job.pen[i] = ReadRounded("--pen", g.pen[i], 0, 255);
        if (given(pixelsOpt))
            job.pixels = wholeNumber("--pixels", g.pixels, 2, kMaxPixels);
        if (given(regionOpt))
            for (int i = 0; i < 4; ++i)
                job.region[i] = ReadValue("--region", g.region[i]);
        if (given(maxPeriodOpt))
            job.maxPeriod = wholeNumber("--max-period", g.maxPeriod, 16, 4096);
        if (given(planeOpt))
            job.parameterPlane = PlaneOf(g.plane);
        if (given(stepsOpt))
            job.lyapunovSteps = wholeNumber("--lyapunov-steps", g.lyapunovSteps, 1,
                                            kMaxLyapunovSteps);
        if (given(scaleOpt))
            for (int i = 0; i < 2; ++i)
                job.scale[i] = ReadValue("--scale", g.scale[i]);
        Validate(job);

        if (g.output.empty())
            throw UsageError("no picture named: give -o OUT.png or -o OUT.bmp.");
        FormatOf(g.output);
        const std::string record = JobFileName(g.output);
        if (!g.classes.empty()
            && (samePlace(g.classes) == samePlace(g.output)
                || samePlace(g.classes) == samePlace(record)))
            throw UsageError("--classes must name a file of its own, not the picture or "
                             "its job record \"" + record + "\".");
    } catch (const UsageError& e) {
        return usage(e.what());
    }

    model::SetThreadCount(g.threads);
    const std::string record = JobFileName(g.output);
    try {
        CheckWritable(g.output);
        CheckWritable(record);
        if (!g.classes.empty())
            CheckWritable(g.classes);

        const Plan plan = MakePlan(job);
        plots::Canvas canvas(plan.pixels, plan.pixels);
        std::optional<NpyArray> classes;
        if (!g.classes.empty())
            classes.emplace(plan.traits->classType, plan.pixels, plan.pixels);

        const auto start = std::chrono::steady_clock::now();
        {
            Progress progress(plan.dots(), team ? !g.quiet && team->progressShown
                                                : ProgressWanted(g.quiet));
            auto update = [&](int64_t done) { progress.update(done); };
            if (team)
                team->render(plan, g.threads, canvas, classes ? &*classes : nullptr, update);
            else
                Render(plan, canvas, classes ? &*classes : nullptr, update);
            progress.finish();
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        if (classes) {
            WriteDataFile(g.classes, classes->bytes());
            classes.reset();
        }
        WritePicture(g.output, canvas);
        writeJobFile(record, job, g.output, g.classes, seconds, team ? team->processes : 1);
    } catch (const model::RuntimeError& e) {
        err << "veltrane-render: " << e.what() << "\n";
        return kExitRunTime;
    } catch (const std::bad_alloc&) {
        err << "veltrane-render: out of memory: a picture of " << job.pixels << " x "
            << job.pixels << " pixels does not fit this machine.\n";
        return kExitRunTime;
    }
    return kExitOk;
}

} // namespace render
