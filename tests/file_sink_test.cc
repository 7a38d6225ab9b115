#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "merge/io.h"
#include "platform/file.h"
#include "tests/fixture.h"
#include "tests/temp_dir.h"

namespace blkmerge {
namespace {

// Nothing to write is a write that succeeds and changes nothing, also when
// the empty span holds no pointer at all (an empty cons_fix file).
TEST(FileSink, EmptyWriteWritesNothing) {
  const testutil::TempDir dir;
  platform::File file = platform::File::OpenOutput(dir.At("file"));
  ASSERT_TRUE(file.is_open());
  const std::vector<uint8_t> none;
  const std::vector<uint8_t> abc = {'a', 'b', 'c'};
  FileSink sink(file);
  EXPECT_TRUE(sink.Write(none));
  EXPECT_TRUE(sink.Write(abc));
  EXPECT_TRUE(sink.Write(none));
  EXPECT_TRUE(sink.Flush());
  file.Close();
  EXPECT_EQ(fixture::ReadFile(dir.At("file")), abc);
}

}  // namespace
}  // namespace blkmerge
