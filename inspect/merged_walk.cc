#include "inspect/merged_walk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "merge/coding.h"
#include "merge/name_hash.h"

namespace blkmerge::inspect {
namespace {

// Block offsets the walk reads besides those in merge/block.h.
constexpr uint64_t kFirstCount = 108;    // N, as the input held it
constexpr uint64_t kNum1 = 72;           // num1 among the four numbers
constexpr uint64_t kLtailBase = 48;      // the word at 80 counts from here
constexpr uint64_t kTailRefToTail = 20;  // 48 + (44's word) lands 28 past the tail
constexpr uint64_t kEntryHash = 12;      // the hash word inside an entry
constexpr uint64_t kBackRef = 4;         // tail offsets from the first tail word
constexpr uint64_t kTrailerNum1At = 20;
constexpr uint64_t kTrailerMarkerAt = 24;
constexpr uint64_t kTrailerTagAt = 28;
constexpr uint64_t kTrailerZeroAt = 32;
constexpr uint64_t kEndSize = block::kEndSize;  // from the tail on
static_assert(kEndSize == 36);
static_assert(kTrailerZeroAt + 4 == kEndSize);
constexpr uint32_t kTag = 0x64697068;  // "hpid" read as a little-endian word

struct Expected {
  uint32_t hash;
  Numbers numbers;
  std::string_view alias;
};

uint32_t FloatBits(float f) { return std::bit_cast<uint32_t>(f); }

class BlockWalk {
 public:
  BlockWalk(Source& file, uint64_t offset, uint64_t left, const Expected* expected,
            BlockReport& report)
      : file_(file), offset_(offset), left_(left), expected_(expected), report_(report) {}

  // Fills the report; returns a finding instead when the block's end
  // cannot be found or a read fails, and the walk has to stop.
  std::optional<Finding> Run();

 private:
  bool Read(uint64_t at, std::span<uint8_t> out) { return file_.ReadAt(offset_ + at, out); }
  std::optional<uint32_t> WordAt(uint64_t at) {
    std::array<uint8_t, 4> w;
    if (!Read(at, w)) return std::nullopt;
    return LoadLE32(w.data());
  }
  int32_t Front(uint64_t at) const { return LoadLE32Signed(front_.data() + at); }
  uint32_t FrontU(uint64_t at) const { return LoadLE32(front_.data() + at); }

  bool FitsTail(int64_t tail) const;
  bool TrailerAt(int64_t tail);
  bool FitsSecondTable(int64_t start, int64_t tail) const;
  bool StartsWithHash(int64_t start, int64_t tail);
  std::optional<int64_t> FindTail();
  std::optional<int64_t> FindSecondTable(int64_t tail);
  Finding Stop(Check check, uint64_t at, int64_t found = 0, int64_t expected = 0) const;
  void Fail(Check check, uint64_t at, int64_t found, int64_t expected);
  bool CheckEntries(uint64_t start, uint64_t count, uint32_t hash);

