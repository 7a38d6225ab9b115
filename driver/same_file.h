// Telling whether two names reach the same file.
#ifndef BLKMERGE_DRIVER_SAME_FILE_H_
#define BLKMERGE_DRIVER_SAME_FILE_H_

#include <filesystem>
#include <optional>
#include <string>

#include "driver/job.h"
#include "platform/file.h"

namespace blkmerge {

// True when `a` and `b` name the same file: the same file identity where
// both exist (links followed), otherwise the same normalised absolute path
// as the file system compares names (see platform::SamePathName). A name
// that cannot name a file at all is the same as none.
bool SameFile(const std::string& a, const std::string& b);

// Where opening `name` to write would put the file: its normalised
// absolute path, links followed, a link to a file not yet there included.
// Nothing for a name that cannot name a file at all, the empty one too.
std::optional<std::filesystem::path> WherePut(const std::string& name);

// How two names reach one file: the same file identity, where both lead
// to a file, or else the same normalised absolute path (UTF-8).
struct SameFileReason {
  std::optional<platform::FileId> id;
  std::string path;
};

// How `name` reaches the open file `open` (standard output, say), whatever
// kind of file it is: by the same file identity. Nothing when it does not,
// or when both are the null device, which keeps nothing that could mix.
std::optional<SameFileReason> IsOpenFile(const std::string& name, const platform::FileInfo& open);

// An output name that reaches a file the run must not overwrite.
struct OutputClash {
  std::string output;
  std::string other;     // as written in the job or on the command line
  bool other_is_output;  // the two outputs are one file under two spellings
  SameFileReason reason;
};

// Finds the first clash, in this order: the outputs with each other; the
// merged name with the job file and then each input in job order; the
// cons_fix name likewise.
std::optional<OutputClash> FindOutputClash(const Job& job, const std::string& job_file);

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_SAME_FILE_H_
