// The lines blkmerge prints on standard output: what callers' scripts read,
// byte for byte. Each is printed as one line and flushed.
#ifndef BLKMERGE_DRIVER_MESSAGES_H_
#define BLKMERGE_DRIVER_MESSAGES_H_

#include <string>
#include <string_view>

namespace blkmerge::message {

inline constexpr std::string_view kUsage = "usage:       blkmerge input_ini_file";
inline constexpr std::string_view kSameOutputNames = "Output files cannot have the same name";
inline constexpr std::string_view kNotEnoughMemory = "Not enough memory";
// Stand for the console in "Output file OUT is the same file as ...".
inline constexpr std::string_view kStandardOutput = "standard output";
inline constexpr std::string_view kStandardError = "standard error";

// The job file's own failures; `job_file` as given on the command line.
std::string NoOutputNames(std::string_view job_file);
std::string NoNumbers(std::string_view job_file);
std::string NameTooLong(std::string_view job_file);
std::string TooManyPairs(std::string_view job_file);
std::string InputIsOutput(std::string_view input);
std::string AliasTooLong(std::string_view alias);

std::string CouldNotOpenInput(std::string_view name);
std::string CouldNotReadInput(std::string_view name);
std::string CouldNotOpenOutput(std::string_view name);
std::string CouldNotWriteOutput(std::string_view name);
std::string InputDamaged(std::string_view name);
std::string SameFile(std::string_view output, std::string_view other);

std::string Processed(std::string_view input, std::string_view alias);
std::string Produced(std::string_view cons_fix_name);

// What `blkmerge --help` prints, the usage line first, and what
// `blkmerge --version` prints ("blkmerge VERSION"); each ends in a line end.
std::string Help();
std::string Version();

}  // namespace blkmerge::message

#endif  // BLKMERGE_DRIVER_MESSAGES_H_
