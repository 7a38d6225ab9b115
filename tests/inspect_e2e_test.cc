// blkinspect run on what the built blkmerge wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "merge/name_hash.h"
#include "tests/e2e_util.h"
#include "tests/fixture.h"

namespace blkmerge::e2e {
namespace {

using fixture::Bytes;
using fixture::Shape;

// A run still going after a minute is killed and gives the status 124.
Result Blkinspect(const TempDir& dir, const std::string& args) {
  return RunIn(dir, std::string("timeout 60 '") + BLKINSPECT_BINARY + "' " + args + " 2>&1");
}

std::string HexWord(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

bool HavePython(const TempDir& dir) {
  return RunIn(dir, "command -v python3 >/dev/null").status == 0;
}

// Writes one input per shape and a job naming them as a0, a1, ..., runs
// blkmerge on it and returns the job file's name.
std::string MergeShapes(const TempDir& dir, const std::vector<Shape>& shapes) {
  std::string job = "out.bin fix.bin\n0.5 -10 2e3 .25\n";
  for (size_t i = 0; i < shapes.size(); ++i) {
    const std::string input = "in" + std::to_string(i) + ".src";
    dir.Write(input, fixture::MakeInput(shapes[i]));
    job += input + " a" + std::to_string(i) + "\n";
  }
  dir.Write("job.txt", job);
  EXPECT_EQ(Blkmerge(dir, "job.txt").status, 0);
  return "job.txt";
}

std::string LastLine(const std::string& text) {
  const size_t end = !text.empty() && text.back() == '\n' ? text.size() - 1 : text.size();
  const size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
  return text.substr(start == std::string::npos ? 0 : start + 1,
                     end - (start == std::string::npos ? 0 : start + 1));
}

TEST(Inspect, WhatBlkmergeWritesPasses) {
  const std::vector<std::vector<Shape>> jobs = {
      {},
      {{.n = 0, .m = 0, .k = 0, .seed = 1}},
      {{.n = 1, .m = 1, .k = 2, .seed = 2}, {.n = 3, .m = 0, .k = 4, .seed = 3, .extra = 16}},
      {{.n = 0, .m = 2, .k = 1, .seed = 4},
       {.n = 5, .m = 3, .k = 0, .seed = 5},
       {.n = 2, .m = 7, .k = 9, .seed = 6, .extra = 100},
       {.n = 0, .m = 0, .k = 1, .seed = 7},
       {.n = 40, .m = 1, .k = 300, .seed = 8}},
  };
  for (const auto& shapes : jobs) {
    TempDir dir;
    const std::string job = MergeShapes(dir, shapes);
    const Result r = Blkinspect(dir, "--job " + job + " out.bin fix.bin");
    EXPECT_EQ(r.status, 0) << r.output;
    const size_t records = shapes.size() < 2 ? 0 : shapes.size() - 1;
    EXPECT_EQ(LastLine(r.output),
              std::to_string(shapes.size()) + (shapes.size() == 1 ? " block, " : " blocks, ") +
                  std::to_string(records) + (records == 1 ? " record" : " records") +
                  ": all checks hold");
  }
}

TEST(Inspect, ListsEveryBlockAndRecord) {
  TempDir dir;
  const std::string job =
      MergeShapes(dir, {{.n = 1, .m = 1, .k = 2, .seed = 2}, {.n = 0, .m = 0, .k = 0, .seed = 3}});
  const Result r = Blkinspect(dir, "--job " + job + " out.bin fix.bin");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "block 0 at 8: length 196, hash " + HexWord(NameHash("a0")) +
                          ", N 1, K 2, num1 0.5, num2 -10, num3 2000, num4 0.25\n"
                          "block 1 at 204: length 148, hash " +
                          HexWord(NameHash("a1")) +
                          ", N 0, K 0, num1 0.5, num2 -10, num3 2000, num4 0.25\n"
                          "record 0 at 0: \"a0\" \"a1\"\n"
                          "2 blocks, 1 record: all checks hold\n");
}

// Block 1 of the merged file below: N = 3, K = 4, at file offset 204.
struct Place {
  uint64_t at;     // block offset of the byte flipped
  uint64_t field;  // where the report must point
};

TEST(Inspect, EachFlippedWordIsNamedByBlockAndOffset) {
  TempDir dir;
  const std::string job = MergeShapes(dir, {{.n = 1, .m = 1, .k = 2, .seed = 2},
                                            {.n = 3, .m = 0, .k = 4, .seed = 3},
                                            {.n = 0, .m = 2, .k = 1, .seed = 4}});
  const Bytes merged = dir.Read("out.bin");
  const Bytes cons_fix = dir.Read("fix.bin");
  constexpr uint64_t kBlock = 204;
  constexpr uint64_t kTail = 112 + 16 * 3 + 16 * 4;  // 224
  const std::vector<Place> places = {
      {0, 0},
      {44, 44},
      {78, 77},
      {80, 80},
      {96, 96},
      {100, 100},
      {108, 108},
      {172, 172},
      {220, 220},
      {kTail, kTail},
      {kTail + 4, kTail + 4},
      {kTail + 20, kTail + 20},
      {kTail + 24, kTail + 24},
      {kTail + 28, kTail + 28},
      {kTail + 32, kTail + 32},
  };
  for (const Place& p : places) {
    Bytes flipped = merged;
    flipped.at(kBlock + p.at) ^= 0x10;
    dir.Write("flipped.bin", flipped);
    const Result r = Blkinspect(dir, "--job " + job + " flipped.bin fix.bin");
    EXPECT_EQ(r.status, 1) << r.output;
    const std::string where = "flipped.bin: block 1 (offset 204), block offset " +
                              std::to_string(p.field) + " (file offset " +
                              std::to_string(kBlock + p.field) + "): ";
    EXPECT_NE(r.output.find(where), std::string::npos) << where << "\n" << r.output;
  }
  for (uint64_t at = 140; at < 176; at += 4) {
    Bytes flipped = cons_fix;
    flipped.at(176 + at + 1) ^= 0x01;
    dir.Write("flipped.fix", flipped);
    const Result r = Blkinspect(dir, "--job " + job + " out.bin flipped.fix");
    EXPECT_EQ(r.status, 1);
    const std::string where = "flipped.fix: record 1 (offset 176), record offset " +
                              std::to_string(at) + " (file offset " + std::to_string(176 + at) +
                              "): matrix entry";
    EXPECT_NE(r.output.find(where), std::string::npos) << where << "\n" << r.output;
  }
}

TEST(Inspect, TheExampleJobAsTheReadmeShowsIt) {
  TempDir dir;
  for (const char* name : {"example.job", "one.src", "two.src", "three.src"}) {
    dir.Write(name, fixture::ReadFile(std::string(BLKMERGE_SOURCE_DIR) + "/examples/" + name));
  }
  ASSERT_EQ(Blkmerge(dir, "example.job").status, 0);
  const Result r = Blkinspect(dir, "--job example.job merged.out cons_fix.out");
  EXPECT_EQ(r.status, 0);
  const std::string blocks =
      "block 0 at 8: length 196, hash 0xEA27E8AC, N 1, K 2, num1 0.5, num2 10, num3 20, num4 30\n"
      "block 1 at 204: length 260, hash 0xE5EF575C, N 3, K 4, num1 0.5, num2 10, num3 20, num4 "
      "30\n"
      "block 2 at 464: length 164, hash 0x0AB9EEDE, N 0, K 1, num1 0.5, num2 10, num3 20, num4 "
      "30\n"
      "block 3 at 628: length 196, hash 0xEA27E8AC, N 1, K 2, num1 0.5, num2 10, num3 20, num4 "
      "30\n";
  const std::string records =
      "record 0 at 0: \"first\" \"second\"\n"
      "record 1 at 176: \"first\" \"third\"\n"
      "record 2 at 352: \"first\" \"FIRST\"\n";
  EXPECT_EQ(r.output, blocks + records + "4 blocks, 3 records: all checks hold\n");
  Bytes broken = dir.Read("merged.out");
  broken.at(204 + 80) = 113;
  dir.Write("broken.out", broken);
  const Result b = Blkinspect(dir, "--job example.job broken.out cons_fix.out");
  EXPECT_EQ(b.status, 1);
  const std::string block1 =
      "broken.out: block 1 (offset 204), block offset 80 (file offset 284): ";
  EXPECT_EQ(b.output,
            blocks.substr(0, blocks.find("block 2")) + block1 +
                "tail offset is 113, expected 176: counted from block offset 48 it must land on "
                "the first tail word at block offset 224\n" +
                block1 +
                "1 byte differs from the block input \"two.src\" gives now, the first in the "
                "front part\n" +
                blocks.substr(blocks.find("block 2")) + records +
                "4 blocks, 3 records: 2 checks failed\n");
}

// Block 1 of the merged file below: N = 3, K = 4 at file offset 204; its
// second table starts at block offset 160, its tail at 224.
TEST(Inspect, EachPartOfABlockIsComparedWithItsInput) {
  TempDir dir;
  const std::string job = MergeShapes(dir, {{.n = 1, .m = 1, .k = 2, .seed = 2},
                                            {.n = 3, .m = 0, .k = 4, .seed = 3},
                                            {.n = 0, .m = 2, .k = 1, .seed = 4}});
  const Bytes merged = dir.Read("out.bin");
  const std::vector<std::pair<uint64_t, std::string>> copied = {
      {20, "the front part"},
      {130, "first-table entry 1"},
      {200, "second-table entry 2"},
      {240, "the tail"},
  };
  for (const auto& [at, part] : copied) {
    Bytes changed = merged;
    changed.at(204 + at) ^= 0x20;
    dir.Write("changed.bin", changed);
    const Result r = Blkinspect(dir, "--job " + job + " changed.bin fix.bin");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("\nchanged.bin: block 1 (offset 204), block offset " +
                            std::to_string(at) + " (file offset " + std::to_string(204 + at) +
                            "): 1 byte differs from the block input \"in1.src\" gives now, "
                            "the first in " +
                            part + "\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(LastLine(r.output), "3 blocks, 2 records: 1 check failed");
  }
  // The inputs as they are now, named as blkmerge names them: relative to
  // the directory the tool runs in.
  Bytes input = dir.Read("in2.src");
  input.at(120 + 16 + 16 * 2 + 5) ^= 0x01;  // the second table's first entry
  dir.Write("in2.src", input);
  ASSERT_EQ(RunIn(dir, "rm in0.src && mkdir sub && mv in1.src sub/").status, 0);
  const Result r = Blkinspect(dir, "--job " + job + " out.bin fix.bin");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("out.bin: block 0 (offset 8): could not open input \"in0.src\": No such "
                          "file or directory\n"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("out.bin: block 1 (offset 204): could not open input \"in1.src\": No "
                          "such file or directory\n"),
            std::string::npos);
  EXPECT_NE(r.output.find("out.bin: block 2 (offset 464), block offset 117 (file offset 581): 1 "
                          "byte differs from the block input \"in2.src\" gives now, the first "
                          "in second-table entry 0\n"),
            std::string::npos);
  EXPECT_EQ(LastLine(r.output), "3 blocks, 2 records: 3 checks failed");
}

TEST(Inspect, JsonParsesAndKeepsOddNames) {
  TempDir dir;
  if (!HavePython(dir)) GTEST_SKIP() << "python3 is needed to parse the JSON";
  dir.Write("a.src", fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 2}));
  // Aliases may hold any byte but white space: a control byte, a quote,
  // a backslash, bytes that are not UTF-8.
  dir.Write("job.txt",
            std::string("out.bin fix.bin 1 2 3 4\na.src first\na.src q\"\\\x01\xff\xc3\xa9\n"));
  ASSERT_EQ(Blkmerge(dir, "job.txt").status, 0);
  const std::string parse =
      " | python3 -c 'import json,sys; d=json.load(sys.stdin); r=d[\"cons_fix\"][\"records\"][0]; "
      "print(d[\"ok\"], d[\"failed_checks\"], len(d[\"merged\"][\"blocks\"]), "
      "ascii(r[\"second\"]), r[\"second_hex\"])'";
  Result r = RunIn(
      dir, std::string("'") + BLKINSPECT_BINARY + "' --json --job job.txt out.bin fix.bin" + parse);
  EXPECT_EQ(r.output, "True 0 2 'q\"\\\\\\x01\\ufffd\\xe9' 71225c01ffc3a9\n");

