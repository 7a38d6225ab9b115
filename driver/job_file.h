// Opening and reading the job file.
#ifndef BLKMERGE_DRIVER_JOB_FILE_H_
#define BLKMERGE_DRIVER_JOB_FILE_H_

#include <string>

#include "driver/failure.h"
#include "driver/job.h"
#include "platform/file.h"

namespace blkmerge {

// Reads and checks the job file `name` (see ReadJob). It fails
// (kJobUnopened) when the file cannot be opened, is a directory or a
// device (a device may never end), or (kJobUnread) when a read fails
// before its end: a job is never taken from part of its file. A pipe is
// read to its end. `opened`, where given, is set to what the job file is.
Failure ReadJobFile(const std::string& name, Job& job, platform::FileInfo* opened = nullptr);

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_JOB_FILE_H_
