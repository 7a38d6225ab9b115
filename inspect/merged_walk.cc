#include <algorithm>
#include <array>
#include <vector>

#include "inspect/walk.h"
#include "merge/coding.h"
#include "merge/layout.h"
#include "merge/name_hash.h"

namespace blkmerge::inspect {
namespace {

using namespace blkmerge::block;

constexpr auto kFront = static_cast<int64_t>(kFrontSize);
constexpr auto kEntry = static_cast<int64_t>(kEntrySize);
constexpr uint32_t kTagWord = LoadLE32(kTag.data());

// The bytes of one block: its front part, its end (the tail and the
// trailer) once placed, and words anywhere in it. The first failed read is
// remembered; later reads are not tried.
struct BlockBytes {
  Source& file;
  uint64_t offset;
  uint64_t left;  // bytes from the block's start to the end of the file
  int64_t index;  // the block's place in the file
  std::array<uint8_t, kFrontSize> front{};
  std::array<uint8_t, kEndSize> end{};
  size_t unread = 0;  // the size of the read that failed

  bool Read(uint64_t at, std::span<uint8_t> out) {
    if (unread == 0 && !file.ReadAt(offset + at, out)) unread = out.size();
    return unread == 0;
  }
  // The word `at` bytes after the block offset `place`.
  uint32_t Word(int64_t place, uint64_t at) {
    std::array<uint8_t, kWordSize> w{};
    Read(static_cast<uint64_t>(place) + at, w);
    return LoadLE32(w.data());
  }
  int32_t Front(uint64_t at) const { return LoadLE32Signed(front.data() + at); }
  uint32_t FrontU(uint64_t at) const { return LoadLE32(front.data() + at); }
  // Where the tail offset and the tail reference put the first tail word.
  // The tying relations are shifts: a word less its value for place 0 is
  // the place it gives.
  std::array<int64_t, 2> Tails() const {
    return {Front(kLtail) - LtailFor(0), Front(kTailRef) - TailRefFor(0)};
  }
  bool Inside(int64_t tail) const {
    return tail >= kFront && static_cast<uint64_t>(tail) + kEndSize <= left;
  }
};

bool OnGrid(int64_t place) { return place >= kFront && (place - kFront) % kEntry == 0; }

// Where a block's parts lie, as its own words place them.
struct Parts {
  int64_t tail = 0;               // the first tail word
  std::optional<int64_t> second;  // the second table, where it can be placed
  uint32_t hash = 0;              // the block's hash
};

// Where the two tail words put the tail: where the tail offset puts it when
// the trailer is there, or when the tail reference does not find it either;
// else where the tail reference puts it. A place must leave room for the
// tail inside the file, on the grid of whole entries.
std::optional<int64_t> PlaceTail(BlockBytes& b) {
  const auto fits = [&b](int64_t t) { return b.Inside(t) && OnGrid(t); };
  const auto trailer_at = [&](int64_t t) {
    return fits(t) && (b.Word(t, kTrailerMarker) == kMarker || b.Word(t, kTrailerTag) == kTagWord);
  };
  const auto [by_ltail, by_tail_ref] = b.Tails();
  if (trailer_at(by_ltail) || (fits(by_ltail) && !trailer_at(by_tail_ref))) return by_ltail;
  if (fits(by_tail_ref)) return by_tail_ref;
  return std::nullopt;
}

// Where the table offset and the first-table count put the second table:
// of the two starts that fit before the tail, the earlier one whose first
// entry carries a hash of the block (an earlier wrong start lies in the
// first table, whose entries do not end in the hash; a later one skips
// entries that do), else the first that fits.
std::optional<int64_t> PlaceSecondTable(BlockBytes& b, int64_t tail) {
  const auto carries_hash = [&b, tail](int64_t start) {
    const uint32_t first = start == tail ? b.FrontU(kHash1) : b.Word(start, kEntryHash);
    return first == b.FrontU(kHash1) || first == b.FrontU(kHash2);
  };
  const int64_t by_ltable = b.Front(kLtable) - LtableFor(0);
  const int64_t by_n = b.Front(kN) < 0 ? -1 : kFront + kEntry * b.Front(kN);
  std::optional<int64_t> fitting;
  std::optional<int64_t> hashed;
  for (const int64_t start : {by_ltable, by_n}) {
    if (!OnGrid(start) || start > tail) continue;
    if (!fitting) fitting = start;
    if (carries_hash(start) && (!hashed || start < *hashed)) hashed = start;
  }
  return hashed ? hashed : fitting;
}

// Which hash word wins the vote: the word at block offset 0, unless the
// first second-table entry (with no entries, the job's alias) agrees with
// the word at block offset 100 instead.
uint32_t VoteHash(BlockBytes& b, int64_t tail, std::optional<int64_t> second, const Pair* pair) {
  const uint32_t h100 = b.FrontU(kHash2);
  const bool outvoted = second && *second < tail ? b.Word(*second, kEntryHash) == h100
                                                 : pair != nullptr && NameHash(pair->alias) == h100;
  return outvoted ? h100 : b.FrontU(kHash1);
}

// Places the block's parts by its own words (see WalkMerged), or nothing
// when no end of the block lies inside the file on the grid.
std::optional<Parts> Locate(BlockBytes& b, const Pair* pair) {
  const auto tail = PlaceTail(b);
  if (!tail) return std::nullopt;
  const auto second = PlaceSecondTable(b, *tail);
  return Parts{*tail, second, VoteHash(b, *tail, second, pair)};
}

std::string Tag(int64_t word) {
  std::array<uint8_t, kWordSize> bytes;
  StoreLE32(bytes.data(), static_cast<uint32_t>(word));
  return Quote(std::string(bytes.begin(), bytes.end()));
}

// Checks each word that must hold what the block's geometry or the job
// gives, and adds "<what> is F, expected E: <why>" where one does not.
void CheckTies(const BlockBytes& b, const Parts& p, const Pair* pair, const Job* job,
               BlockReport& block, MergedReport& r) {
  const auto tie = [&](std::string_view check, uint64_t at, int64_t found, int64_t expected,
                       std::string (*show)(int64_t), const std::string& what,
                       const std::string& why) {
    if (found == expected) return;
    r.Fail(block, check, at,
           what + " is " + show(found) + ", expected " + show(expected) +
               (why.empty() ? "" : ": " + why));
  };
  const auto t = static_cast<uint64_t>(p.tail);
  const auto end_word = [&b](uint64_t at) { return LoadLE32Signed(b.end.data() + at); };
  const std::string from_base =
      "counted from block offset " + Dec(kLtailBase) + " it must land on ";
  tie("hash", kHash1, b.FrontU(kHash1), p.hash, Hex, "hash", "the block's hash");
  tie("tail_reference", kTailRef, b.Front(kTailRef), TailRefFor(p.tail), Dec, "tail reference",
      from_base + "\"hpid\"");
  tie("tail_reference_24", kTailRef24, LoadLE24(b.front.data() + kTailRef24),
      TailRefFor(p.tail) & 0xFFFFFF, Dec, "24-bit tail reference",
      "the low three bytes of the tail reference");
  tie("tail_offset", kLtail, b.Front(kLtail), LtailFor(p.tail), Dec, "tail offset",
      from_base + "the first tail word at block offset " + Dec(t));
  tie("hash", kHash2, b.FrontU(kHash2), p.hash, Hex, "hash", "the block's hash");
  tie("tail_zero", t + kTailZero, end_word(kTailZero), 0, Dec, "first tail word", "");
  tie("back_offset", t + kBackRef, end_word(kBackRef), BackRefFor(p.tail), Dec, "back offset",
      "counted from the first tail word it must land on block offset " + Dec(kLtable));
  tie("trailer_num1", t + kTrailerNum1, end_word(kTrailerNum1), b.Front(kNum1), FloatBits,
      "num1 in the trailer", "num1 at block offset " + Dec(kNum1));
  tie("trailer_marker", t + kTrailerMarker, end_word(kTrailerMarker), kMarker, Hex,
      "trailer marker", "");
  tie("trailer_tag", t + kTrailerTag, end_word(kTrailerTag), kTagWord, Tag, "trailer tag", "");
  tie("trailer_zero", t + kTrailerZero, end_word(kTrailerZero), 0, Dec, "last trailer word", "");
  if (p.second) {
    tie("table_offset", kLtable, b.Front(kLtable), LtableFor(*p.second), Dec, "table offset",
        "counted from block offset " + Dec(kLtable) +
            " it must land on the second table at block offset " + Dec(*p.second));
    tie("first_table_count", kN, b.Front(kN), (*p.second - kFront) / kEntry, Dec,
        "first-table count", "the first table ends where the second table starts");
  }
  if (pair == nullptr) return;
  const auto bits = [](float f) { return int64_t{std::bit_cast<uint32_t>(f)}; };
  tie("job_alias_hash", kHash1, p.hash, NameHash(pair->alias), Hex, "block hash",
      "the hash of alias " + Quote(pair->alias));
  for (const auto& [at, value, name] :
       {std::tuple{kNum2, job->numbers.num2, "num2"},
        {kNum3, job->numbers.num3, "num3"},
        {kNum4, job->numbers.num4, "num4"},
        {kNum1, job->numbers.num1, "num1"},
        {t + kTrailerNum1, job->numbers.num1, "num1 in the trailer"}}) {
    const uint32_t stored = at < kFrontSize ? b.FrontU(at) : LoadLE32(b.end.data() + kTrailerNum1);
    tie("job_number", at, stored, bits(value), FloatBits, name, "the job's number");
  }
}

bool Unreadable(const BlockBytes& b, MergedReport& r) {
  r.unreadable = true;
  return r.AddToFile(b.index, b.offset, "read_failed", "could not read " + Count(b.unread, "byte"));
}

// Why the block end that a word puts at block offset `tail` cannot be
// there.
std::string NoEndAt(const BlockBytes& b, int64_t tail) {
  if (tail < kFront) return "before the front part ends at block offset " + Dec(kFrontSize);
  if (!b.Inside(tail)) return "past the end of the file";
  return "off the grid of whole " + Dec(kEntrySize) + "-byte entries after block offset " +
         Dec(kFrontSize);
}

// The finding that stops the walk where no end of the block can be placed:
// where each of the two words puts it, and why it cannot be there.
bool NoBlockEnd(const BlockBytes& b, MergedReport& r) {
  const auto [by_ltail, by_tail_ref] = b.Tails();
  const std::string ltail =
      "the word at block offset " + Dec(kLtail) + " (" + Dec(b.Front(kLtail)) + ")";
  const std::string tail_ref = "the word at " + Dec(kTailRef) + " (" + Dec(b.Front(kTailRef)) + ")";
  const std::string why_ltail = NoEndAt(b, by_ltail);
  const std::string why_tail_ref = NoEndAt(b, by_tail_ref);
  const std::string text = why_ltail == why_tail_ref
                               ? ltail + " and " + tail_ref + " put the block's end " + why_ltail
                               : ltail + " puts the block's end at block offset " + Dec(by_ltail) +
                                     ", " + why_ltail + ", and " + tail_ref + " at block offset " +
                                     Dec(by_tail_ref) + ", " + why_tail_ref;
  return r.AddToFile(b.index, b.offset, "no_block_end", text + "; the walk stops here", kLtail);
}

// Adds the placed block to the report, with the findings of its words.
BlockReport& ReportBlock(const BlockBytes& b, const Parts& p, const Pair* pair, const Job* job,
                         MergedReport& r) {
  BlockReport& block = r.blocks.emplace_back();
  block.index = r.blocks.size() - 1;
  block.offset = b.offset;
  block.length = static_cast<uint64_t>(p.tail) + kEndSize;
  block.hash = p.hash;
  block.numbers = {LoadLEFloat(b.front.data() + kNum1), LoadLEFloat(b.front.data() + kNum2),
                   LoadLEFloat(b.front.data() + kNum3), LoadLEFloat(b.front.data() + kNum4)};
  if (p.second) {
    block.n = (*p.second - kFront) / kEntry;
    block.k = (p.tail - *p.second) / kEntry;
  } else {
    r.Fail(block, "no_second_table", kLtable,
           "neither the table offset (" + Dec(b.Front(kLtable)) +
               ") nor the first-table count at block offset " + Dec(kN) + " (" + Dec(b.Front(kN)) +
               ") places the second table inside the block");
  }
  CheckTies(b, p, pair, job, block, r);
  return block;
}

// Checks the hash word of every second-table entry, reading the table a
// piece at a time, up to a read that fails. Only listed findings get their
// text: a hostile table may hold millions of them.
void ScanEntryHashes(BlockBytes& b, const Parts& p, BlockReport& block, MergedReport& r) {
  const auto tail = static_cast<uint64_t>(p.tail);
  const auto first = static_cast<uint64_t>(p.second.value_or(p.tail));
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min(tail - first, kReadChunk)));
  for (uint64_t done = first; done < tail; done += chunk.size()) {
    const auto piece =
        std::span(chunk).first(static_cast<size_t>(std::min<uint64_t>(chunk.size(), tail - done)));
    if (!b.Read(done, piece)) return;
    for (size_t e = 0; e < piece.size(); e += kEntrySize) {
      const uint32_t word = LoadLE32(piece.data() + e + kEntryHash);
      if (word == block.hash) continue;
      r.Fail(block, "entry_hash", done + e + kEntryHash,
             r.Lists(block.findings) ? "second-table entry hash is " + Hex(word) + ", expected " +
                                           Hex(block.hash) + ": the block's hash"
                                     : std::string());
    }
  }
}

