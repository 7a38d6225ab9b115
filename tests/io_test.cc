#include "merge/io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "merge/block.h"
#include "tests/fixture.h"

namespace blkmerge {
namespace {

using fixture::Bytes;

const Numbers kNumbers{0.5F, 10.0F, 20.0F, 30.0F};

// First table past the kernel-copy threshold, second table past the sink's
// buffer: every path of the file sink is taken.
const fixture::Shape kLarge{.n = 9000, .m = 3, .k = 70000, .seed = 11, .extra = 100};

// A file in the temporary directory, removed with the object.
class TempFile {
 public:
  TempFile() : path_(std::string(P_tmpdir) + "/blkmerge-io-XXXXXX") {
    const int fd = mkstemp(path_.data());
    if (fd >= 0) close(fd);
  }
  ~TempFile() { unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Rewrites `input` (read from a real file) into the descriptor `out_fd`.
RewriteStatus RewriteFile(const Bytes& input, int out_fd) {
  TempFile in_file;
  EXPECT_TRUE(fixture::WriteFile(in_file.path(), input));
  const int in_fd = open(in_file.path().c_str(), O_RDONLY);
  EXPECT_GE(in_fd, 0);
  FileSource source(in_fd, input.size());
  FileSink sink(out_fd);
  const RewriteStatus status = RewriteInput(source, "alias", kNumbers, sink);
  close(in_fd);
  return status;
}

Bytes Expected(const Bytes& input) { return fixture::ExpectedBlock(input, "alias", kNumbers); }

TEST(FileSink, RegularFileGetsTheExactBlock) {
  const Bytes input = fixture::MakeInput(kLarge);
  TempFile out;
  const int fd = open(out.path().c_str(), O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(RewriteFile(input, fd), RewriteStatus::kOk);
  close(fd);
  EXPECT_EQ(fixture::ReadFile(out.path()), Expected(input));
}

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
  const RewriteStatus status = RewriteFile(input, fds[1]);
  close(fds[1]);
  reader.join();
  close(fds[0]);
  EXPECT_EQ(status, RewriteStatus::kOk);
  EXPECT_EQ(got, Expected(input));
}

TEST(FileSink, FullDeviceIsAWriteFailure) {
  const int fd = open("/dev/full", O_WRONLY);
  if (fd < 0) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(RewriteFile(fixture::MakeInput(kLarge), fd), RewriteStatus::kWriteFailed);
  close(fd);
}

TEST(FileSink, RoomIsUsedInPlace) {
  TempFile out;
  const int fd = open(out.path().c_str(), O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  {
    FileSink sink(fd);
    ASSERT_TRUE(sink.Write(Bytes{1, 2, 3}));
    std::span<uint8_t> room = sink.Room(5);
    ASSERT_EQ(room.size(), 5u);
    room[0] = 4;
    room[1] = 5;
    sink.Commit(2);
    // Nearly all of the buffer: less than asked for comes back, but never
    // less than kMinRoom.
    room = sink.Room(FileSink::kBufferSize);
    EXPECT_EQ(room.size(), FileSink::kBufferSize - 5);
    sink.Commit(0);
    ASSERT_TRUE(sink.Write(Bytes(FileSink::kBufferSize - 5 - 100, 9)));
    room = sink.Room(FileSink::kBufferSize);
    EXPECT_GE(room.size(), Sink::kMinRoom);
    room[0] = 6;
    sink.Commit(1);
    ASSERT_TRUE(sink.Flush());
  }
  close(fd);
  const Bytes got = fixture::ReadFile(out.path());
  ASSERT_EQ(got.size(), FileSink::kBufferSize - 100 + 1);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 6), (Bytes{1, 2, 3, 4, 5, 9}));
  EXPECT_EQ(got.back(), 6);
}

TEST(MemorySink, SmallRoomsGiveTheSameBlock) {
  // The second table stamped in pieces of kMinRoom bytes, across the pieces'
  // edges, matches the block table.
  const Bytes input = fixture::MakeInput({.n = 3, .m = 2, .k = 1000, .seed = 12});
  MemorySource in(input);
  MemorySink out(Sink::kMinRoom);
  ASSERT_EQ(RewriteInput(in, "alias", kNumbers, out), RewriteStatus::kOk);
  EXPECT_EQ(out.bytes(), fixture::ExpectedBlock(input, "alias", kNumbers));
}

}  // namespace
}  // namespace blkmerge
