// What a run does to outputs that are already there, with real processes:
// a good run replaces both, keeping a link that names one and the file's
// mode; a failed run leaves both byte for byte as they were, creates none
// where none was, and leaves nothing of its own beside them; two runs on
// the same outputs never leave a pair from both; standard error and
// terminals are refused as outputs; no address-space limit makes a tool
// abort.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e_util.h"
#include "tests/fixture.h"

namespace blkmerge::e2e {
namespace {

using fixture::Bytes;
using Files = std::vector<std::string>;

const Numbers kNumbers{1.0F, 2.0F, 3.0F, 4.0F};
const Bytes kOld = {'o', 'l', 'd'};

std::string Quoted(const char* binary) { return "'" + std::string(binary) + "'"; }

// A directory with the inputs a.src and b.src and job.txt naming out.bin
// and fix.bin and the pairs (a.src, first) and (b.src, second).
class PublishDir : public TempDir {
 public:
  PublishDir() {
    Write("a.src", a);
    Write("b.src", b);
    Write("job.txt", std::string("out.bin fix.bin 1 2 3 4 a.src first b.src second"));
  }
  Bytes Merged() const { return fixture::ExpectedMerged({a, b}, {"first", "second"}, kNumbers); }
  static Bytes ConsFix() { return fixture::ConsFixRecord("first", "second"); }

  const Bytes a = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 21});
  const Bytes b = fixture::MakeInput({.n = 2, .m = 0, .k = 3, .seed = 22});
};

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

TEST(Publish, AGoodRunReplacesBothKeepingLinksAndModes) {
  PublishDir dir;
  ASSERT_EQ(
      RunIn(dir, "mkdir sub && ln -s sub/real.bin out.bin && ln -s sub/new.bin fix.bin").status, 0);
  dir.Write("sub/real.bin", kOld);
  ASSERT_EQ(chmod((dir.At("sub/real.bin")).c_str(), 0640), 0);
  // Another name of the old merged file keeps the old bytes.
  ASSERT_EQ(link((dir.At("sub/real.bin")).c_str(), (dir.At("other.bin")).c_str()), 0);
  const Files before = dir.Files();

  const Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "");
  // The links stay links; the file each leads to is replaced, or made
  // where none was.
  EXPECT_TRUE(S_ISLNK(ModeOf(dir.At("out.bin"))));
  EXPECT_TRUE(S_ISLNK(ModeOf(dir.At("fix.bin"))));
  EXPECT_EQ(dir.Read("sub/real.bin"), dir.Merged());
  EXPECT_EQ(dir.Read("sub/new.bin"), PublishDir::ConsFix());
  EXPECT_EQ(ModeOf(dir.At("sub/real.bin")) & 07777, 0640u);
  EXPECT_EQ(dir.Read("other.bin"), kOld);
  EXPECT_EQ(dir.Files(), before);
  EXPECT_EQ(RunIn(dir, "ls -A sub").output, "new.bin\nreal.bin\n");
}

// A run that fails at `what`, after a good run and with no outputs at all:
// standard output says why, the outputs stay as they were or absent, and
// the directory holds what it held.
struct Breaker {
  const char* what;
  std::function<void(PublishDir&)> make;  // breaks the run
  std::string command;                    // runs the tool in the directory
  std::string output;                     // its standard output
};

