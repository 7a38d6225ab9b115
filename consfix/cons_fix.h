// The cons_fix file: one fixed record per pair after the first, tying that
// pair's alias to the first alias with a 3 × 3 identity matrix.
#ifndef BLKMERGE_CONSFIX_CONS_FIX_H_
#define BLKMERGE_CONSFIX_CONS_FIX_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "merge/layout.h"

namespace blkmerge {

// The record, byte by byte: two zero-padded names and a 3 × 3 identity
// matrix of little-endian floats, row by row. The writer and blkinspect use
// these names only.
namespace cons_fix {
inline constexpr uint64_t kFirstAliasField = 64;  // at 0
inline constexpr uint64_t kAliasField = 76;       // at kFirstAliasField
inline constexpr uint64_t kMatrixOffset = kFirstAliasField + kAliasField;
inline constexpr uint64_t kMatrixSide = 3;
inline constexpr uint64_t kMatrixSize = kMatrixSide * kMatrixSide * kWordSize;
inline constexpr uint64_t kRecordSize = kMatrixOffset + kMatrixSize;
// Entry (row, column) of the matrix.
constexpr uint64_t MatrixEntry(uint64_t row, uint64_t column) {
  return kMatrixOffset + (row * kMatrixSide + column) * kWordSize;
}
static_assert(kRecordSize == 176);
static_assert(MatrixEntry(0, 0) == 140 && MatrixEntry(1, 1) == 156 && MatrixEntry(2, 2) == 172);
}  // namespace cons_fix

// Appends the record naming `first` and `alias` to `out`. Each name is
// padded with zero bytes to the end of its field; a name longer than its
// field is written whole and pushes what follows it along until a later
// padding run absorbs the overrun, so such records are longer than 176.
void AppendConsFixRecord(std::string_view first, std::string_view alias, std::vector<uint8_t>& out);

// Returns the whole cons_fix file for the aliases of a job's pairs, in job
// order: one record for each alias after the first, nothing for fewer than
// two.
std::vector<uint8_t> ConsFixRecords(std::span<const std::string_view> aliases);

}  // namespace blkmerge

#endif  // BLKMERGE_CONSFIX_CONS_FIX_H_
