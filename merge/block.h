// The merged file: its header and the file block each input becomes.
#ifndef BLKMERGE_MERGE_BLOCK_H_
#define BLKMERGE_MERGE_BLOCK_H_

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "merge/io.h"
#include "merge/layout.h"

namespace blkmerge {

// The four numbers every block carries, as the job gives them.
struct Numbers {
  float num1 = 0;
  float num2 = 0;
  float num3 = 0;
  float num4 = 0;
};

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

  // How the input departs from a well-formed one, whose tail (P) is not
  // before its second table (Q), P - Q a multiple of 16, and whose dropped
  // section, from the end of the first table to Q, is exactly D long: each
  // relation that fails, with its values, joined by "; ". Empty for a
  // well-formed input. Such an input is rewritten all the same, into a
  // block whose words do not agree with each other.
  std::string Malformation() const;
};

// The parts of an input that the rewrite reads, front to back.
enum class InputPart { kFrontPart, kFirstTable, kDroppedCount, kSecondTable, kTail };

// Why an input cannot become a block.
struct InputProblem {
  enum class Kind {
    kOutside,     // by its own words, a part lies outside the file
    kEndedEarly,  // the file ended before a part that its size at open held
    kReadFailed,  // reading a part failed
  };
  Kind kind = Kind::kOutside;
  InputPart part = InputPart::kFrontPart;
  int64_t offset = 0;         // where the part starts; negative: before the file's start
  uint64_t length = 0;        // the part's length in bytes
  uint64_t size = 0;          // the file's size when opened
  int32_t count = 0;          // kOutside of the first table: its entry count N, negative
  platform::FileError error;  // kReadFailed: why

  // The part's end lies past the end of the file.
  bool EndsPastEnd() const { return offset >= 0 && static_cast<uint64_t>(offset) + length > size; }
  // Which part of the input falls outside it, ended early or could not be
  // read, and why: "the tail at offset 5000 ends past the end of the file
  // (4092 bytes)".
  std::string Describe() const;
};

// The checks of the front part alone: the first table's entry count N and
// the place of the word M, which must lie inside an input of `size` bytes.
// Returns what falls outside, or nothing with `m_offset` set.
// REQUIRES: size >= input::kFrontSize.
std::optional<InputProblem> CheckFront(std::span<const uint8_t, input::kFrontSize> front,
                                       uint64_t size, uint64_t& m_offset);

// The whole check of an input of `size` bytes with this front part and
// dropped-section count `m`: returns the first part that a read of the
// rewrite would find outside the input, or nothing with `layout` set.
// Pure: no I/O.
std::optional<InputProblem> PlanBlock(std::span<const uint8_t, input::kFrontSize> front, int32_t m,
                                      uint64_t size, BlockLayout& layout);

// An input read as far as its layout: the front part, where its parts lie,
// and its tail.
struct InputHead {
  std::array<uint8_t, input::kFrontSize> front{};
  BlockLayout layout;
  std::array<uint8_t, input::kTailSize> tail{};
};

// Reads the front part, the word M and the tail of `in` and checks the
// layout they give (PlanBlock). Returns why the input cannot be rewritten,
// or nothing with `head` filled in. The tables are not read. Once the
// front part places them, tells `in` (Source::WillRead) what the rewrite
// reads next: the word M, the tail, the first table, the second table.
std::optional<InputProblem> ReadInputHead(Source& in, InputHead& head);

// Puts `hash` into the last word of every whole 16-byte entry of `entries`.
void StampSecondTable(std::span<uint8_t> entries, uint32_t hash);

enum class RewriteStatus {
  kOk,
  kDamaged,     // the input is too short or damaged for its own words, or ended early
  kReadFailed,  // reading the input failed
  kWriteFailed,
};

// Appends the merged file header to `out`.
bool WriteMergedHeader(Sink& out);

// Rewrites `in` into one file block stamped with the name hash of `alias`
// and appends it to `out`, then flushes `out`. Nothing is written when the
// input is too short or damaged for its own offsets (kDamaged). Reads only
// up to the end of the tail, and the tables in pieces: memory does not
// grow with the input. For kDamaged and kReadFailed, `problem` (where
// given) says which part and why. Once the layout is read, `malformation`
// (where given) is set to BlockLayout::Malformation.
RewriteStatus RewriteInput(Source& in, std::string_view alias, const Numbers& numbers, Sink& out,
                           InputProblem* problem = nullptr, std::string* malformation = nullptr);

}  // namespace blkmerge

#endif  // BLKMERGE_MERGE_BLOCK_H_
