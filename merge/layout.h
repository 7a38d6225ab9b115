// The binary formats of the merged file, byte by byte: the input file, the
// file block it becomes and the merged file's header. Every value is
// little-endian; offsets and sizes are in bytes. The rewrite and blkinspect
// use these names only.
#ifndef BLKMERGE_MERGE_LAYOUT_H_
#define BLKMERGE_MERGE_LAYOUT_H_

#include <array>
#include <cstdint>

namespace blkmerge {

inline constexpr uint64_t kWordSize = 4;    // an int32 or a float
inline constexpr uint64_t kEntrySize = 16;  // of either table and of the dropped section

// The merged file starts with "vers" and the float 2.0.
inline constexpr std::array<uint8_t, 8> kMergedHeader = {'v',  'e',  'r',  's',
                                                         0x00, 0x00, 0x00, 0x40};

// Input file, offsets from its start.
namespace input {
inline constexpr uint64_t kHash1 = 8;           // 4, replaced by the hash (0 to 7 are dropped)
inline constexpr uint64_t kCopied1 = 12;        // 40, copied
inline constexpr uint64_t kTailRef = 52;        // 4, computed anew
inline constexpr uint64_t kLtailBase = 56;      // Ltail counts from here
inline constexpr uint64_t kNumbers = 68;        // 16, replaced by the job's numbers
inline constexpr uint64_t kTailRef24 = 85;      // 3, computed anew
inline constexpr uint64_t kLtail = 88;          // 4
inline constexpr uint64_t kLtable = 104;        // 4, counts from itself
inline constexpr uint64_t kHash2 = 108;         // 4, replaced by the hash
inline constexpr uint64_t kN = 116;             // 4, entries in the first table
inline constexpr uint64_t kFrontSize = 120;     // the first table starts here
inline constexpr uint64_t kDroppedHeader = 16;  // the dropped section's sub-header ...
inline constexpr uint64_t kDroppedM = 12;       // ... holds M in its last word
inline constexpr uint64_t kTailSize = 20;       // laid out as the block's tail
}  // namespace input

// File block, offsets from its start. The front part is the input's, 8
// bytes earlier; the tail and the trailer follow the second table.
namespace block {
inline constexpr uint64_t kFrontShift = 8;  // input offset - block offset in the front
inline constexpr uint64_t kHash1 = 0;
inline constexpr uint64_t kTailRef = 44;    // counted from kLtailBase, lands on kTrailerTag
inline constexpr uint64_t kLtailBase = 48;  // the word at kLtail counts from here
inline constexpr uint64_t kNum2 = 60;       // the job's numbers: num2, num3, num4, num1
inline constexpr uint64_t kNum3 = 64;
inline constexpr uint64_t kNum4 = 68;
inline constexpr uint64_t kNum1 = 72;
inline constexpr uint64_t kTailRef24 = 77;  // 3 bytes, the low 24 bits of the tail reference
inline constexpr uint64_t kLtail = 80;      // counted from kLtailBase, lands on the tail
inline constexpr uint64_t kLtable = 96;     // counted from itself, lands on the second table
inline constexpr uint64_t kHash2 = 100;
inline constexpr uint64_t kN = 108;          // the first table's entry count
inline constexpr uint64_t kFrontSize = 112;  // the first table starts here
inline constexpr uint64_t kEntryHash = 12;   // the hash word of a second-table entry

// From the first tail word on: the tail, then the trailer.
inline constexpr uint64_t kTailZero = 0;
inline constexpr uint64_t kBackRef = 4;  // counted from the first tail word, lands on kLtable
inline constexpr uint64_t kTailCopied = 8;
inline constexpr uint64_t kTailCopiedSize = 12;
inline constexpr uint64_t kTailSize = 20;
inline constexpr uint64_t kTrailerNum1 = 20;
inline constexpr uint64_t kTrailerMarker = 24;
inline constexpr uint64_t kTrailerTag = 28;
inline constexpr uint64_t kTrailerZero = 32;
inline constexpr uint64_t kEndSize = 36;  // tail and trailer
inline constexpr uint64_t kFixedSize = kFrontSize + kEndSize;

inline constexpr uint32_t kMarker = 0x00421337;
inline constexpr std::array<uint8_t, 4> kTag = {'h', 'p', 'i', 'd'};

// What the tying words of a block hold when its first tail word is at
// block offset `tail` and its second table at `second`.
constexpr int64_t TailRefFor(int64_t tail) {
  return tail + static_cast<int64_t>(kTrailerTag - kLtailBase);
}
constexpr int64_t LtailFor(int64_t tail) { return tail - static_cast<int64_t>(kLtailBase); }
constexpr int64_t LtableFor(int64_t second) { return second - static_cast<int64_t>(kLtable); }
constexpr int64_t BackRefFor(int64_t tail) { return static_cast<int64_t>(kLtable) - tail; }

static_assert(input::kHash1 - kFrontShift == kHash1);
static_assert(input::kTailRef - kFrontShift == kTailRef);
static_assert(input::kLtailBase - kFrontShift == kLtailBase);
static_assert(input::kNumbers - kFrontShift == kNum2 && kNum1 == kNum2 + 3 * kWordSize);
static_assert(input::kTailRef24 - kFrontShift == kTailRef24);
static_assert(input::kLtail - kFrontShift == kLtail);
static_assert(input::kLtable - kFrontShift == kLtable);
static_assert(input::kHash2 - kFrontShift == kHash2);
static_assert(input::kN - kFrontShift == kN);
static_assert(input::kFrontSize - kFrontShift == kFrontSize);
static_assert(input::kTailSize == kTailSize && kTailCopied + kTailCopiedSize == kTailSize);
static_assert(kTrailerZero + kWordSize == kEndSize && kEndSize - kTailSize == 16);
static_assert(kFixedSize == 148);
// The well-formed worked block: N = 1, K = 2, 196 bytes.
static_assert(TailRefFor(160) == 140 && LtailFor(160) == 112 && LtableFor(128) == 32 &&
              BackRefFor(160) == -64);
}  // namespace block

}  // namespace blkmerge

#endif  // BLKMERGE_MERGE_LAYOUT_H_