  Source& file_;
  uint64_t offset_;
  uint64_t left_;
  const Expected* expected_;
  BlockReport& report_;
  std::array<uint8_t, block::kFrontSize> front_{};
  bool read_failed_ = false;
};

bool BlockWalk::FitsTail(int64_t tail) const {
  // The tail follows whole entries after the front, and the block ends
  // inside the file.
  const auto front = static_cast<int64_t>(block::kFrontSize);
  return tail >= front && (tail - front) % 16 == 0 &&
         static_cast<uint64_t>(tail) + kEndSize <= left_;
}

bool BlockWalk::TrailerAt(int64_t tail) {
  std::array<uint8_t, 8> words;
  if (!Read(static_cast<uint64_t>(tail) + kTrailerMarkerAt, words))
    return read_failed_ = true, false;
  return LoadLE32(words.data()) == block::kMarker || LoadLE32(words.data() + 4) == kTag;
}

std::optional<int64_t> BlockWalk::FindTail() {
  const std::array<int64_t, 2> candidates = {
      int64_t{Front(block::kLtail)} + static_cast<int64_t>(kLtailBase),
      int64_t{Front(block::kTailRef)} + static_cast<int64_t>(kTailRefToTail)};
  for (const int64_t tail : candidates) {
    if (FitsTail(tail) && TrailerAt(tail)) return tail;
  }
  for (const int64_t tail : candidates) {
    if (FitsTail(tail)) return tail;
  }
  return std::nullopt;
}

bool BlockWalk::FitsSecondTable(int64_t start, int64_t tail) const {
  const auto front = static_cast<int64_t>(block::kFrontSize);
  return start >= front && start <= tail && (start - front) % 16 == 0;
}

bool BlockWalk::StartsWithHash(int64_t start, int64_t tail) {
  if (start == tail) return true;  // no entries, nothing to disagree with
  const auto word = WordAt(static_cast<uint64_t>(start) + kEntryHash);
  if (!word) return read_failed_ = true, false;
  return *word == FrontU(0) || *word == FrontU(block::kHash2);
}

std::optional<int64_t> BlockWalk::FindSecondTable(int64_t tail) {
  std::vector<int64_t> fits;
  const int64_t from_ltable = int64_t{Front(block::kLtable)} + static_cast<int64_t>(block::kLtable);
  if (FitsSecondTable(from_ltable, tail)) fits.push_back(from_ltable);
  const int32_t n = Front(kFirstCount);
  const int64_t from_count = static_cast<int64_t>(block::kFrontSize) + 16 * int64_t{n};
  if (n >= 0 && FitsSecondTable(from_count, tail)) fits.push_back(from_count);
  if (fits.empty()) return std::nullopt;
  // An earlier wrong start lies in the first table, whose entries do not
  // end in the hash; a later one would skip entries that do.
  std::optional<int64_t> best;
  for (const int64_t start : fits) {
    if (StartsWithHash(start, tail) && (!best || start < *best)) best = start;
  }
  return best ? best : fits.front();
}

Finding BlockWalk::Stop(Check check, uint64_t at, int64_t found, int64_t expected) const {
  Finding f;
  f.check = check;
  f.index = static_cast<int64_t>(report_.index);
  f.offset = offset_ + at;
  f.at = at;
  f.found = found;
  f.expected = expected;
  return f;
}

void BlockWalk::Fail(Check check, uint64_t at, int64_t found, int64_t expected) {
  report_.findings.push_back(Stop(check, at, found, expected));
}

bool BlockWalk::CheckEntries(uint64_t start, uint64_t count, uint32_t hash) {
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min(count * 16, kReadChunk)));
  uint64_t wrong = 0;
  for (uint64_t done = 0; done < count;) {
    const uint64_t entries = std::min<uint64_t>(count - done, chunk.size() / 16);
    const std::span<uint8_t> part(chunk.data(), static_cast<size_t>(entries * 16));
    if (!Read(start + done * 16, part)) return false;
    for (uint64_t e = 0; e < entries; ++e) {
      const uint32_t word = LoadLE32(part.data() + e * 16 + kEntryHash);
      if (word == hash) continue;
      if (++wrong <= kMaxEntryFindings)
        Fail(Check::kEntryHash, start + (done + e) * 16 + kEntryHash, word, hash);
    }
    done += entries;
  }
  if (wrong > kMaxEntryFindings) {
    Fail(Check::kMoreEntryHashes, start, static_cast<int64_t>(wrong - kMaxEntryFindings), 0);
  }
  return true;
}

