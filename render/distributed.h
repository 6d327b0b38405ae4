// veltrane-render as one process of an MPI job.
//
// Rank 0 reads the command line exactly as a process alone does (usage errors
// are its alone to print) and, where a process alone would call Render, tells
// every other rank the job and leads the render:
//
// - The picture is cut into tiles of a few whole dot columns, at least
//   32 per rank where the columns allow. Tiles are handed out on demand: each
//   rank holds two, evaluates one while the next waits, and gets a new one for
//   every result it sends back, so a slow rank simply gets fewer tiles.
// - Every rank evaluates its tiles with EvaluateTile, on all its cores. Rank 0
//   evaluates tiles too while the job is small, in slices between which it
//   answers the others.
// - Rank 0 keeps the results that arrive ahead of an earlier tile and commits
//   every tile in column order through the same Committer a process alone
//   uses. Evaluation is pure and the commit order is the drawing order, so the
//   picture, the classes and the colour a count of 17 takes are those of a
//   process alone. Tiles are handed out only a bounded distance beyond the
//   next to commit, which bounds the results rank 0 holds.
// - The first failed dot is found by that commit, in drawing order. Rank 0
//   then tells every rank to abandon its tiles, takes and drops what is still
//   on its way, and reports as a process alone does. Whatever the outcome,
//   every rank ends with rank 0's exit status; only rank 0 writes files, at
//   the very end, whole or not at all.
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
