// Reading a job's inputs ahead of the run, so that the disk always has
// the next bytes asked for: the run opens each input through it, and its
// sources tell it what they read.
#ifndef BLKMERGE_DRIVER_READ_AHEAD_H_
#define BLKMERGE_DRIVER_READ_AHEAD_H_

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "driver/job.h"
#include "driver/read_ahead_plan.h"
#include "merge/io.h"
#include "platform/file.h"

namespace blkmerge {

// Carries out a ReadAheadPlan for the inputs of `pairs`, read one after
// the other: opens the inputs that follow the current one and hints their
// bytes, and hints the current input's stretches as its FileSource
// announces them (pass the read-ahead as the source's observer). All in
// the caller's thread; the hints never change a byte read. Where the
// platform has no hint (platform::CanHintReads), nothing is opened ahead.
//
// An input larger than a hint whose middle is in memory when it is opened
// is taken to be all there, and its hints are left out: a hint of pages in
// memory reads nothing but still walks them, which cost a run over 800 MiB
// of cached inputs 14 ms of its 270 ms.
class ReadAhead final : public ReadObserver {
 public:
  // Measured with the page cache dropped before each run, runs of each
  // setting taken in turn, medians of 7 to 9 (a virtio disk whose floor,
  // four readers side by side, took 0.71 s): on 100 inputs of 8 MiB a
  // window of 8 MiB left the run at 1.1 times cat, 16 MiB took 0.81 s, 32
  // MiB 0.74 s, 64 and 128 MiB 0.69 to 0.73 s, as close to the floor as the
  // noise shows. Pieces of 512 KiB took 0.82 s; 4 and 8 MiB were no faster
  // than 2 MiB, and Linux reads no more per hint than the disk's read-ahead
  // size or its largest request, often 128 KiB to a few MiB. On 100 inputs
  // of 4 KiB, 16 inputs ahead took 0.054 s, 4 ahead 0.059 s, none 0.065 s.
  static constexpr ReadAheadPlan::Limits kLimits = {
      .window = uint64_t{32} << 20, .piece = uint64_t{2} << 20, .files_ahead = 16};

  explicit ReadAhead(const std::vector<Pair>& pairs, const ReadAheadPlan::Limits& limits = kLimits);

  // Input `i` as File::OpenInput opens it: the file opened ahead, or, where
  // none is, opened now, so that an input that cannot be opened fails at
  // its own turn, for the reason of that moment. The inputs are expected
  // in job order; any other turn starts afresh. The file stays open until
  // the next Open.
  const platform::File& Open(size_t i);

  void WillRead(std::span<const Extent> stretches) override;
  void Reading(const Extent& bytes) override;

 private:
  struct Input {
    platform::File file;
    bool in_memory = false;  // found so when opened: no hints
  };

  // Opens input `i` now.
  Input OpenNow(size_t i) const;
  // Carries out the plan's steps until it has none.
  void Fill();
  Input& Slot(size_t i) { return ahead_[i % ReadAheadPlan::kMaxFilesAhead]; }

  const std::vector<Pair>& pairs_;
  uint64_t piece_;
  ReadAheadPlan plan_;
  std::optional<size_t> index_;  // of the current input
  Input current_;
  // Inputs index_ + 1 to opened_through_, opened ahead (closed where that
  // failed).
  std::array<Input, ReadAheadPlan::kMaxFilesAhead> ahead_;
  size_t opened_through_ = 0;
};

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_READ_AHEAD_H_
