#include "driver/preflight.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fault.h"
#include "platform/file.h"
#include "tests/fixture.h"
#include "tests/temp_dir.h"

namespace blkmerge {
namespace {

using testutil::TempDir;

void WriteText(const std::string& path, const std::string& text) {
  ASSERT_TRUE(fixture::WriteFile(path, fixture::Bytes(text.begin(), text.end())));
}

TEST(CheckJob, AReadErrorInTheJobFileIsNoEnd) {
  // The pairs before the error would make a job; the job is refused.
  const TempDir dir;
  const std::string job_file = dir.At("job.txt");
  const std::string text = "out.bin fix.bin 1 2 3 4 a.src first b.src second";
  WriteText(job_file, text);
  platform::InjectFault({platform::Fault::Op::kRead, job_file, 30, 5});
  Job job;
  const Failure failure = CheckJob(job_file, job);
  platform::ClearFaults();
  ASSERT_EQ(failure.kind, FailureKind::kJobUnread);
  EXPECT_EQ(failure.message, "Could not read input file " + job_file);
  EXPECT_EQ(failure.detail, job_file + ": reading at offset 30: " + platform::SystemErrorText(5));
  // Without the fault the same file is a good job.
  EXPECT_FALSE(CheckJob(job_file, job));
  EXPECT_EQ(job.pairs.size(), 2u);
}

TEST(CheckJob, GivesTheRunsFirstFailureWithItsDetail) {
  const TempDir dir;
  Job job;
  Failure failure = CheckJob(dir.At("missing.txt"), job);
  ASSERT_EQ(failure.kind, FailureKind::kJobUnopened);
  EXPECT_EQ(failure.message, "Could not open input file " + dir.At("missing.txt"));
  EXPECT_TRUE(failure.detail.starts_with(dir.At("missing.txt") + ": ")) << failure.detail;

  const std::string job_file = dir.At("job.txt");
  WriteText(job_file, "out.bin 1 2 3 4");
  failure = CheckJob(job_file, job);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure.message, "Could not read four numbers from input file " + job_file);
  EXPECT_EQ(failure.detail, job_file + ":1:16: num4: expected a number, found the end of the file");

  // Two spellings of one path: the path is named.
  WriteText(job_file, dir.At("out.bin") + " " + dir.At("sub/../out.bin") + " 1 2 3 4");
  failure = CheckJob(job_file, job);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure.message, "Output files cannot have the same name");
  EXPECT_TRUE(failure.detail.ends_with(
      " reach one file (the same path " +
      std::string(reinterpret_cast<const char*>((dir.path() / "out.bin").u8string().c_str())) +
      ")"))
      << failure.detail;
}

}  // namespace
}  // namespace blkmerge
