// The platform layer, as every platform must behave.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/file.h"
#include "tests/fixture.h"
#include "tests/temp_dir.h"

namespace blkmerge::platform {
namespace {

using fixture::Bytes;
using testutil::TempDir;

const Bytes kTen = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

TEST(Open, InputIsARegularFileOnly) {
  const TempDir dir;
  ASSERT_TRUE(fixture::WriteFile(dir.At("ten"), kTen));
  std::filesystem::create_directory(dir.path() / "sub");

  const File input = File::OpenInput(dir.At("ten"));
  ASSERT_TRUE(input.is_open());
  EXPECT_EQ(input.info().kind, FileKind::kRegular);
  EXPECT_EQ(input.info().size, 10u);
  EXPECT_FALSE(File::OpenInput(dir.At("missing")).is_open());
  EXPECT_FALSE(File::OpenInput(dir.At("sub")).is_open());
  EXPECT_FALSE(File::OpenStream(dir.At("sub")).is_open());
  EXPECT_TRUE(File::OpenStream(dir.At("ten")).is_open());
  // A directory opens as any file, and says what it is.
  const File any = File::OpenAny(dir.At("sub"));
  ASSERT_TRUE(any.is_open());
  EXPECT_EQ(any.info().kind, FileKind::kDirectory);
}

TEST(Read, TellsTheEndOfTheFile) {
  const TempDir dir;
  ASSERT_TRUE(fixture::WriteFile(dir.At("ten"), kTen));
  File file = File::OpenInput(dir.At("ten"));
  ASSERT_TRUE(file.is_open());
  Bytes out(4);
  ReadResult read = file.ReadAt(3, out);
  EXPECT_EQ(read.bytes, 4u);
  EXPECT_FALSE(read.failed());
  EXPECT_EQ(out, (Bytes{3, 4, 5, 6}));
  read = file.ReadAt(8, out);  // two bytes left
  EXPECT_EQ(read.bytes, 2u);
  EXPECT_FALSE(read.failed());
  EXPECT_EQ(out[1], 9);
  read = file.ReadAt(10, out);
  EXPECT_EQ(read.bytes, 0u);
  EXPECT_FALSE(read.failed());

  // Read goes from the start on, until nothing comes.
  file = File::OpenStream(dir.At("ten"));
  Bytes all;
  Bytes piece(3);
  while ((read = file.Read(piece)).bytes > 0) {
    all.insert(all.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(read.bytes));
  }
  EXPECT_FALSE(read.failed());
  EXPECT_EQ(all, kTen);
}

TEST(Output, ClosedFileFailsEverything) {
  File closed;
  EXPECT_FALSE(closed.is_open());
  EXPECT_FALSE(closed.Write(kTen));
  EXPECT_FALSE(closed.Truncate(0));
  EXPECT_FALSE(closed.Close());
  const TempDir dir;
  ASSERT_TRUE(fixture::WriteFile(dir.At("in"), kTen));
  File moved_from = File::OpenInput(dir.At("in"));
  const File moved_to = std::move(moved_from);
  EXPECT_TRUE(moved_to.is_open());
  EXPECT_FALSE(moved_from.is_open());  // NOLINT(bugprone-use-after-move): what a move leaves
}

TEST(Identity, OneFileUnderEveryName) {
  const TempDir dir;
  ASSERT_TRUE(fixture::WriteFile(dir.At("a"), kTen));
  ASSERT_TRUE(fixture::WriteFile(dir.At("b"), kTen));
  std::filesystem::create_hard_link(dir.path() / "a", dir.path() / "hard");
  const auto a = InfoOf(*PathOf(dir.At("a")));
  const auto hard = InfoOf(*PathOf(dir.At("hard")));
  const auto b = InfoOf(*PathOf(dir.At("b")));
  ASSERT_TRUE(a && hard && b);
  ASSERT_TRUE(a->id && b->id);
  EXPECT_EQ(a->id, hard->id);
  EXPECT_NE(a->id, b->id);
  EXPECT_FALSE(InfoOf(*PathOf(dir.At("missing"))));
  // An open file has the identity its name has.
  EXPECT_EQ(File::OpenInput(dir.At("hard")).info().id, a->id);
  EXPECT_EQ(File::OpenStream(dir.At("b")).info().id, b->id);
}

TEST(Errors, SayWhy) {
  const TempDir dir;
  const File missing = File::OpenInput(dir.At("missing"));
  EXPECT_EQ(missing.error().kind, FileError::Kind::kSystem);
  const std::string text = SystemErrorText(missing.error().code);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
  std::filesystem::create_directory(dir.path() / "sub");
  const File sub = File::OpenInput(dir.At("sub"));
  EXPECT_EQ(sub.error().kind, FileError::Kind::kNotRegular);
  EXPECT_EQ(sub.info().kind, FileKind::kDirectory);
  EXPECT_EQ(File::OpenStream(dir.At("sub")).error().kind, FileError::Kind::kNoEnd);
}

}  // namespace
}  // namespace blkmerge::platform
