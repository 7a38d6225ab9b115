// Faults from outside the tool, end to end with the built binary: inputs
// cut short or with wild offsets, job files that are huge or binary. The
// outputs that cannot be written, the inputs that cannot be opened and the
// outputs that are other files are tested with the other failed runs
// (e2e_files_test.cc, e2e_job_test.cc).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e_util.h"
#include "tests/fixture.h"

namespace blkmerge::e2e {
namespace {

using fixture::Bytes;

const Numbers kNumbers{0.5F, 10.0F, 20.0F, 30.0F};
// What a run before left in an output.
const Bytes kOld = {'o', 'l', 'd'};

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::string JobText(const std::string& merged, const std::string& cons_fix, const Pairs& pairs) {
  std::string text = merged + " " + cons_fix + "\n0.5 10 20 30\n";
  for (const auto& [input, alias] : pairs)
    text.append(input).append(" ").append(alias).append("\n");
  return text;
}

// A directory holding the two well-formed inputs a.src and b.src.
class Faults : public ::testing::Test {
 protected:
  Faults() {
    dir_.Write("a.src", a_);
    dir_.Write("b.src", b_);
  }

  const Bytes a_ = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 1});
  const Bytes b_ = fixture::MakeInput({.n = 0, .m = 3, .k = 5, .seed = 2, .extra = 9});
  const Pairs ab_ = {{"a.src", "first"}, {"b.src", "second"}};
  TempDir dir_;
};

// The rewrite needs every byte up to the end of the two tail words and the
// 12 bytes after them (P + 20 in a well-formed input); what follows is not
// read. Shorter inputs are refused, and the outputs of the run before stay
// as they were. The
// unit tests of the rewrite cut at every length; here a few cuts around
// each part of the input.
TEST_F(Faults, InputTruncated) {
  const fixture::Shape shape{.n = 2, .m = 1, .k = 3, .seed = 5, .extra = 6};
  const Bytes whole = fixture::MakeInput(shape);
  const uint64_t needed = fixture::TailOffset(shape) + 20;
  ASSERT_EQ(whole.size(), needed + 6);
  dir_.Write("job.txt", JobText("out.bin", "fix.bin", {{"a.src", "first"}, {"c.src", "second"}}));
  // None, the front part short by a byte, M short by a byte, the second
  // table missing, the tail short by a byte, just enough, all of it.
  const uint64_t m_end = 120 + 16 * 2 + 16;
  for (const uint64_t length :
       {uint64_t{0}, uint64_t{119}, m_end - 1, fixture::SecondTableOffset(shape), needed - 1,
        needed, whole.size()}) {
    SCOPED_TRACE("length " + std::to_string(length));
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    dir_.Write("c.src", cut);
    dir_.Write("out.bin", kOld);
    dir_.Write("fix.bin", kOld);
    const Result r = Blkmerge(dir_, "job.txt");
    if (length < needed) {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.output, "Processed a.src as first\nInput file c.src is truncated or damaged\n");
      EXPECT_EQ(dir_.Read("out.bin"), kOld);
      EXPECT_EQ(dir_.Read("fix.bin"), kOld);
    } else {
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.output,
                "Processed a.src as first\nProcessed c.src as second\n"
                "Produced cons_fix file fix.bin\n");
      EXPECT_EQ(dir_.Read("out.bin"),
                fixture::ExpectedMerged({a_, cut}, {"first", "second"}, kNumbers));
      EXPECT_EQ(dir_.Read("fix.bin"), fixture::ConsFixRecord("first", "second"));
    }
    if (HasFailure()) break;
  }
}