  Bytes broken = dir.Read("out.bin");
  broken.at(8 + 80) ^= 1;
  dir.Write("broken.bin", broken);
  const std::string failures =
      " | python3 -c 'import json,sys; d=json.load(sys.stdin); "
      "print(d[\"ok\"], [(f[\"check\"], f[\"block\"], f[\"block_offset\"], f[\"offset\"]) "
      "for b in d[\"merged\"][\"blocks\"] for f in b[\"failures\"]], d[\"cons_fix\"])'";
  r = RunIn(dir, std::string("'") + BLKINSPECT_BINARY + "' --json broken.bin" + failures);
  EXPECT_EQ(r.output, "False [('tail_offset', 0, 80, 88)] None\n");
}

TEST(Inspect, EmptyAliasesPassAgainstTheirJob) {
  // An alias that starts with a zero byte is the empty name: hash 0, and a
  // cons_fix field of zero bytes only.
  TempDir dir;
  dir.Write("a.src", fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 1}));
  dir.Write("job.txt", std::string("out.bin fix.bin 1 2 3 4 a.src \0x a.src second a.src \0", 53));
  ASSERT_EQ(Blkmerge(dir, "job.txt").status, 0);
  const Result r = Blkinspect(dir, "--job job.txt out.bin fix.bin");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("3 blocks, 2 records: all checks hold"), std::string::npos) << r.output;
}

