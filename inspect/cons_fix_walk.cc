#include <algorithm>
#include <bit>
#include <span>
#include <string>
#include <vector>

#include "consfix/cons_fix.h"
#include "inspect/walk.h"
#include "merge/coding.h"
#include "merge/layout.h"

namespace blkmerge::inspect {
namespace {

using namespace blkmerge::cons_fix;

constexpr uint64_t kMaxRecords = kMaxPairs - 1;

// Compares the name fields of `record` with those of the record blkmerge
// writes for the job's first alias and the alias of pair record.index + 1.
// A field differs from it at or before the end of the record's name where
// the names differ, and only after it where the padding does, which
// CheckRecord finds.
void CheckNames(std::span<const uint8_t> bytes, const Job& job, RecordReport& record,
                ConsFixReport& r) {
  const std::string& first = job.pairs.front().alias;
  const std::string& alias = job.pairs[record.index + 1].alias;
  std::vector<uint8_t> expected;
  AppendConsFixRecord(first, alias, expected);
  const auto differs = [&](uint64_t at, uint64_t size, const std::string& held) {
    const auto field = bytes.subspan(static_cast<size_t>(at), static_cast<size_t>(size));
    const auto theirs = expected.begin() + static_cast<std::ptrdiff_t>(at);
    const auto ours = std::mismatch(field.begin(), field.end(), theirs).first;
    return ours != field.end() && static_cast<size_t>(ours - field.begin()) <= held.size();
  };
  if (differs(0, kFirstAliasField, record.first)) {
    r.Fail(record, "job_first_alias", 0,
           "first name is " + Quote(record.first) + ", the job's first alias is " + Quote(first));
  }
  if (differs(kFirstAliasField, kAliasField, record.second)) {
    r.Fail(record, "job_alias", kFirstAliasField,
           "second name is " + Quote(record.second) + ", the alias of pair " +
               Dec(record.index + 2) + " is " + Quote(alias));
  }
}

void CheckRecord(std::span<const uint8_t> bytes, const Job* job, ConsFixReport& r) {
  RecordReport& record = r.records.emplace_back();
  record.index = r.records.size() - 1;
  record.offset = record.index * kRecordSize;
  // A name is its field's bytes up to the first zero, which only zero bytes
  // may follow. It may be empty: an alias that starts with a zero byte in
  // the job is the empty name.
  const auto name = [&](uint64_t at, uint64_t size, const char* which) {
    const auto field = bytes.subspan(static_cast<size_t>(at), static_cast<size_t>(size));
    const auto end = std::find(field.begin(), field.end(), uint8_t{0});
    const auto stray = std::find_if(end, field.end(), [](uint8_t b) { return b != 0; });
    if (stray != field.end()) {
      r.Fail(record, "name_padding", at + static_cast<uint64_t>(stray - field.begin()),
             "byte " + Hex(*stray, 2) + " after the end of the " + which +
                 " name: the field must be padded with zero bytes");
    }
    return std::string(field.begin(), end);
  };
  record.first = name(0, kFirstAliasField, "first");
  record.second = name(kFirstAliasField, kAliasField, "second");
  for (uint64_t row = 0; row < kMatrixSide; ++row) {
    for (uint64_t column = 0; column < kMatrixSide; ++column) {
      const uint32_t found = LoadLE32(bytes.data() + MatrixEntry(row, column));
      const float expected = row == column ? 1.0F : 0.0F;
      if (found == std::bit_cast<uint32_t>(expected)) continue;
      r.Fail(record, "matrix", MatrixEntry(row, column),
             "matrix entry (" + Dec(row) + ", " + Dec(column) + ") is " + FloatBits(found) + " (" +
                 Hex(found) + "), expected " + Float(expected));
    }
  }
  const std::string& first_of_file = r.records.front().first;
  if (record.first != first_of_file) {
    r.Fail(record, "first_name_differs", 0,
           "first name " + Quote(record.first) + " differs from " + Quote(first_of_file) +
               ", the first name of record 0");
  }
  if (job != nullptr && record.index + 1 < job->pairs.size()) CheckNames(bytes, *job, record, r);
}

}  // namespace

ConsFixReport WalkConsFix(Source& file, const Job* job) {
  ConsFixReport r;
  r.size = file.Size();
  const uint64_t whole = r.size / kRecordSize;
  std::vector<uint8_t> bytes(static_cast<size_t>(std::min(whole, kMaxRecords) * kRecordSize));
  if (!file.ReadAt(0, bytes)) {
    r.unreadable = true;
    r.AddToFile(-1, 0, "read_failed", "could not read " + Count(bytes.size(), "byte"));
    return r;
  }
  for (size_t at = 0; at < bytes.size(); at += kRecordSize)
    CheckRecord(std::span<const uint8_t>(bytes).subspan(at, kRecordSize), job, r);
  if (whole > kMaxRecords) {
    r.AddToFile(int64_t{kMaxRecords}, bytes.size(), "too_many_records",
                "more records than any run writes");
    return r;
  }
  if (r.size % kRecordSize != 0) {
    r.AddToFile(-1, bytes.size(), "partial_record",
                "the file ends with " + Count(r.size % kRecordSize, "byte") + ", not a whole " +
                    Dec(kRecordSize) + "-byte record");
  }
  const uint64_t expected = job == nullptr || job->pairs.empty() ? 0 : job->pairs.size() - 1;
  if (job != nullptr && whole != expected) {
    r.AddToFile(
        -1, r.size, "job_record_count",
        "the file holds " + Count(whole, "record") + ", the job's pairs need " + Dec(expected));
  }
  return r;
}

}  // namespace blkmerge::inspect
