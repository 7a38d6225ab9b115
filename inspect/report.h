// What blkinspect finds in the two outputs: one entry per block and per
// cons_fix record, and every check that failed, with the place it failed.
#ifndef BLKMERGE_INSPECT_REPORT_H_
#define BLKMERGE_INSPECT_REPORT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "merge/block.h"

namespace blkmerge::inspect {

enum class Check {
  // The merged file.
  kShortHeader,      // found: the file size
  kHeader,           // the first 8 bytes are not "vers" and 2.0
  kReadFailed,       // found: the length that could not be read
  kBlockTooShort,    // found: the bytes left after the last whole block
  kNoBlockEnd,       // found: the word at 80; expected: the word at 44
  kHash,             // a hash word at block offset 0 or 100
  kTailRef,          // block offset 44
  kTailRef24,        // block offset 77, three bytes
  kLtail,            // block offset 80
  kLtable,           // block offset 96
  kFirstCount,       // block offset 108, the first table's entry count
  kNoSecondTable,    // found: the word at 96; expected: the count at 108
  kEntryHash,        // the hash word of a second-table entry
  kMoreEntryHashes,  // found: how many more entries carry another hash
  kTailZero,         // the first tail word
  kBackRef,          // the second tail word
  kTrailerNum1,      // found: the trailer's num1; expected: num1 at 72
  kTrailerMarker,
  kTrailerTag,
  kTrailerZero,
  // The cons_fix file.
  kPartialRecord,  // found: the bytes after the last whole record
  kNamePadding,    // found: the non-zero byte after a name's end
  kMatrix,
  kFirstNameDiffers,  // found_name: this record's; expected_name: record 0's
  // Against the job.
  kBlockCount,
  kAliasHash,  // expected_name: the alias
  kJobNumber,  // `at` tells which number
  kRecordCount,
  kRecordFirstAlias,
  kRecordAlias,
};

enum class FileKind { kMerged, kConsFix };

FileKind FileOf(Check check);

// Values are kept as read: words as their 32-bit patterns (signed where the
// word is an offset), floats as their bits, counts as counts.
struct Finding {
  Check check = Check::kHeader;
  int64_t index = -1;   // the block or record, -1 for the file as a whole
  uint64_t offset = 0;  // file offset of the bytes at fault
  uint64_t at = 0;      // the same place inside the block or record
  int64_t found = 0;
  int64_t expected = 0;
  std::string found_name;
  std::string expected_name;
};

struct BlockReport {
  uint64_t index = 0;
  uint64_t offset = 0;  // file offset of the block's first byte
  uint64_t length = 0;
  uint32_t hash = 0;  // the hash the block holds (see WalkMerged)
  // Entries in the two tables; nothing when the second table cannot be
  // placed inside the block.
  std::optional<int64_t> n;
  std::optional<int64_t> k;
  Numbers numbers;  // as stored at block offsets 60 to 75
  std::vector<Finding> findings;
};

struct RecordReport {
  uint64_t index = 0;
  uint64_t offset = 0;
  std::string first;  // each name up to its first zero byte
  std::string second;
  std::vector<Finding> findings;
};

// Receives the report as the walk goes, so that memory stays bounded
// whatever the size of the file.
class ReportSink {
 public:
  virtual ~ReportSink() = default;
  virtual void Block(const BlockReport&) {}
  virtual void Record(const RecordReport&) {}
  // A failure that belongs to no whole block or record (the header, the
  // bytes left over at the end, the counts against the job).
  virtual void FileFinding(const Finding&) {}
};

struct WalkSummary {
  uint64_t items = 0;     // blocks or records walked
  uint64_t failures = 0;  // failed checks, per block, record and file
};

// Keeps everything; for tests and small files.
struct Report : ReportSink {
  std::vector<BlockReport> blocks;
  std::vector<RecordReport> records;
  std::vector<Finding> file_findings;

  void Block(const BlockReport& b) override { blocks.push_back(b); }
  void Record(const RecordReport& r) override { records.push_back(r); }
  void FileFinding(const Finding& f) override { file_findings.push_back(f); }

  // Every finding, file findings last.
  std::vector<Finding> AllFindings() const;
};

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_REPORT_H_
