// The blkinspect command line.
#ifndef BLKMERGE_INSPECT_CLI_H_
#define BLKMERGE_INSPECT_CLI_H_

namespace blkmerge::inspect {

inline constexpr int kExitAllHold = 0;
inline constexpr int kExitFailed = 1;  // a check failed, or a file could not be read
inline constexpr int kExitUsage = 2;

// Runs `blkinspect [--job JOB] [--json] MERGED [CONS_FIX]` and returns the
// exit status. The report goes to standard output, usage and open errors
// to standard error.
int Run(int argc, const char* const* argv);

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_CLI_H_
