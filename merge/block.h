// The merged file: its header and the file block each input becomes.
#ifndef BLKMERGE_MERGE_BLOCK_H_
#define BLKMERGE_MERGE_BLOCK_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "driver/job.h"
#include "merge/io.h"
#include "merge/layout.h"

namespace blkmerge {

// Where an input's parts lie, from the words read out of it.
struct BlockLayout {
  int32_t ltail = 0;   // the tail, counted from input::kLtailBase
  int32_t ltable = 0;  // the second table, counted from input::kLtable
  int32_t n = 0;       // entries in the first table
  int32_t m = 0;       // entries in the dropped section
  int32_t p = 0;       // P, the input offset of the tail
  int32_t q = 0;       // Q, the input offset of the second table
  int32_t d = 0;       // D, the size of the dropped section: its sub-header and M entries
  int32_t k = 0;       // (P − Q) / 16, rounded toward zero

  uint64_t FirstTableSize() const { return kEntrySize * static_cast<uint64_t>(n); }
  uint64_t SecondTableOffset() const { return static_cast<uint64_t>(q); }
  uint64_t SecondTableSize() const { return k > 0 ? kEntrySize * static_cast<uint64_t>(k) : 0; }
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
