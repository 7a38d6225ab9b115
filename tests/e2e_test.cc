// Runs that succeed: what the tool prints and the bytes of both outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e_util.h"
#include "tests/fixture.h"

namespace blkmerge::e2e {
namespace {

using fixture::Bytes;

const Numbers kNumbers{0.5F, 10.0F, 20.0F, 30.0F};
const std::string kExampleDir = std::string(BLKMERGE_SOURCE_DIR) + "/examples/";

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TEST(Run, ThreeInputsOneRepeated) {
  TempDir dir;
  const Bytes a = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 1});
  const Bytes b = fixture::MakeInput({.n = 0, .m = 3, .k = 5, .seed = 2, .extra = 9});
  dir.Write("a.src", a);
  dir.Write("b.src", b);
  dir.Write("job.txt",
            "out.bin fix.bin\r\n0.5 10 20 30\r\na.src first\nb.src second\na.src Third\n");
  const Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.output,
            "Processed a.src as first\n"
            "Processed b.src as second\n"
            "Processed a.src as Third\n"
            "Produced cons_fix file fix.bin\n");
  EXPECT_EQ(dir.Read("out.bin"),
            fixture::ExpectedMerged({a, b, a}, {"first", "second", "Third"}, kNumbers));
  EXPECT_EQ(dir.Read("fix.bin"), Cat({fixture::ConsFixRecord("first", "second"),
                                      fixture::ConsFixRecord("first", "Third")}));
}

TEST(Run, ZeroPairsGiveHeaderOnlyAndEmptyConsFix) {
  TempDir dir;
  dir.Write("job.txt", "out.bin fix.bin 0.5 10 20 30\n");
  const Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.output, "Produced cons_fix file fix.bin\n");
  EXPECT_EQ(dir.Read("out.bin"), Bytes({'v', 'e', 'r', 's', 0x00, 0x00, 0x00, 0x40}));
  EXPECT_TRUE(dir.Exists("fix.bin"));
  EXPECT_EQ(dir.Read("fix.bin"), Bytes());
}

TEST(Run, OnePairAndALoneInputNameGiveNoRecord) {
  TempDir dir;
  const Bytes a = fixture::MakeInput({.n = 2, .m = 0, .k = 1, .seed = 7});
  dir.Write("a.src", a);
  // The lone name is dropped, with a warning; its file need not exist.
  dir.Write("job.txt", "out.bin fix.bin 0.5 10 20 30 a.src only missing.src");
  const Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error,
            "blkmerge: job.txt:1:41: warning: the input name \"missing.src\" at the end of the job "
            "has no alias, and is ignored (an alias forgotten earlier shifts every later pair by "
            "one)\n");
  EXPECT_EQ(r.output, "Processed a.src as only\nProduced cons_fix file fix.bin\n");
  EXPECT_EQ(dir.Read("out.bin"), fixture::ExpectedMerged({a}, {"only"}, kNumbers));
  EXPECT_EQ(dir.Read("fix.bin"), Bytes());
}

TEST(Run, AliasesThatFillTheirConsFixFields) {
  TempDir dir;
  const Bytes a = fixture::MakeInput({.n = 1, .m = 2, .k = 1, .seed = 3});
  dir.Write("a.src", a);
  const std::string first(64, 'F');
  const std::string second(76, 's');
  const std::string third = "t";
  dir.Write("job.txt",
            "out.bin fix.bin 0.5 10 20 30 a.src " + first + " a.src " + second + " a.src " + third);
  const Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.output, "Processed a.src as " + first + "\nProcessed a.src as " + second +
                          "\nProcessed a.src as t\nProduced cons_fix file fix.bin\n");
  EXPECT_EQ(dir.Read("out.bin"),
            fixture::ExpectedMerged({a, a, a}, {first, second, third}, kNumbers));
  const Bytes fix = dir.Read("fix.bin");
  ASSERT_EQ(fix.size(), 2u * 176u);
  EXPECT_EQ(fix,
            Cat({fixture::ConsFixRecord(first, second), fixture::ConsFixRecord(first, third)}));
  // No terminating zero where a name fills its field.
  EXPECT_EQ(fix[63], 'F');
  EXPECT_EQ(fix[64], 's');
  EXPECT_EQ(fix[139], 's');
  EXPECT_EQ(Bytes(fix.begin() + 140, fix.begin() + 144), Bytes({0x00, 0x00, 0x80, 0x3F}));
}