// Adds the block at `offset` to the report and returns true, or adds the
// finding that stops the walk and returns false.
bool WalkBlock(Source& file, uint64_t offset, MergedReport& r, const Pair* pair, const Job* job,
               const BlockCheck& verify) {
  BlockBytes b{file, offset, r.size - offset, static_cast<int64_t>(r.blocks.size())};
  b.Read(0, b.front);
  const auto parts = Locate(b, pair);
  if (parts) b.Read(static_cast<uint64_t>(parts->tail), b.end);
  if (b.unread != 0) return Unreadable(b, r);
  if (!parts) return NoBlockEnd(b, r);
  BlockReport& block = ReportBlock(b, *parts, pair, job, r);
  // A block that is the one its input gives holds the hash in every entry.
  if (!verify || !verify(block, r)) ScanEntryHashes(b, *parts, block, r);
  if (b.unread != 0) return Unreadable(b, r);
  std::ranges::stable_sort(block.findings, {}, &Finding::at);
  return true;
}

}  // namespace

MergedReport WalkMerged(Source& file, const Job* job, const BlockCheck& verify) {
  MergedReport r;
  r.size = file.Size();
  std::array<uint8_t, kMergedHeader.size()> header{};
  if (r.size < header.size()) {
    r.AddToFile(-1, 0, "short_header",
                "the file is " + Count(r.size, "byte") + " long, too short for the " +
                    Dec(header.size()) + "-byte header");
    return r;
  }
  if (!file.ReadAt(0, header)) {
    r.unreadable = true;
    r.AddToFile(-1, 0, "read_failed", "could not read the header");
    return r;
  }
  if (header != kMergedHeader)
    r.AddToFile(-1, 0, "header", "the file does not start with \"vers\" and the float 2.0");
  for (uint64_t offset = header.size(); offset < r.size; offset += r.blocks.back().length) {
    const size_t index = r.blocks.size();
    if (index == kMaxPairs) {
      r.AddToFile(int64_t{kMaxPairs}, offset, "too_many_blocks", "more blocks than any run writes");
      return r;
    }
    if (r.size - offset < kFixedSize) {
      r.AddToFile(static_cast<int64_t>(index), offset, "block_too_short",
                  "only " + Count(r.size - offset, "byte") +
                      " left, too few for a block (at least " + Dec(kFixedSize) + ")");
      return r;
    }
    const Pair* pair = job != nullptr && index < job->pairs.size() ? &job->pairs[index] : nullptr;
    if (!WalkBlock(file, offset, r, pair, job, verify)) return r;
  }
  // The count only means something when the walk reached the end.
  if (job != nullptr && r.blocks.size() != job->pairs.size()) {
    r.AddToFile(-1, r.size, "job_block_count",
                "the file holds " + Count(r.blocks.size(), "block") + ", the job lists " +
                    Count(job->pairs.size(), "pair"));
  }
  return r;
}

}  // namespace blkmerge::inspect
