// The cons_fix file: one fixed record per pair after the first, tying that
// pair's alias to the first alias with a 3 × 3 identity matrix.
#ifndef BLKMERGE_CONSFIX_CONS_FIX_H_
#define BLKMERGE_CONSFIX_CONS_FIX_H_

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "driver/job.h"
#include "merge/layout.h"

namespace blkmerge {

// Appends the record naming `first` and `alias` to `out`. Each name is
// padded with zero bytes to the end of its field; a name longer than its
// field is written whole and pushes what follows it along until a later
// padding run absorbs the overrun, so such records are longer than 176.
void AppendConsFixRecord(std::string_view first, std::string_view alias, std::vector<uint8_t>& out);

// Returns the whole cons_fix file for `pairs` (in job order): one record for
// each pair after the first, nothing for fewer than two.
std::vector<uint8_t> ConsFixRecords(std::span<const Pair> pairs);

}  // namespace blkmerge

#endif  // BLKMERGE_CONSFIX_CONS_FIX_H_
