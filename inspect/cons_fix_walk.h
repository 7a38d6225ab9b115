// Walking a cons_fix file record by record.
#ifndef BLKMERGE_INSPECT_CONS_FIX_WALK_H_
#define BLKMERGE_INSPECT_CONS_FIX_WALK_H_

#include "driver/job.h"
#include "inspect/report.h"
#include "merge/io.h"

namespace blkmerge::inspect {

// Walks the records of `file`, at most kMaxPairs - 1 of them (what one run
// writes), and reports each with the checks that fail: two names, each
// zero-padded to the end of its field (a name that fills its field has no
// zero), then the identity matrix; every record names the same first
// alias; the file holds whole records only.
//
// With `job`, record i must name the first alias and the alias of pair
// i + 1, and there must be one record per pair after the first.
ConsFixReport WalkConsFix(Source& file, const Job* job);

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_CONS_FIX_WALK_H_