TEST(Run, NamesOfNinetyNineBytes) {
  TempDir dir;
  const std::string merged(99, 'm');
  const std::string cons_fix(99, 'c');
  const std::string input(99, 'i');
  const std::string alias(99, 'a');  // one pair: no cons_fix field to fit
  const Bytes in = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 5});
  dir.Write(input, in);
  dir.Write("job.txt", merged + " " + cons_fix + " 0.5 10 20 30 " + input + " " + alias);
  const Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.output,
            "Processed " + input + " as " + alias + "\nProduced cons_fix file " + cons_fix + "\n");
  EXPECT_EQ(dir.Read(merged), fixture::ExpectedMerged({in}, {alias}, kNumbers));
  EXPECT_EQ(dir.Files(), std::vector<std::string>({cons_fix, input, "job.txt", merged}));
}

TEST(Run, NumberTextStoppedByALetter) {
  // 12abc: num4 is 12 and abc is the first input name.
  TempDir dir;
  const Bytes in = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 4});
  dir.Write("abc", in);
  dir.Write("job.txt", "out.bin fix.bin -.5 1e1 +2E1 12abc first");
  const Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.output, "Processed abc as first\nProduced cons_fix file fix.bin\n");
  EXPECT_EQ(dir.Read("out.bin"),
            fixture::ExpectedMerged({in}, {"first"}, Numbers{-0.5F, 10.0F, 20.0F, 12.0F}));
}

TEST(Run, NumberTextsOfAnyLength) {
  TempDir dir;
  const Bytes in = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 6});
  dir.Write("a.src", in);
  const std::string zeros(10'000, '0');
  dir.Write("job.txt", "out.bin fix.bin 0.5" + zeros + " " + zeros + "10." + zeros + " 2" + zeros +
                           "e-" + zeros + "9999 0.3e" + zeros + "2 a.src first");
  const Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.output, "Processed a.src as first\nProduced cons_fix file fix.bin\n");
  EXPECT_EQ(dir.Read("out.bin"), fixture::ExpectedMerged({in}, {"first"}, kNumbers));
}

TEST(Run, UsageLine) {
  TempDir dir;
  dir.Write("job.txt", "out.bin fix.bin 1 2 3 4\n");
  for (const char* args : {"", "job.txt job.txt", "a b c"}) {
    const Result r = Blkmerge(dir, args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.output, "usage:       blkmerge input_ini_file\n");
    EXPECT_EQ(dir.Files(), std::vector<std::string>({"job.txt"}));
  }
}

// Each character of `text` followed by a zero byte: ASCII as UTF-16LE.
std::string Utf16(const std::string& text) {
  std::string out;
  for (const char c : text) out += {c, '\0'};
  return out;
}