TEST(Publish, AFailedRunLeavesBothOutputsAsTheyWere) {
  const std::string tool = Quoted(BLKMERGE_BINARY) + " job.txt";
  const Breaker breakers[] = {
      {"a missing input", [](PublishDir& d) { RunIn(d, "rm b.src"); }, tool,
       "Processed a.src as first\nCould not open input file b.src\n"},
      {"a damaged input", [](PublishDir& d) { d.Write("b.src", Bytes(130, 0)); }, tool,
       "Processed a.src as first\nInput file b.src is truncated or damaged\n"},
      {"an input that is a directory", [](PublishDir& d) { RunIn(d, "rm b.src && mkdir b.src"); },
       tool, "Processed a.src as first\nCould not open input file b.src\n"},
      {"a file-size limit", [](PublishDir&) {}, "ulimit -f 0 && " + tool,
       "Could not write output file out.bin\n"},
      {"a cons_fix file that cannot be made",
       [](PublishDir& d) { d.Write("job.txt", std::string("out.bin no/fix.bin 1 2 3 4 a.src x")); },
       tool, "Could not open output file no/fix.bin\n"},
  };
  for (const Breaker& b : breakers) {
    SCOPED_TRACE(b.what);
    for (const bool old : {true, false}) {
      PublishDir dir;
      if (old) {
        ASSERT_EQ(Blkmerge(dir, "job.txt").status, 0);
      }
      b.make(dir);
      const Files before = dir.Files();
      const Result r = RunIn(dir, b.command);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.output, b.output);
      EXPECT_EQ(dir.Files(), before);
      if (old) {
        EXPECT_EQ(dir.Read("out.bin"), dir.Merged());
        EXPECT_EQ(dir.Read("fix.bin"), PublishDir::ConsFix());
      }
    }
  }
}

// Two runs started together on one pair of outputs, whose jobs give
// different bytes in both: whatever the timing, the outputs are the pair
// of one run, never one output of each; a run that finds the other
// holding the outputs says so.
TEST(Publish, TwoRunsTogetherNeverLeaveAMixedPair) {
  PublishDir dir;
  // Big enough that the runs overlap: 8 MiB of first table.
  dir.Write("big.src", fixture::MakeInput({.n = 1 << 19, .m = 1, .k = 2, .seed = 23}));
  dir.Write("one.job", std::string("out.bin fix.bin 1 2 3 4 big.src one a.src one2"));
  dir.Write("two.job", std::string("out.bin fix.bin 1 2 3 4 big.src two a.src two2"));
  const std::string both = "true; " + Quoted(BLKMERGE_BINARY) + " one.job > one.out 2>&1 & " +
                           Quoted(BLKMERGE_BINARY) + " two.job > two.out 2>&1; wait";
  const Bytes fix_one = fixture::ConsFixRecord("one", "one2");
  const Bytes fix_two = fixture::ConsFixRecord("two", "two2");
  const Files files = {"a.src",   "b.src",   "big.src", "fix.bin", "job.txt",
                       "one.job", "one.out", "out.bin", "two.job", "two.out"};
  int refused = 0;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    if (round % 2 == 0) RunIn(dir, "rm -f out.bin fix.bin");
    RunIn(dir, both);
    const Bytes fix = dir.Read("fix.bin");
    ASSERT_TRUE(fix == fix_one || fix == fix_two);
    const Bytes merged = dir.Read("out.bin");
    // The merged file of the same run: its last block's hash is that of
    // the alias the cons_fix file names.
    const Bytes expected_tail =
        fixture::ExpectedBlock(dir.a, fix == fix_one ? "one2" : "two2", kNumbers);
    ASSERT_GE(merged.size(), expected_tail.size());
    EXPECT_TRUE(std::equal(expected_tail.begin(), expected_tail.end(),
                           merged.end() - static_cast<std::ptrdiff_t>(expected_tail.size())));
    for (const char* out : {"one.out", "two.out"}) {
      const Bytes said = dir.Read(out);
      const std::string text(said.begin(), said.end());
      if (text.starts_with("Could not open output file")) {
        ++refused;
        EXPECT_NE(text.find("locked by another process"), std::string::npos) << text;
      }
    }
    EXPECT_EQ(dir.Files(), files);
  }
  // Not a timed assertion: the runs may or may not overlap here; the test
  // below makes them.
  RecordProperty("refused", refused);
}

