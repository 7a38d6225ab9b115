// The platform layer where names are bytes and pipes have names.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/file.h"
#include "platform/output.h"
#include "tests/fixture.h"
#include "tests/temp_dir.h"

namespace blkmerge::platform {
namespace {

using fixture::Bytes;
using testutil::TempDir;

TEST(PosixNames, AreBytesComparedExactly) {
  // Any bytes but '/' and zero make a name, UTF-8 or not.
  const TempDir dir;
  const std::string name = dir.At("\xFF\xFE.bin");
  ASSERT_TRUE(PathOf(name));
  ASSERT_TRUE(fixture::WriteFile(name, Bytes{1}));
  EXPECT_TRUE(File::OpenInput(name).is_open());
  EXPECT_TRUE(SamePathName("/d/out.bin", "/d/out.bin"));
  EXPECT_FALSE(SamePathName("/d/Out.bin", "/d/out.bin"));
}

TEST(PosixPipes, AreRefusedAtOnce) {
  // Neither end waits for the other: opening would otherwise hang here.
  const TempDir dir;
  const std::string fifo = dir.At("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(File::OpenInput(fifo).is_open());
  Output output = Output::Find(fifo);
  ASSERT_TRUE(output.found());
  EXPECT_FALSE(output.Open());
  EXPECT_EQ(output.error(), FileError::System(ENXIO));
  const File any = File::OpenAny(fifo);
  ASSERT_TRUE(any.is_open());
  EXPECT_EQ(any.info().kind, FileKind::kPipe);
}

TEST(PosixDevices, AreNoInputsAndNoStreams) {
  EXPECT_FALSE(File::OpenInput("/dev/zero").is_open());
  EXPECT_FALSE(File::OpenStream("/dev/zero").is_open());
  testutil::TestOutput null("/dev/null");
  ASSERT_TRUE(null.file().is_open());
  EXPECT_EQ(null.file().info().kind, FileKind::kDevice);
  EXPECT_TRUE(null.file().Truncate(0));  // nothing to cut
  EXPECT_TRUE(null.file().Write(Bytes{1, 2, 3}));
}

TEST(PosixWrite, AFailureIsKept) {
  testutil::TestOutput full("/dev/full");
  if (!full.file().is_open()) GTEST_SKIP() << "no /dev/full";
  EXPECT_FALSE(full.file().Write(Bytes{1}));
  EXPECT_FALSE(full.file().Write(Bytes{}));  // even with nothing to write
}

TEST(PosixKernelCopy, CopiesOrSaysItCannot) {
  const TempDir dir;
  Bytes bytes(100000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(fixture::WriteFile(dir.At("in"), bytes));
  const File in = File::OpenInput(dir.At("in"));
  testutil::TestOutput out_output(dir.At("out"));
  File& out = out_output.file();
  ASSERT_TRUE(out.Write(Bytes{1, 2}));
  bool unsupported = false;
  const uint64_t copied = CopyInKernel(in, 10, 90000, out, unsupported);
  ASSERT_TRUE(out_output.Publish());
  Bytes want = {1, 2};
  want.insert(want.end(), bytes.begin() + 10,
              bytes.begin() + 10 + static_cast<std::ptrdiff_t>(copied));
  EXPECT_EQ(fixture::ReadFile(dir.At("out")), want);
  EXPECT_TRUE(copied == 90000 || unsupported) << copied;
  // The input ends before all that was asked for.
  testutil::TestOutput rest(dir.At("rest"));
  const uint64_t tail = CopyInKernel(in, 99990, 100, rest.file(), unsupported);
  EXPECT_TRUE(tail == 10 || (tail == 0 && unsupported)) << tail;
}

TEST(PosixInMemory, TellsAPageJustWrittenFromOneNeverRead) {
  const TempDir dir;
  ASSERT_TRUE(fixture::WriteFile(dir.At("in"), Bytes(4096, 7)));
  std::filesystem::resize_file(dir.At("in"), 1 << 20);  // the rest a hole, never read
  const File in = File::OpenInput(dir.At("in"));
  const std::optional<bool> written = in.InMemory(100);
#ifdef __linux__
  ASSERT_TRUE(written.has_value()) << "Linux can tell";
#else
  if (!written) GTEST_SKIP() << "this system cannot tell";
#endif
  EXPECT_TRUE(*written);
  EXPECT_EQ(in.InMemory(1 << 19), false);
  EXPECT_EQ(in.InMemory(1 << 20), std::nullopt);  // past the end
}

}  // namespace
}  // namespace blkmerge::platform
