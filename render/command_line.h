// The command line of veltrane-render.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace render {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;   // the command line or job file cannot be run as given
constexpr int kExitRunTime = 3; // the computation or a file failed; no file was written

// Runs one command line (without the program name) and returns the exit
// status. Help goes to out; the progress line and errors go to err.
int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace render
