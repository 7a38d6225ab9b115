#include "driver/preflight.h"

#include "driver/job_file.h"
#include "driver/messages.h"
#include "driver/same_file.h"

namespace blkmerge {

std::optional<Failure> CheckJob(const std::string& job_file, Job& job) {
  JobFileFault fault;
  const auto problem = ReadJobFile(job_file, job, fault);
  if (!problem && !fault.opened) {
    return Failure{message::CouldNotOpenInput(job_file),
                   message::FileDetail(job_file, fault.error, fault.kind)};
  }
  if (!problem) {
    return Failure{message::CouldNotReadInput(job_file),
                   message::ReadDetail(job_file, fault.offset, fault.error)};
  }
  if (!problem->ok()) {
    return Failure{message::ForJob(*problem, job_file), message::JobDiagnostic(*problem, job_file)};
  }
  if (const auto clash = FindOutputClash(job, job_file)) {
    return Failure{clash->other_is_output ? std::string(message::kSameOutputNames)
                                          : message::SameFile(clash->output, clash->other),
                   message::SameFileDetail(clash->output, clash->other, clash->reason)};
  }
  return std::nullopt;
}

}  // namespace blkmerge
