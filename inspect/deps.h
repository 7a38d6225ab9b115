// The rule a build reads to learn what a run of a job reads and writes, in
// the depfile syntax that Make, Ninja and CMake read, as compilers write it.
#ifndef BLKMERGE_INSPECT_DEPS_H_
#define BLKMERGE_INSPECT_DEPS_H_

#include <string>
#include <string_view>

#include "driver/job.h"

namespace blkmerge::inspect {

// A name as a depfile holds it, or why no depfile can.
struct DepfileName {
  std::string text;     // the name escaped
  std::string problem;  // why it cannot be written; empty when it can
};

// Writes `name` so that Make, Ninja and CMake each read it back as it is:
// a blank as "\ " (with any backslashes right before it doubled), '#' as
// "\#", '$' as "$$", ':' as "\:"; other bytes as they are. Some names one
// of them reads otherwise however they are written, and these are refused:
// an empty name; a control byte; '"', '&', '\'', '*', ';', '<', '>', '?',
// '^', '`' and '|', at which Ninja ends a name; '=', which makes Make read
// a variable; a backslash before '#', ':' or '$', or at the end, which the
// readers undo differently; a ':' at the end; a name ending in "(...)",
// which Make reads as an archive member; "[...]", a wildcard to Make; a
// '~' at the start, a home folder to Make and CMake; and in a `target`, a
// '%', which makes the rule a pattern to Make.
DepfileName ForDepfile(std::string_view name, bool target);

// The rule of `job`, read from `job_file`: both outputs as targets, the
// job file and every input as prerequisites, each once, in job order;
// "merged.out cons_fix.out: example.job" and then each input on a line of
// its own, every line but the last ended by " \". Where a name cannot be
// written (see ForDepfile), `problem` says which and why, and `rule` is
// empty.
struct Depfile {
  std::string rule;
  std::string problem;
};
Depfile MakeDepfile(const std::string& job_file, const Job& job);

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_DEPS_H_
