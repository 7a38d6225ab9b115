#include "inspect/cons_fix_walk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "consfix/cons_fix.h"
#include "inspect/merged_walk.h"
#include "merge/coding.h"

namespace blkmerge::inspect {
namespace {

constexpr uint64_t kRecordsPerRead = kReadChunk / cons_fix::kRecordSize;
constexpr uint32_t kOneBits = 0x3F800000;  // the float 1.0

class RecordCheck {
 public:
  explicit RecordCheck(RecordReport& report) : report_(report) {}

  void Fail(Check check, uint64_t at, int64_t found = 0, int64_t expected = 0) {
    Finding f;
    f.check = check;
    f.index = static_cast<int64_t>(report_.index);
    f.offset = report_.offset + at;
    f.at = at;
    f.found = found;
    f.expected = expected;
    report_.findings.push_back(std::move(f));
  }

  // The name in the field at `at`: its bytes up to the first zero, with
  // only zero bytes after them. It may be empty: an alias that starts with
  // a zero byte in the job is the empty name.
  std::string Name(std::span<const uint8_t> record, uint64_t at, uint64_t size) {
    const auto field = record.subspan(static_cast<size_t>(at), static_cast<size_t>(size));
    const auto end = std::find(field.begin(), field.end(), uint8_t{0});
    const auto stray = std::find_if(end, field.end(), [](uint8_t b) { return b != 0; });
    if (stray != field.end()) {
      Fail(Check::kNamePadding, at + static_cast<uint64_t>(stray - field.begin()), *stray);
    }
    return std::string(field.begin(), end);
  }

  void Matrix(std::span<const uint8_t> record) {
    for (uint64_t i = 0; i < 9; ++i) {
      const uint64_t at = cons_fix::kMatrixOffset + 4 * i;
      const uint32_t value = LoadLE32(record.data() + at);
      const uint32_t expected = i % 4 == 0 ? kOneBits : 0;  // the diagonal: 0, 4, 8
      if (value != expected) Fail(Check::kMatrix, at, value, expected);
    }
  }

 private:
  RecordReport& report_;
};

}  // namespace

WalkSummary WalkConsFix(Source& file, const Job* job, ReportSink& sink) {
  WalkSummary summary;
  const uint64_t size = file.Size();
  const uint64_t count = size / cons_fix::kRecordSize;
  std::vector<uint8_t> chunk(
      static_cast<size_t>(std::min(count, kRecordsPerRead) * cons_fix::kRecordSize));
  std::string first_of_file;
  auto file_finding = [&](Check check, uint64_t offset, int64_t found, int64_t expected) {
    Finding f;
    f.check = check;
    f.offset = offset;
    f.found = found;
    f.expected = expected;
    ++summary.failures;
    sink.FileFinding(f);
  };

  for (uint64_t done = 0; done < count;) {
    const uint64_t records = std::min(count - done, kRecordsPerRead);
    const std::span<uint8_t> part(chunk.data(),
                                  static_cast<size_t>(records * cons_fix::kRecordSize));
    const uint64_t part_offset = done * cons_fix::kRecordSize;
    if (!file.ReadAt(part_offset, part)) {
      file_finding(Check::kReadFailed, part_offset, static_cast<int64_t>(part.size()), 0);
      return summary;
    }
    for (uint64_t r = 0; r < records; ++r) {
      const auto bytes = std::span<const uint8_t>(part).subspan(
          static_cast<size_t>(r * cons_fix::kRecordSize), cons_fix::kRecordSize);
      RecordReport report;
      report.index = done + r;
      report.offset = part_offset + r * cons_fix::kRecordSize;
      RecordCheck check(report);
      report.first = check.Name(bytes, 0, cons_fix::kFirstAliasField);
      report.second = check.Name(bytes, cons_fix::kFirstAliasField, cons_fix::kAliasField);
      check.Matrix(bytes);
      if (report.index == 0) first_of_file = report.first;
      if (report.first != first_of_file) {
        check.Fail(Check::kFirstNameDiffers, 0);
        report.findings.back().found_name = report.first;
        report.findings.back().expected_name = first_of_file;
      }
      if (job != nullptr && report.index + 1 < job->pairs.size()) {
        const std::string& first = job->pairs.front().alias;
        const std::string& alias = job->pairs[report.index + 1].alias;
        if (report.first != first) {
          check.Fail(Check::kRecordFirstAlias, 0);
          report.findings.back().found_name = report.first;
          report.findings.back().expected_name = first;
        }
        if (report.second != alias) {
          check.Fail(Check::kRecordAlias, cons_fix::kFirstAliasField,
                     static_cast<int64_t>(report.index + 2));
          report.findings.back().found_name = report.second;
          report.findings.back().expected_name = alias;
        }
      }
      summary.failures += report.findings.size();
      sink.Record(report);
    }
    done += records;
  }
  summary.items = count;

  if (size % cons_fix::kRecordSize != 0) {
    file_finding(Check::kPartialRecord, count * cons_fix::kRecordSize,
                 static_cast<int64_t>(size % cons_fix::kRecordSize), cons_fix::kRecordSize);
  }
  if (job != nullptr) {
    const uint64_t expected = job->pairs.size() < 2 ? 0 : job->pairs.size() - 1;
    if (count != expected) {
      file_finding(Check::kRecordCount, size, static_cast<int64_t>(count),
                   static_cast<int64_t>(expected));
    }
  }
  return summary;
}

}  // namespace blkmerge::inspect