// Jobs and inputs that are probably not what their writer meant: a
// warning on standard error for each, at its place in the job, and the
// run goes on as it always did. blkinspect --plan shows the same lines.
TEST(Warnings, EachIsOneLineAndTheRunGoesOnAsBefore) {
  const Bytes a = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 1});
  // P = 200, Q = 168 and D = 32 in a; each of these breaks one relation.
  const auto broken = [&a](void (*change)(Bytes&)) {
    Bytes b = a;
    change(b);
    return b;
  };
  const std::vector<std::pair<std::string, Bytes>> inputs = {
      {"a.src", a},
      {"before.src", broken([](Bytes& b) { fixture::SetLtail(b, 152 - 56); })},
      {"grid.src", broken([](Bytes& b) { fixture::SetLtail(b, 204 - 56); })},
      {"dropped.src", broken([](Bytes& b) { fixture::SetM(b, 2); })},
  };
  const std::string head = "out.bin fix.bin 0.5 10 20 30\n";
  const std::string produced = "Produced cons_fix file fix.bin\n";
  const std::string utf16 = "1:1: warning: the job file looks like UTF-16 (";
  const std::string bytes = "); it is read byte by byte, and a zero byte ends a name\n";
  const std::string reject =
      ": not a well-formed input, so blkinspect --job will reject its block: ";
  struct Case {
    std::string job;
    int status;
    std::string output;
    std::string merged;               // the merged file's name; none when empty
    std::vector<size_t> blocks;       // inputs of its blocks, aliased first and second
    std::vector<std::string> errors;  // standard error's lines after "blkmerge: job.txt:"
  };
  const std::vector<Case> cases = {
      Case{head + "a.src first\n  b.src\n",
           0,
           "Processed a.src as first\n" + produced,
           "out.bin",
           {0},
           {"3:3: warning: the input name \"b.src\" at the end of the job has no alias, and "
            "is ignored (an alias forgotten earlier shifts every later pair by one)\n"}},
      {"\xEF\xBB\xBF" + head + "a.src first",
       0,
       "Processed a.src as first\n" + produced,
       "\xEF\xBB\xBFout.bin",
       {0},
       {"1:1: warning: the job file starts with a UTF-8 byte order mark (EF BB BF), which is "
        "read as the first 3 bytes of the merged file name\n"}},
      {"\xFF\xFE" + Utf16("o f 1 2"),
       1,
       "Could not read four numbers from input file job.txt\n",
       "",
       {},
       {utf16 + "it starts with the byte order mark FF FE" + bytes,
        "1:10: num1: expected a number, found \"\\x001\\x00\"\n"}},
      {Utf16(" o f 1").substr(1),
       1,
       "Output files cannot have the same name\n",
       "",
       {},
       {utf16 + "a zero byte every other byte at its start" + bytes,
        "1:5: the cons_fix file name \"\" is also the merged file name\n"}},
      {head + "a.src first\nbefore.src second",
       0,
       "Processed a.src as first\nProcessed before.src as second\n" + produced,
       "out.bin",
       {0, 1},
       {"3:1: warning: before.src" + reject +
        "the tail at P = 152 lies before the second table at Q = 168\n"}},
      {head + "a.src first grid.src second",
       0,
       "Processed a.src as first\nProcessed grid.src as second\n" + produced,
       "out.bin",
       {0, 2},
       {"2:13: warning: grid.src" + reject + "P - Q = 36 is not a multiple of 16\n"}},
      {head + "dropped.src first a.src second",
       0,
       "Processed dropped.src as first\nProcessed a.src as second\n" + produced,
       "out.bin",
       {3, 0},
       {"2:1: warning: dropped.src" + reject +
        "the dropped section from offset 136 to Q = 168 is 32 bytes, not D = 48 with M = "
        "2\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.job);
    TempDir dir;
    for (const auto& [name, input] : inputs) dir.Write(name, input);
    dir.Write("job.txt", c.job);
    const Result plan =
        RunIn(dir, std::string("'") + BLKINSPECT_BINARY + "' --plan job.txt > /dev/null");
    const Result r = Blkmerge(dir, "job.txt");
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.output, c.output);
    std::string error;
    for (const std::string& line : c.errors) error += "blkmerge: job.txt:" + line;
    EXPECT_EQ(r.error, error);
    EXPECT_EQ(plan.status, c.status);
    EXPECT_EQ(plan.error, AsInspector(error));
    if (c.merged.empty()) {
      EXPECT_EQ(dir.Files().size(), inputs.size() + 1);
      continue;
    }
    std::vector<Bytes> blocks;
    for (const size_t i : c.blocks) blocks.push_back(inputs[i].second);
    std::vector<std::string> aliases = {"first", "second"};
    aliases.resize(blocks.size());
    EXPECT_EQ(dir.Read(c.merged), fixture::ExpectedMerged(blocks, aliases, kNumbers));
    // As the warning of an input says, its block does not pass.
    const bool malformed = std::ranges::any_of(c.blocks, [](size_t i) { return i != 0; });
    const Result inspected = RunIn(
        dir, std::string("'") + BLKINSPECT_BINARY + "' --job job.txt " + c.merged + " fix.bin");
    EXPECT_EQ(inspected.status, malformed ? 1 : 0) << inspected.output;
  }
}

