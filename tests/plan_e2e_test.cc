// blkinspect --plan against the built blkmerge: on the same jobs, the same
// exit status and the same last line, and no file touched by the plan.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e_util.h"
#include "tests/fixture.h"

namespace blkmerge::e2e {
namespace {

namespace fs = std::filesystem;
using fixture::Bytes;

// Every entry under the directory, links not followed: the bytes of each
// regular file, where each link points, the kind of anything else.
std::map<std::string, std::string> Snapshot(const TempDir& dir) {
  std::map<std::string, std::string> entries;
  for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
    const std::string name = e.path().lexically_relative(dir.path()).string();
    const fs::file_status status = e.symlink_status();
    if (fs::is_symlink(status)) {
      entries[name] = "link to " + fs::read_symlink(e.path()).string();
    } else if (fs::is_regular_file(status)) {
      const Bytes bytes = dir.Read(name);
      entries[name] = std::string(bytes.begin(), bytes.end());
    } else {
      entries[name] = "kind " + std::to_string(static_cast<int>(status.type()));
    }
  }
  return entries;
}

std::string LastLine(const std::string& text) {
  const size_t end = text.size() - (!text.empty() && text.back() == '\n' ? 1 : 0);
  const size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
  return start == std::string::npos || start >= end ? text.substr(0, end)
                                                    : text.substr(start + 1, end - start - 1);
}

// The lines of `text` that start with `prefix`.
size_t Lines(const std::string& text, const std::string& prefix) {
  size_t count = 0;
  for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
    if (text.compare(at, prefix.size(), prefix) == 0) ++count;
    if (text.find('\n', at) == std::string::npos) break;
  }
  return count;
}

// Standard output only; standard error is kept apart.
Result Plan(const TempDir& dir, const std::string& args) {
  return RunIn(dir, std::string("timeout 60 '") + BLKINSPECT_BINARY + "' --plan " + args);
}

struct Case {
  std::string setup;  // a shell command run in the directory first
  std::string job;    // the job file's text
  std::string arg;    // the job file as named on the command line
};

// A directory holding the inputs a.src and b.src and the job of `c`.
class CaseDir : public TempDir {
 public:
  explicit CaseDir(const Case& c) {
    Write("a.src", fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 1}));
    Write("b.src", fixture::MakeInput({.n = 2, .m = 0, .k = 1, .seed = 2}));
    Write("job.txt", c.job);
    if (RunIn(*this, c.setup).status != 0) ADD_FAILURE() << c.setup;
  }
};

std::string Pairs(int count) {
  std::string pairs;
  for (int i = 0; i < count; ++i) pairs += " a.src al" + std::to_string(i);
  return pairs;
}

Bytes Damaged(void (*damage)(Bytes&)) {
  Bytes b = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 3});
  damage(b);
  return b;
}

// Makes a Unix socket named sock.bin.
const std::string kSocket =
    "python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind(\"sock.bin\")'";

