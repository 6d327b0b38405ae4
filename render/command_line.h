// The command line of veltrane-render.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace plots {
class Canvas;
}

namespace render {

struct Mode;
struct Plan;
struct Request;
class NpyArray;

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;   // the command line or job file cannot be run as given
constexpr int kExitRunTime = 3; // the computation or a file failed; no file was written

// A render shared among several processes (MPI). Main runs on the one process
// that reports and writes the files, and calls render where it would render
// alone: render evaluates and commits the whole picture as Render does, with
// threads as --threads gave it (0: every core of each machine), and throws as
// Render does.
struct Team {
    int processes = 1; // recorded in the job record
    std::function<void(const Plan&, int threads, plots::Canvas&, NpyArray*,
                       const std::function<void(int64_t dotsDone)>&)>
        render;
    bool progressShown = false; // whether the progress line reaches a terminal
};

// Runs one command line (without the program name) and returns the exit
// status. Help goes to out; the progress line and errors go to err. With a
// team, the picture is rendered by the team. The steps: the command line is
// parsed, the job record of --from (if any) is read and the given options
// are merged over it, and Execute does the rest.
int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
         const Team* team = nullptr);

// Runs a request whose sources are merged (from a command line, or from
// Python): checks it once (usage errors, status 2), checks that its files can
// be written, renders, and replaces the files together (status 3 when any of
// this fails). The tables of the analyses (cycles, --stats) go to out when
// given.
int Execute(const Request& request, std::ostream& err, const Team* team = nullptr,
            std::ostream* out = nullptr);

// The steps of Execute that the Python module's save takes as well. Checks
// the request once: its options, the picture's name and a classes file of its
// own (UsageError).
void CheckRequest(const Request& request);
// Whether every file of the request can be written, before anything is
// computed (RuntimeError, file not written).
void CheckFiles(const Request& request);
// The job record of a request rendered in seconds on threads threads by
// processes processes, with what the analyses added (render/analyses.h).
std::vector<uint8_t> RecordBytes(const Request& request, double seconds, int threads,
                                 int processes, const nlohmann::json& analyses);

// A finished render: what its files are made of.
struct Rendered {
    const plots::Canvas* canvas = nullptr;
    const NpyArray* classes = nullptr; // written where the request names a classes file
    std::vector<uint8_t> states;       // --orbits: the .npy file of the raw states
    double seconds = 0;
    int threads = 1, processes = 1;
    const nlohmann::json* analyses = nullptr; // what the analyses add to the record
};

// The one path from a finished render to its files, for the command line and
// for Python: the raw states, the classes, the picture and the job record,
// replaced together (RuntimeError naming the file when one cannot be).
void WriteRender(const Request& request, Rendered& rendered);

// The help: the usage, the modes and the options every mode reads; and for
// a mode (MODE --help), the options it reads beyond those, with its ranges.
std::string HelpText();
std::string HelpText(Mode mode);

// The threads a run uses for what --threads asks for (0: every core): at
// most this machine's cores.
int ThreadsFor(int requested);
// What is said when fewer threads are used than asked for; "" otherwise.
std::string ThreadsNote(int requested, int used);

} // namespace render
