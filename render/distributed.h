// veltrane-render as one process of an MPI job.
//
// Rank 0 reads the command line, as a process alone does, and hands the
// picture out in tiles of whole dot columns; every rank evaluates the tiles it
// is given on all its cores and sends the results back; rank 0 commits them in
// drawing order and writes the files. See RENDER.md, "Under MPI".
#pragma once

#include <string>
#include <vector>

namespace render {

// Whether an MPI launcher (mpirun, mpiexec, srun) started this process. A
// process started by hand never initialises MPI, which would cost it a
// noticeable start-up for nothing.
bool LaunchedByMpi();

// Runs the command line as one rank of the job and returns the exit status,
// the same on every rank: rank 0's.
int RunAsRank(int& argc, char**& argv, const std::vector<std::string>& args);

} // namespace render
