#include "merge/block.h"

#include <algorithm>
#include <cstring>

#include "merge/coding.h"
#include "merge/name_hash.h"

namespace blkmerge {
namespace {

// Most of the second table read and stamped at a time (whole entries).
// Measured: 16 KiB pieces are slower, 64 KiB to 1 MiB all cost the same;
// 64 KiB keeps the piece in cache between the read and the stamping.
constexpr size_t kStampChunk = 1 << 16;
static_assert(kStampChunk % input::kEntrySize == 0);
static_assert(Sink::kMinRoom % input::kEntrySize == 0);

// The block's front part sits 8 bytes before where it stood in the input.
constexpr uint64_t kFrontShift = input::kFrontSize - block::kFrontSize;
static_assert(input::kTailRef - kFrontShift == block::kTailRef);
static_assert(input::kNumbers - kFrontShift == block::kNumbers);
static_assert(input::kTailRef24 - kFrontShift == block::kTailRef24);
static_assert(input::kLtail - kFrontShift == block::kLtail);
static_assert(input::kLtable - kFrontShift == block::kLtable);
static_assert(input::kHash2 - kFrontShift == block::kHash2);

int32_t FrontWord(std::span<const uint8_t, input::kFrontSize> front, uint64_t offset) {
  return LoadLE32Signed(front.data() + offset);
}

}  // namespace

std::optional<uint64_t> DroppedCountOffset(std::span<const uint8_t, input::kFrontSize> front,
                                           uint64_t size) {
  const int32_t n = FrontWord(front, input::kN);
  if (n < 0) return std::nullopt;
  const uint64_t offset =
      input::kFrontSize + input::kEntrySize * static_cast<uint64_t>(n) + input::kDroppedHeader - 4;
  if (offset + 4 > size) return std::nullopt;
  return offset;
}

std::optional<BlockLayout> PlanBlock(std::span<const uint8_t, input::kFrontSize> front, int32_t m,
                                     uint64_t size) {
  if (size < input::kFrontSize || !DroppedCountOffset(front, size)) return std::nullopt;
  BlockLayout l;
  l.ltail = FrontWord(front, input::kLtail);
  l.ltable = FrontWord(front, input::kLtable);
  l.n = FrontWord(front, input::kN);
  l.m = m;
  l.p = Wrap(int64_t{l.ltail} + static_cast<int64_t>(input::kLtailBase));
  l.q = Wrap(int64_t{l.ltable} + static_cast<int64_t>(input::kLtable));
  l.d = Wrap(int64_t{m} * 16 + 16);
  l.k = Wrap(int64_t{l.p} - l.q) / 16;  // truncates toward zero, as the format wants
  if (l.q < 0 || static_cast<uint64_t>(l.q) > size) return std::nullopt;
  if (l.TailOffset() + input::kTailSize > size) return std::nullopt;
  return l;
}

void StampSecondTable(std::span<uint8_t> entries, uint32_t hash) {
  for (size_t e = 0; e + input::kEntrySize <= entries.size(); e += input::kEntrySize) {
    StoreLE32(entries.data() + e + input::kEntryHash, hash);
  }
}

bool WriteMergedHeader(Sink& out) { return out.Write(kMergedHeader) && out.Flush(); }

RewriteStatus RewriteInput(Source& in, std::string_view alias, const Numbers& numbers, Sink& out) {
  // Every read is checked against the input's size before a byte is written.
  std::array<uint8_t, input::kFrontSize> front;
  if (in.Size() < front.size() || !in.ReadAt(0, front)) return RewriteStatus::kDamaged;
  const auto m_offset = DroppedCountOffset(front, in.Size());
  std::array<uint8_t, 4> m_word;
  if (!m_offset || !in.ReadAt(*m_offset, m_word)) return RewriteStatus::kDamaged;
  const auto layout = PlanBlock(front, LoadLE32Signed(m_word.data()), in.Size());
  std::array<uint8_t, input::kTailSize> tail;
  if (!layout || !in.ReadAt(layout->TailOffset(), tail)) return RewriteStatus::kDamaged;
  const BlockLayout& l = *layout;

  const uint32_t h = NameHash(alias);
  const int32_t tail_ref = Wrap(int64_t{l.p} - l.d - 28);

  std::array<uint8_t, block::kFrontSize> head;
  std::memcpy(head.data(), front.data() + kFrontShift, head.size());
  StoreLE32(head.data(), h);
  StoreLE32(head.data() + block::kTailRef, tail_ref);
  StoreLEFloat(head.data() + block::kNumbers, numbers.num2);
  StoreLEFloat(head.data() + block::kNumbers + 4, numbers.num3);
  StoreLEFloat(head.data() + block::kNumbers + 8, numbers.num4);
  StoreLEFloat(head.data() + block::kNumbers + 12, numbers.num1);
  std::array<uint8_t, 4> tail_ref_bytes;
  StoreLE32(tail_ref_bytes.data(), tail_ref);
  std::memcpy(head.data() + block::kTailRef24, tail_ref_bytes.data(), 3);
  StoreLE32(head.data() + block::kLtail, Wrap(int64_t{l.ltail} - l.d));
  StoreLE32(head.data() + block::kLtable, Wrap(int64_t{l.ltable} - l.d));
  StoreLE32(head.data() + block::kHash2, h);
  if (!out.Write(head)) return RewriteStatus::kWriteFailed;

  switch (out.CopyFrom(in, input::kFrontSize, l.FirstTableSize())) {
    case IoStatus::kOk: break;
    case IoStatus::kReadFailed: return RewriteStatus::kDamaged;
    case IoStatus::kWriteFailed: return RewriteStatus::kWriteFailed;
  }

  // The second table is read straight into the sink's buffer and stamped
  // there, whole entries at a time.
  for (uint64_t done = 0; done < l.SecondTableSize();) {
    const auto want =
        static_cast<size_t>(std::min<uint64_t>(kStampChunk, l.SecondTableSize() - done));
    const std::span<uint8_t> room = out.Room(want);
    if (room.empty()) return RewriteStatus::kWriteFailed;
    const std::span<uint8_t> part = room.first(room.size() - room.size() % input::kEntrySize);
    if (!in.ReadAt(l.SecondTableOffset() + done, part)) return RewriteStatus::kDamaged;
    StampSecondTable(part, h);
    out.Commit(part.size());
    done += part.size();
  }

  std::array<uint8_t, block::kTailSize + block::kTrailerSize> end;
  StoreLE32(end.data(), uint32_t{0});
  StoreLE32(end.data() + 4, Wrap(int64_t{104} + l.d - l.p));
  std::memcpy(end.data() + 8, tail.data() + 8, 12);
  StoreLEFloat(end.data() + 20, numbers.num1);
  StoreLE32(end.data() + 24, kTrailerMarker);
  std::memcpy(end.data() + 28, "hpid", 4);
  StoreLE32(end.data() + 32, uint32_t{0});
  if (!out.Write(end) || !out.Flush()) return RewriteStatus::kWriteFailed;
  return RewriteStatus::kOk;
}

}  // namespace blkmerge
