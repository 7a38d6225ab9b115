// Opening and reading the job file.
#ifndef BLKMERGE_DRIVER_JOB_FILE_H_
#define BLKMERGE_DRIVER_JOB_FILE_H_

#include <optional>
#include <string>

#include "driver/job.h"
#include "driver/job_reader.h"

namespace blkmerge {

// Reads and checks the job file `name` (see ReadJob). Returns nothing when
// it cannot be opened, or is a directory or a device (a device may never
// end); a pipe is read to its end.
std::optional<JobProblem> ReadJobFile(const std::string& name, Job& job);

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_JOB_FILE_H_
