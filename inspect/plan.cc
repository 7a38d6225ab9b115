#include "consfix/cons_fix.h"
#include "driver/messages.h"
#include "driver/preflight.h"
#include "driver/same_file.h"
#include "inspect/walk.h"
#include "merge/block.h"
#include "merge/name_hash.h"
#include "platform/file.h"

namespace blkmerge::inspect {
namespace {

// False when, as the file system stands, opening `name` to write must
// fail: it is empty, or it leads (links followed) to a directory or into a
// directory that is not there.
bool Creatable(const std::string& name) {
  const auto path = WherePut(name);
  if (!path) return false;
  if (const auto info = platform::InfoOf(*path))
    return info->kind != platform::FileKind::kDirectory;
  const auto dir = platform::InfoOf(path->parent_path());
  return dir && dir->kind == platform::FileKind::kDirectory;
}

// Fills in `plan` as far as the run would get, and returns the failure
// that would end it, if any.
Failure Follow(const std::string& job_file, Plan& plan) {
  const Job& job = plan.job;
  Failure refused = CheckJob(job_file, plan.job);
  plan.warnings = job.warnings;
  if (refused) return refused;
  for (const std::string* output : {&job.merged_name, &job.cons_fix_name}) {
    if (!Creatable(*output)) {
      return {FailureKind::kOutputUnopened, message::CouldNotOpenOutput(*output), ""};
    }
  }
  uint64_t offset = kMergedHeader.size();
  for (const Pair& pair : job.pairs) {
    const platform::File file = platform::File::OpenInput(pair.input);
    if (!file.is_open()) return InputUnopened(job_file, pair, file);
    FileSource input(file);
    InputHead head;
    if (const auto problem = ReadInputHead(input, head)) {
      return InputRefused(job_file, pair, *problem);
    }
    const BlockLayout& l = head.layout;
    if (const std::string how = l.Malformation(); !how.empty()) {
      plan.warnings.push_back(InputWarning(job_file, pair, how));
    }
    const auto k = static_cast<int64_t>(l.SecondTableSize() / kEntrySize);
    // Index, offset, length, hash, N, M, K, the job's numbers, no findings.
    plan.blocks.push_back(BlockReport{plan.blocks.size(), offset, l.BlockSize(),
                                      NameHash(pair.alias), l.n, l.m, k, job.numbers,
                                      std::vector<Finding>()});
    offset += l.BlockSize();
  }
  plan.merged_size = offset;
  plan.cons_fix_size = ConsFixRecords(job.Aliases()).size();
  plan.records = plan.cons_fix_size / cons_fix::kRecordSize;
  return {};
}

}  // namespace

Plan MakePlan(const std::string& job_file) {
  Plan plan;
  plan.failure = Follow(job_file, plan);
  return plan;
}

}  // namespace blkmerge::inspect
