// veltrane-render: one picture per command line, without the window; under an
// MPI launcher, one picture shared among all the ranks of the job.
#include "render/command_line.h"
#include "render/introspection.h"
#ifdef VELTRANE_MPI
#include "render/distributed.h"
#endif

#include "model/errors.h"
#include "plots/files.h"

#include <iostream>

#ifndef VELTRANE_VERSION
#define VELTRANE_VERSION "unknown"
#endif

namespace {

int run(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    // The version alone, before anything else: the man page and the package
    // read it from here.
    if (args == std::vector<std::string>{"--version"}) {
        std::cout << "veltrane-render " VELTRANE_VERSION "\n";
        return 0;
    }
    // The option table for the packaging and the manual; not in the help.
    if (args == std::vector<std::string>{"--options-json"}) {
        std::cout << render::OptionsJson();
        return 0;
    }
    if (args == std::vector<std::string>{"--completion", "bash"}) {
        std::cout << render::BashCompletion();
        return 0;
    }
#ifdef VELTRANE_MPI
    if (render::LaunchedByMpi())
        return render::RunAsRank(argc, argv, args);
#endif
    return render::Main(args, std::cout, std::cerr);
}

} // namespace

int main(int argc, char** argv)
{
    // Every signal that ends the process removes the temporary files first,
    // from the first moment to the last.
    const plots::SignalCleanup cleanup;
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "veltrane-render: an unexpected error: " << model::Quoted(e.what()) << ".\n";
    } catch (...) {
        std::cerr << "veltrane-render: an unexpected error.\n";
    }
    return 3;
}
