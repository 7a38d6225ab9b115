#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "driver/failure.h"
#include "driver/read_ahead.h"
#include "inspect/walk.h"
#include "merge/block.h"
#include "platform/file.h"

namespace blkmerge::inspect {
namespace {

using namespace blkmerge::block;

// Pieces as large as a block of `length` bytes, within what Room must offer
// and kReadChunk.
size_t Piece(uint64_t length) { return std::clamp<uint64_t>(length, Sink::kMinRoom, kReadChunk); }

// Compares what is appended with `length` bytes of `file` from `start`, a
// piece at a time; appended bytes past those count as differing.
class CompareSink final : public Sink {
 public:
  CompareSink(Source& file, uint64_t start, uint64_t length)
      : file_(file), start_(start), length_(length), ours_(Piece(length)), theirs_(ours_.size()) {}

  bool Write(std::span<const uint8_t> bytes) override {
    for (size_t at = 0; at < bytes.size() && !read_failed; at += ours_.size())
      Compare(bytes.subspan(at, std::min(bytes.size() - at, ours_.size())));
    return !read_failed;
  }
  std::span<uint8_t> Room(size_t want) override {
    return read_failed ? std::span<uint8_t>()
                       : std::span(ours_).first(std::min(want, ours_.size()));
  }
  void Commit(size_t length) override { Compare(std::span(ours_).first(length)); }
  // Counts `count` bytes from block offset `at` on as differing.
  void Differ(uint64_t at, uint64_t count) {
    if (count > 0 && !first) first = at;
    differing += count;
  }

  uint64_t appended = 0;
  uint64_t differing = 0;
  std::optional<uint64_t> first;  // the first differing block offset
  bool read_failed = false;

 private:
  // REQUIRES: ours.size() <= ours_.size().
  void Compare(std::span<const uint8_t> ours) {
    const auto overlap =
        static_cast<size_t>(std::min<uint64_t>(ours.size(), length_ - std::min(appended, length_)));
    const auto theirs = std::span(theirs_).first(overlap);
    read_failed = read_failed || !file_.ReadAt(start_ + appended, theirs);
    if (read_failed) return;
    // Most pieces are equal: the byte-wise count only where one is not.
    if (!std::equal(theirs.begin(), theirs.end(), ours.begin())) {
      for (size_t i = 0; i < overlap; ++i) Differ(appended + i, ours[i] != theirs[i] ? 1 : 0);
    }
    Differ(appended + overlap, ours.size() - overlap);
    appended += ours.size();
  }

  Source& file_;
  uint64_t start_;
  uint64_t length_;
  std::vector<uint8_t> ours_;
  std::vector<uint8_t> theirs_;
};

// The part of a block that block offset `at` lies in, for a block whose
// second table starts at `second` and whose tail starts at `tail`.
std::string PartAt(uint64_t at, uint64_t second, uint64_t tail) {
  if (at < kFrontSize) return "the front part";
  if (at < second) return "first-table entry " + Dec((at - kFrontSize) / kEntrySize);
  if (at < tail) return "second-table entry " + Dec((at - second) / kEntrySize);
  if (at < tail + kTailSize) return "the tail";
  return at < tail + kEndSize ? "the trailer" : "what lies past its end";
}

}  // namespace

bool VerifyBlock(Source& merged, Source& input, const Pair& pair, const Numbers& numbers,
                 BlockReport& block, MergedReport& r) {
  // Where the parts of the block the input gives lie; the rewrite reads the
  // same words again, and stops at the same problem.
  InputHead head;
  std::optional<InputProblem> problem = ReadInputHead(input, head);
  CompareSink sink(merged, block.offset, block.length);
  InputProblem found;
  if (!problem && RewriteInput(input, pair.alias, numbers, sink, &found) != RewriteStatus::kOk)
    problem = found;
  if (sink.read_failed) {
    r.unreadable = true;
    return r.Fail(block, "read_failed", {}, "could not read the block again");
  }
  const std::string name = "input " + Quote(pair.input);
  if (problem) {  // the input's own fault: the sink only fails to read
    const bool unread = problem->kind == InputProblem::Kind::kReadFailed;
    return r.Fail(block, "input_refused", {},
                  name + (unread ? " could not be read: " : " is truncated or damaged: ") +
                      problem->Describe());
  }
  sink.Differ(sink.appended, block.length - std::min(block.length, sink.appended));
  if (!sink.first) return true;
  const uint64_t second = kFrontSize + head.layout.FirstTableSize();
  std::string length;  // of the block the input gives, where the two differ
  if (sink.appended != block.length)
    length = " (" + Dec(sink.appended) + " bytes long, not " + Dec(block.length) + ")";
  return r.Fail(block, "input_differs", sink.first,
                Count(sink.differing, "byte") + (sink.differing == 1 ? " differs" : " differ") +
                    " from the block " + name + " gives now" + length + ", the first in " +
                    PartAt(*sink.first, second, sink.appended - kEndSize));
}

BlockCheck AgainstInputs(Source& merged, const Job& job) {
  // Shared by the copies of the check; the blocks come in job order.
  auto ahead = std::make_shared<ReadAhead>(job.pairs);
  return [&merged, &job, ahead](BlockReport& block, MergedReport& r) {
    if (block.index >= job.pairs.size()) return false;
    const Pair& pair = job.pairs[block.index];
    const platform::File& file = ahead->Open(block.index);
    if (!file.is_open()) {
      return r.Fail(
          block, "input_unopened", {},
          FileDetail("could not open input " + Quote(pair.input), file.error(), file.info().kind));
    }
    FileSource input(file, {}, ahead.get());
    return VerifyBlock(merged, input, pair, job.numbers, block, r);
  };
}

}  // namespace blkmerge::inspect
