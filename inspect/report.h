// What blkinspect finds in the two outputs: one entry per block and per
// cons_fix record, and every failed check with the place it failed at.
#ifndef BLKMERGE_INSPECT_REPORT_H_
#define BLKMERGE_INSPECT_REPORT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/job.h"

namespace blkmerge::inspect {

// Findings listed for one block or record, and for the blocks or records
// of one file together; the rest are counted. A hostile file gets a short
// report.
inline constexpr size_t kMaxItemFindings = 16;
inline constexpr size_t kMaxListedFindings = 200;

// A failed check, built where it failed.
struct Finding {
  int64_t index = -1;          // the block or record, or -1 for the file as a whole
  uint64_t start = 0;          // the file offset of that block or record, or of the finding
  std::string_view check;      // a short name for scripts
  std::string text;            // what is wrong, in words
  std::optional<uint64_t> at;  // the offset inside the block or record, where there is one

  uint64_t Offset() const { return start + at.value_or(0); }
};

struct BlockReport {
  uint64_t index = 0;
  uint64_t offset = 0;  // the file offset of its first byte
  uint64_t length = 0;
  uint32_t hash = 0;  // the hash the block holds (see WalkMerged)
  // Entries in the two tables; nothing when the second table cannot be
  // placed inside the block.
  std::optional<int64_t> n;
  std::optional<int64_t> k;
  Numbers numbers;  // as the block's front part holds them
  std::vector<Finding> findings;
};

struct RecordReport {
  uint64_t index = 0;
  uint64_t offset = 0;
  std::string first;  // each name up to its first zero byte
  std::string second;
  std::vector<Finding> findings;
};

// One checked file.
struct FileReport {
  std::string name;
  uint64_t size = 0;
  std::vector<Finding> findings;  // for the file as a whole; never capped
  uint64_t failures = 0;          // every failed check, listed or not
  uint64_t unlisted = 0;          // failed checks beyond the caps
  uint64_t listed = 0;            // findings listed with the blocks or records
  bool unreadable = false;        // a read failed: the file could not be checked in full

  // Whether a finding added to `item` (a block's or record's findings)
  // would be listed.
  bool Lists(const std::vector<Finding>& item) const {
    return item.size() < kMaxItemFindings && listed < kMaxListedFindings;
  }
  // Counts `f`, and lists it in `item` when Lists(item).
  void Add(std::vector<Finding>& item, Finding f);
  // Counts and lists a finding that belongs to no block or record.
  void AddToFile(int64_t index, uint64_t start, std::string_view check, std::string text,
                 std::optional<uint64_t> at = {});
};

struct MergedReport : FileReport {
  std::vector<BlockReport> blocks;
};

struct ConsFixReport : FileReport {
  std::vector<RecordReport> records;
};

struct Report {
  MergedReport merged;
  std::optional<ConsFixReport> cons_fix;
  std::optional<std::string> job;  // the job file both were checked against

  uint64_t Failures() const;
  bool Unreadable() const;
};

// The finding as a line without the file name, its place first:
// "block 1 (offset 204), block offset 80 (file offset 284): <text>", or
// "offset 8: <text>" for the file as a whole. `noun` is "block" or "record".
std::string Describe(const Finding& finding, const std::string& noun);

// The report as lines: each block or record, its findings (each line
// starting with the file name), the file's own findings, how many were not
// listed, and a closing summary.
std::string RenderText(const Report& report);

// The report as one JSON document (see the manual page).
std::string RenderJson(const Report& report);

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_REPORT_H_
