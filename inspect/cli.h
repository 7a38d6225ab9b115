// The blkinspect command line.
#ifndef BLKMERGE_INSPECT_CLI_H_
#define BLKMERGE_INSPECT_CLI_H_

namespace blkmerge::inspect {

inline constexpr int kExitAllHold = 0;
inline constexpr int kExitFailed = 1;   // a check failed
inline constexpr int kExitTrouble = 2;  // a usage error, a file that cannot be opened or read

// Runs `blkinspect [--job JOB] [--json] MERGED [CONS_FIX]` (or --help,
// --version) and returns the exit status. The report, the help and the
// version go to standard output; usage errors and files that cannot be
// opened to standard error, before any report.
int Run(int argc, const char* const* argv);

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_CLI_H_
