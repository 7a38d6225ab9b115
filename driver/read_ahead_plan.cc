#include "driver/read_ahead_plan.h"

#include <algorithm>
#include <utility>

namespace blkmerge {

ReadAheadPlan::ReadAheadPlan(size_t inputs, const Limits& limits)
    : inputs_(inputs), limits_(limits) {
  limits_.piece = std::max<uint64_t>(limits_.piece, 1);
  limits_.files_ahead = std::min(limits_.files_ahead, kMaxFilesAhead);
}

void ReadAheadPlan::Reset() {
  later_count_ = 0;
  later_hinted_ = 0;
}

void ReadAheadPlan::Begin(size_t i, std::optional<uint64_t> size) {
  uint64_t prefix = 0;
  if (current_ && i == *current_ + 1 && later_count_ > 0) {
    // The first of the inputs opened ahead: what it had hinted is now the
    // current input's.
    prefix = LaterAt(i).hinted;
    later_hinted_ -= prefix;
    --later_count_;
  } else {
    Reset();
  }
  current_ = i;
  size_ = size;
  prefix_ = size ? std::min(prefix, *size) : 0;
  expected_ = false;
  stretch_count_ = 0;
  cursor_ = 0;
  unwanted_ = 0;
}

// Stretches that overlap (only a damaged input's can) are read as one
// union, front to back, so that no byte is counted twice.
size_t ReadAheadPlan::Unite(std::array<Stretch, kMaxStretches>& given, size_t count) {
  std::array<Stretch, kMaxStretches> sorted = given;
  for (size_t s = 1; s < count; ++s) {
    for (size_t t = s; t > 0 && sorted[t].offset < sorted[t - 1].offset; --t) {
      std::swap(sorted[t], sorted[t - 1]);
    }
  }
  bool overlap = false;
  for (size_t s = 1; s < count; ++s) overlap = overlap || sorted[s].offset < sorted[s - 1].end;
  if (!overlap) return count;
  size_t merged = 0;
  for (size_t s = 0; s < count; ++s) {
    if (merged > 0 && sorted[s].offset <= sorted[merged - 1].end) {
      sorted[merged - 1].end = std::max(sorted[merged - 1].end, sorted[s].end);
    } else {
      sorted[merged++] = sorted[s];
    }
  }
  given = sorted;
  return merged;
}

void ReadAheadPlan::Expect(std::span<const Extent> stretches) {
  if (!size_) return;
  std::array<Stretch, kMaxStretches> given{};
  size_t count = 0;
  for (const Extent& e : stretches) {
    if (count == kMaxStretches) break;
    if (e.offset >= *size_ || e.length == 0) continue;
    const uint64_t end = e.offset + std::min(e.length, *size_ - e.offset);
    given[count++] = {.offset = e.offset, .end = end, .hinted = e.offset, .read = e.offset};
  }
  count = Unite(given, count);

  const auto same_bounds = [](const Stretch& a, const Stretch& b) {
    return a.offset == b.offset && a.end == b.end;
  };
  if (expected_ &&
      std::equal(given.begin(), given.begin() + static_cast<std::ptrdiff_t>(count),
                 stretches_.begin(),
                 stretches_.begin() + static_cast<std::ptrdiff_t>(stretch_count_), same_bounds)) {
    // Told the same again (a checker reads the head, then the rewrite
    // does): what was hinted and read stays as it is.
    return;
  }
  if (expected_) {
    // Told other stretches: every byte hinted so far stays counted until
    // the input is done, and the new stretches are hinted afresh.
    unwanted_ = CurrentAhead();
  } else {
    // The start hinted so far is counted in the stretches it covers, the
    // rest of it as unwanted.
    uint64_t covered = 0;
    for (size_t s = 0; s < count; ++s) {
      given[s].hinted = std::clamp(prefix_, given[s].offset, given[s].end);
      covered += given[s].hinted - given[s].offset;
    }
    unwanted_ = prefix_ - std::min(prefix_, covered);
  }
  stretches_ = given;
  stretch_count_ = count;
  cursor_ = 0;
  expected_ = true;
}

void ReadAheadPlan::Read(const Extent& bytes) {
  if (!expected_ || bytes.length == 0) return;
  for (size_t s = cursor_; s < stretch_count_; ++s) {
    Stretch& stretch = stretches_[s];
    if (bytes.offset >= stretch.end || bytes.end() <= stretch.offset) continue;
    // The stretches before it in the reader's order are behind it now.
    for (size_t t = cursor_; t < s; ++t) stretches_[t].read = stretches_[t].end;
    stretch.read = std::max(stretch.read, std::min(stretch.end, bytes.end()));
    cursor_ = s;
  }
}

uint64_t ReadAheadPlan::CurrentAhead() const {
  if (!size_) return 0;
  if (!expected_) return prefix_;
  uint64_t ahead = unwanted_;
  for (size_t s = 0; s < stretch_count_; ++s) {
    const Stretch& stretch = stretches_[s];
    if (stretch.hinted > stretch.read) ahead += stretch.hinted - stretch.read;
  }
  return ahead;
}

ReadAheadPlan::Step ReadAheadPlan::HintUpTo(size_t input, uint64_t from, uint64_t to,
                                            uint64_t& hinted) {
  const uint64_t length = std::min(limits_.piece, to - from);
  if (!Fits(length)) return {};
  hinted = from + length;
  return {.kind = Step::Kind::kHint, .input = input, .extent = {from, length}};
}

ReadAheadPlan::Step ReadAheadPlan::Next() {
  if (!current_) return {};
  if (size_) {
    if (!expected_) {
      // Only the start, where the front part lies, until the stretches
      // that follow it are known: a hint of the whole input would queue
      // bytes the reader may never want before those it wants next.
      const uint64_t head = std::min(*size_, limits_.piece);
      return prefix_ < head ? HintUpTo(*current_, prefix_, head, prefix_) : Step{};
    }
    for (size_t s = cursor_; s < stretch_count_; ++s) {
      Stretch& stretch = stretches_[s];
      const uint64_t from = std::max(stretch.hinted, stretch.read);
      if (from < stretch.end) return HintUpTo(*current_, from, stretch.end, stretch.hinted);
    }
  }
  // Then the inputs after it, in job order, each whole before the next is
  // opened.
  if (later_count_ > 0) {
    const size_t last = *current_ + later_count_;
    Later& later = LaterAt(last);
    if (!later.size) return {};
    if (later.hinted < *later.size) {
      const uint64_t before = later.hinted;
      const Step step = HintUpTo(last, later.hinted, *later.size, later.hinted);
      later_hinted_ += later.hinted - before;
      return step;
    }
  }
  const size_t next = *current_ + later_count_ + 1;
  if (next >= inputs_ || later_count_ >= limits_.files_ahead || !Fits(limits_.piece)) return {};
  return {.kind = Step::Kind::kOpen, .input = next, .extent = {}};
}

void ReadAheadPlan::Opened(size_t i, std::optional<uint64_t> size) {
  if (!current_ || i != *current_ + later_count_ + 1 || later_count_ >= limits_.files_ahead) return;
  LaterAt(i) = {.size = size, .hinted = 0};
  ++later_count_;
}

}  // namespace blkmerge