std::optional<Finding> BlockWalk::Run() {
  if (!Read(0, front_)) return Stop(Check::kReadFailed, 0, static_cast<int64_t>(front_.size()));
  report_.numbers = {LoadLEFloat(front_.data() + kNum1), LoadLEFloat(front_.data() + block::kNum2),
                     LoadLEFloat(front_.data() + block::kNum3),
                     LoadLEFloat(front_.data() + block::kNum4)};

  const auto found_tail = FindTail();
  if (read_failed_) return Stop(Check::kReadFailed, 0, static_cast<int64_t>(block::kFrontSize));
  if (!found_tail)
    return Stop(Check::kNoBlockEnd, block::kLtail, Front(block::kLtail), Front(block::kTailRef));
  const int64_t tail = *found_tail;
  const auto utail = static_cast<uint64_t>(tail);
  report_.length = utail + kEndSize;
  std::array<uint8_t, kEndSize> end;
  if (!Read(utail, end)) return Stop(Check::kReadFailed, utail, kEndSize);

  const auto start = FindSecondTable(tail);
  if (read_failed_) return Stop(Check::kReadFailed, 0, static_cast<int64_t>(report_.length));
  if (start) {
    report_.n = (*start - static_cast<int64_t>(block::kFrontSize)) / 16;
    report_.k = (tail - *start) / 16;
  }

  // The block's hash: the word at 0 unless the other copies outvote it.
  const uint32_t h0 = FrontU(0);
  const uint32_t h100 = FrontU(block::kHash2);
  uint32_t hash = h0;
  if (h0 != h100) {
    if (report_.k && *report_.k > 0) {
      const auto first_entry = WordAt(static_cast<uint64_t>(*start) + kEntryHash);
      if (!first_entry) return Stop(Check::kReadFailed, static_cast<uint64_t>(*start), 16);
      if (*first_entry == h100) hash = h100;
    } else if (expected_ != nullptr && expected_->hash == h100) {
      hash = h100;
    }
  }
  report_.hash = hash;

  // Every check in block order, each value against what the block's own
  // geometry says it must be.
  if (h0 != hash) Fail(Check::kHash, 0, h0, hash);
  const int64_t tail_ref = tail - static_cast<int64_t>(kTailRefToTail);
  if (Front(block::kTailRef) != tail_ref)
    Fail(Check::kTailRef, block::kTailRef, Front(block::kTailRef), tail_ref);
  const int64_t tail_ref24 = front_[block::kTailRef24] | front_[block::kTailRef24 + 1] << 8 |
                             front_[block::kTailRef24 + 2] << 16;
  if (tail_ref24 != (tail_ref & 0xFFFFFF))
    Fail(Check::kTailRef24, block::kTailRef24, tail_ref24, tail_ref & 0xFFFFFF);
  const int64_t ltail = tail - static_cast<int64_t>(kLtailBase);
  if (Front(block::kLtail) != ltail)
    Fail(Check::kLtail, block::kLtail, Front(block::kLtail), ltail);
  if (start) {
    const int64_t ltable = *start - static_cast<int64_t>(block::kLtable);
    if (Front(block::kLtable) != ltable)
      Fail(Check::kLtable, block::kLtable, Front(block::kLtable), ltable);
  }
  if (h100 != hash) Fail(Check::kHash, block::kHash2, h100, hash);
  if (start) {
    if (Front(kFirstCount) != *report_.n)
      Fail(Check::kFirstCount, kFirstCount, Front(kFirstCount), *report_.n);
    if (!CheckEntries(static_cast<uint64_t>(*start), static_cast<uint64_t>(*report_.k), hash)) {
      return Stop(Check::kReadFailed, static_cast<uint64_t>(*start), 16 * *report_.k);
    }
  } else {
    Fail(Check::kNoSecondTable, block::kLtable, Front(block::kLtable), Front(kFirstCount));
  }

  const int32_t tail_zero = LoadLE32Signed(end.data());
  if (tail_zero != 0) Fail(Check::kTailZero, utail, tail_zero, 0);
  const int32_t back_ref = LoadLE32Signed(end.data() + kBackRef);
  const int64_t back_ref_expected = static_cast<int64_t>(block::kLtable) - tail;
  if (back_ref != back_ref_expected)
    Fail(Check::kBackRef, utail + kBackRef, back_ref, back_ref_expected);
  const uint32_t trailer_num1 = LoadLE32(end.data() + kTrailerNum1At);
  if (trailer_num1 != FrontU(kNum1))
    Fail(Check::kTrailerNum1, utail + kTrailerNum1At, trailer_num1, FrontU(kNum1));
  const uint32_t marker = LoadLE32(end.data() + kTrailerMarkerAt);
  if (marker != block::kMarker)
    Fail(Check::kTrailerMarker, utail + kTrailerMarkerAt, marker, block::kMarker);
  const uint32_t tag = LoadLE32(end.data() + kTrailerTagAt);
  if (tag != kTag) Fail(Check::kTrailerTag, utail + kTrailerTagAt, tag, kTag);
  const int32_t zero = LoadLE32Signed(end.data() + kTrailerZeroAt);
  if (zero != 0) Fail(Check::kTrailerZero, utail + kTrailerZeroAt, zero, 0);

  if (expected_ != nullptr) {
    if (hash != expected_->hash) {
      Fail(Check::kAliasHash, 0, hash, expected_->hash);
      report_.findings.back().expected_name = expected_->alias;
    }
    const Numbers& job = expected_->numbers;
    const std::array<std::pair<uint64_t, float>, 5> numbers = {{
        {block::kNum2, job.num2},
        {block::kNum3, job.num3},
        {block::kNum4, job.num4},
        {kNum1, job.num1},
        {utail + kTrailerNum1At, job.num1},
    }};
    for (const auto& [at, value] : numbers) {
      const uint32_t stored = at < block::kFrontSize ? FrontU(at) : trailer_num1;
      if (stored != FloatBits(value)) Fail(Check::kJobNumber, at, stored, FloatBits(value));
    }
  }
  return std::nullopt;
}

}  // namespace