TEST(Plan, SaysWhatBlkmergeSaysOnEveryFailureItCanKnow) {
  const std::string outputs = "out.bin fix.bin 1 2 3 4 ";
  const std::string ok = outputs + "a.src first b.src second";
  const std::vector<Case> cases = {
      // The job file.
      {"true", ok, "nojob.txt"},
      {"mkdir jobs", ok, "jobs"},
      {"true", ok, "/dev/zero"},
      {"true", "", "job.txt"},
      {"true", "only.bin", "job.txt"},
      {"true", "out.bin out.bin 1 2 3 4", "job.txt"},
      {"true", "out.bin fix.bin 1 2 2O 4 a.src x", "job.txt"},
      {"true", outputs + "a.src " + std::string(100, 'l'), "job.txt"},
      {"true", outputs + "a.src first fix.bin second", "job.txt"},
      {"true", outputs + Pairs(101), "job.txt"},
      {"true", outputs + "a.src " + std::string(65, 'f') + " b.src second", "job.txt"},
      // Names that reach one file.
      {"true", "out.bin ./out.bin 1 2 3 4", "job.txt"},
      {"true", "job.txt fix.bin 1 2 3 4 a.src x", "job.txt"},
      {"ln -s a.src link.src", "link.src fix.bin 1 2 3 4 b.src x a.src y", "job.txt"},
      {"ln b.src hard.src", "out.bin hard.src 1 2 3 4 a.src x b.src y", "job.txt"},
      {"ln -s c.src link.bin", "link.bin fix.bin 1 2 3 4 a.src x c.src y", "job.txt"},
      {"true", "./b.src ./job.txt 1 2 3 4 a.src x b.src y", "job.txt"},
      // Outputs that cannot be created.
      {"true", "nodir/out.bin fix.bin 1 2 3 4 a.src first", "job.txt"},
      {"mkdir sub", "sub fix.bin 1 2 3 4 a.src first", "job.txt"},
      {"true", "out.bin nodir/fix.bin 1 2 3 4 a.src first", "job.txt"},
      {"ln -s nodir/out.bin dangling.bin", "dangling.bin fix.bin 1 2 3 4 a.src first", "job.txt"},
      {"ln -s nodir/fix.bin dangling.bin", "out.bin dangling.bin 1 2 3 4 a.src first", "job.txt"},
      // Links that never end, and sockets, which no open writes; the
      // inputs are checked all the same.
      {"ln -s loop.bin loop.bin", "loop.bin fix.bin 1 2 3 4 a.src first", "job.txt"},
      {"ln -s l2.bin l1.bin && ln -s l1.bin l2.bin", "out.bin l2.bin 1 2 3 4 a.src x", "job.txt"},
      {kSocket, "sock.bin fix.bin 1 2 3 4 a.src first gone.src second", "job.txt"},
      {kSocket + " && ln -s sock.bin link.bin", "out.bin link.bin 1 2 3 4 a.src x", "job.txt"},
      // A zero byte ends a name, so this one is empty.
      {"true", std::string(1, '\0') + " fix.bin 1 2 3 4 a.src first", "job.txt"},
      // Inputs that cannot be opened, after the ones that can.
      {"true", ok + " missing.src third", "job.txt"},
      {"mkdir dir.src", ok + " dir.src third", "job.txt"},
      {"mkfifo fifo.src", ok + " fifo.src third", "job.txt"},
      {"ln -s nowhere dangling.src", ok + " dangling.src third", "job.txt"},
      {"true", ok + " /dev/zero third", "job.txt"},
      // Inputs the rewrite refuses.
      {"true", ok + " cut.src third", "job.txt"},
      {"true", ok + " minus.src third", "job.txt"},
      {"true", ok + " past.src third", "job.txt"},
      {"true", ok + " huge.src third", "job.txt"},
  };
  for (const Case& c : cases) {
    CaseDir dir(c);
    dir.Write("cut.src", Damaged([](Bytes& b) { b.resize(219); }));
    dir.Write("minus.src", Damaged([](Bytes& b) { fixture::SetN(b, -1); }));
    dir.Write("past.src", Damaged([](Bytes& b) { fixture::SetLtable(b, 220 - 104 + 1); }));
    dir.Write("huge.src", Damaged([](Bytes& b) { fixture::SetLtail(b, 0x7FFFFF00); }));
    const auto before = Snapshot(dir);
    const Result plan = Plan(dir, c.arg);
    EXPECT_EQ(Snapshot(dir), before) << c.job;
    const Result run = Blkmerge(dir, c.arg);
    EXPECT_EQ(run.status, 1) << c.job << "\n" << run.output;
    EXPECT_EQ(plan.status, 1) << c.job << "\n" << plan.output;
    EXPECT_EQ(LastLine(plan.output), LastLine(run.output)) << c.job;
    // A block for each input the run got through before it failed.
    EXPECT_EQ(Lines(plan.output, "block "), Lines(run.output, "Processed ")) << plan.output;
    // Where the plan says why on standard error, it says what blkmerge says.
    if (!plan.error.empty()) {
      EXPECT_EQ(plan.error, AsInspector(run.error));
    }
  }
}

// `text` without each piece that starts with `from` and ends before `to`.
std::string Without(std::string text, const std::string& from, const std::string& to) {
  for (size_t at; (at = text.find(from)) != std::string::npos;) {
    text.erase(at, text.find(to, at) - at);
  }
  return text;
}

