// Opening and reading the job file.
#ifndef BLKMERGE_DRIVER_JOB_FILE_H_
#define BLKMERGE_DRIVER_JOB_FILE_H_

#include <cstdint>
#include <optional>
#include <string>

#include "driver/job.h"
#include "driver/job_reader.h"
#include "platform/file.h"

namespace blkmerge {

// Why a job file could not be read to its end.
struct JobFileFault {
  bool opened = false;        // false: it could not be opened; true: a read failed
  platform::FileError error;  // why
  platform::FileKind kind = platform::FileKind::kRegular;  // what was found, where anything was
  uint64_t offset = 0;  // opened: the bytes read before the read that failed
};

// Reads and checks the job file `name` (see ReadJob). Returns nothing, with
// `fault` set, when it cannot be opened, is a directory or a device (a
// device may never end), or a read fails before its end: a job is never
// taken from part of its file. A pipe is read to its end.
std::optional<JobProblem> ReadJobFile(const std::string& name, Job& job, JobFileFault& fault);

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_JOB_FILE_H_