const std::string kUsage =
    "usage: blkinspect [--job JOB] [--json] MERGED [CONS_FIX]\n"
    "       blkinspect --plan JOB [--json]\n"
    "       blkinspect --deps JOB\n";

TEST(Inspect, UsageErrorsExitTwo) {
  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"a b c", ""},
      {"--job", "blkinspect: --job needs a job file\n"},
      {"--jason m", "blkinspect: unknown option --jason\n"},
      {"-j m", "blkinspect: unknown option -j\n"},
      {"--job j --job=j m", "blkinspect: --job given twice\n"},
      {"--plan", "blkinspect: --plan needs a job file\n"},
      {"--plan=j --plan j", "blkinspect: --plan given twice\n"},
      {"--plan j m", ""},
      {"--plan j --job j", ""},
      {"--deps", "blkinspect: --deps needs a job file\n"},
      {"--deps j --deps=j", "blkinspect: --deps given twice\n"},
      {"--deps j m", ""},
      {"--deps j --json", ""},
      {"--deps j --plan j", ""},
  };
  for (const auto& [args, error] : cases) {
    const Result r = Blkinspect(dir, args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.output, error + kUsage) << args;
  }
}

TEST(Inspect, HelpAndVersionGoToStandardOutput) {
  TempDir dir;
  const std::string tool = std::string("'") + BLKINSPECT_BINARY + "'";
  Result r = RunIn(dir, tool + " --help 2>/dev/null");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output.substr(0, kUsage.size()), kUsage);
  for (const char* option :
       {"--job JOB, --job=JOB", "--plan JOB, --plan=JOB", "--deps JOB, --deps=JOB", "--json",
        "--help", "--version", "Exit status"})
    EXPECT_NE(r.output.find(option), std::string::npos) << option;
  r = RunIn(dir, tool + " m --version 2>/dev/null");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "blkinspect " BLKMERGE_VERSION "\n");
}

