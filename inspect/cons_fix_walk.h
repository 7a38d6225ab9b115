// Walking a cons_fix file record by record.
#ifndef BLKMERGE_INSPECT_CONS_FIX_WALK_H_
#define BLKMERGE_INSPECT_CONS_FIX_WALK_H_

#include "driver/job.h"
#include "inspect/report.h"
#include "merge/io.h"

namespace blkmerge::inspect {

// Walks the 176-byte records of `file`, hands each to `sink` and returns
// how many records were walked and how many checks failed. Each record
// must hold two names, each zero-padded to the end of its field (a name
// that fills its field has no zero), and the identity matrix; every record
// must name the same first alias. Bytes after the last whole record are
// reported.
//
// With `job`, record i must name the first alias and the alias of pair
// i + 1, and there must be one record per pair after the first.
WalkSummary WalkConsFix(Source& file, const Job* job, ReportSink& sink);

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_CONS_FIX_WALK_H_
