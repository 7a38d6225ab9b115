// Runs that fail at the files: outputs that cannot be created or written,
// inputs that cannot be opened or are damaged. A run that fails creates no
// output and leaves nothing of its own behind.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e_util.h"
#include "tests/fixture.h"

namespace blkmerge::e2e {
namespace {

using fixture::Bytes;
using Files = std::vector<std::string>;

const Numbers kNumbers{1.0F, 2.0F, 3.0F, 4.0F};
const Bytes kHeader = {'v', 'e', 'r', 's', 0x00, 0x00, 0x00, 0x40};

// A directory holding the inputs a.src and b.src.
class InputDir : public TempDir {
 public:
  InputDir() {
    Write("a.src", a);
    Write("b.src", b);
  }
  // Writes job.txt with the outputs, the numbers 1 2 3 4 and `pairs`.
  Result Run(const std::string& outputs, const std::string& pairs) const {
    Write("job.txt", outputs + " 1 2 3 4 " + pairs);
    return Blkmerge(*this, "job.txt");
  }

  const Bytes a = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 11});
  const Bytes b = fixture::MakeInput({.n = 3, .m = 0, .k = 1, .seed = 12});
};

TEST(Outputs, MergedFileCannotBeCreated) {
  InputDir dir;
  ASSERT_EQ(RunIn(dir, "mkdir sub").status, 0);
  // The name as standard output gives it, and as standard error shows it.
  for (const auto& [merged, shown] : std::initializer_list<std::pair<std::string, std::string>>{
           {"nodir/out.bin", "nodir/out.bin"},
           {"sub", "sub"},
           {"nodir/\x1B]0;x\x07.bin", "\"nodir/\\x1B]0;x\\x07.bin\""},
       }) {
    const Result r = dir.Run(merged + " fix.bin", "a.src first");
    EXPECT_EQ(r.status, 1) << merged;
    EXPECT_EQ(r.output, "Could not open output file " + merged + "\n");
    EXPECT_EQ(r.error, "blkmerge: " + shown + ": " +
                           (merged == "sub" ? "Is a directory" : "No such file or directory") +
                           "\n");
    EXPECT_EQ(dir.Files(), Files({"a.src", "b.src", "job.txt", "sub"}));
  }
}

TEST(Outputs, ConsFixFileCannotBeCreated) {
  InputDir dir;
  const Result r = dir.Run("out.bin nodir/fix.bin", "a.src first b.src second");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Could not open output file nodir/fix.bin\n");
  EXPECT_EQ(dir.Files(), Files({"a.src", "b.src", "job.txt"}));
}

TEST(Outputs, NamedPipeWithNoReader) {
  // Refused at once instead of waiting for a reader that never comes.
  InputDir dir;
  ASSERT_EQ(RunIn(dir, "mkfifo pipe").status, 0);
  const Result r = dir.Run("pipe fix.bin", "a.src first");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Could not open output file pipe\n");
  EXPECT_EQ(r.error, "blkmerge: pipe: No such device or address\n");
  EXPECT_EQ(dir.Files(), Files({"a.src", "b.src", "job.txt", "pipe"}));
}

TEST(Outputs, MergedFileCannotBeWritten) {
  InputDir dir;
  const Result r = dir.Run("/dev/full fix.bin", "a.src first b.src second");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Could not write output file /dev/full\n");
  EXPECT_EQ(r.error, "blkmerge: /dev/full: No space left on device\n");
  EXPECT_EQ(dir.Files(), Files({"a.src", "b.src", "job.txt"}));
}

TEST(Outputs, ConsFixFileCannotBeWritten) {
  InputDir dir;
  const Result r = dir.Run("out.bin /dev/full", "a.src first b.src second");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "Processed a.src as first\n"
            "Processed b.src as second\n"
            "Could not write output file /dev/full\n");
  EXPECT_EQ(r.error, "blkmerge: /dev/full: No space left on device\n");
  // The merged file was written whole, but the run failed: it does not
  // take its place.
  EXPECT_EQ(dir.Files(), Files({"a.src", "b.src", "job.txt"}));
}

TEST(Outputs, BlockCutShortByAFileSizeLimitLeavesNothing) {
  // A 2 KiB file-size limit lets the header and block a.src (292 bytes) in;
  // the big block after it fails part-way, and the new file is removed.
  InputDir dir;
  const Bytes big = fixture::MakeInput({.n = 100, .m = 1, .k = 100, .seed = 13});
  dir.Write("big.src", big);
  dir.Write("job.txt", "out.bin fix.bin 1 2 3 4 a.src first big.src second b.src third");
  const Result r = RunIn(dir, "ulimit -f 2 && '" BLKMERGE_BINARY "' job.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Processed a.src as first\nCould not write output file out.bin\n");
  EXPECT_EQ(r.error, "blkmerge: out.bin: File too large\n");
  EXPECT_EQ(dir.Files(), Files({"a.src", "b.src", "big.src", "job.txt"}));
}

TEST(Outputs, ConsFixWithNothingToWriteOnAFullDevice) {
  // One pair gives no record, so nothing is written and nothing fails.
  InputDir dir;
  const Result r = dir.Run("out.bin /dev/full", "a.src first");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "Processed a.src as first\nProduced cons_fix file /dev/full\n");
}

