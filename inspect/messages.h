// Every text blkinspect prints, in one place.
#ifndef BLKMERGE_INSPECT_MESSAGES_H_
#define BLKMERGE_INSPECT_MESSAGES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "inspect/report.h"

namespace blkmerge::inspect::message {

inline constexpr std::string_view kUsage =
    "usage: blkinspect [--job JOB] [--json] MERGED [CONS_FIX]";

std::string CouldNotOpen(std::string_view name);
std::string NotARegularFile(std::string_view name);
std::string BadJob(std::string_view job_file, std::string_view problem);

// A name between double quotes; backslash, the quote, control bytes and
// 0x7F are written as \\, \" and \xNN, other bytes as they are.
std::string Quote(std::string_view name);

// The shortest text that reads back as the same float.
std::string Float(float value);

// Where a finding is and what is wrong there, without the file name:
// "block 1 (offset 212), block offset 44 (file offset 256): ...".
std::string Describe(const Finding& finding);

// A short name of the check, for scripts.
std::string_view CheckName(Check check);

// The listing lines.
std::string BlockLine(const BlockReport& block);
std::string RecordLine(const RecordReport& record);
std::string Summary(uint64_t blocks, bool with_cons_fix, uint64_t records, uint64_t failures);

}  // namespace blkmerge::inspect::message

#endif  // BLKMERGE_INSPECT_MESSAGES_H_
