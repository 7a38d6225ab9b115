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
  // The lone name is dropped; its file need not exist.
  dir.Write("job.txt", "out.bin fix.bin 0.5 10 20 30 a.src only missing.src");
  const Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "");
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
