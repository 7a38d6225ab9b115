// Telling whether two names reach the same file.
#ifndef BLKMERGE_DRIVER_SAME_FILE_H_
#define BLKMERGE_DRIVER_SAME_FILE_H_

#include <optional>
#include <string>

#include "driver/job.h"

namespace blkmerge {

// True when `a` and `b` name the same file: the same device and inode where
// both exist (links followed), otherwise the same normalised absolute path.
bool SameFile(const std::string& a, const std::string& b);

// True when `name` is the regular file open on descriptor `fd`.
bool IsFileOpenOn(const std::string& name, int fd);

// An output name that reaches a file the run must not overwrite.
struct OutputClash {
  std::string output;
  std::string other;     // as written in the job or on the command line
  bool other_is_output;  // the two outputs are one file under two spellings
};

// Finds the first clash, in this order: the outputs with each other; the
// merged name with the job file and then each input in job order; the
// cons_fix name likewise.
std::optional<OutputClash> FindOutputClash(const Job& job, const std::string& job_file);

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_SAME_FILE_H_
