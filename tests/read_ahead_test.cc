#include "driver/read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "driver/read_ahead_plan.h"
#include "merge/block.h"
#include "merge/io.h"
#include "tests/fixture.h"
#include "tests/temp_dir.h"

namespace blkmerge {
namespace {

using Step = ReadAheadPlan::Step;
using Kind = Step::Kind;
using Sizes = std::function<std::optional<uint64_t>(size_t)>;

constexpr uint64_t kMiB = uint64_t{1} << 20;
const ReadAheadPlan::Limits kSmallWindow{.window = 8 * kMiB, .piece = kMiB, .files_ahead = 4};

Step Hint(size_t input, uint64_t offset, uint64_t length) {
  return {.kind = Kind::kHint, .input = input, .extent = {offset, length}};
}
Step Open(size_t input) { return {.kind = Kind::kOpen, .input = input, .extent = {}}; }

// Every step up to the first kNone, each open answered by `sizes`.
std::vector<Step> Drain(ReadAheadPlan& plan, const Sizes& sizes) {
  std::vector<Step> steps;
  for (Step step = plan.Next(); step.kind != Kind::kNone; step = plan.Next()) {
    steps.push_back(step);
    if (step.kind == Kind::kOpen) plan.Opened(step.input, sizes(step.input));
  }
  return steps;
}

// An input of 6 MiB: the word M, the tail, a first table of 2 MiB from
// 120, a dropped section up to 3 MiB, a second table from there to the
// tail; in the order the rewrite reads them.
const uint64_t kSize = 6 * kMiB;
const std::vector<Extent> kStretches = {
    {2 * kMiB + 500, 4}, {kSize - 20, 20}, {120, 2 * kMiB}, {3 * kMiB, 3 * kMiB - 20}};

TEST(ReadAheadPlan, HintsTheStartThenTheAnnouncedStretchesInOrderButNotTheDroppedSection) {
  ReadAheadPlan plan(2, kSmallWindow);
  EXPECT_EQ(plan.Next(), Step{});  // no input yet
  plan.Begin(0, kSize);
  // Nothing past the start, nor of the next input, until the layout is known.
  EXPECT_EQ(Drain(plan, {}), std::vector<Step>{Hint(0, 0, kMiB)});
  plan.Expect(kStretches);
  // The first table's first MiB was hinted with the start; then the next
  // input (empty here) is opened.
  EXPECT_EQ(Drain(plan, [](size_t) { return 0; }),
            (std::vector<Step>{Hint(0, 2 * kMiB + 500, 4), Hint(0, kSize - 20, 20),
                               Hint(0, kMiB, kMiB), Hint(0, 2 * kMiB, 120), Hint(0, 3 * kMiB, kMiB),
                               Hint(0, 4 * kMiB, kMiB), Hint(0, 5 * kMiB, kMiB - 20), Open(1)}));
  // The front part, hinted with the start and never read again, counts
  // until the input is done.
  EXPECT_EQ(plan.Ahead(), 120 + 4 + 20 + 2 * kMiB + 3 * kMiB - 20);
}

TEST(ReadAheadPlan, OpensTheInputsThatFollowInTurnAndHintsThemWithinTheWindow) {
  ReadAheadPlan plan(4, kSmallWindow);
  plan.Begin(0, kSize);
  plan.Next();
  plan.Expect(kStretches);
  const Sizes sizes = [](size_t) { return 3 * kMiB; };
  std::vector<Step> steps = Drain(plan, sizes);
  steps.erase(steps.begin(), steps.begin() + 7);  // input 0's, as above
  // 5 MiB + 124 bytes ahead: room for two pieces of the next input.
  EXPECT_EQ(steps, (std::vector<Step>{Open(1), Hint(1, 0, kMiB), Hint(1, kMiB, kMiB)}));
  EXPECT_LE(plan.Ahead(), kSmallWindow.window);

  // Reading the first table makes room for the rest of input 1 and the
  // start of input 2.
  plan.Read({120, 2 * kMiB});
  EXPECT_EQ(Drain(plan, sizes),
            (std::vector<Step>{Hint(1, 2 * kMiB, kMiB), Open(2), Hint(2, 0, kMiB)}));
  EXPECT_EQ(plan.OpenAhead(), 2u);

  // Input 1 comes with what it had hinted: nothing more until its layout.
  plan.Begin(1, 3 * kMiB);
  EXPECT_EQ(plan.OpenAhead(), 1u);
  EXPECT_EQ(plan.Ahead(), 3 * kMiB + kMiB);
  EXPECT_EQ(Drain(plan, sizes), std::vector<Step>{});
}

TEST(ReadAheadPlan, AnInputThatCannotBeOpenedAheadStopsTheOpeningUntilItsTurn) {
  const Sizes missing_then_small = [](size_t i) -> std::optional<uint64_t> {
    if (i == 1) return std::nullopt;
    return 100;
  };
  for (const std::optional<uint64_t> at_its_turn :
       {std::optional<uint64_t>(50), std::optional<uint64_t>()}) {
    ReadAheadPlan plan(3, kSmallWindow);
    plan.Begin(0, 100);
    plan.Next();
    plan.Expect(std::vector<Extent>{{0, 100}});
    EXPECT_EQ(Drain(plan, missing_then_small), std::vector<Step>{Open(1)});
    EXPECT_EQ(plan.Next(), Step{});
    // Opened at its turn after all, it is read ahead as any other; still
    // missing, it is passed over.
    plan.Begin(1, at_its_turn);
    const std::vector<Step> want = at_its_turn ? std::vector<Step>{Hint(1, 0, 50)}
                                               : std::vector<Step>{Open(2), Hint(2, 0, 100)};
    EXPECT_EQ(Drain(plan, missing_then_small), want) << at_its_turn.has_value();
  }
}

TEST(ReadAheadPlan, OverlappingStretchesAreHintedOnce) {
  ReadAheadPlan plan(1, kSmallWindow);
  plan.Begin(0, 4 * kMiB);
  plan.Next();
  // A damaged input's tables may overlap: their union, front to back.
  plan.Expect(std::vector<Extent>{{2 * kMiB, kMiB}, {kMiB + kMiB / 2, kMiB}});
  EXPECT_EQ(Drain(plan, {}), (std::vector<Step>{Hint(0, kMiB + kMiB / 2, kMiB),
                                                Hint(0, 2 * kMiB + kMiB / 2, kMiB / 2)}));
  EXPECT_EQ(plan.Ahead(), kMiB + 2 * kMiB - kMiB / 2);
}

// A well-formed input's stretches, in the rewrite's order, for a layout
// drawn from `random`: the word M, the tail, the first table, the second.
std::vector<Extent> DrawLayout(std::mt19937_64& random, uint64_t size, uint64_t dropped_max) {
  const uint64_t body = size - 120 - 20;
  const uint64_t dropped = std::min(body, 16 + random() % dropped_max);
  const uint64_t first = (body - dropped) == 0 ? 0 : random() % (body - dropped);
  const uint64_t second_offset = 120 + first + dropped;
  const uint64_t second = body - first - dropped;
  return {{120 + first + 12, 4}, {size - 20, 20}, {120, first}, {second_offset, second}};
}

TEST(ReadAheadPlan, StaysWithinItsBoundsOverALongJobOfHugeInputs) {
  const ReadAheadPlan::Limits limits{.window = 32 * kMiB, .piece = 2 * kMiB, .files_ahead = 16};
  constexpr size_t kInputs = 3000;
  // Inputs of up to 1 TiB, a few empty or tiny, one in 50 that cannot be
  // opened.
  std::vector<std::optional<uint64_t>> sizes(kInputs);
  std::mt19937_64 random(7);
  for (std::optional<uint64_t>& size : sizes) {
    const uint64_t kind = random() % 50;
    if (kind == 0) continue;
    size = kind < 3 ? random() % 200 : 140 + random() % (uint64_t{1} << 40);
  }
  ReadAheadPlan plan(kInputs, limits);
  std::vector<uint64_t> hinted_from_start(kInputs, 0);
  size_t current = 0;
  // Carries out every step the plan has and checks each, and the bounds.
  auto fill = [&] {
    for (Step step = plan.Next(); step.kind != Kind::kNone; step = plan.Next()) {
      ASSERT_GE(step.input, current);
      ASSERT_LE(step.input, current + limits.files_ahead);
      if (step.kind == Kind::kOpen) {
        plan.Opened(step.input, sizes[step.input]);
      } else {
        ASSERT_GT(step.extent.length, 0u);
        ASSERT_LE(step.extent.length, limits.piece);
        ASSERT_LE(step.extent.end(), sizes[step.input].value());
        // An input after the current one is hinted front to back, once.
        if (step.input > current) {
          ASSERT_EQ(step.extent.offset, hinted_from_start[step.input]);
          hinted_from_start[step.input] = step.extent.end();
        }
      }
      ASSERT_LE(plan.Ahead(), limits.window);
      ASSERT_LE(plan.OpenAhead(), limits.files_ahead);
    }
  };
  for (current = 0; current < kInputs && !HasFatalFailure(); ++current) {
    plan.Begin(current, sizes[current]);
    fill();
    if (!sizes[current] || *sizes[current] < 140) continue;
    const std::vector<Extent> stretches = DrawLayout(random, *sizes[current], uint64_t{1} << 36);
    plan.Expect(stretches);
    fill();
    // M and the tail, then each table in eight reads.
    for (const Extent& stretch : stretches) {
      const uint64_t step = std::max<uint64_t>(1, stretch.length / 8);
      for (uint64_t at = 0; at < stretch.length && !HasFatalFailure(); at += step) {
        plan.Read({stretch.offset + at, std::min(step, stretch.length - at)});
        fill();
      }
    }
  }
}

// Whether `bytes` lies within the union of `hints`.
bool Covered(std::vector<Extent> hints, const Extent& bytes) {
  std::sort(hints.begin(), hints.end(),
            [](const Extent& a, const Extent& b) { return a.offset < b.offset; });
  uint64_t reach = bytes.offset;
  for (const Extent& hint : hints) {
    if (hint.offset > reach) break;
    reach = std::max(reach, hint.end());
  }
  return reach >= bytes.end();
}

TEST(ReadAheadPlan, EveryTableByteIsHintedBeforeTheReaderComesToIt) {
  const ReadAheadPlan::Limits limits{.window = 32 * kMiB, .piece = 2 * kMiB, .files_ahead = 16};
  constexpr size_t kInputs = 200;
  std::mt19937_64 random(11);
  std::vector<uint64_t> sizes(kInputs);
  // From a few KiB to three windows.
  for (uint64_t& size : sizes) size = 4096 + random() % (3 * limits.window);
  ReadAheadPlan plan(kInputs, limits);
  std::vector<std::vector<Extent>> hints(kInputs);
  auto fill = [&] {
    for (Step step = plan.Next(); step.kind != Kind::kNone; step = plan.Next()) {
      if (step.kind == Kind::kOpen) plan.Opened(step.input, sizes[step.input]);
      if (step.kind == Kind::kHint) hints[step.input].push_back(step.extent);
    }
  };
  for (size_t i = 0; i < kInputs; ++i) {
    plan.Begin(i, sizes[i]);
    fill();
    const std::vector<Extent> stretches = DrawLayout(random, sizes[i], 1 << 16);
    plan.Expect(stretches);
    fill();
    if (i % 2 == 1) {
      // Told twice, as blkinspect --job reads each head once to check it
      // and once more in the rewrite.
      plan.Expect(stretches);
      fill();
    }
    // The tables, read front to back at most a piece at a time (the word
    // M and the tail, two small reads, may find a full window).
    for (const Extent& table : {stretches[2], stretches[3]}) {
      for (uint64_t at = 0; at < table.length;) {
        const Extent read{table.offset + at,
                          std::min(table.length - at, 1 + random() % limits.piece)};
        ASSERT_TRUE(Covered(hints[i], read)) << "input " << i << " at " << read.offset;
        plan.Read(read);
        fill();
        at += read.length;
      }
    }
  }
}

// The read-ahead on real files.
class ReadAheadFiles : public ::testing::Test {
 protected:
  void Make(size_t count) {
    for (size_t i = 0; i < count; ++i) {
      pairs_.push_back({dir_.At("in" + std::to_string(i)), "alias" + std::to_string(i), {}});
      inputs_.push_back(
          fixture::MakeInput({.n = 30, .m = 2, .k = 40, .seed = static_cast<uint32_t>(i + 1)}));
      ASSERT_TRUE(fixture::WriteFile(pairs_[i].input, inputs_[i]));
    }
  }
  // Reads input `i` through `ahead` as the run does: its head announces
  // the rest.
  static void ReadHead(ReadAhead& ahead, const platform::File& file) {
    FileSource source(file, {}, &ahead);
    InputHead head;
    ASSERT_EQ(ReadInputHead(source, head), std::nullopt);
  }