TEST(Inspect, FilesThatCannotBeReadExitTwo) {
  TempDir dir;
  dir.Write("m", Bytes(kMergedHeader.begin(), kMergedHeader.end()));
  dir.Write("bad.job", std::string("only.bin"));
  ASSERT_EQ(RunIn(dir, "mkfifo pipe").status, 0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"missing", "blkinspect: could not open missing: No such file or directory\n"},
      {"m missing", "blkinspect: could not open missing: No such file or directory\n"},
      {"m .", "blkinspect: could not open .: a directory, not a regular file\n"},
      {"pipe", "blkinspect: could not open pipe: a pipe, not a regular file\n"},
      {"--job /dev/zero m",
       "blkinspect: could not open /dev/zero: a device, which may never end\n"},
      {"--job missing m", "blkinspect: could not open missing: No such file or directory\n"},
      {"--job=missing m", "blkinspect: could not open missing: No such file or directory\n"},
      {"--job bad.job m",
       "blkinspect: job file bad.job cannot be used: Could not read output file names from input "
       "file bad.job\n"
       "blkinspect: bad.job:1:9: expected the cons_fix file name, found the end of the file\n"},
  };
  for (const auto& [args, message] : cases) {
    const Result r = Blkinspect(dir, args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.output, message) << args;
  }
  // A report nobody can read is trouble too.
  const Result full = RunIn(dir, std::string("'") + BLKINSPECT_BINARY + "' m >/dev/full; echo $?");
  EXPECT_EQ(full.output, "2\n");
  EXPECT_EQ(full.error, "blkinspect: standard output: No space left on device\n");
  const Result r = Blkinspect(dir, "-- m");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "0 blocks: all checks hold\n");
}

