#include "merge/io.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "merge/block.h"
#include "platform/fault.h"
#include "platform/file.h"
#include "tests/fixture.h"
#include "tests/temp_dir.h"

namespace blkmerge {
namespace {

using fixture::Bytes;
using testutil::TempDir;

const Numbers kNumbers{0.5F, 10.0F, 20.0F, 30.0F};

// First table past the kernel-copy threshold, second table past the sink's
// buffer: every path of the file sink is taken.
const fixture::Shape kLarge{.n = 9000, .m = 3, .k = 70000, .seed = 11, .extra = 100};

// A small input, which fits a whole-read buffer.
const fixture::Shape kSmall{.n = 100, .m = 4, .k = 120, .seed = 12, .extra = 7};

// Rewrites `input` (read from a real file, whole when `whole` is given)
// into `out`.
RewriteStatus RewriteFile(const Bytes& input, platform::File& out, std::span<uint8_t> whole = {}) {
  const TempDir dir;
  EXPECT_TRUE(fixture::WriteFile(dir.At("in"), input));
  const platform::File in = platform::File::OpenInput(dir.At("in"));
  EXPECT_TRUE(in.is_open());
  FileSource source(in, whole);
  FileSink sink(out);
  return RewriteInput(source, "alias", kNumbers, sink);
}

Bytes Expected(const Bytes& input) { return fixture::ExpectedBlock(input, "alias", kNumbers); }

TEST(FileSink, RegularFileGetsTheExactBlock) {
  const Bytes input = fixture::MakeInput(kLarge);
  const TempDir dir;
  testutil::TestOutput out_output(dir.At("out"));
  platform::File& out = out_output.file();
  ASSERT_TRUE(out.is_open());
  EXPECT_EQ(RewriteFile(input, out), RewriteStatus::kOk);
  ASSERT_TRUE(out_output.Publish());
  EXPECT_EQ(fixture::ReadFile(dir.At("out")), Expected(input));
}

TEST(FileSink, RoomIsUsedInPlace) {
  const TempDir dir;
  testutil::TestOutput out_output(dir.At("out"));
  platform::File& out = out_output.file();
  ASSERT_TRUE(out.is_open());
  {
    FileSink sink(out);
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
  ASSERT_TRUE(out_output.Publish());
  const Bytes got = fixture::ReadFile(dir.At("out"));
  ASSERT_EQ(got.size(), FileSink::kBufferSize - 100 + 1);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 6), (Bytes{1, 2, 3, 4, 5, 9}));
  EXPECT_EQ(got.back(), 6);
}

TEST(FileSink, WrittenCountsWhatReachedTheFile) {
  const TempDir dir;
  testutil::TestOutput out_output(dir.At("out"));
  platform::File& out = out_output.file();
  ASSERT_TRUE(out.is_open());
  FileSink sink(out);
  ASSERT_TRUE(sink.Write(Bytes{1, 2, 3}));
  EXPECT_EQ(sink.written(), 0u);  // still in the buffer
  ASSERT_TRUE(sink.Flush());
  EXPECT_EQ(sink.written(), 3u);
  const Bytes input = fixture::MakeInput(kLarge);
  const platform::File in = [&] {
    EXPECT_TRUE(fixture::WriteFile(dir.At("in"), input));
    return platform::File::OpenInput(dir.At("in"));
  }();
  FileSource source(in);
  ASSERT_EQ(RewriteInput(source, "alias", kNumbers, sink), RewriteStatus::kOk);
  EXPECT_EQ(sink.written(), 3 + Expected(input).size());
}

TEST(FileSource, SmallInputReadWholeGivesTheSameBlock) {
  const Bytes input = fixture::MakeInput(kSmall);
  ASSERT_LE(input.size(), FileSource::kWholeReadMax);
  Bytes whole(FileSource::kWholeReadMax);
  const TempDir dir;
  testutil::TestOutput out_output(dir.At("out"));
  platform::File& out = out_output.file();
  ASSERT_TRUE(out.is_open());
  EXPECT_EQ(RewriteFile(input, out, whole), RewriteStatus::kOk);
  EXPECT_EQ(RewriteFile(input, out), RewriteStatus::kOk);
  ASSERT_TRUE(out_output.Publish());
  Bytes twice = Expected(input);
  twice.insert(twice.end(), twice.begin(), twice.end());
  EXPECT_EQ(fixture::ReadFile(dir.At("out")), twice);
}

TEST(FileSource, InputThatShrankAfterOpeningIsDamaged) {
  // The size is taken at open; the bytes are no longer there when read,
  // whether the input is read whole or in parts.
  const Bytes input = fixture::MakeInput(kSmall);
  Bytes whole(FileSource::kWholeReadMax);
  for (const bool read_whole : {true, false}) {
    SCOPED_TRACE(read_whole ? "read whole" : "read in parts");
    const TempDir dir;
    ASSERT_TRUE(fixture::WriteFile(dir.At("in"), input));
    const platform::File in = platform::File::OpenInput(dir.At("in"));
    ASSERT_TRUE(in.is_open());
    ASSERT_EQ(in.info().size, input.size());
    std::filesystem::resize_file(dir.path() / "in", input.size() - 21);
    FileSource source(in, read_whole ? std::span<uint8_t>(whole) : std::span<uint8_t>());
    MemorySink sink;
    EXPECT_EQ(RewriteInput(source, "alias", kNumbers, sink), RewriteStatus::kDamaged);
  }
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

// A read error, made where a failing disk makes it: inside the second
// table, read straight, or inside a small input read whole. Told apart
// from an input that ends early, with the system's error.
TEST(FileSource, AReadErrorIsNoShortFile) {
  const platform::FileError eio = platform::FileError::System(5);
  for (const bool read_whole : {false, true}) {
    SCOPED_TRACE(read_whole ? "read whole" : "read in parts");
    const fixture::Shape shape = read_whole ? kSmall : kLarge;
    const Bytes input = fixture::MakeInput(shape);
    const TempDir dir;
    ASSERT_TRUE(fixture::WriteFile(dir.At("in"), input));
    const uint64_t q = fixture::SecondTableOffset(shape);
    platform::InjectFault({platform::Fault::Op::kRead, dir.At("in"), q + 100, eio.code});
    const platform::File in = platform::File::OpenInput(dir.At("in"));
    Bytes whole(FileSource::kWholeReadMax);
    FileSource source(in, read_whole ? std::span<uint8_t>(whole) : std::span<uint8_t>());
    MemorySink sink;
    InputProblem problem;
    const RewriteStatus status = RewriteInput(source, "alias", kNumbers, sink, &problem);
    platform::ClearFaults();
    EXPECT_EQ(status, RewriteStatus::kReadFailed);
    EXPECT_EQ(problem.kind, InputProblem::Kind::kReadFailed);
    EXPECT_EQ(problem.error, eio);
    // Read whole, the first read is the one that fails.
    EXPECT_EQ(problem.part, read_whole ? InputPart::kFrontPart : InputPart::kSecondTable);
    EXPECT_EQ(problem.offset, read_whole ? 0 : static_cast<int64_t>(q));
  }
}

}  // namespace
}  // namespace blkmerge
