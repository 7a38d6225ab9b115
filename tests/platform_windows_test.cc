// The platform layer where names are UTF-16 and case does not tell files
// apart.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/file.h"
#include "platform/output.h"
#include "tests/fixture.h"
#include "tests/temp_dir.h"

namespace blkmerge::platform {
namespace {

using fixture::Bytes;
using testutil::TempDir;

TEST(WindowsNames, AreUtf8) {
  const TempDir dir;
  // U+00E9 and U+1F600 (a pair of UTF-16 code units) in UTF-8.
  const std::string name = dir.At("\xC3\xA9-\xF0\x9F\x98\x80.bin");
  testutil::TestOutput out(name);
  ASSERT_TRUE(out.file().is_open());
  EXPECT_TRUE(out.file().Write(Bytes{1, 2, 3}));
  EXPECT_TRUE(out.Publish());
  // The file system holds the name those characters make.
  EXPECT_TRUE(std::filesystem::exists(dir.path() / L"\u00E9-\U0001F600.bin"));
  EXPECT_EQ(File::OpenInput(name).info().size, 3u);
}

TEST(WindowsNames, ThatAreNotUtf8CannotBeOpened) {
  const TempDir dir;
  for (const char* bad : {"\xFF.bin", "\xC3.bin", "\xED\xA0\x80.bin", "\xC0\xAF.bin"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(PathOf(dir.At(bad)));
    EXPECT_FALSE(Output::Find(dir.At(bad)).found());
    EXPECT_FALSE(File::OpenInput(dir.At(bad)).is_open());
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(WindowsNames, DifferInCaseOnlyAreOneFile) {
  const TempDir dir;
  ASSERT_TRUE(fixture::WriteFile(dir.At("a.src"), Bytes{1}));
  const auto lower = InfoOf(*PathOf(dir.At("a.src")));
  const auto upper = InfoOf(*PathOf(dir.At("A.SRC")));
  ASSERT_TRUE(lower && upper);
  EXPECT_EQ(lower->id, upper->id);
  EXPECT_TRUE(SamePathName(L"C:\\Jobs\\Out.bin", L"c:\\jobs\\out.BIN"));
  // Only ASCII letters fold: U+00C9 and U+00E9 are two names.
  EXPECT_FALSE(SamePathName(L"C:\\\u00C9.bin", L"C:\\\u00E9.bin"));
  EXPECT_FALSE(SamePathName(L"C:\\out.bin", L"C:\\out.bin2"));
}

TEST(WindowsDevices, AreNoInputsAndNoStreams) {
  EXPECT_FALSE(File::OpenInput("NUL").is_open());
  EXPECT_FALSE(File::OpenStream("NUL").is_open());
  testutil::TestOutput null("NUL");
  ASSERT_TRUE(null.file().is_open());
  EXPECT_EQ(null.file().info().kind, FileKind::kDevice);
  EXPECT_FALSE(null.file().info().id);
  EXPECT_TRUE(null.file().Truncate(0));  // nothing to cut
  EXPECT_TRUE(null.file().Write(Bytes{1, 2, 3}));
}

}  // namespace
}  // namespace blkmerge::platform
