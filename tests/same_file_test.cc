#include "driver/same_file.h"

#include <gtest/gtest.h>

#include <string>

#include "driver/messages.h"
#include "tests/fixture.h"
#include "tests/temp_dir.h"

namespace blkmerge {
namespace {

// A fresh directory holding a.src and b.src, removed with the object.
class Dir : public testutil::TempDir {
 public:
  Dir() {
    Write("a.src", fixture::Bytes{1});
    Write("b.src", fixture::Bytes{2});
  }
};

Job JobOf(const std::string& merged, const std::string& cons_fix, std::vector<std::string> inputs) {
  Job job{merged, cons_fix, {}, {}, {}};
  for (std::string& input : inputs) job.pairs.push_back({std::move(input), "alias", {}});
  return job;
}

TEST(CheckOutputsApart, NamesTheFirstClashAsWritten) {
  const Dir d;
  const std::string job = d.At("job.txt");
  // Different spellings of b.src, which exists: found by inode, named as
  // the job spells the input.
  Failure clash = CheckOutputsApart(
      JobOf(d.At("out"), d.At("./b.src"), {d.At("a.src"), d.At("b.src"), d.At("x/../b.src")}), job);
  EXPECT_EQ(clash.kind, FailureKind::kSameFile);
  EXPECT_EQ(clash.message, message::SameFile(d.At("./b.src"), d.At("b.src")));

  // Neither exists: found by normalised path; the merged name comes first.
  clash =
      CheckOutputsApart(JobOf(d.At("new"), d.At("fix"), {d.At("a.src"), d.At("sub/../new")}), job);
  EXPECT_EQ(clash.message, message::SameFile(d.At("new"), d.At("sub/../new")));

  // A missing output that normalises onto an existing input.
  clash = CheckOutputsApart(
      JobOf(d.At("none/../a.src"), d.At("fix"), {d.At("b.src"), d.At("a.src")}), job);
  EXPECT_EQ(clash.message, message::SameFile(d.At("none/../a.src"), d.At("a.src")));

  // The job file itself, before any input.
  clash = CheckOutputsApart(JobOf(d.At("out"), d.At("./job.txt"), {d.At("job.txt")}), job);
  EXPECT_EQ(clash.message, message::SameFile(d.At("./job.txt"), job));
}

TEST(CheckOutputsApart, OutputsUnderTwoSpellings) {
  const Dir d;
  const Failure clash =
      CheckOutputsApart(JobOf(d.At("out"), d.At("./out"), {d.At("a.src")}), d.At("job"));
  EXPECT_EQ(clash.kind, FailureKind::kSameOutputNames);
  EXPECT_EQ(clash.message, "Output files cannot have the same name");
}

TEST(CheckOutputsApart, NoneWhenAllDiffer) {
  const Dir d;
  EXPECT_FALSE(CheckOutputsApart(
      JobOf(d.At("out"), d.At("fix"), {d.At("a.src"), d.At("b.src"), d.At("a.src")}), d.At("job")));
}

}  // namespace
}  // namespace blkmerge
