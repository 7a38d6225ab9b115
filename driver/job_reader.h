// Reading and checking the job file.
//
// Places in the job text are given as a line and a column (TextPosition).
// The end of the text is at the byte 0x1A that ends it, or just past the
// last byte of the file.
#ifndef BLKMERGE_DRIVER_JOB_READER_H_
#define BLKMERGE_DRIVER_JOB_READER_H_

#include <istream>
#include <string_view>

#include "driver/failure.h"
#include "driver/job.h"

namespace blkmerge {

// Reads the whole job from `stream` into `job` and checks it, stopping at the
// first problem in the order the file is read. Whitespace is 0x09 to 0x0D
// and 0x20; a byte 0x1A ends the text; a zero byte ends a name. A number
// text may be of any length and is rounded exactly to the nearest float.
// Memory stays bounded whatever the length of the text.
//
// Returns the problem as a failure whose detail starts with
// "JOB_FILE:LINE:COLUMN: " (`job_file` as the command line gives it), the
// place of the offending token or of the end of the text; or no failure.
// Either way `job.warnings` holds what was found on the way that is
// probably not what the writer meant: a text that starts with a byte order
// mark or looks like UTF-16, and a lone input name at the end.
Failure ReadJob(std::istream& stream, std::string_view job_file, Job& job);

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_JOB_READER_H_
