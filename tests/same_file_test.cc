#include "driver/same_file.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/fixture.h"
#include "tests/scratch_dir.h"

namespace blkmerge {
namespace {

// A fresh directory holding a.src and b.src, removed with the object.
class Dir : public testutil::ScratchDir {
 public:
  Dir() {
    fixture::WriteFile(At("a.src"), {1});
    fixture::WriteFile(At("b.src"), {2});
  }
};

Job JobOf(const std::string& merged, const std::string& cons_fix, std::vector<std::string> inputs) {
  Job job{merged, cons_fix, {}, {}};
  for (std::string& input : inputs) job.pairs.push_back({std::move(input), "alias"});
  return job;
}

TEST(FindOutputClash, NamesTheFirstClashAsWritten) {
  const Dir d;
  const std::string job = d.At("job.txt");
  // Different spellings of b.src, which exists: found by inode, named as
  // the job spells the input.
  auto clash = FindOutputClash(
      JobOf(d.At("out"), d.At("./b.src"), {d.At("a.src"), d.At("b.src"), d.At("x/../b.src")}), job);
  ASSERT_TRUE(clash);
  EXPECT_EQ(clash->output, d.At("./b.src"));
  EXPECT_EQ(clash->other, d.At("b.src"));
  EXPECT_FALSE(clash->other_is_output);

  // Neither exists: found by normalised path; the merged name comes first.
  clash =
      FindOutputClash(JobOf(d.At("new"), d.At("fix"), {d.At("a.src"), d.At("sub/../new")}), job);
  ASSERT_TRUE(clash);
  EXPECT_EQ(clash->output, d.At("new"));
  EXPECT_EQ(clash->other, d.At("sub/../new"));

  // A missing output that normalises onto an existing input.
  clash = FindOutputClash(JobOf(d.At("none/../a.src"), d.At("fix"), {d.At("b.src"), d.At("a.src")}),
                          job);
  ASSERT_TRUE(clash);
  EXPECT_EQ(clash->other, d.At("a.src"));

  // The job file itself, before any input.
  clash = FindOutputClash(JobOf(d.At("out"), d.At("./job.txt"), {d.At("job.txt")}), job);
  ASSERT_TRUE(clash);
  EXPECT_EQ(clash->other, job);
}

TEST(FindOutputClash, OutputsUnderTwoSpellings) {
  const Dir d;
  const auto clash =
      FindOutputClash(JobOf(d.At("out"), d.At("./out"), {d.At("a.src")}), d.At("job"));
  ASSERT_TRUE(clash);
  EXPECT_TRUE(clash->other_is_output);
}

TEST(FindOutputClash, NoneWhenAllDiffer) {
  const Dir d;
  EXPECT_FALSE(FindOutputClash(
      JobOf(d.At("out"), d.At("fix"), {d.At("a.src"), d.At("b.src"), d.At("a.src")}), d.At("job")));
}

}  // namespace
}  // namespace blkmerge
