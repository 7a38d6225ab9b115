#include "driver/preflight.h"

#include "driver/job_file.h"
#include "driver/same_file.h"

namespace blkmerge {

Failure CheckJob(const std::string& job_file, Job& job, platform::FileInfo* opened) {
  if (Failure failure = ReadJobFile(job_file, job, opened)) return failure;
  return CheckOutputsApart(job, job_file);
}

}  // namespace blkmerge
