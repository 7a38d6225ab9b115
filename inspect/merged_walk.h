// Walking a merged file block by block and checking every relation that a
// block rewritten from a well-formed input holds.
#ifndef BLKMERGE_INSPECT_MERGED_WALK_H_
#define BLKMERGE_INSPECT_MERGED_WALK_H_

#include <cstdint>

#include "driver/job.h"
#include "inspect/report.h"
#include "merge/io.h"

namespace blkmerge::inspect {

// Stretch of a block read at a time: the file is never held whole.
inline constexpr uint64_t kReadChunk = 1 << 16;

// Second-table entries with a wrong hash reported one by one in a block;
// the rest are counted in one finding.
inline constexpr uint64_t kMaxEntryFindings = 16;

// Walks the merged file in `file` from its header, hands each block to
// `sink` and returns how many blocks were walked and how many checks failed.
//
// A block's end comes from its own words: the word at 80, counted from 48,
// lands on the first tail word, and the block ends 36 bytes after it. When
// the trailer is not there but is where the word at 44 says, the walk
// follows 44 instead (and reports 80), so one bad word costs one finding.
// The second table starts where the word at 96, counted from 96, lands,
// or where the first table's count at 108 ends it; when the two disagree
// the earlier start whose first entry carries the block's hash wins.
// N and K follow from where the second table starts and where the tail is.
// The block's hash is the word at 0, unless the word at 100 and the first
// second-table entry (or, with no entries, the job) agree on another.
// The walk stops, with a finding, where no block end can be found inside
// the file. Every step moves at least 148 bytes on, so it ends.
//
// With `job`, block i is also checked against pair i: its alias's hash and
// the job's four numbers, and the block count against the pair count.
WalkSummary WalkMerged(Source& file, const Job* job, ReportSink& sink);

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_MERGED_WALK_H_
