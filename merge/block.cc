#include "merge/block.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "merge/coding.h"
#include "merge/name_hash.h"

namespace blkmerge {
namespace {

// Most of the second table read and stamped at a time (whole entries).
// Measured: 16 KiB pieces are slower, 64 KiB to 1 MiB all cost the same;
// 64 KiB keeps the piece in cache between the read and the stamping.
constexpr size_t kStampChunk = 1 << 16;
static_assert(kStampChunk % kEntrySize == 0);
static_assert(Sink::kMinRoom % kEntrySize == 0);

constexpr auto kEntry = static_cast<int64_t>(kEntrySize);

int32_t FrontWord(std::span<const uint8_t, input::kFrontSize> front, uint64_t offset) {
  return LoadLE32Signed(front.data() + offset);
}

InputProblem Outside(InputPart part, int64_t offset, uint64_t length, uint64_t size) {
  InputProblem problem;
  problem.part = part;
  problem.offset = offset;
  problem.length = length;
  problem.size = size;
  return problem;
}

// A read of `part` that `in` could not serve: the file ended early, or
// the read failed.
InputProblem ReadFailure(const Source& in, InputPart part, uint64_t offset, uint64_t length) {
  const platform::FileError error = in.ReadError();
  return {.kind = error ? InputProblem::Kind::kReadFailed : InputProblem::Kind::kEndedEarly,
          .part = part,
          .offset = static_cast<int64_t>(offset),
          .length = length,
          .size = in.Size(),
          .error = error};
}

std::string_view NameOf(InputPart part) {
  switch (part) {
    case InputPart::kFrontPart: return "the front part";
    case InputPart::kFirstTable: return "the first table";
    case InputPart::kDroppedCount: return "the dropped section's count M";
    case InputPart::kSecondTable: return "the second table";
    case InputPart::kTail: return "the tail";
  }
  return {};
}

}  // namespace

std::string InputProblem::Describe() const {
  using std::to_string;
  const std::string where = std::string(NameOf(part)) + " at offset " + to_string(offset);
  switch (kind) {
    case Kind::kOutside:
      if (part == InputPart::kFirstTable) {
        return where + " has a negative entry count (" + to_string(count) + ")";
      }
      if (offset < 0) return where + " starts before the start of the file";
      return where + " ends past the end of the file (" + to_string(size) + " bytes)";
    case Kind::kEndedEarly:
      return "the file ended before " + where + " (" + to_string(length) +
             " bytes), though it had " + to_string(size) + " bytes when opened";
    case Kind::kReadFailed:
      return "reading " + where + " (" + to_string(length) +
             " bytes): " + platform::Describe(error);
  }
  return {};
}

std::string BlockLayout::Malformation() const {
  using std::to_string;
  std::string how;
  const auto fails = [&how](const std::string& relation) {
    how += (how.empty() ? "" : "; ") + relation;
  };
  const int64_t gap = int64_t{p} - q;
  if (p < q) {
    fails("the tail at P = " + to_string(p) +
          " lies before the second table at Q = " + to_string(q));
  }
  if (gap % kEntry != 0) {
    fails("P - Q = " + to_string(gap) + " is not a multiple of " + to_string(kEntrySize));
  }
  const uint64_t first_table_end = input::kFrontSize + FirstTableSize();
  const int64_t dropped = int64_t{q} - static_cast<int64_t>(first_table_end);
  if (dropped != d) {
    fails("the dropped section from offset " + to_string(first_table_end) +
          " to Q = " + to_string(q) + " is " + to_string(dropped) +
          " bytes, not D = " + to_string(d) + " with M = " + to_string(m));
  }
  return how;
}

std::optional<InputProblem> CheckFront(std::span<const uint8_t, input::kFrontSize> front,
                                       uint64_t size, uint64_t& m_offset) {
  const int32_t n = FrontWord(front, input::kN);
  if (n < 0) {
    InputProblem problem = Outside(InputPart::kFirstTable, input::kFrontSize, 0, size);
    problem.count = n;
    return problem;
  }
  m_offset = input::kFrontSize + kEntrySize * static_cast<uint64_t>(n) + input::kDroppedM;
  if (m_offset + kWordSize > size) {
    return Outside(InputPart::kDroppedCount, static_cast<int64_t>(m_offset), kWordSize, size);
  }
  return std::nullopt;
}

std::optional<InputProblem> PlanBlock(std::span<const uint8_t, input::kFrontSize> front, int32_t m,
                                      uint64_t size, BlockLayout& layout) {
  if (size < input::kFrontSize) return Outside(InputPart::kFrontPart, 0, input::kFrontSize, size);
  uint64_t m_offset = 0;
  if (auto problem = CheckFront(front, size, m_offset)) return problem;
  BlockLayout l;
  l.ltail = FrontWord(front, input::kLtail);
  l.ltable = FrontWord(front, input::kLtable);
  l.n = FrontWord(front, input::kN);
  l.m = m;
  l.p = Wrap(int64_t{l.ltail} + static_cast<int64_t>(input::kLtailBase));
  l.q = Wrap(int64_t{l.ltable} + static_cast<int64_t>(input::kLtable));
  l.d = Wrap(int64_t{m} * kEntry + static_cast<int64_t>(input::kDroppedHeader));
  l.k =
      static_cast<int32_t>(Wrap(int64_t{l.p} - l.q) / kEntry);  // toward zero, as the format wants
  if (l.q < 0 || static_cast<uint64_t>(l.q) + l.SecondTableSize() > size) {
    return Outside(InputPart::kSecondTable, l.q, l.SecondTableSize(), size);
  }
  if (l.TailOffset() + input::kTailSize > size) {
    return Outside(InputPart::kTail, static_cast<int64_t>(l.TailOffset()), input::kTailSize, size);
  }
  layout = l;
  return std::nullopt;
}

std::optional<InputProblem> ReadInputHead(Source& in, InputHead& head) {
  // Every read is checked against the input's size before it is made.
  const uint64_t size = in.Size();
  if (size < input::kFrontSize) return Outside(InputPart::kFrontPart, 0, input::kFrontSize, size);
  if (!in.ReadAt(0, head.front))
    return ReadFailure(in, InputPart::kFrontPart, 0, input::kFrontSize);
  uint64_t m_offset = 0;
  if (auto problem = CheckFront(head.front, size, m_offset)) return problem;
  // The front part alone places every other read (M only sizes the
  // dropped section): the source hears of them all, in the order of the
  // reads, before the first.
  if (BlockLayout places; !PlanBlock(head.front, 0, size, places)) {
    const std::array<Extent, 4> rest = {{{m_offset, kWordSize},
                                         {places.TailOffset(), input::kTailSize},
                                         {input::kFrontSize, places.FirstTableSize()},
                                         {places.SecondTableOffset(), places.SecondTableSize()}}};
    in.WillRead(rest);
  }
  std::array<uint8_t, kWordSize> m_word;
  if (!in.ReadAt(m_offset, m_word)) {
    return ReadFailure(in, InputPart::kDroppedCount, m_offset, kWordSize);
  }
  if (auto problem = PlanBlock(head.front, LoadLE32Signed(m_word.data()), size, head.layout)) {
    return problem;
  }
  if (!in.ReadAt(head.layout.TailOffset(), head.tail)) {
    return ReadFailure(in, InputPart::kTail, head.layout.TailOffset(), input::kTailSize);
  }
  return std::nullopt;
}

void StampSecondTable(std::span<uint8_t> entries, uint32_t hash) {
  for (size_t e = 0; e + kEntrySize <= entries.size(); e += kEntrySize) {
    StoreLE32(entries.data() + e + block::kEntryHash, hash);
  }
}

bool WriteMergedHeader(Sink& out) { return out.Write(kMergedHeader) && out.Flush(); }

namespace {

// Where the first tail word lands in the block when the input is well
// formed: the tying words are computed from P and D, whatever the input
// holds.
int32_t TailInBlock(const BlockLayout& l) {
  return Wrap(int64_t{l.p} - l.d - static_cast<int64_t>(block::kFrontShift));
}

// The block's front part: the input's, with the hash, the numbers and the
// offsets in place.
std::array<uint8_t, block::kFrontSize> BlockFront(const InputHead& in, uint32_t h,
                                                  const Numbers& numbers) {
  const BlockLayout& l = in.layout;
  const int32_t tail_ref = Wrap(block::TailRefFor(TailInBlock(l)));
  std::array<uint8_t, block::kFrontSize> front;
  std::memcpy(front.data(), in.front.data() + block::kFrontShift, front.size());
  StoreLE32(front.data() + block::kHash1, h);
  StoreLE32(front.data() + block::kTailRef, tail_ref);
  StoreLEFloat(front.data() + block::kNum2, numbers.num2);
  StoreLEFloat(front.data() + block::kNum3, numbers.num3);
  StoreLEFloat(front.data() + block::kNum4, numbers.num4);
  StoreLEFloat(front.data() + block::kNum1, numbers.num1);
  StoreLE24(front.data() + block::kTailRef24, static_cast<uint32_t>(tail_ref));
  StoreLE32(front.data() + block::kLtail, Wrap(int64_t{l.ltail} - l.d));
  StoreLE32(front.data() + block::kLtable, Wrap(int64_t{l.ltable} - l.d));
  StoreLE32(front.data() + block::kHash2, h);
  return front;
}

// The block's tail and trailer.
std::array<uint8_t, block::kEndSize> BlockEnd(const InputHead& in, const Numbers& numbers) {
  std::array<uint8_t, block::kEndSize> end;
  StoreLE32(end.data() + block::kTailZero, uint32_t{0});
  StoreLE32(end.data() + block::kBackRef, Wrap(block::BackRefFor(TailInBlock(in.layout))));
  std::memcpy(end.data() + block::kTailCopied, in.tail.data() + block::kTailCopied,
              block::kTailCopiedSize);
  StoreLEFloat(end.data() + block::kTrailerNum1, numbers.num1);
  StoreLE32(end.data() + block::kTrailerMarker, block::kMarker);
  std::memcpy(end.data() + block::kTrailerTag, block::kTag.data(), block::kTag.size());
  StoreLE32(end.data() + block::kTrailerZero, uint32_t{0});
  return end;
}

// Copies the second table, read straight into the sink's buffer and
// stamped there, whole entries at a time.
IoStatus CopySecondTable(Source& in, const BlockLayout& l, uint32_t h, Sink& out) {
  for (uint64_t done = 0; done < l.SecondTableSize();) {
    const auto want =
        static_cast<size_t>(std::min<uint64_t>(kStampChunk, l.SecondTableSize() - done));
    const std::span<uint8_t> room = out.Room(want);
    if (room.empty()) return IoStatus::kWriteFailed;
    const std::span<uint8_t> part = room.first(room.size() - room.size() % kEntrySize);
    if (!in.ReadAt(l.SecondTableOffset() + done, part)) return IoStatus::kReadFailed;
    StampSecondTable(part, h);
    out.Commit(part.size());
    done += part.size();
  }
  return IoStatus::kOk;
}

}  // namespace

RewriteStatus RewriteInput(Source& in, std::string_view alias, const Numbers& numbers, Sink& out,
                           InputProblem* problem, std::string* malformation) {
  const auto refuse = [problem](const InputProblem& found) {
    if (problem != nullptr) *problem = found;
    return found.kind == InputProblem::Kind::kReadFailed ? RewriteStatus::kReadFailed
                                                         : RewriteStatus::kDamaged;
  };
  InputHead head;
  if (const auto found = ReadInputHead(in, head)) return refuse(*found);
  const BlockLayout& l = head.layout;
  if (malformation != nullptr) *malformation = l.Malformation();
  const uint32_t h = NameHash(alias);

  if (!out.Write(BlockFront(head, h, numbers))) return RewriteStatus::kWriteFailed;
  IoStatus copied = out.CopyFrom(in, input::kFrontSize, l.FirstTableSize());
  if (copied == IoStatus::kReadFailed) {
    return refuse(ReadFailure(in, InputPart::kFirstTable, input::kFrontSize, l.FirstTableSize()));
  }
  if (copied == IoStatus::kOk) copied = CopySecondTable(in, l, h, out);
  if (copied == IoStatus::kReadFailed) {
    return refuse(
        ReadFailure(in, InputPart::kSecondTable, l.SecondTableOffset(), l.SecondTableSize()));
  }
  if (copied == IoStatus::kWriteFailed) return RewriteStatus::kWriteFailed;
  if (!out.Write(BlockEnd(head, numbers)) || !out.Flush()) return RewriteStatus::kWriteFailed;
  return RewriteStatus::kOk;
}

}  // namespace blkmerge
