// Every line the tool prints. Each is printed as one line and flushed.
#ifndef BLKMERGE_DRIVER_MESSAGES_H_
#define BLKMERGE_DRIVER_MESSAGES_H_

#include <string>
#include <string_view>

#include "driver/job_reader.h"

namespace blkmerge::message {

inline constexpr std::string_view kUsage = "usage:       blkmerge input_ini_file";
inline constexpr std::string_view kSameOutputNames = "Output files cannot have the same name";
// Stands for the console in "Output file OUT is the same file as ...".
inline constexpr std::string_view kStandardOutput = "standard output";

std::string CouldNotOpenInput(std::string_view name);
std::string CouldNotOpenOutput(std::string_view name);
std::string CouldNotWriteOutput(std::string_view name);
std::string InputDamaged(std::string_view name);
std::string SameFile(std::string_view output, std::string_view other);
std::string Processed(std::string_view input, std::string_view alias);
std::string Produced(std::string_view cons_fix_name);

// The message for a job that failed its checks; `job_file` as given on the
// command line. REQUIRES: !problem.ok().
std::string ForJob(const JobProblem& problem, std::string_view job_file);

}  // namespace blkmerge::message

#endif  // BLKMERGE_DRIVER_MESSAGES_H_
