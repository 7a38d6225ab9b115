// Feeds any bytes to the inspector's walks, as a merged file and as a
// cons_fix file, with and without a job, and renders the report as text
// and as JSON. With the job, every block is also compared with the block
// the same bytes give as an input. The walks must end, stay inside the
// bytes, count every failure they find, and keep the report small.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "inspect/report.h"
#include "inspect/walk.h"
#include "merge/io.h"
#include "merge/layout.h"

namespace blkmerge::inspect {
namespace {

const Job& FuzzJob() {
  static const Job job = [] {
    Job j;
    j.numbers = {0.5F, 10.0F, 20.0F, 30.0F};
    for (const char* alias : {"a0", "a1", "a2"}) j.pairs.push_back({alias, alias, {}});
    return j;
  }();
  return job;
}

// Every failure is listed or counted as unlisted, and no more are listed
// than the caps allow.
template <typename Item>
bool Counted(const FileReport& file, const std::vector<Item>& items) {
  uint64_t listed = 0;
  for (const Item& item : items) {
    if (item.findings.size() > kMaxItemFindings) return false;
    listed += item.findings.size();
  }
  return listed <= kMaxListedFindings &&
         listed + file.findings.size() + file.unlisted == file.failures;
}

}  // namespace
}  // namespace blkmerge::inspect

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace blkmerge::inspect;
  const std::span<const uint8_t> bytes(data, size);
  for (const blkmerge::Job* job : {static_cast<const blkmerge::Job*>(nullptr), &FuzzJob()}) {
    blkmerge::MemorySource merged(bytes);
    blkmerge::MemorySource cons_fix(bytes);
    const BlockCheck verify = [&](BlockReport& block, MergedReport& r) {
      if (block.index >= job->pairs.size()) return false;
      blkmerge::MemorySource input(bytes);
      return VerifyBlock(merged, input, job->pairs[block.index], job->numbers, block, r);
    };
    Report report{WalkMerged(merged, job, job == nullptr ? BlockCheck{} : verify),
                  WalkConsFix(cons_fix, job), std::nullopt};
    const MergedReport& m = report.merged;
    FUZZ_CHECK(Counted(m, m.blocks));
    FUZZ_CHECK(Counted(*report.cons_fix, report.cons_fix->records));
    FUZZ_CHECK(m.blocks.size() <= blkmerge::kMaxPairs);
    FUZZ_CHECK(report.cons_fix->records.size() < blkmerge::kMaxPairs);
    // A file that passes is its header and its blocks, nothing else.
    uint64_t lengths = blkmerge::kMergedHeader.size();
    for (const BlockReport& b : m.blocks) lengths += b.length;
    FUZZ_CHECK(m.failures != 0 || lengths == size);
    // Each rendering once per input: the text without the job, the JSON with it.
    FUZZ_CHECK(!(job == nullptr ? RenderText(report) : RenderJson(report)).empty());
  }
  return 0;
}
