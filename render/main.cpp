// veltrane-render: one picture per command line, without the window; under an
// MPI launcher, one picture shared among all the ranks of the job.
#include "render/command_line.h"
#ifdef VELTRANE_MPI
#include "render/distributed.h"
#endif

#include <iostream>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
#ifdef VELTRANE_MPI
    if (render::LaunchedByMpi())
        return render::RunAsRank(argc, argv, args);
#endif
    return render::Main(args, std::cout, std::cerr);
}
