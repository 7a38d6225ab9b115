#include "consfix/cons_fix.h"
#include "driver/messages.h"
#include "driver/preflight.h"
#include "inspect/walk.h"
#include "merge/block.h"
#include "merge/name_hash.h"
#include "platform/file.h"
#include "platform/output.h"

namespace blkmerge::inspect {
namespace {

// The failure of opening `name` to write that can be told as the file
// system stands: a folder that is missing, links that do not end, a
// directory or a socket there. Opens nothing to write.
Failure OutputRefused(const std::string& name) {
  const platform::Output output = platform::Output::Find(name);
  const platform::FileError error = output.found() ? output.Foresee() : output.error();
  if (!error) return {};
  return {FailureKind::kOutputUnopened, message::CouldNotOpenOutput(name), FileDetail(name, error)};
}

// Opens the input of `pair` as the run does and reads its layout into
// `head`; returns why the run would stop there, if it would.
Failure CheckInput(const std::string& job_file, const Pair& pair, InputHead& head) {
  const platform::File file = platform::File::OpenInput(pair.input);
  if (!file.is_open()) return InputUnopened(job_file, pair, file);
  FileSource input(file);
  if (const auto problem = ReadInputHead(input, head)) {
    return InputRefused(job_file, pair, *problem);
  }
  return {};
}

// Fills in `plan` as far as the run would get, lists every input that
// would stop it, and returns the failure that would end it, if any.
Failure Follow(Plan& plan) {
  const Job& job = plan.job;
  Failure first = CheckJob(plan.job_file, plan.job);
  plan.warnings = job.warnings;
  if (first) return first;
  plan.job_read = true;
  for (const std::string* output : {&job.merged_name, &job.cons_fix_name}) {
    first = OutputRefused(*output);
    if (first) break;
  }
  uint64_t offset = kMergedHeader.size();
  for (size_t i = 0; i < job.pairs.size(); ++i) {
    const Pair& pair = job.pairs[i];
    InputHead head;
    if (Failure failure = CheckInput(plan.job_file, pair, head)) {
      if (!first) first = failure;
      plan.refused.push_back({i, std::move(failure)});
      continue;
    }
    // Blocks and warnings only up to the first failure: the run gets no
    // further.
    if (first) continue;
    const BlockLayout& l = head.layout;
    if (const std::string how = l.Malformation(); !how.empty()) {
      plan.warnings.push_back(InputWarning(plan.job_file, pair, how));
    }
    const auto k = static_cast<int64_t>(l.SecondTableSize() / kEntrySize);
    // Index, offset, length, hash, N, M, K, the job's numbers, no findings.
    plan.blocks.push_back(BlockReport{plan.blocks.size(), offset, l.BlockSize(),
                                      NameHash(pair.alias), l.n, l.m, k, job.numbers,
                                      std::vector<Finding>()});
    offset += l.BlockSize();
  }
  if (first) return first;
  plan.merged_size = offset;
  plan.cons_fix_size = ConsFixRecords(job.Aliases()).size();
  plan.records = plan.cons_fix_size / cons_fix::kRecordSize;
  return {};
}

}  // namespace

Plan MakePlan(const std::string& job_file) {
  Plan plan;
  plan.job_file = job_file;
  plan.failure = Follow(plan);
  return plan;
}

}  // namespace blkmerge::inspect
