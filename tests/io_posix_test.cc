// The file sink on outputs that only POSIX systems make this way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "merge/block.h"
#include "merge/io.h"
#include "platform/file.h"
#include "tests/fixture.h"
#include "tests/temp_dir.h"

namespace blkmerge {
namespace {

using fixture::Bytes;

const Numbers kNumbers{0.5F, 10.0F, 20.0F, 30.0F};
const fixture::Shape kLarge{.n = 9000, .m = 3, .k = 70000, .seed = 11, .extra = 100};

RewriteStatus RewriteFile(const Bytes& input, platform::File& out) {
  const testutil::TempDir dir;
  EXPECT_TRUE(fixture::WriteFile(dir.At("in"), input));
  const platform::File in = platform::File::OpenInput(dir.At("in"));
  EXPECT_TRUE(in.is_open());
  FileSource source(in);
  FileSink sink(out);
  return RewriteInput(source, "alias", kNumbers, sink);
}

Bytes Expected(const Bytes& input) { return fixture::ExpectedBlock(input, "alias", kNumbers); }

TEST(FileSink, PipeGetsTheSameBytesWithoutKernelCopy) {
  const Bytes input = fixture::MakeInput(kLarge);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Bytes got;
  std::thread reader([&got, fd = fds[0]] {
    uint8_t buffer[1 << 16];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) got.insert(got.end(), buffer, buffer + n);
  });
  testutil::TestOutput out("/dev/fd/" + std::to_string(fds[1]));
  close(fds[1]);
  EXPECT_EQ(out.output().mode(), platform::Output::Mode::kDirect);
  const RewriteStatus status = RewriteFile(input, out.file());
  EXPECT_TRUE(out.Publish());
  reader.join();
  close(fds[0]);
  EXPECT_EQ(status, RewriteStatus::kOk);
  EXPECT_EQ(got, Expected(input));
}

TEST(FileSink, FullDeviceIsAWriteFailure) {
  testutil::TestOutput out("/dev/full");
  if (!out.file().is_open()) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(RewriteFile(fixture::MakeInput(kLarge), out.file()), RewriteStatus::kWriteFailed);
}

}  // namespace
}  // namespace blkmerge
