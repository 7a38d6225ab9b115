#include "driver/read_ahead.h"

#include <cstdint>
#include <utility>

namespace blkmerge {

ReadAhead::ReadAhead(const std::vector<Pair>& pairs, const ReadAheadPlan::Limits& limits)
    : pairs_(pairs),
      // Without hints, no input is worth looking at (see OpenNow).
      piece_(platform::CanHintReads() ? limits.piece : UINT64_MAX),
      plan_(pairs.size(), platform::CanHintReads() ? limits : ReadAheadPlan::Limits{}) {}

ReadAhead::Input ReadAhead::OpenNow(size_t i) const {
  Input input{.file = platform::File::OpenInput(pairs_[i].input), .in_memory = false};
  const uint64_t size = input.file.info().size;
  // An input of one hint costs no more to hint than to look at.
  if (input.file.is_open() && size > piece_) {
    input.in_memory = input.file.InMemory(size / 2).value_or(false);
  }
  return input;
}

const platform::File& ReadAhead::Open(size_t i) {
  const bool in_turn = index_ && i == *index_ + 1;
  if (in_turn && i <= opened_through_ && Slot(i).file.is_open()) {
    current_ = std::move(Slot(i));
  } else {
    if (!in_turn) {
      for (Input& input : ahead_) input = Input();
    }
    // An input whose open ahead failed is opened again: it may open now,
    // and if not, the failure is the one of now.
    if (i <= opened_through_) Slot(i) = Input();
    current_ = OpenNow(i);
  }
  if (!in_turn || i > opened_through_) opened_through_ = i;
  index_ = i;
  const platform::File& file = current_.file;
  plan_.Begin(i, file.is_open() ? std::optional(file.info().size) : std::nullopt);
  Fill();
  return file;
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
        const Input& input = step.input == index_ ? current_ : Slot(step.input);
        if (!input.in_memory) input.file.WillRead(step.extent.offset, step.extent.length);
        break;
      }
      case Kind::kOpen: {
        Input& input = Slot(step.input);
        input = OpenNow(step.input);
        opened_through_ = step.input;
        const platform::File& file = input.file;
        plan_.Opened(step.input, file.is_open() ? std::optional(file.info().size) : std::nullopt);
        break;
      }
    }
  }
}

}  // namespace blkmerge
