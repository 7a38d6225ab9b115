// What a run checks before it touches any output, for both tools: blkmerge
// runs it first, blkinspect tells from it what blkmerge would do.
#ifndef BLKMERGE_DRIVER_PREFLIGHT_H_
#define BLKMERGE_DRIVER_PREFLIGHT_H_

#include <string>

#include "driver/failure.h"
#include "driver/job.h"
#include "platform/file.h"

namespace blkmerge {

// Reads and checks the job file as a run does before it touches any
// output: the file read to its end, the job reader's checks, then the
// same-file checks (the outputs with each other, with the job file and
// with every input). Returns the first failure, or none with `job` read.
// `opened`, where given, is set to what the job file is.
Failure CheckJob(const std::string& job_file, Job& job, platform::FileInfo* opened = nullptr);

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_PREFLIGHT_H_
