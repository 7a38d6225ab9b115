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
  testutil::TestOutput file_output(dir.At("file"));
  platform::File& file = file_output.file();
  ASSERT_TRUE(file.is_open());
  const std::vector<uint8_t> none;
  const std::vector<uint8_t> abc = {'a', 'b', 'c'};
  FileSink sink(file);
  EXPECT_TRUE(sink.Write(none));
  EXPECT_TRUE(sink.Write(abc));
  EXPECT_TRUE(sink.Write(none));
  EXPECT_TRUE(sink.Flush());
  ASSERT_TRUE(file_output.Publish());
  EXPECT_EQ(fixture::ReadFile(dir.At("file")), abc);
}

}  // namespace
}  // namespace blkmerge
