#include "driver/job_reader.h"

#include <gtest/gtest.h>

#include <sstream>

namespace blkmerge {
namespace {

JobProblem Read(const std::string& text, Job& job) {
  std::istringstream in(text);
  return ReadJob(in, job);
}

TEST(ReadJob, TheExampleJob) {
  Job job;
  ASSERT_TRUE(Read("out.bin fix.bin 0.5 10 20 30 a.src first b.src second", job).ok());
  EXPECT_EQ(job.merged_name, "out.bin");
  EXPECT_EQ(job.cons_fix_name, "fix.bin");
  EXPECT_EQ(job.numbers.num1, 0.5F);
  EXPECT_EQ(job.numbers.num4, 30.0F);
  ASSERT_EQ(job.pairs.size(), 2u);
  EXPECT_EQ(job.pairs[1].input, "b.src");
  EXPECT_EQ(job.pairs[1].alias, "second");
}

}  // namespace
}  // namespace blkmerge