TEST(Console, RunThatCannotReportIsNoSuccess) {
  InputDir dir;
  dir.Write("job.txt", std::string("out.bin fix.bin 1 2 3 4 a.src first b.src second"));
  const std::string tool = std::string("'") + BLKMERGE_BINARY + "' job.txt";
  for (const char* redirect : {" >&-", " >/dev/full"}) {
    const Result r = RunIn(dir, tool + redirect + "; echo status $?");
    EXPECT_EQ(r.output, "status 1\n") << redirect;
    EXPECT_EQ(r.error, std::string("blkmerge: standard output: ") +
                           (redirect == std::string(" >&-") ? "Bad file descriptor"
                                                            : "No space left on device") +
                           "\n");
    // The files themselves were written in full, and with standard output
    // closed no file the run opened took its place: no console text in them.
    EXPECT_EQ(dir.Read("out.bin"),
              fixture::ExpectedMerged({dir.a, dir.b}, {"first", "second"}, kNumbers))
        << redirect;
    EXPECT_EQ(dir.Read("fix.bin"), fixture::ConsFixRecord("first", "second")) << redirect;
  }
}

// The run stops at the input `bad`, saying why on standard error at the
// place of its name in the job (line 2, column 4), and leaves no output and
// nothing hidden. Standard error shows the name as `shown`, where given.
void ExpectStopAt(const InputDir& dir, const std::string& bad, const std::string& message,
                  const std::string& why, const std::string& shown = "") {
  dir.Write("job.txt", "out.bin fix.bin 1 2 3 4 a.src first\n\t  " + bad + " second b.src third");
  const Files before = dir.Files();
  const Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 1) << bad;
  EXPECT_EQ(r.output, "Processed a.src as first\n" + message + "\n") << bad;
  EXPECT_EQ(r.error, "blkmerge: job.txt:2:4: " + (shown.empty() ? bad : shown) + ": " + why + "\n")
      << bad;
  EXPECT_EQ(dir.Files(), before) << bad;
}

TEST(Inputs, CannotBeOpened) {
  InputDir dir;
  ASSERT_EQ(RunIn(dir, "mkdir dir.src && mkfifo fifo.src && ln -s nowhere dangling.src").status, 0);
  // A device that never ends, too, is refused before anything is read.
  const std::pair<const char*, const char*> cases[] = {
      {"missing.src", "No such file or directory"},  {"dir.src", "a directory, not a regular file"},
      {"fifo.src", "a pipe, not a regular file"},    {"dangling.src", "No such file or directory"},
      {"/dev/zero", "a device, not a regular file"},
  };
  for (const auto& [bad, why] : cases) {
    ExpectStopAt(dir, bad, "Could not open input file " + std::string(bad), why);
  }
  // A name that would reach the terminal as a control sequence, or that
  // looks quoted, is quoted on standard error; standard output keeps it.
  for (const auto& [bad, shown] : std::initializer_list<std::pair<std::string, std::string>>{
           {"\x1B[2Jmissing.src", "\"\\x1B[2Jmissing.src\""},
           {"\"missing.src\"", "\"\\\"missing.src\\\"\""},
       }) {
    ExpectStopAt(dir, bad, "Could not open input file " + bad, "No such file or directory", shown);
  }
}

TEST(Inputs, TruncatedOrDamaged) {
  const Bytes good = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 13});
  ASSERT_EQ(good.size(), 220u);
  const std::vector<std::pair<std::function<void(Bytes&)>, std::string>> breaks = {
      {[](Bytes& b) { b.clear(); },
       "the front part at offset 0 ends past the end of the file (0 bytes)"},
      // no whole front part
      {[](Bytes& b) { b.resize(119); },
       "the front part at offset 0 ends past the end of the file (119 bytes)"},
      // M cut short
      {[](Bytes& b) { b.resize(150); },
       "the dropped section's count M at offset 148 ends past the end of the file (150 bytes)"},
      // tail cut short
      {[](Bytes& b) { b.resize(219); },
       "the tail at offset 200 ends past the end of the file (219 bytes)"},
      {[](Bytes& b) { fixture::SetN(b, -1); },
       "the first table at offset 120 has a negative entry count (-1)"},
      {[](Bytes& b) { fixture::SetN(b, 0x7FFFFFFF); },
       "the dropped section's count M at offset 34359738484 ends past the end of the file (220 "
       "bytes)"},
      // Q past the end
      {[](Bytes& b) { fixture::SetLtable(b, 220 - 104 + 1); },
       "the second table at offset 221 ends past the end of the file (220 bytes)"},
      // Q at the end: no tail
      {[](Bytes& b) { fixture::SetLtable(b, 220 - 104); },
       "the tail at offset 220 ends past the end of the file (220 bytes)"},
      // Q before the start
      {[](Bytes& b) { fixture::SetLtable(b, -105); },
       "the second table at offset -1 starts before the start of the file"},
      // Q wraps below zero
      {[](Bytes& b) { fixture::SetLtable(b, 0x7FFFFFF0); },
       "the second table at offset -2147483560 starts before the start of the file"},
      // K far too large
      {[](Bytes& b) { fixture::SetLtail(b, 0x7FFFFF00); },
       "the second table at offset 168 ends past the end of the file (220 bytes)"},
  };
  InputDir dir;
  for (size_t i = 0; i < breaks.size(); ++i) {
    Bytes bad = good;
    breaks[i].first(bad);
    dir.Write("bad.src", bad);
    SCOPED_TRACE(i);
    ExpectStopAt(dir, "bad.src", "Input file bad.src is truncated or damaged", breaks[i].second);
  }
}

}  // namespace
}  // namespace blkmerge::e2e
