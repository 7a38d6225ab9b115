// The checks of blkinspect: walking a merged file block by block and a
// cons_fix file record by record, each into its report, comparing blocks
// with the inputs that made them, and planning a run of blkmerge.
#ifndef BLKMERGE_INSPECT_WALK_H_
#define BLKMERGE_INSPECT_WALK_H_

#include <cstdint>
#include <functional>
#include <string>

#include "driver/job.h"
#include "inspect/report.h"
#include "merge/io.h"

namespace blkmerge::inspect {

// The most of a file read at a time: memory stays bounded whatever the
// size of the file.
inline constexpr uint64_t kReadChunk = 1 << 16;

// A further check of a placed block, which adds its findings to the block
// and returns true when the block is exactly what it must be.
using BlockCheck = std::function<bool(BlockReport& block, MergedReport& r)>;

// Walks the merged file in `file` from its header and reports every block
// it can place, at most kMaxPairs of them (what one run writes), with
// each check that fails: every relation that a block rewritten from a
// well-formed input holds.
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
// With `job`, block i is also checked against pair i (its alias's hash and
// the job's four numbers), and the block count against the pair count.
// With `verify`, every placed block is given to it too; the second-table
// hashes of a block it passes are not read again.
MergedReport WalkMerged(Source& file, const Job* job, const BlockCheck& verify = {});

// Walks the records of `file`, at most kMaxPairs - 1 of them (what one run
// writes), and reports each with the checks that fail: two names, each
// zero-padded to the end of its field (a name that fills its field has no
// zero), then the identity matrix; every record names the same first
// alias; the file holds whole records only.
//
// With `job`, the name fields of record i must hold the names of the
// record blkmerge writes for the first alias and the alias of pair i + 1
// (AppendConsFixRecord), and there must be one record per pair after the
// first.
ConsFixReport WalkConsFix(Source& file, const Job* job);

// Rewrites `input` as blkmerge does for `pair` and the job's `numbers`,
// and compares the block it gives, byte for byte, with `block` in
// `merged`. A difference is one finding of the block: how many bytes
// differ (a difference in length counts each byte one has and the other
// lacks), and the first of them, with the part of the block it lies in.
// An input that is too short or damaged for its offsets, or cannot be
// read, is a finding too. Returns true when the two blocks are equal.
// Memory stays bounded whatever the size of the block.
bool VerifyBlock(Source& merged, Source& input, const Pair& pair, const Numbers& numbers,
                 BlockReport& block, MergedReport& r);

// The check that gives block i of `merged` to VerifyBlock with pair i of
// `job`, its input opened by its name and read ahead as blkmerge opens
// and reads it (ReadAhead). An input that cannot be opened is a finding of
// its block; a block past the job's pairs is left to the walk's count.
BlockCheck AgainstInputs(Source& merged, const Job& job);

// Reads and checks `job_file` as blkmerge does (CheckJob), then meets the
// failures that the run would meet next, as the files stand: an output it
// cannot open (its directory is missing, its links do not end, or it is a
// directory or a socket), and in job order an input it cannot open as
// blkmerge opens inputs or whose layout the rewrite refuses
// (ReadInputHead). Every input is checked: each one that would stop a run
// is listed, and the first failure is the run's. Only reads files. What
// only writing can show (a full disk, a file-size limit, an output it may
// not write, a named pipe with no reader, a lock) is not found.
Plan MakePlan(const std::string& job_file);

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_WALK_H_
