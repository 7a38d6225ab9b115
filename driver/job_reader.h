// Reading and checking the job file.
//
// Places in the job text are given as a line and a column. Lines are
// counted from 1 and each line feed ends one, so CR LF and LF read alike
// (a carriage return is the last byte of its line). Columns are counted in
// bytes from 1, whatever the bytes encode. The end of the text is at the
// byte 0x1A that ends it, or just past the last byte of the file.
#ifndef BLKMERGE_DRIVER_JOB_READER_H_
#define BLKMERGE_DRIVER_JOB_READER_H_

#include <cstdint>
#include <istream>
#include <string>

#include "driver/job.h"

namespace blkmerge {

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

struct TextPosition {
  uint64_t line = 1;
  uint64_t column = 1;
  bool operator==(const TextPosition&) const = default;
};

struct JobProblem {
  JobError error = JobError::kNone;
  std::string name;    // the input name or alias at fault, where there is one
  TextPosition where;  // the offending token, or the end of the text
  std::string detail;  // what was found there, for a person to read

  bool ok() const { return error == JobError::kNone; }
};

// Reads the whole job from `stream` into `job` and checks it, stopping at the
// first problem in the order the file is read. Whitespace is 0x09 to 0x0D
// and 0x20; a byte 0x1A ends the text; a zero byte ends a name. A number
// text may be of any length and is rounded exactly to the nearest float.
// Memory stays bounded whatever the length of the text.
JobProblem ReadJob(std::istream& stream, Job& job);

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_JOB_READER_H_
