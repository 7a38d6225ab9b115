// Feeds any bytes to the inspector's walks, as a merged file and as a
// cons_fix file, with and without a job, and renders the report both as
// text and as JSON. The walks must end, stay inside the bytes, and count
// exactly the failures they hand out.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "inspect/cons_fix_walk.h"
#include "inspect/merged_walk.h"
#include "inspect/render.h"
#include "merge/io.h"

namespace blkmerge::inspect {
namespace {

class Discard final : public Output {
 public:
  void Write(std::string_view) override {}
};

// Passes everything on and counts what it passes.
class Tally final : public ReportSink {
 public:
  explicit Tally(ReportSink& next) : next_(next) {}
  void Block(const BlockReport& b) override {
    findings += b.findings.size();
    lengths += b.length;
    next_.Block(b);
  }
  void Record(const RecordReport& r) override {
    findings += r.findings.size();
    next_.Record(r);
  }
  void FileFinding(const Finding& f) override {
    ++findings;
    next_.FileFinding(f);
  }
  uint64_t findings = 0;
  uint64_t lengths = 0;

 private:
  ReportSink& next_;
};

const Job& FuzzJob() {
  static const Job job = [] {
    Job j;
    j.numbers = {0.5F, 10.0F, 20.0F, 30.0F};
    for (const char* alias : {"a0", "a1", "a2"}) j.pairs.push_back({alias, alias});
    return j;
  }();
  return job;
}

}  // namespace
}  // namespace blkmerge::inspect

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace blkmerge::inspect;
  const std::span<const uint8_t> bytes(data, size);
  for (const blkmerge::Job* job : {static_cast<const blkmerge::Job*>(nullptr), &FuzzJob()}) {
    for (const bool json : {false, true}) {
      Discard out;
      const auto renderer = json ? MakeJsonRenderer(out) : MakeTextRenderer(out);
      blkmerge::MemorySource merged(bytes);
      Tally blocks(*renderer);
      renderer->BeginMerged("merged", size);
      const WalkSummary b = WalkMerged(merged, job, blocks);
      renderer->EndMerged();
      blkmerge::MemorySource cons_fix(bytes);
      Tally records(*renderer);
      renderer->BeginConsFix("cons_fix", size);
      const WalkSummary r = WalkConsFix(cons_fix, job, records);
      renderer->EndConsFix();
      renderer->Finish(std::nullopt, b.items, r.items, b.failures + r.failures);
      if (b.failures != blocks.findings || r.failures != records.findings) __builtin_trap();
      // A file that passes is its header and its blocks, nothing else.
      if (b.failures == 0 && blocks.lengths + 8 != size) __builtin_trap();
    }
  }
  return 0;
}