WalkSummary WalkMerged(Source& file, const Job* job, ReportSink& sink) {
  WalkSummary summary;
  auto file_finding = [&](Check check, uint64_t offset, int64_t index, int64_t found,
                          int64_t expected) {
    Finding f;
    f.check = check;
    f.index = index;
    f.offset = offset;
    f.found = found;
    f.expected = expected;
    ++summary.failures;
    sink.FileFinding(f);
  };

  const uint64_t size = file.Size();
  if (size < kMergedHeader.size()) {
    file_finding(Check::kShortHeader, 0, -1, static_cast<int64_t>(size), kMergedHeader.size());
    return summary;
  }
  std::array<uint8_t, kMergedHeader.size()> header;
  if (!file.ReadAt(0, header)) {
    file_finding(Check::kReadFailed, 0, -1, header.size(), 0);
    return summary;
  }
  if (header != kMergedHeader) file_finding(Check::kHeader, 0, -1, 0, 0);

  uint64_t offset = kMergedHeader.size();
  bool whole = true;
  while (offset < size) {
    const auto index = static_cast<int64_t>(summary.items);
    if (size - offset < block::kFixedSize) {
      file_finding(Check::kBlockTooShort, offset, index, static_cast<int64_t>(size - offset),
                   block::kFixedSize);
      whole = false;
      break;
    }
    std::optional<Expected> expected;
    if (job != nullptr && summary.items < job->pairs.size()) {
      const std::string& alias = job->pairs[summary.items].alias;
      expected = Expected{NameHash(alias), job->numbers, alias};
    }
    BlockReport report;
    report.index = summary.items;
    report.offset = offset;
    if (auto stop =
            BlockWalk(file, offset, size - offset, expected ? &*expected : nullptr, report).Run()) {
      ++summary.failures;
      sink.FileFinding(*stop);
      whole = false;
      break;
    }
    summary.failures += report.findings.size();
    sink.Block(report);
    offset += report.length;
    ++summary.items;
  }

  // The count only means something when the walk reached the end.
  if (job != nullptr && whole && summary.items != job->pairs.size()) {
    file_finding(Check::kBlockCount, size, -1, static_cast<int64_t>(summary.items),
                 static_cast<int64_t>(job->pairs.size()));
  }
  return summary;
}

}  // namespace blkmerge::inspect
