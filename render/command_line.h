// The command line of veltrane-render.
#pragma once

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

// The help: the usage and every row of the option table.
std::string HelpText();

// Sets the engine's threads to what --threads asks for (0: every core),
// capped at this machine's cores, and returns the count set.
int UseThreads(int requested);

} // namespace render