TEST(Plan, TellsTheBlocksAndSizesOfARunThatWouldSucceed) {
  CaseDir dir({"true", "out.bin fix.bin 0.5 10 20 30 a.src first b.src second a.src third", ""});
  const auto before = Snapshot(dir);
  const Result plan = Plan(dir, "job.txt");
  EXPECT_EQ(Snapshot(dir), before);
  EXPECT_EQ(plan.status, 0);
  EXPECT_EQ(plan.error, "");
  ASSERT_EQ(Blkmerge(dir, "job.txt").status, 0);
  const uint64_t merged = dir.Read("out.bin").size();
  EXPECT_EQ(plan.output.substr(0, plan.output.find('\n')),
            "merged file \"out.bin\", cons_fix file \"fix.bin\"");
  EXPECT_EQ(LastLine(plan.output), "out.bin: " + std::to_string(merged) +
                                       " bytes in 3 blocks; fix.bin: 352 bytes in 2 records");
  // The blocks as blkinspect lists them once written, but with M, which
  // only the inputs hold, and each block's input and alias.
  const Result listed = RunIn(dir, std::string("'") + BLKINSPECT_BINARY + "' out.bin");
  const size_t blocks = plan.output.find('\n') + 1;
  const std::string lines = plan.output.substr(blocks, plan.output.rfind("out.bin:") - blocks);
  EXPECT_EQ(
      Without(Without(lines, ", M ", ", K"), ", input ", "\n") + "3 blocks: all checks hold\n",
      listed.output);
  EXPECT_NE(lines.find(", num4 30, input \"a.src\", alias \"first\"\n"), std::string::npos);
  EXPECT_NE(lines.find(", num4 30, input \"a.src\", alias \"third\"\n"), std::string::npos);
  EXPECT_NE(plan.output.find("block 1 at 204: length 196, hash "), std::string::npos);
  EXPECT_NE(plan.output.find(", N 2, M 0, K 1, num1 0.5, num2 10, num3 20, num4 30, input "),
            std::string::npos)
      << plan.output;
}

TEST(Plan, ListsEveryInputThatWouldStopTheRunWithItsPlace) {
  // Two missing inputs and a damaged one: the run stops at the first, and
  // the plan names all three, where the job names them.
  CaseDir dir({"true",
               "out.bin fix.bin 1 2 3 4\n"
               "a.src first\n"
               "gone.src second b.src third\n"
               "  cut.src fourth\n"
               "lost.src fifth gone.src sixth\n",
               ""});
  dir.Write("cut.src", Damaged([](Bytes& b) { b.resize(219); }));
  const Result plan = Plan(dir, "job.txt");
  const Result run = Blkmerge(dir, "job.txt");
  EXPECT_EQ(plan.status, 1);
  EXPECT_EQ(plan.output,
            "merged file \"out.bin\", cons_fix file \"fix.bin\"\n"
            "block 0 at 8: length 196, hash 0x" +
                plan.output.substr(plan.output.find("0x") + 2, 8) +
                ", N 1, M 1, K 2, num1 1, num2 2, num3 3, num4 4, input \"a.src\", alias "
                "\"first\"\n"
                "job.txt:3:1: gone.src: No such file or directory\n"
                "job.txt:4:3: cut.src: the tail at offset 200 ends past the end of the file (219 "
                "bytes)\n"
                "job.txt:5:1: lost.src: No such file or directory\n"
                "job.txt:5:16: gone.src: No such file or directory\n"
                "Could not open input file gone.src\n");
  EXPECT_EQ(LastLine(plan.output), LastLine(run.output));
  EXPECT_EQ(plan.error, "blkinspect: job.txt:3:1: gone.src: No such file or directory\n");
  // An output the run cannot open comes first; the inputs are listed all
  // the same, and no block.
  dir.Write("bad.txt", std::string("nodir/out.bin fix.bin 1 2 3 4 a.src x gone.src y"));
  EXPECT_EQ(Plan(dir, "bad.txt").output,
            "merged file \"nodir/out.bin\", cons_fix file \"fix.bin\"\n"
            "bad.txt:1:39: gone.src: No such file or directory\n"
            "Could not open output file nodir/out.bin\n");
}

