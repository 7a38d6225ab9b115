// Reading and checking the job file.
#ifndef BLKMERGE_DRIVER_JOB_READER_H_
#define BLKMERGE_DRIVER_JOB_READER_H_

#include <istream>
#include <string>

#include "driver/job.h"

namespace blkmerge {

// Number texts up to this length are read; longer ones are refused.
inline constexpr size_t kMaxNumberText = 4096;

enum class JobError {
  kNone,
  kNoOutputNames,    // the text ends before both output names
  kSameOutputNames,  // the two output names are spelled alike
  kNoNumbers,        // a number is missing or malformed
  kNameTooLong,      // a name over kMaxNameLength bytes
  kInputIsOutput,    // an input name spelled like an output name
  kTooManyPairs,     // a complete pair past kMaxPairs
  kAliasTooLong,     // an alias that overruns its cons_fix field
};

struct JobProblem {
  JobError error = JobError::kNone;
  std::string name;  // the input name or alias at fault, where there is one

  bool ok() const { return error == JobError::kNone; }
};

// Reads the whole job from `stream` into `job` and checks it, stopping at the
// first problem in the order the file is read. Whitespace is 0x09 to 0x0D
// and 0x20; a byte 0x1A ends the text; a zero byte ends a name. Memory
// stays bounded whatever the length of the text.
JobProblem ReadJob(std::istream& stream, Job& job);

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_JOB_READER_H_