// One run held up in its writes by the system-call tracer while a second
// run on the same outputs starts: the second is refused, whether or not the
// outputs were there, and the first one's pair is what stays.
TEST(Publish, ASecondRunWhileTheFirstWritesIsRefused) {
  const std::string tracer = "/usr/bin/strace";
  if (access(tracer.c_str(), X_OK) != 0) GTEST_SKIP() << "no " << tracer;
  for (const bool old : {true, false}) {
    SCOPED_TRACE(old ? "old outputs" : "no outputs");
    PublishDir dir;
    if (old) {
      dir.Write("out.bin", kOld);
      dir.Write("fix.bin", kOld);
    }
    dir.Write("two.job", std::string("out.bin fix.bin 1 2 3 4 b.src x a.src y"));
    const Files files = dir.Files();
    // Each write of the first run waits a tenth of a second. The leak
    // checker of a sanitized build cannot run under a tracer: it is off
    // for the traced run.
    const std::string first =
        "true; ASAN_OPTIONS=\"${ASAN_OPTIONS:-}:detect_leaks=0\" " + tracer +
        " -f -qq -o /dev/null -e trace=write -e inject=write:delay_enter=100000 " +
        Quoted(BLKMERGE_BINARY) + " job.txt > first.out 2>&1 &";
    const std::string second = "until [ -e .out.bin.blkmerge-lock ]; do sleep 0.01; done; " +
                               Quoted(BLKMERGE_BINARY) + " two.job; second=$?; wait; exit $second";
    const Result r = RunIn(dir, first + second);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "Could not open output file out.bin\n");
    EXPECT_EQ(r.error, "blkmerge: out.bin: locked by another process\n");
    const Bytes said = dir.Read("first.out");
    EXPECT_TRUE(
        std::string(said.begin(), said.end()).ends_with("Produced cons_fix file fix.bin\n"));
    EXPECT_EQ(dir.Read("out.bin"), dir.Merged());
    EXPECT_EQ(dir.Read("fix.bin"), PublishDir::ConsFix());
    Files now = files;
    now.push_back("first.out");
    if (!old) now.insert(now.end(), {"fix.bin", "out.bin"});
    std::sort(now.begin(), now.end());
    EXPECT_EQ(dir.Files(), now);
  }
}

// A folder where no new file can be made, its outputs writable: they are
// written in place, as before outputs were published whole; a failed run
// then leaves the merged file's complete blocks and an empty cons_fix file.
TEST(Publish, OutputsInAFolderThatTakesNoNewFileAreWrittenInPlace) {
  PublishDir dir;
  ASSERT_EQ(RunIn(dir, "mkdir sub").status, 0);
  dir.Write("sub/out.bin", kOld);
  dir.Write("sub/fix.bin", kOld);
  dir.Write("job.txt", std::string("sub/out.bin sub/fix.bin 1 2 3 4 a.src first b.src second"));
  // The superuser may make any file, but not in an immutable folder.
  const std::string seal = geteuid() == 0 ? "chattr +i sub" : "chmod 555 sub";
  const std::string unseal = geteuid() == 0 ? "chattr -i sub" : "chmod 755 sub";
  if (RunIn(dir, seal).status != 0) GTEST_SKIP() << "cannot seal a folder here: " << seal;
  Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read("sub/out.bin"), dir.Merged());
  EXPECT_EQ(dir.Read("sub/fix.bin"), PublishDir::ConsFix());
  dir.Write("job.txt", std::string("sub/out.bin sub/fix.bin 1 2 3 4 a.src first no.src second"));
  r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.output, "Processed a.src as first\nCould not open input file no.src\n");
  EXPECT_EQ(dir.Read("sub/out.bin"), fixture::ExpectedMerged({dir.a}, {"first"}, kNumbers));
  EXPECT_EQ(dir.Read("sub/fix.bin"), Bytes());
  EXPECT_EQ(RunIn(dir, "ls -A sub").output, "fix.bin\nout.bin\n");
  RunIn(dir, unseal);
}

