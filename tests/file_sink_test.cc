#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "merge/io.h"
#include "tests/fixture.h"

namespace blkmerge {
namespace {

// A file in the temporary directory, removed at the end.
class TempFile {
 public:
  TempFile() : path_(::testing::TempDir() + "file_sink_XXXXXX") { fd_ = mkstemp(path_.data()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (fd_ >= 0) close(fd_);
    unlink(path_.c_str());
  }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

// Nothing to write is a write that succeeds and changes nothing, also when
// the empty span holds no pointer at all (an empty cons_fix file).
TEST(FileSink, EmptyWriteWritesNothing) {
  TempFile file;
  ASSERT_GE(file.fd(), 0);
  const std::vector<uint8_t> none;
  const std::vector<uint8_t> abc = {'a', 'b', 'c'};
  FileSink sink(file.fd());
  EXPECT_TRUE(sink.Write(none));
  EXPECT_TRUE(sink.Write(abc));
  EXPECT_TRUE(sink.Write(none));
  EXPECT_TRUE(sink.Flush());
  EXPECT_EQ(fixture::ReadFile(file.path()), abc);
}

}  // namespace
}  // namespace blkmerge
