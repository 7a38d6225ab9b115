#include "driver/read_ahead.h"

#include <utility>

namespace blkmerge {

ReadAhead::ReadAhead(const std::vector<Pair>& pairs, const ReadAheadPlan::Limits& limits)
    : pairs_(pairs),
      plan_(pairs.size(), platform::CanHintReads() ? limits : ReadAheadPlan::Limits{}) {}

const platform::File& ReadAhead::Open(size_t i) {
  const bool in_turn = index_ && i == *index_ + 1;
  if (in_turn && i <= opened_through_ && Slot(i).is_open()) {
    current_ = std::move(Slot(i));
  } else {
    if (!in_turn) {
      for (platform::File& file : ahead_) file = platform::File();
    }
    // An input whose open ahead failed is opened again: it may open now,
    // and if not, the failure is the one of now.
    if (i <= opened_through_) Slot(i) = platform::File();
    current_ = platform::File::OpenInput(pairs_[i].input);
  }
  if (!in_turn || i > opened_through_) opened_through_ = i;
  index_ = i;
  plan_.Begin(i, current_.is_open() ? std::optional(current_.info().size) : std::nullopt);
  Fill();
  return current_;
}

void ReadAhead::WillRead(std::span<const Extent> stretches) {
  plan_.Expect(stretches);
  Fill();
}

void ReadAhead::Reading(const Extent& bytes) {
  plan_.Read(bytes);
  Fill();
}

void ReadAhead::Fill() {
  using Kind = ReadAheadPlan::Step::Kind;
  while (true) {
    const ReadAheadPlan::Step step = plan_.Next();
    switch (step.kind) {
      case Kind::kNone: return;
      case Kind::kHint: {
        const platform::File& file = step.input == index_ ? current_ : Slot(step.input);
        file.WillRead(step.extent.offset, step.extent.length);
        break;
      }
      case Kind::kOpen: {
        platform::File& file = Slot(step.input);
        file = platform::File::OpenInput(pairs_[step.input].input);
        opened_through_ = step.input;
        plan_.Opened(step.input, file.is_open() ? std::optional(file.info().size) : std::nullopt);
        break;
      }
    }
  }
}

}  // namespace blkmerge