// A well-formed input (N = 2, M = 1, K = 3: Q = 184, P = 232, 252 bytes)
// with one word set to an extreme. Refused exactly when a read would leave
// the file; otherwise rewritten as the block table says, wrap-around and all.
TEST_F(Faults, ExtremeHeaderWords) {
  enum Word { kN, kM, kLtable, kLtail };
  struct Case {
    Word word;
    uint32_t value;
    bool refused;
    const char* why;
  };
  const Case cases[] = {
      {kN, 0, false, "M read from the first table's old place"},
      {kN, 0xFFFFFFFF, true, "N negative"},
      {kN, 0x7FFFFFFF, true, "M past the end"},
      {kN, 0x80000000, true, "N negative"},
      {kM, 0, false, "D = 16"},
      {kM, 0xFFFFFFFF, false, "D = 0"},
      {kM, 0x7FFFFFFF, false, "D wraps to 0"},
      {kM, 0x80000000, false, "D wraps to 16"},
      {kLtable, 0, false, "Q = 104, K = 8, tail ends at the end of the file"},
      {kLtable, 0xFFFFFFFF, false, "Q = 103, K = 8"},
      {kLtable, 0x7FFFFFFF, true, "Q wraps negative"},
      {kLtable, 0x80000000, true, "Q negative"},
      {kLtail, 0, false, "P = 56 before Q: K negative, tail at Q"},
      {kLtail, 0xFFFFFFFF, false, "P = 55: K negative, tail at Q"},
      {kLtail, 0x7FFFFFFF, true, "P wraps: K huge"},
      {kLtail, 0x80000000, true, "P negative: P - Q wraps, K huge"},
  };
  dir_.Write("job.txt", JobText("out.bin", "fix.bin", {{"c.src", "first"}}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Bytes in = fixture::MakeInput({.n = 2, .m = 1, .k = 3, .seed = 9});
    ASSERT_EQ(in.size(), 252u);
    const auto value = static_cast<int32_t>(c.value);
    switch (c.word) {
      case kN: fixture::SetN(in, value); break;
      case kM: fixture::SetM(in, value); break;
      case kLtable: fixture::SetLtable(in, value); break;
      case kLtail: fixture::SetLtail(in, value); break;
    }
    dir_.Write("c.src", in);
    dir_.Write("out.bin", kOld);
    const Result r = Blkmerge(dir_, "job.txt");
    if (c.refused) {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.output, "Input file c.src is truncated or damaged\n");
      EXPECT_EQ(dir_.Read("out.bin"), kOld);
    } else {
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.output, "Processed c.src as first\nProduced cons_fix file fix.bin\n");
      EXPECT_EQ(dir_.Read("out.bin"), fixture::ExpectedMerged({in}, {"first"}, kNumbers));
    }
  }
}

// Reading the job must not hold the file in memory: after 50 MB of white
// space before the job, the tool's peak stays under 24 MiB (about 6 MiB
// as built, 14 under the sanitizers; holding the file would take 50). The
// file is written in pieces so that this process stays small as well: a
// child starts out with its parent's peak.
TEST_F(Faults, HugeJobFileInBoundedMemory) {
  {
    std::ofstream job(dir_.At("job.txt"), std::ios::binary);
    std::string spaces;
    while (spaces.size() < (1u << 20)) spaces += " \t\r\n\v\f";
    spaces.resize(1u << 20);
    for (int i = 0; i < 50; ++i) job << spaces;
    job << JobText("out.bin", "fix.bin", ab_);
    ASSERT_TRUE(job.flush());
  }
  ASSERT_GT(std::filesystem::file_size(dir_.At("job.txt")), 50u << 20);

  const Result r = Blkmerge(dir_, "job.txt");
  rusage usage{};
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(
      r.output,
      "Processed a.src as first\nProcessed b.src as second\nProduced cons_fix file fix.bin\n");
  EXPECT_EQ(dir_.Read("out.bin"), fixture::ExpectedMerged({a_, b_}, {"first", "second"}, kNumbers));
  const long peak_kib = usage.ru_maxrss;
  EXPECT_LT(peak_kib, 24 * 1024) << "peak resident size " << peak_kib << " KiB";
}

// Binary files from the fixture builder as job files: the text makes no
// job, so one of the job messages, and no file is created.
TEST_F(Faults, BinaryJobFile) {
  const std::vector<std::string> messages = {
      "Could not read output file names from input file job.bin\n",
      "Could not read four numbers from input file job.bin\n",
      "Name longer than 99 characters in input file job.bin\n",
  };
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    dir_.Write("job.bin", fixture::MakeInput({.n = 3, .m = 2, .k = 4, .seed = seed}));
    const Result r = Blkmerge(dir_, "job.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(std::find(messages.begin(), messages.end(), r.output), messages.end()) << r.output;
    EXPECT_EQ(dir_.Files(), (std::vector<std::string>{"a.src", "b.src", "job.bin"}));
  }
}

}  // namespace
}  // namespace blkmerge::e2e
