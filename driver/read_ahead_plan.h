// What to ask the system to read ahead of a run through its inputs, and
// when: a pure plan, which the read-ahead (read_ahead.h) carries out.
#ifndef BLKMERGE_DRIVER_READ_AHEAD_PLAN_H_
#define BLKMERGE_DRIVER_READ_AHEAD_PLAN_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "merge/io.h"

namespace blkmerge {

// Plans the hints for a reader that takes a job's inputs one after the
// other. The input being read (the current one) comes first: until its
// layout is known, its first piece; then the stretches the reader
// announces (Expect), in their order. After that, the inputs that follow,
// each opened in turn and hinted whole, from its start.
//
// The bound: at every moment Ahead(), the bytes hinted and not yet read,
// is at most `window`, and OpenAhead(), the inputs opened ahead of the
// current one, at most `files_ahead`: neither grows with the job or the
// inputs. Bytes hinted are counted as read once the reader has read them,
// gone past them in the announced order, or moved on to the next input.
// No I/O: every step is the caller's to carry out.
class ReadAheadPlan {
 public:
  static constexpr size_t kMaxFilesAhead = 16;
  static constexpr size_t kMaxStretches = 4;

  struct Limits {
    uint64_t window = 0;     // bytes hinted and not yet read, at most
    uint64_t piece = 1;      // bytes per hint, at most (> 0)
    size_t files_ahead = 0;  // inputs open ahead of the current one, at most kMaxFilesAhead
  };

  // A step toward a full window.
  struct Step {
    enum class Kind { kNone, kOpen, kHint };
    Kind kind = Kind::kNone;
    size_t input = 0;
    Extent extent;  // kHint: the bytes of `input` to hint

    friend bool operator==(const Step&, const Step&) = default;
  };

  // A plan for a job of `inputs` inputs.
  ReadAheadPlan(size_t inputs, const Limits& limits);

  // The reader moves on to input `i`, which it opened with `size` bytes,
  // or could not open (nothing). The inputs before it are done with. The
  // plan starts afresh where `i` is not the input after the current one.
  void Begin(size_t i, std::optional<uint64_t> size);
  // The current input will be read in these stretches, in this order, and
  // nothing else of it; at most kMaxStretches (more are left out). Parts
  // of them past the input's end are left out.
  void Expect(std::span<const Extent> stretches);
  // The reader reads `bytes` of the current input.
  void Read(const Extent& bytes);
  // The next step: hint (counted as done once returned), open an input
  // (then say how it went with Opened before asking again), or nothing
  // until the reader moves.
  Step Next();
  // Input `i`, opened ahead as a kOpen step asked, has `size` bytes, or
  // could not be opened (nothing): then no input past it is opened until
  // the reader comes to it.
  void Opened(size_t i, std::optional<uint64_t> size);

  uint64_t Ahead() const { return CurrentAhead() + later_hinted_; }
  size_t OpenAhead() const { return later_count_; }

 private:
  // An announced stretch of the current input: [offset, end), hinted up
  // to `hinted`, read up to `read`.
  struct Stretch {
    uint64_t offset = 0;
    uint64_t end = 0;
    uint64_t hinted = 0;
    uint64_t read = 0;
  };
  // An input past the current one, opened ahead.
  struct Later {
    std::optional<uint64_t> size;  // nothing: it could not be opened
    uint64_t hinted = 0;           // from its start
  };

  uint64_t CurrentAhead() const;
  // `given`'s first `count` stretches with overlapping ones made one;
  // how many there are then.
  static size_t Unite(std::array<Stretch, kMaxStretches>& given, size_t count);
  bool Fits(uint64_t length) const { return Ahead() + length <= limits_.window; }
  // The hint of up to a piece of [from, to) of `input`, counted by `hinted`.
  Step HintUpTo(size_t input, uint64_t from, uint64_t to, uint64_t& hinted);
  Later& LaterAt(size_t i) { return later_[i % kMaxFilesAhead]; }
  void Reset();

  size_t inputs_;
  Limits limits_;

  // The current input: none before the first Begin.
  std::optional<size_t> current_;
  std::optional<uint64_t> size_;  // nothing: the reader could not open it
  uint64_t prefix_ = 0;           // hinted from its start before its layout was known
  bool expected_ = false;         // Expect told its stretches
  std::array<Stretch, kMaxStretches> stretches_{};
  size_t stretch_count_ = 0;
  size_t cursor_ = 0;      // the stretch being read
  uint64_t unwanted_ = 0;  // hinted bytes outside the stretches, held until the input is done

  // Inputs current + 1 to current + later_count_, opened ahead.
  std::array<Later, kMaxFilesAhead> later_{};
  size_t later_count_ = 0;
  uint64_t later_hinted_ = 0;
};

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_READ_AHEAD_PLAN_H_
