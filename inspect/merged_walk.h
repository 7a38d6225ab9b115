// Walking a merged file block by block, checking every relation that a
// block rewritten from a well-formed input holds.
#ifndef BLKMERGE_INSPECT_MERGED_WALK_H_
#define BLKMERGE_INSPECT_MERGED_WALK_H_

#include <cstdint>
#include <functional>

#include "driver/job.h"
#include "inspect/report.h"
#include "merge/io.h"

namespace blkmerge::inspect {

// The most of a file read at a time: memory stays bounded whatever the
// size of the file.
inline constexpr uint64_t kReadChunk = 1 << 16;

// Walks the merged file in `file` from its header and reports every block
// it can place, at most kMaxPairs of them (what one run writes), with
// each check that fails.
//
// A block's parts are placed by its own words, so that one bad word costs
// one finding: the tail where the tail offset puts it, or where the tail
// reference does when only that one finds the trailer; the second table
// where the table offset or the first-table count puts it (the earlier of
// the two whose first entry carries a hash of the block, when both fit).
// The block's hash is its first word unless the second hash word and the
// first second-table entry (or, with no entries, the job) agree on another.
// The walk stops with a finding where no block end lies inside the file
// on the grid of whole entries, after kMaxPairs blocks, or when a read
// fails (and then marks the report unreadable).
//
// A further check of a placed block, which adds its findings to the block
// and returns true when the block is exactly what it must be.
using BlockCheck = std::function<bool(BlockReport& block, MergedReport& r)>;

// With `job`, block i is also checked against pair i (its alias's hash and
// the job's four numbers), and the block count against the pair count.
// With `verify`, every placed block is given to it too; the second-table
// hashes of a block it passes are not read again.
MergedReport WalkMerged(Source& file, const Job* job, const BlockCheck& verify = {});

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_MERGED_WALK_H_
