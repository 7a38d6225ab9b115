// Every line the tool prints. Each is printed as one line and flushed.
#ifndef BLKMERGE_DRIVER_MESSAGES_H_
#define BLKMERGE_DRIVER_MESSAGES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "driver/job.h"
#include "driver/job_reader.h"
#include "driver/same_file.h"
#include "merge/block.h"
#include "platform/file.h"

namespace blkmerge::message {

inline constexpr std::string_view kUsage = "usage:       blkmerge input_ini_file";
inline constexpr std::string_view kSameOutputNames = "Output files cannot have the same name";
// Stands for the console in "Output file OUT is the same file as ...".
inline constexpr std::string_view kStandardOutput = "standard output";
inline constexpr std::string_view kNotEnoughMemory = "Not enough memory";

std::string CouldNotOpenInput(std::string_view name);
std::string CouldNotReadInput(std::string_view name);
std::string CouldNotOpenOutput(std::string_view name);
std::string CouldNotWriteOutput(std::string_view name);
std::string InputDamaged(std::string_view name);
std::string SameFile(std::string_view output, std::string_view other);
std::string Processed(std::string_view input, std::string_view alias);
std::string Produced(std::string_view cons_fix_name);

// The message for a job that failed its checks; `job_file` as given on the
// command line. REQUIRES: !problem.ok().
std::string ForJob(const JobProblem& problem, std::string_view job_file);

// Standard error carries one more line for a person where the standard
// output line cannot say enough; scripts read standard output only. The
// functions below give that line after the tool's own prefix.
inline constexpr std::string_view kPrefix = "blkmerge: ";

// "JOB:LINE:COLUMN: " and the problem's detail. One line: the detail
// quotes every control byte. REQUIRES: !problem.ok().
std::string JobDiagnostic(const JobProblem& problem, std::string_view job_file);

// What the system or the platform layer said about a file, in words:
// "No such file or directory", "a directory, not a regular file". `kind`
// is what was found, where anything was.
std::string Reason(const platform::FileError& error, platform::FileKind kind);
// "NAME: " and the reason.
std::string FileDetail(std::string_view name, const platform::FileError& error,
                       platform::FileKind kind = platform::FileKind::kRegular);
// "NAME: reading at offset N: " and the reason.
std::string ReadDetail(std::string_view name, uint64_t offset, const platform::FileError& error);
// "NAME: " and which part of the input falls outside it, ended early or
// could not be read.
std::string InputDetail(std::string_view name, const InputProblem& problem);
// "expected one argument, the job file, but got N".
std::string ArgumentCount(int arguments);
// What a run short of memory could not allocate.
namespace memory {
inline constexpr std::string_view kSinkBuffer = "the merged file's write buffer";
inline constexpr std::string_view kWholeBuffer = "the buffer that small inputs are read into";
inline constexpr std::string_view kRecordsAndLines = "the cons_fix records and the console lines";
inline constexpr std::string_view kBeforeOutputs =
    "could not allocate memory while reading the job; no output was touched";
inline constexpr std::string_view kWhileWriting =
    "could not allocate memory while writing the outputs";
}  // namespace memory
// "could not allocate N bytes for WHAT; no output was touched", or without
// the count where `bytes` is 0.
std::string NoMemoryFor(std::string_view what, uint64_t bytes = 0);

// "A and B reach one file (the same file identity: volume V, index I)", or
// "(the same path P)".
std::string SameFileDetail(std::string_view a, std::string_view b, const SameFileReason& reason);

// A text between double quotes: the quote and the backslash get a
// backslash before them, control bytes and 0x7F are written as the printf
// format `escape` writes them (\xNN by default), other bytes as they are.
std::string Quote(std::string_view text, const char* escape = "\\x%02X");

// The details of job problems, built by the reader where it finds them.
namespace job {

// How many bytes of a long token a detail shows.
inline constexpr size_t kShownBytes = 40;

// A name of the job; the names of a pair also give the pair's number,
// counted from 1.
enum class Role { kMergedName, kConsFixName, kInputName, kAlias };

// A token of `length` bytes shown by its first bytes `start`: quoted, with
// "..." after it when the token is longer.
std::string Token(std::string_view start, uint64_t length);
// The end of the text: a byte 0x1A, or the end of the file.
std::string EndOfText(bool at_text_end_byte);

std::string NoOutputName(Role role, std::string_view found);
std::string SameOutputNames(std::string_view name);
// Number `number` (1 to 4) was expected where `found` stands. `before` is
// the part of that token the number before took, empty when it starts a
// token.
std::string NotANumber(size_t number, std::string_view found, std::string_view before);
std::string NameTooLong(Role role, size_t pair, std::string_view start, uint64_t length);
std::string InputIsOutput(size_t pair, std::string_view input, Role output);
std::string TooManyPairs(size_t pair, const Pair& names);
std::string AliasTooLong(size_t pair, std::string_view alias, size_t field);

}  // namespace job

}  // namespace blkmerge::message

#endif  // BLKMERGE_DRIVER_MESSAGES_H_