TEST(Plan, CannotKnowWhatOnlyWritingShows) {
  // A named pipe with no reader, a device that is full, a file-size limit:
  // the plan, which writes nothing, says that the run would succeed.
  const std::vector<std::pair<Case, std::string>> cases = {
      {{"mkfifo pipe", "pipe fix.bin 1 2 3 4 a.src first", "job.txt"},
       "Could not open output file pipe"},
      {{"true", "/dev/full fix.bin 1 2 3 4 a.src first", "job.txt"},
       "Could not write output file /dev/full"},
      {{"true", "out.bin /dev/full 1 2 3 4 a.src first b.src second", "job.txt"},
       "Could not write output file /dev/full"},
  };
  for (const auto& [c, message] : cases) {
    CaseDir dir(c);
    const Result plan = Plan(dir, c.arg);
    EXPECT_EQ(plan.status, 0) << c.job;
    EXPECT_NE(LastLine(plan.output).find(" bytes in "), std::string::npos) << plan.output;
    const Result run = Blkmerge(dir, c.arg);
    EXPECT_EQ(run.status, 1) << c.job;
    EXPECT_EQ(LastLine(run.output), message);
  }
}

TEST(Plan, JsonHoldsTheSamePlan) {
  CaseDir dir({"true", "out.bin fix.bin 1 2 3 4 a.src first b.src second", ""});
  if (RunIn(dir, "command -v python3 >/dev/null").status != 0) GTEST_SKIP() << "needs python3";
  dir.Write("bad.txt", std::string("out.bin fix.bin 1 2 3 4 a.src first gone.src second"));
  dir.Write("lone.txt", std::string("out.bin fix.bin 1 2 3 4 a.src first b.src"));
  const std::string parse =
      " | python3 -c 'import json,sys; d=json.load(sys.stdin); "
      "print(d[\"ok\"], d[\"message\"], d[\"job\"], d[\"merged\"], d[\"cons_fix\"], "
      "[(b[\"input\"], b[\"alias\"], b[\"offset\"], b[\"length\"], b[\"n\"], b[\"m\"], "
      "b[\"k\"]) for b in d[\"blocks\"]], [tuple(r.values()) for r in d[\"refused_inputs\"]], "
      "d[\"merged_size\"], d[\"cons_fix_size\"], d[\"records\"], d[\"warnings\"])'";
  const std::string tool = std::string("'") + BLKINSPECT_BINARY + "' --json --plan ";
  EXPECT_EQ(RunIn(dir, tool + "job.txt" + parse).output,
            "True None job.txt out.bin fix.bin [('a.src', 'first', 8, 196, 1, 1, 2), "
            "('b.src', 'second', 204, 196, 2, 0, 1)] [] 400 176 1 []\n");
  EXPECT_EQ(RunIn(dir, tool + "bad.txt" + parse).output,
            "False Could not open input file gone.src bad.txt out.bin fix.bin "
            "[('a.src', 'first', 8, 196, 1, 1, 2)] [(1, 'gone.src', 'second', 1, 37, "
            "'Could not open input file gone.src', 'bad.txt:1:37: gone.src: No such file or "
            "directory')] None None None []\n");
  // A job that is refused names nothing.
  dir.Write("empty.txt", std::string());
  EXPECT_EQ(RunIn(dir, tool + "empty.txt" + parse).output,
            "False Could not read output file names from input file empty.txt empty.txt None "
            "None [] [] None None None []\n");
  // The warnings blkmerge would print, as it prints them.
  const Result lone = RunIn(dir, tool + "lone.txt" + parse);
  EXPECT_EQ(
      lone.output,
      "True None lone.txt out.bin fix.bin [('a.src', 'first', 8, 196, 1, 1, 2)] [] 204 0 0 "
      "['lone.txt:1:37: warning: the input name \"b.src\" at the end of the job has no "
      "alias, and is ignored (an alias forgotten earlier shifts every later pair by one)']\n");
  EXPECT_EQ(lone.error, AsInspector(Blkmerge(dir, "lone.txt").error));
}

}  // namespace
}  // namespace blkmerge::e2e