TEST(Run, HelpAndVersionAreTheseTwoWordsAlone) {
  TempDir dir;
  const Result help = Blkmerge(dir, "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.error, "");
  EXPECT_TRUE(help.output.starts_with("usage:       blkmerge input_ini_file\n")) << help.output;
  for (const char* text : {"input_ini_file", "--help, --version", "./--help", "Exit status"}) {
    EXPECT_NE(help.output.find(text), std::string::npos) << text;
  }
  const Result version = Blkmerge(dir, "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, "blkmerge " BLKMERGE_VERSION "\n");
  EXPECT_EQ(version.error, "");
  // Text that cannot be printed is no success.
  const Result full = RunIn(dir, "'" BLKMERGE_BINARY "' --version >/dev/full; echo $?");
  EXPECT_EQ(full.output, "1\n");
  EXPECT_EQ(full.error, "blkmerge: standard output: No space left on device\n");
  // Any other single argument names a job file; two are a usage error.
  for (const char* job : {"./--help", "-h", "--HELP", "--version=1", "-"}) {
    const Result r = Blkmerge(dir, job);
    EXPECT_EQ(r.status, 1) << job;
    EXPECT_EQ(r.output, "Could not open input file " + std::string(job) + "\n");
  }
  const Result two = Blkmerge(dir, "--help --version");
  EXPECT_EQ(two.status, 2);
  EXPECT_EQ(two.output, "usage:       blkmerge input_ini_file\n");
  EXPECT_TRUE(dir.Files().empty());
}

TEST(Example, RunsAsDocumented) {
  TempDir dir;
  for (const char* name : {"example.job", "one.src", "two.src", "three.src"}) {
    dir.Write(name, fixture::ReadFile(kExampleDir + name));
  }
  const Result r = Blkmerge(dir, "example.job");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.output,
            "Processed one.src as first\n"
            "Processed two.src as second\n"
            "Processed three.src as third\n"
            "Processed one.src as FIRST\n"
            "Produced cons_fix file cons_fix.out\n");
  const Bytes one = dir.Read("one.src");
  const Bytes two = dir.Read("two.src");
  const Bytes three = dir.Read("three.src");
  EXPECT_EQ(dir.Read("merged.out"),
            fixture::ExpectedMerged({one, two, three, one}, {"first", "second", "third", "FIRST"},
                                    kNumbers));
  EXPECT_EQ(dir.Read("cons_fix.out"), Cat({fixture::ConsFixRecord("first", "second"),
                                           fixture::ConsFixRecord("first", "third"),
                                           fixture::ConsFixRecord("first", "FIRST")}));
}

TEST(Example, InputsAreWhatTheFixtureBuilderMakes) {
  TempDir dir;
  dir.Write("make_inputs.sh", fixture::ReadFile(kExampleDir + "make_inputs.sh"));
  const Result r = RunIn(dir, std::string("bash make_inputs.sh '") + MAKE_FIXTURE_BINARY + "'");
  ASSERT_EQ(r.status, 0);
  for (const char* name : {"one.src", "two.src", "three.src"}) {
    const Bytes committed = fixture::ReadFile(kExampleDir + name);
    EXPECT_FALSE(committed.empty()) << name;
    EXPECT_EQ(dir.Read(name), committed) << name;
  }
}

}  // namespace
}  // namespace blkmerge::e2e
