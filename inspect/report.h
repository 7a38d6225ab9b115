// What blkinspect finds in the two outputs: one entry per block and per
// cons_fix record, and every failed check with the place it failed at; and
// what blkmerge would write for a job; and how all of it is written out, in
// text and in JSON.
#ifndef BLKMERGE_INSPECT_REPORT_H_
#define BLKMERGE_INSPECT_REPORT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/failure.h"
#include "driver/job.h"

namespace blkmerge::inspect {

// Numbers and names as blkinspect writes them, in text and in JSON.

inline std::string Dec(int32_t v) { return std::to_string(v); }
inline std::string Dec(int64_t v) { return std::to_string(v); }
inline std::string Dec(uint64_t v) { return std::to_string(v); }

// "1 block", "2 blocks".
inline std::string Count(uint64_t n, const std::string& noun) {
  return Dec(n) + " " + noun + (n == 1 ? "" : "s");
}

// The low 32 bits of `v` as "0x" and `digits` upper-case hexadecimal
// digits, or more where they do not hold it; eight by default.
std::string Hex(int64_t v, int digits);
inline std::string Hex(int64_t v) { return Hex(v, 8); }

// The shortest text that reads back as the same float.
std::string Float(float value);
// The float whose bits are the low 32 bits of `bits`.
std::string FloatBits(int64_t bits);

// `bytes` as a JSON string. Well-formed UTF-8 passes through; a byte that
// is not part of a well-formed sequence becomes U+FFFD; the quote, the
// backslash, bytes below 0x20 and 0x7F are escaped. Always valid JSON.
std::string JsonString(std::string_view bytes);
// `bytes` as a JSON string of lower-case hexadecimal, two digits a byte.
std::string JsonHex(std::string_view bytes);
// A float as a JSON number, or as the string "NaN", "Infinity" or
// "-Infinity", which JSON numbers cannot hold.
std::string JsonFloat(float value);

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
  // placed inside the block. M, the dropped section's, only a plan knows.
  std::optional<int64_t> n;
  std::optional<int64_t> m;
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
  void Add(std::vector<Finding>& item, Finding f) {
    ++failures;
    const bool lists = Lists(item);
    ++(lists ? listed : unlisted);
    if (lists) item.push_back(std::move(f));
  }
  // Adds (see Add) a finding of `item`, a block or a record, at offset
  // `at` in it, and returns false.
  template <typename Item>
  bool Fail(Item& item, std::string_view check, std::optional<uint64_t> at, std::string text) {
    Add(item.findings, {static_cast<int64_t>(item.index), item.offset, check, std::move(text), at});
    return false;
  }
  // Counts and lists a finding that belongs to no block or record, and
  // returns false, for a walk that stops at it.
  bool AddToFile(int64_t index, uint64_t start, std::string_view check, std::string text,
                 std::optional<uint64_t> at = {}) {
    ++failures;
    findings.push_back({index, start, check, std::move(text), at});
    return false;
  }
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

  uint64_t Failures() const { return merged.failures + (cons_fix ? cons_fix->failures : 0); }
  bool Unreadable() const { return merged.unreadable || (cons_fix && cons_fix->unreadable); }
};

// An input that would stop a run: it cannot be opened, or the rewrite
// refuses its layout.
struct RefusedInput {
  size_t pair = 0;  // its index in the job's pairs
  Failure failure;  // as the run would fail on it
};

// What blkmerge would write for a job (see MakePlan).
struct Plan {
  std::string job_file;  // as given
  Job job;
  // The job passed the job file's checks and the same-file checks: its
  // names are known.
  bool job_read = false;
  // The blocks the run would write, in order, up to the first failure;
  // each with N, M and K.
  std::vector<BlockReport> blocks;
  // Every input that would stop a run, in job order.
  std::vector<RefusedInput> refused;
  // The first failure the run would meet, with the line blkmerge would
  // end with; none when it would succeed, and then what it would write.
  Failure failure;
  // The warnings blkmerge would print before it, in the order it would
  // print them: the job's, then its inputs'.
  std::vector<std::string> warnings;
  uint64_t merged_size = 0;
  uint64_t cons_fix_size = 0;
  uint64_t records = 0;  // in the cons_fix file
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

// The plan as lines: both output names, the planned blocks with their
// inputs and aliases, each refused input with its place in the job, then
// the sizes of both files and the number of cons_fix records, or the
// failure's message as the last line.
std::string RenderPlanText(const Plan& plan);
// The same as one JSON document (see the manual page).
std::string RenderPlanJson(const Plan& plan);

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_REPORT_H_
