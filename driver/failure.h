// How a run fails: the line on standard output that scripts read, a line
// on standard error for a person, and a kind that callers switch on. Every
// check of a run returns one, built where the problem is found; and the
// pieces that standard error's lines are built from.
#ifndef BLKMERGE_DRIVER_FAILURE_H_
#define BLKMERGE_DRIVER_FAILURE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/job.h"
#include "platform/file.h"

namespace blkmerge {

enum class FailureKind : uint8_t {
  kNone,
  kUsage,            // not exactly one argument
  kJobUnopened,      // the job file cannot be opened, or cannot be read to an end
  kJobUnread,        // a read of the job file failed before its end
  kNoOutputNames,    // the text ends before both output names
  kSameOutputNames,  // the outputs are spelled alike, or reach one file
  kNoNumbers,        // a number is missing or malformed
  kNameTooLong,      // a name over kMaxNameLength bytes
  kInputIsOutput,    // an input name spelled like an output name
  kTooManyPairs,     // a complete pair past kMaxPairs
  kAliasTooLong,     // an alias that overruns its cons_fix field
  kSameFile,         // an output reaches the job file, an input or standard output
  kNoMemory,
  kOutputUnopened,
  kInputUnopened,
  kInputDamaged,
  kInputUnread,
  kOutputUnwritten,
};

struct Failure {
  FailureKind kind = FailureKind::kNone;
  std::string message;  // the line on standard output
  std::string detail;   // the line on standard error after the tool's prefix, or empty

  // True for a failure; a default Failure is none.
  explicit operator bool() const { return kind != FailureKind::kNone; }
};

// What precedes each line blkmerge writes to standard error.
inline constexpr std::string_view kPrefix = "blkmerge: ";

// A text between double quotes: the quote and the backslash get a
// backslash before them, control bytes and 0x7F are written as the printf
// format `escape` writes them (\xNN by default), other bytes as they are.
std::string Quote(std::string_view text, const char* escape = "\\x%02X");

// A name, or any text from outside, as a line of standard error shows it:
// as it is, unless it is empty, starts with a double quote or holds a
// control byte (0x00 to 0x1F, 0x7F); then quoted as Quote quotes it. An
// ordinary name reads as it always did, and none can reach the terminal as
// a control sequence or split its line.
std::string Printable(std::string_view text);

// "JOB:LINE:COLUMN: ", where a detail about a place in the job starts.
std::string Place(std::string_view job_file, TextPosition where);

// "JOB:LINE:COLUMN: warning: TEXT": something in the job that is probably
// not what its writer meant, though the run goes on as it always did.
std::string Warning(std::string_view job_file, TextPosition where, std::string_view text);

// "NAME: " and what the platform says of `error` (see platform::Describe).
std::string FileDetail(std::string_view name, const platform::FileError& error,
                       platform::FileKind kind = platform::FileKind::kRegular);

// The failure of an input that cannot be opened (`file` tells why), or
// that the rewrite refuses (`problem`): damaged, or unreadable. The detail
// starts at the place of the input's name in the job file `job_file`.
Failure InputUnopened(std::string_view job_file, const Pair& pair, const platform::File& file);
Failure InputRefused(std::string_view job_file, const Pair& pair, const InputProblem& problem);

// The warning for the input of `pair`, rewritten though it is not well
// formed: `how` says which relation fails (BlockLayout::Malformation).
std::string InputWarning(std::string_view job_file, const Pair& pair, std::string_view how);

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_FAILURE_H_
