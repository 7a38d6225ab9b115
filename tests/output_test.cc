// An output as a run opens it: written beside its name, in place only when
// published, locked while open.
#include "platform/output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/fixture.h"
#include "tests/temp_dir.h"

namespace blkmerge::platform {
namespace {

using fixture::Bytes;
using testutil::TempDir;
using Files = std::vector<std::string>;

const Bytes kTen = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

Output Opened(const std::string& name) {
  Output out = Output::Find(name);
  EXPECT_TRUE(out.found()) << name;
  EXPECT_TRUE(out.Open()) << name;
  return out;
}

bool Publish(Output& out) {
  Output* const outputs[] = {&out};
  FileError error;
  return out.Close() && platform::Publish(outputs, error) < 0;
}

TEST(Output, TheOldFileStaysUntilTheNewOneIsPublished) {
  const TempDir dir;
  ASSERT_TRUE(fixture::WriteFile(dir.At("out"), kTen));
  Output out = Opened(dir.At("out"));
  EXPECT_EQ(out.mode(), Output::Mode::kReplace);
  ASSERT_TRUE(out.existing());
  EXPECT_EQ(out.existing()->size, 10u);
  ASSERT_TRUE(out.Empty());  // nothing to empty: the old file is not written
  ASSERT_TRUE(out.file().Write(Bytes{7, 7, 7}));
  EXPECT_EQ(fixture::ReadFile(dir.At("out")), kTen);
  ASSERT_TRUE(Publish(out));
  EXPECT_EQ(fixture::ReadFile(dir.At("out")), (Bytes{7, 7, 7}));
  EXPECT_EQ(dir.Files(), Files({"out"}));

  // Given up: the new file goes, the old one stays, nothing else is left.
  Output again = Opened(dir.At("out"));
  ASSERT_TRUE(again.file().Write(kTen));
  again.Abandon();
  EXPECT_EQ(fixture::ReadFile(dir.At("out")), (Bytes{7, 7, 7}));
  EXPECT_EQ(dir.Files(), Files({"out"}));
}

// The hidden names of a long name keep its start, cut where a character
// starts: they stay UTF-8, which a Windows name must be to be opened.
TEST(Output, TheHiddenNamesOfALongNameKeepWholeCharacters) {
  const TempDir dir;
  std::string name;
  for (int i = 0; i < 70; ++i) name += "\xE2\x82\xAC";  // 210 bytes
  Output out = Opened(dir.At(name));
  Files hidden;
  for (const std::string& file : dir.Files()) {
    const size_t kept = file.find('~');
    ASSERT_NE(kept, std::string::npos) << file;
    EXPECT_EQ(file.substr(0, kept), "." + name.substr(0, kept - 1)) << file;
    EXPECT_EQ((kept - 1) % 3, 0u) << file;
    hidden.push_back(file.substr(kept));
  }
  EXPECT_EQ(hidden.size(), 2u) << "the lock file and the new file";
  out.Abandon();
  EXPECT_EQ(dir.Files(), Files{});
}

TEST(Output, ANewNameIsThereOnlyOncePublished) {
  const TempDir dir;
  {
    Output out = Opened(dir.At("new"));
    EXPECT_FALSE(out.existing());
    ASSERT_TRUE(out.file().Write(kTen));
    EXPECT_FALSE(dir.Exists("new"));
  }  // going without a publish gives it up
  EXPECT_EQ(dir.Files(), Files());
  Output out = Opened(dir.At("new"));
  ASSERT_TRUE(Publish(out));
  EXPECT_EQ(dir.Files(), Files({"new"}));
}

TEST(Output, IsLockedWhileOpen) {
  // A second open of one output, as a second run would make it, is refused
  // until the first lets go; the file keeps its bytes.
  const TempDir dir;
  ASSERT_TRUE(fixture::WriteFile(dir.At("out"), kTen));
  Output first = Opened(dir.At("out"));
  Output second = Output::Find(dir.At("out"));
  ASSERT_TRUE(second.found());
  EXPECT_FALSE(second.Open());
  EXPECT_EQ(second.error().kind, FileError::Kind::kLocked);
  first.Abandon();
  Output third = Opened(dir.At("out"));
  third.Abandon();
  EXPECT_EQ(fixture::ReadFile(dir.At("out")), kTen);
  EXPECT_EQ(dir.Files(), Files({"out"}));
}

TEST(Output, NamesThatCannotBeOutputs) {
  const TempDir dir;
  std::filesystem::create_directory(dir.path() / "sub");
  Output folder = Output::Find(dir.At("sub"));
  ASSERT_TRUE(folder.found());
  EXPECT_FALSE(folder.Open());
  EXPECT_FALSE(Output::Find(dir.At("nodir/out")).found());
  EXPECT_FALSE(Output::Find("").found());
  EXPECT_EQ(dir.Files(), Files({"sub"}));
}

TEST(Output, TwoNamesOfOneOutputAreOneTarget) {
  const TempDir dir;
  std::filesystem::create_directory(dir.path() / "sub");
  // Not there yet: the same name in the same folder, however spelt.
  const Output a = Output::Find(dir.At("sub/out"));
  const Output b = Output::Find(dir.At("sub/../sub/./out"));
  const Output c = Output::Find(dir.At("sub/other"));
  EXPECT_TRUE(a.SameTarget(b));
  EXPECT_FALSE(a.SameTarget(c));
  // There: the same file.
  ASSERT_TRUE(fixture::WriteFile(dir.At("x"), kTen));
  std::filesystem::create_hard_link(dir.path() / "x", dir.path() / "y");
  EXPECT_TRUE(Output::Find(dir.At("x")).SameTarget(Output::Find(dir.At("y"))));
  EXPECT_FALSE(Output::Find(dir.At("x")).SameTarget(a));
}

}  // namespace
}  // namespace blkmerge::platform
