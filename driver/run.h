#ifndef BLKMERGE_DRIVER_RUN_H_
#define BLKMERGE_DRIVER_RUN_H_

namespace blkmerge {

// Exit statuses of a run.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Carries out one run of the tool for the command line `argv` and returns
// its exit status. The only place that prints.
int Run(int argc, const char* const* argv);

// What a run that ran out of memory before Run prints; returns its exit
// status.
int FailForMemory();

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_RUN_H_
