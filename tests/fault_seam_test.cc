// The fault seam: each file operation fails where a test says, as the
// system's own failure would, and nowhere else.
#include <gtest/gtest.h>

#include <string>

#include "merge/io.h"
#include "platform/fault.h"
#include "platform/file.h"
#include "tests/fixture.h"
#include "tests/temp_dir.h"

namespace blkmerge::platform {
namespace {

using fixture::Bytes;
using Op = Fault::Op;

// Error codes, compared as numbers: what the system would say of them does
// not matter here.
constexpr uint32_t kBadSector = 5;
constexpr uint32_t kDiskFull = 28;

const Bytes kTen = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

// Bytes 0, 1, 2, ... 250, 0, 1, ...: every stretch tells where it came from.
Bytes Counting(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i % 251);
  return bytes;
}

class Seam : public ::testing::Test {
 protected:
  void TearDown() override { ClearFaults(); }

  // Writes `bytes` to `file` in the directory and returns its name.
  std::string Make(const std::string& file, const Bytes& bytes) const {
    EXPECT_TRUE(fixture::WriteFile(dir_.At(file), bytes));
    return dir_.At(file);
  }

  testutil::TempDir dir_;
};

TEST_F(Seam, AReadGetsTheBytesBeforeTheBadByteThenTheError) {
  const std::string name = Make("ten", kTen);
  const std::string other = Make("other", kTen);
  InjectFault({Op::kRead, name, 6, kBadSector});

  File file = File::OpenInput(name);
  Bytes out(10, 0xEE);
  ReadResult read = file.ReadAt(2, out);
  EXPECT_EQ(read.bytes, 4u);  // 2 to 5 come, then the error
  EXPECT_EQ(read.error, FileError::System(kBadSector));
  EXPECT_EQ(out, (Bytes{2, 3, 4, 5, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  EXPECT_EQ(file.ReadAt(0, std::span(out).first(6)).bytes, 6u);  // before it, all is well
  EXPECT_EQ(file.ReadAt(8, out).bytes, 2u);                      // and after it
  EXPECT_EQ(file.ReadAt(6, std::span(out).first(1)).error, FileError::System(kBadSector));

  // Read in order: the bytes before, then the error, and then no more.
  file = File::OpenStream(name);
  read = file.Read(out);
  EXPECT_EQ(read.bytes, 6u);
  EXPECT_FALSE(read.failed());
  read = file.Read(out);
  EXPECT_EQ(read.bytes, 0u);
  EXPECT_EQ(read.error, FileError::System(kBadSector));
  EXPECT_TRUE(file.Read(out).failed());

  // Another file reads whole, and so does this one once the fault is gone.
  EXPECT_EQ(File::OpenInput(other).ReadAt(0, out).bytes, 10u);
  ClearFaults();
  EXPECT_EQ(File::OpenInput(name).ReadAt(0, out).bytes, 10u);
}

TEST_F(Seam, AWriteThatReachesTheFaultWritesTheBytesBeforeItThenFails) {
  const std::string name = dir_.At("out");
  InjectFault({Op::kWrite, name, 6, kDiskFull});

  testutil::TestOutput output(name);
  File& out = output.file();
  EXPECT_TRUE(out.Write(std::span(kTen).first(4)));
  EXPECT_FALSE(out.Write(std::span(kTen).subspan(4)));
  EXPECT_EQ(out.error(), FileError::System(kDiskFull));
  // The disk stays full: nothing more is written.
  EXPECT_FALSE(out.Write(std::span(kTen).first(1)));
  EXPECT_TRUE(output.Publish());
  EXPECT_EQ(fixture::ReadFile(name), (Bytes{0, 1, 2, 3, 4, 5}));

  // Each open File counts from its own start: a new output written again
  // takes six bytes again.
  testutil::TestOutput again(name);
  EXPECT_FALSE(again.file().Write(Bytes(10, 7)));
  EXPECT_TRUE(again.Publish());
  EXPECT_EQ(fixture::ReadFile(name), Bytes(6, 7));
}

// The sink copies long stretches inside the kernel where it can; a fault
// stops that copy as it stops a plain read or write. Where the kernel
// cannot copy these files, the sink's buffer meets the same faults.
TEST_F(Seam, AStretchCopiedInTheKernelStopsAtAFault) {
  const Bytes input = Counting(300000);
  const std::string in_name = Make("in", input);
  const File in = File::OpenInput(in_name);

  // A full disk at byte 200003 of the output: exactly the bytes before it.
  const std::string out_name = dir_.At("out");
  InjectFault({Op::kWrite, out_name, 200003, kDiskFull});
  testutil::TestOutput output(out_name);
  File& out = output.file();
  {
    FileSource source(in);
    FileSink sink(out);
    // What the kernel does not copy waits in the sink's buffer until the
    // flush.
    const bool copied = sink.CopyFrom(source, 0, input.size()) == IoStatus::kOk && sink.Flush();
    EXPECT_FALSE(copied);
  }
  EXPECT_EQ(out.error(), FileError::System(kDiskFull));
  EXPECT_TRUE(output.Publish());
  EXPECT_EQ(fixture::ReadFile(out_name), Bytes(input.begin(), input.begin() + 200003));

  // A bad byte in the input at 150000: the copy fails for the read, and
  // what reached the output comes before it.
  ClearFaults();
  InjectFault({Op::kRead, in_name, 150000, kBadSector});
  const File bad_in = File::OpenInput(in_name);
  const std::string copy_name = dir_.At("copy");
  testutil::TestOutput copy_output(copy_name);
  File& copy = copy_output.file();
  {
    FileSource source(bad_in);
    FileSink sink(copy);
    EXPECT_EQ(sink.CopyFrom(source, 0, input.size()), IoStatus::kReadFailed);
    EXPECT_EQ(source.ReadError(), FileError::System(kBadSector));
    EXPECT_TRUE(sink.Flush());
  }
  EXPECT_TRUE(copy_output.Publish());
  const Bytes copied = fixture::ReadFile(copy_name);
  EXPECT_LE(copied.size(), 150000u);
  EXPECT_EQ(copied, Bytes(input.begin(), input.begin() + static_cast<ptrdiff_t>(copied.size())));
}

TEST_F(Seam, ACloseClosesTheFileThenFails) {
  const std::string name = dir_.At("out");
  const std::string other = dir_.At("other");
  InjectFault({Op::kClose, name, 0, kBadSector});

  testutil::TestOutput output(name);
  File& out = output.file();
  EXPECT_TRUE(out.Write(kTen));
  EXPECT_FALSE(out.Close());
  EXPECT_EQ(out.error(), FileError::System(kBadSector));
  EXPECT_FALSE(out.is_open());
  EXPECT_FALSE(out.Close());
  // Every byte got there (put in place for a look), and the file is free
  // for the next open.
  EXPECT_TRUE(output.Publish());
  EXPECT_EQ(fixture::ReadFile(name), kTen);
  // (Held open, so that the file made for `other` cannot take over its
  // identity, and its fault with it.)
  testutil::TestOutput next(name);
  EXPECT_TRUE(next.file().is_open());
  testutil::TestOutput fine(other);
  EXPECT_TRUE(fine.file().Close());
}

TEST_F(Seam, AFaultFollowsTheFileLastOpenedUnderItsName) {
  const std::string name = Make("a", kTen);
  const std::string other = Make("b", kTen);
  InjectFault({Op::kRename, name, 0, kBadSector});

  // Nothing is bound before an open under the name.
  const File b = File::OpenInput(other);
  EXPECT_FALSE(seam::FaultAt(Op::kRename, b.info().id));
  const File a = File::OpenInput(name);
  EXPECT_EQ(seam::FaultAt(Op::kRename, a.info().id), FileError::System(kBadSector));
  EXPECT_FALSE(seam::FaultAt(Op::kRename, b.info().id));
  EXPECT_FALSE(seam::FaultAt(Op::kClose, a.info().id));
  EXPECT_FALSE(seam::FaultAt(Op::kRename, std::nullopt));

  // A file written in place of the named one answers to that name once
  // bound to it: the next open under the name binds it back.
  seam::Bind(name, b.info().id);
  EXPECT_FALSE(seam::FaultAt(Op::kRename, a.info().id));
  EXPECT_EQ(seam::FaultAt(Op::kRename, b.info().id), FileError::System(kBadSector));
  const File again = File::OpenInput(name);
  EXPECT_EQ(seam::FaultAt(Op::kRename, again.info().id), FileError::System(kBadSector));
  EXPECT_FALSE(seam::FaultAt(Op::kRename, b.info().id));

  // Faults add up on one file, each for its own operation.
  const std::string out_name = dir_.At("out");
  InjectFault({Op::kWrite, out_name, 3, kDiskFull});
  InjectFault({Op::kClose, out_name, 0, kBadSector});
  testutil::TestOutput output(out_name);
  File& out = output.file();
  EXPECT_FALSE(out.Write(kTen));
  EXPECT_EQ(out.error(), FileError::System(kDiskFull));
  EXPECT_FALSE(out.Close());
  EXPECT_EQ(out.error(), FileError::System(kBadSector));

  ClearFaults();
  EXPECT_FALSE(seam::FaultAt(Op::kRename, again.info().id));
}

}  // namespace
}  // namespace blkmerge::platform
