// The merged file: its header and the file block each input becomes.
#ifndef BLKMERGE_MERGE_BLOCK_H_
#define BLKMERGE_MERGE_BLOCK_H_

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "merge/io.h"

namespace blkmerge {

// The merged file starts with "vers" and the float 2.0.
inline constexpr std::array<uint8_t, 8> kMergedHeader = {'v',  'e',  'r',  's',
                                                         0x00, 0x00, 0x00, 0x40};

// Input file layout (offsets from the start of the input).
namespace input {
inline constexpr uint64_t kHash1 = 8;           // 4, replaced by the hash
inline constexpr uint64_t kCopied1 = 12;        // 40, copied
inline constexpr uint64_t kTailRef = 52;        // 4, recomputed
inline constexpr uint64_t kLtailBase = 56;      // Ltail counts from here
inline constexpr uint64_t kNumbers = 68;        // 16, the job's numbers
inline constexpr uint64_t kTailRef24 = 85;      // 3, recomputed
inline constexpr uint64_t kLtail = 88;          // 4
inline constexpr uint64_t kLtable = 104;        // 4, counts from itself
inline constexpr uint64_t kHash2 = 108;         // 4, replaced by the hash
inline constexpr uint64_t kN = 116;             // 4
inline constexpr uint64_t kFrontSize = 120;     // the first table starts here
inline constexpr uint64_t kDroppedHeader = 16;  // sub-header, M in its last word
inline constexpr uint64_t kEntrySize = 16;
inline constexpr uint64_t kEntryHash = 12;  // second table: the hash word
inline constexpr uint64_t kTailSize = 20;   // two words, then 12 copied bytes
}  // namespace input

// File block layout (offsets from the start of the block).
namespace block {
inline constexpr uint64_t kFrontSize = 112;  // the first table starts here
inline constexpr uint64_t kTailRef = 44;
inline constexpr uint64_t kNumbers = 60;
inline constexpr uint64_t kTailRef24 = 77;
inline constexpr uint64_t kLtail = 80;
inline constexpr uint64_t kLtable = 96;
inline constexpr uint64_t kHash2 = 100;
inline constexpr uint64_t kTailSize = 20;     // 0, back offset, 12 copied bytes
inline constexpr uint64_t kTrailerSize = 16;  // num1, 0x00421337, "hpid", 0
inline constexpr uint64_t kFixedSize = kFrontSize + kTailSize + kTrailerSize;
static_assert(kFixedSize == 148);
}  // namespace block

inline constexpr uint32_t kTrailerMarker = 0x00421337;

struct Numbers {
  float num1 = 0;
  float num2 = 0;
  float num3 = 0;
  float num4 = 0;
};

// Where an input's parts lie, from the words read out of it.
struct BlockLayout {
  int32_t ltail = 0;   // the tail, counted from input offset 56
  int32_t ltable = 0;  // the second table, counted from input offset 104
  int32_t n = 0;       // entries in the first table
  int32_t m = 0;       // entries in the dropped section
  int32_t p = 0;       // Ltail + 56
  int32_t q = 0;       // Ltable + 104
  int32_t d = 0;       // 16·M + 16, the size of the dropped section
  int32_t k = 0;       // (P − Q) / 16, rounded toward zero

  uint64_t FirstTableSize() const { return input::kEntrySize * static_cast<uint64_t>(n); }
  uint64_t SecondTableOffset() const { return static_cast<uint64_t>(q); }
  uint64_t SecondTableSize() const {
    return k > 0 ? input::kEntrySize * static_cast<uint64_t>(k) : 0;
  }
  uint64_t TailOffset() const { return SecondTableOffset() + SecondTableSize(); }
  uint64_t BlockSize() const { return block::kFixedSize + FirstTableSize() + SecondTableSize(); }
};

// Returns the input offset of the word M, or nothing when an input of
// `size` bytes with this front part cannot hold it.
// REQUIRES: size >= input::kFrontSize.
std::optional<uint64_t> DroppedCountOffset(std::span<const uint8_t, input::kFrontSize> front,
                                           uint64_t size);

// Returns the layout of an input of `size` bytes with this front part and
// dropped-section count `m`, or nothing when any read of the rewrite would
// fall outside the input. Pure: the whole check, no I/O.
std::optional<BlockLayout> PlanBlock(std::span<const uint8_t, input::kFrontSize> front, int32_t m,
                                     uint64_t size);

// Puts `hash` into the last word of every whole 16-byte entry of `entries`.
void StampSecondTable(std::span<uint8_t> entries, uint32_t hash);

enum class RewriteStatus { kOk, kDamaged, kWriteFailed };

// Appends the merged file header to `out`.
bool WriteMergedHeader(Sink& out);

// Rewrites `in` into one file block stamped with the name hash of `alias`
// and appends it to `out`, then flushes `out`. Nothing is written when the
// input is too short or damaged for its own offsets (kDamaged). Reads only
// up to the end of the tail, and the tables in pieces: memory does not
// grow with the input.
RewriteStatus RewriteInput(Source& in, std::string_view alias, const Numbers& numbers, Sink& out);

}  // namespace blkmerge

#endif  // BLKMERGE_MERGE_BLOCK_H_
