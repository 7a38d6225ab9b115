// Telling whether two names reach the same file.
#ifndef BLKMERGE_DRIVER_SAME_FILE_H_
#define BLKMERGE_DRIVER_SAME_FILE_H_

#include <optional>
#include <string>

#include "driver/failure.h"
#include "driver/job.h"
#include "platform/file.h"
#include "platform/output.h"

namespace blkmerge {

// Fails when an output reaches a file the run must not overwrite, with the
// first clash in this order: the outputs with each other
// (kSameOutputNames); the merged name with the job file and then each input
// in job order, the cons_fix name likewise (kSameFile). The detail says
// how the two names reach one file: by the same file identity, or by the
// same normalised absolute path.
Failure CheckOutputsApart(const Job& job, const std::string& job_file);

// The checks of the outputs as opened, by the identity of what is opened
// and what would be replaced, so that a link repointed between a look-up
// and an open cannot slip through.
//
// Fails (kSameOutputNames) when the two outputs lead to one file: the same
// file, or the same name in the same folder for a file not there yet.
Failure CheckTargetsApart(const Job& job, const platform::Output& merged,
                          const platform::Output& cons_fix);
// Fails (kSameFile) when the output `name`, as opened, is the file with
// identity `id`, named `other` in the message: the job file, an input,
// standard output or standard error. The null device keeps nothing that
// could mix, and may be both.
Failure CheckNotFile(const std::string& name, const platform::Output& output,
                     const std::string& other, const std::optional<platform::FileInfo>& file);

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_SAME_FILE_H_