TEST(Inspect, JobGivenEitherWay) {
  TempDir dir;
  const std::string job = MergeShapes(dir, {{.n = 1, .m = 1, .k = 2, .seed = 2}});
  const Result spaced = Blkinspect(dir, "--job " + job + " out.bin fix.bin");
  const Result joined = Blkinspect(dir, "--job=" + job + " out.bin fix.bin");
  EXPECT_EQ(spaced.status, 0);
  EXPECT_EQ(joined.status, 0);
  EXPECT_EQ(joined.output, spaced.output);
  // The job names another alias: the same file now fails against it, by
  // its hash and by the block its input gives under that alias.
  dir.Write("other.job", std::string("out.bin fix.bin 0.5 -10 2e3 .25 in0.src b0"));
  const Result other = Blkinspect(dir, "--job=other.job out.bin");
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.output.find("out.bin: block 0 (offset 8), block offset 0 (file offset 8): block "
                              "hash is " +
                              HexWord(NameHash("a0")) + ", expected " + HexWord(NameHash("b0"))),
            std::string::npos)
      << other.output;
  EXPECT_NE(other.output.find(" from the block input \"in0.src\" gives now, the first in the front "
                              "part\n"),
            std::string::npos);
  EXPECT_EQ(LastLine(other.output), "1 block: 2 checks failed");
}

TEST(Inspect, SparseFilesGiveShortReports) {
  // Zeros as far as the file goes: the walks stop where a run's outputs
  // must end, and list the first findings only.
  TempDir dir;
  dir.Write("m", Bytes(kMergedHeader.begin(), kMergedHeader.end()));
  ASSERT_EQ(RunIn(dir, "truncate -s 64M s64 && truncate -s 10G s10g").status, 0);
  for (const char* sparse : {"s64", "s10g"}) {
    const Result r = Blkinspect(dir, std::string("m ") + sparse);
    EXPECT_EQ(r.status, 1) << sparse;
    EXPECT_LT(r.output.size(), 40'000u) << sparse;
    EXPECT_EQ(LastLine(r.output), "0 blocks, 99 records: 298 checks failed") << sparse;
    const Result merged = Blkinspect(dir, sparse);
    EXPECT_EQ(merged.status, 1) << sparse;
    EXPECT_EQ(LastLine(merged.output), "0 blocks: 2 checks failed") << sparse;
  }
}

TEST(Install, PutsBothToolsPagesAndReadmeUnderThePrefix) {
  TempDir dir;
  const Result r = RunIn(dir, std::string("'") + CMAKE_COMMAND + "' --install '" + BUILD_DIR +
                                  "' --prefix '" + dir.path().string() +
                                  "/prefix' >/dev/null 2>&1 && cd prefix && "
                                  "find . -type f | sort && bin/blkinspect 2>&1; echo $?");
  EXPECT_EQ(
      r.output,
      "./bin/blkinspect\n./bin/blkmerge\n./share/doc/blkmerge/README.md\n"
      "./share/doc/blkmerge/copyright\n"
      "./share/man/man1/blkinspect.1\n./share/man/man1/blkmerge.1\n./share/man/man5/blkmerge.5\n"
      "usage: blkinspect [--job JOB] [--json] MERGED [CONS_FIX]\n"
      "       blkinspect --plan JOB [--json]\n       blkinspect --deps JOB\n2\n");
}

}  // namespace
}  // namespace blkmerge::e2e