TEST(Publish, StandardErrorIsRefusedAsAnOutput) {
  PublishDir dir;
  dir.Write("out.bin", kOld);
  dir.Write("fix.bin", kOld);
  for (const char* redirect : {" 2>>out.bin", " 2>>fix.bin"}) {
    SCOPED_TRACE(redirect);
    const Result r = RunIn(dir, Quoted(BLKMERGE_BINARY) + " job.txt" + redirect);
    const std::string name = redirect[4] == 'o' ? "out.bin" : "fix.bin";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "Output file " + name + " is the same file as standard error\n");
    // The reason went to standard error, after the old bytes.
    const Bytes got = dir.Read(name);
    EXPECT_TRUE(std::equal(kOld.begin(), kOld.end(), got.begin()));
    const std::string said(got.begin() + 3, got.end());
    EXPECT_TRUE(said.starts_with("blkmerge: " + name + " and standard error reach one file"))
        << said;
    dir.Write(name, kOld);
  }
  // Under the name the system gives it.
  dir.Write("job.txt", std::string("out.bin /dev/stderr 1 2 3 4 a.src first"));
  const Result r = RunIn(dir, Quoted(BLKMERGE_BINARY) + " job.txt 2>>err.txt");
  EXPECT_EQ(r.output, "Output file /dev/stderr is the same file as standard error\n");
  EXPECT_EQ(dir.Read("out.bin"), kOld);
}

TEST(Publish, ATerminalIsRefusedAsAnOutput) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no terminals";
  const std::string terminal = ptsname(master);
  PublishDir dir;
  dir.Write("job.txt", terminal + " fix.bin 1 2 3 4 a.src first a.src second");
  const Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Could not open output file " + terminal + "\n");
  EXPECT_EQ(r.error, "blkmerge: " + terminal + ": a terminal, which cannot keep an output\n");
  char shown[64];
  EXPECT_LT(read(master, shown, sizeof shown), 1) << "nothing reached the terminal";
  EXPECT_FALSE(dir.Exists("fix.bin"));
  close(master);
}

// From where the loader can start a tool at all to where its run
// succeeds, in steps of 20 KiB of address space: every run either says it
// has not enough memory, or succeeds. None dies by a signal.
TEST(Memory, NoAbortAtAnyAddressSpaceLimit) {
  if (Sanitized()) GTEST_SKIP() << "the sanitizers need more address space than any limit here";
  PublishDir dir;
  ASSERT_EQ(Blkmerge(dir, "job.txt").status, 0);
  for (const auto& [binary, short_status, args] :
       {std::tuple{BLKMERGE_BINARY, 1, " job.txt"},
        std::tuple{BLKINSPECT_BINARY, 2, " --job job.txt out.bin fix.bin"}}) {
    SCOPED_TRACE(binary);
    bool started = false;
    int short_runs = 0;
    for (int kib = 1024;; kib += 20) {
      ASSERT_LT(kib, 64 << 10) << "never succeeded";
      const Result r = RunIn(dir, "ulimit -v " + std::to_string(kib) + " && " + Quoted(binary) +
                                      args + " 2>&1; echo \"status $?\"");
      const std::string status = r.output.substr(r.output.rfind("status ") + 7);
      // Below the loader's minimum: the loader says so (127), or the
      // kernel cannot even map the program (SIGSEGV).
      if (!started && (status == "127\n" || status == "139\n")) continue;
      started = true;
      SCOPED_TRACE(std::to_string(kib) + " KiB: " + r.output);
      if (status == "0\n") break;
      ASSERT_EQ(status, std::to_string(short_status) + "\n");
      EXPECT_NE(r.output.find(short_status == 1 ? "Not enough memory" : "not enough memory"),
                std::string::npos);
      ++short_runs;
    }
    EXPECT_GT(short_runs, 0);
  }
}

}  // namespace
}  // namespace blkmerge::e2e