  testutil::TempDir dir_;
  std::vector<Pair> pairs_;
  std::vector<fixture::Bytes> inputs_;
};

TEST_F(ReadAheadFiles, AnInputOpensAtItsTurnAsOpenInputWouldOpenIt) {
  Make(3);
  std::filesystem::rename(pairs_[1].input, dir_.At("away"));
  ReadAhead ahead(pairs_);
  const platform::File& first = ahead.Open(0);
  ASSERT_TRUE(first.is_open());
  ReadHead(ahead, first);  // input 1 is opened ahead, and fails
  // Missing when its turn comes: the failure of that moment.
  const platform::File& missing = ahead.Open(1);
  EXPECT_FALSE(missing.is_open());
  EXPECT_EQ(missing.error(), platform::File::OpenInput(pairs_[1].input).error());

  // Put back after the run began: found at its turn.
  ReadAhead again(pairs_);
  ReadHead(again, again.Open(0));
  std::filesystem::rename(dir_.At("away"), pairs_[1].input);
  const platform::File& found = again.Open(1);
  ASSERT_TRUE(found.is_open());
  EXPECT_EQ(found.info().size, inputs_[1].size());
  EXPECT_TRUE(again.Open(2).is_open());
  // Out of turn, as a second look at an input: opened afresh.
  EXPECT_EQ(again.Open(0).info().size, inputs_[0].size());
}

TEST_F(ReadAheadFiles, OpensNoMoreThanItsFilesAheadOfTheCurrentInput) {
  if (!platform::CanHintReads()) GTEST_SKIP() << "no read hints here: nothing is opened ahead";
  Make(4);
  ReadAhead ahead(pairs_, {.window = 8 * kMiB, .piece = kMiB, .files_ahead = 2});
  ReadHead(ahead, ahead.Open(0));
  // Inputs 1 and 2 are open already; input 3 is not.
  for (const size_t i : {size_t{1}, size_t{2}, size_t{3}}) std::filesystem::remove(pairs_[i].input);
  EXPECT_TRUE(ahead.Open(1).is_open());
  EXPECT_TRUE(ahead.Open(2).is_open());
  EXPECT_FALSE(ahead.Open(3).is_open());
}

TEST_F(ReadAheadFiles, InputsReadThroughItGiveTheExactBlocks) {
  // A first table past the kernel copy's piece, a small input, and a
  // window smaller than one input, so that every kind of hint is made.
  pairs_ = {{dir_.At("large"), "large", {}},
            {dir_.At("small"), "small", {}},
            {dir_.At("next"), "next", {}}};
  inputs_ = {fixture::MakeInput({.n = 150000, .m = 3, .k = 20000, .seed = 5, .extra = 9}),
             fixture::MakeInput({.n = 10, .m = 1, .k = 12, .seed = 6}),
             fixture::MakeInput({.n = 9000, .m = 64, .k = 9000, .seed = 7})};
  for (size_t i = 0; i < pairs_.size(); ++i) {
    ASSERT_TRUE(fixture::WriteFile(pairs_[i].input, inputs_[i]));
  }
  const Numbers numbers{0.5F, 10.0F, 20.0F, 30.0F};
  ReadAhead ahead(pairs_, {.window = kMiB, .piece = 1 << 16, .files_ahead = 2});
  std::vector<uint8_t> whole(FileSource::kWholeReadMax);
  testutil::TestOutput out(dir_.At("out"));
  ASSERT_TRUE(out.file().is_open());
  FileSink sink(out.file());
  ASSERT_TRUE(WriteMergedHeader(sink));
  for (size_t i = 0; i < pairs_.size(); ++i) {
    FileSource source(ahead.Open(i), whole, &ahead);
    ASSERT_EQ(RewriteInput(source, pairs_[i].alias, numbers, sink), RewriteStatus::kOk);
  }
  ASSERT_TRUE(out.Publish());
  EXPECT_EQ(fixture::ReadFile(dir_.At("out")),
            fixture::ExpectedMerged(inputs_, {"large", "small", "next"}, numbers));
}

}  // namespace
}  // namespace blkmerge
