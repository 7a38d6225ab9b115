// Checking a merged file's blocks against the inputs that made them.
#ifndef BLKMERGE_INSPECT_VERIFY_H_
#define BLKMERGE_INSPECT_VERIFY_H_

#include "driver/job.h"
#include "inspect/merged_walk.h"
#include "inspect/report.h"
#include "merge/io.h"

namespace blkmerge::inspect {

// Rewrites `input` as blkmerge does for `pair` and the job's `numbers`,
// and compares the block it gives, byte for byte, with `block` in
// `merged`. A difference is one finding of the block: how many bytes
// differ (a difference in length counts each byte one has and the other
// lacks), and the first of them, with the part of the block it lies in.
// An input that is too short or damaged for its offsets is a finding too.
// Returns true when the two blocks are equal. Memory stays bounded
// whatever the size of the block.
bool VerifyBlock(Source& merged, Source& input, const Pair& pair, const Numbers& numbers,
                 BlockReport& block, MergedReport& r);

// The check that gives block i of `merged` to VerifyBlock with pair i of
// `job`, its input opened by its name as blkmerge opens it. An input that
// cannot be opened is a finding of its block; a block past the job's
// pairs is left to the walk's count.
BlockCheck AgainstInputs(Source& merged, const Job& job);

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_VERIFY_H_
