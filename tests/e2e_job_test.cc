// Jobs the tool refuses before it creates anything: the message, the line
// on standard error that says where and why, exit status 1, and no file
// touched.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/e2e_util.h"
#include "tests/fixture.h"

namespace blkmerge::e2e {
namespace {

using fixture::Bytes;
using Files = std::vector<std::string>;

// A directory holding the job file `job.txt` with `text`, and the inputs
// a.src and b.src.
class JobDir : public TempDir {
 public:
  explicit JobDir(const std::string& text) {
    Write("a.src", fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 1}));
    Write("b.src", fixture::MakeInput({.n = 2, .m = 0, .k = 1, .seed = 2}));
    Write("job.txt", text);
  }
  Result Run() const { return Blkmerge(*this, "job.txt"); }
  // Every file's name and bytes.
  std::map<std::string, Bytes> Snapshot() const {
    std::map<std::string, Bytes> files;
    for (const std::string& name : Files()) files[name] = Read(name);
    return files;
  }
};

const Files kUntouched = {"a.src", "b.src", "job.txt"};

TEST(Refused, JobFileMissing) {
  JobDir dir("out.bin fix.bin 1 2 3 4");
  const Result r = Blkmerge(dir, "nojob.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Could not open input file nojob.txt\n");
  EXPECT_EQ(r.error, "blkmerge: nojob.txt: No such file or directory\n");
  EXPECT_EQ(dir.Files(), kUntouched);
}

TEST(Refused, JobFileNameWithControlBytesStaysOnItsLine) {
  // Standard output keeps the name; standard error quotes it, so that a
  // line feed cannot split its line nor an escape reach the terminal.
  JobDir dir("out.bin fix.bin 1 2 3 4");
  const std::string name = "j\nob\x1B[1m.txt";
  const std::string arg = "\"$(printf 'j\\nob\\033[1m.txt')\"";
  const std::string shown = "\"j\\x0Aob\\x1B[1m.txt\"";
  Result r = Blkmerge(dir, arg);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Could not open input file " + name + "\n");
  EXPECT_EQ(r.error, "blkmerge: " + shown + ": No such file or directory\n");
  dir.Write(name, std::string("out.bin"));
  r = Blkmerge(dir, arg);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Could not read output file names from input file " + name + "\n");
  EXPECT_EQ(r.error, "blkmerge: " + shown +
                         ":1:8: expected the cons_fix file name, found the end of the file\n");
}

TEST(Refused, JobFileIsADirectory) {
  JobDir dir("out.bin fix.bin 1 2 3 4");
  ASSERT_EQ(RunIn(dir, "mkdir jobs").status, 0);
  const Result r = Blkmerge(dir, "jobs");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Could not open input file jobs\n");
  EXPECT_EQ(dir.Files(), Files({"a.src", "b.src", "job.txt", "jobs"}));
}

TEST(Refused, JobFileThatNeverEnds) {
  // A device is refused rather than read for ever; a pipe is read to its end.
  JobDir dir("out.bin fix.bin 1 2 3 4");
  const Result r = Blkmerge(dir, "/dev/zero");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Could not open input file /dev/zero\n");
  EXPECT_EQ(dir.Files(), kUntouched);
  const Result piped = RunIn(dir, "cat job.txt | '" BLKMERGE_BINARY "' /dev/stdin");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.output, "Produced cons_fix file fix.bin\n");
  EXPECT_EQ(piped.error, "");
}

// Each refusal also says on standard error where in the job file the
// problem is and what was found there.
struct Refusal {
  std::string text;   // of the job file
  std::string error;  // the standard-error line, after "blkmerge: job.txt:"
};

TEST(Refused, NoOutputNames) {
  const std::string end = "expected the merged file name, found the end of the file\n";
  for (const Refusal& c : {
           Refusal{"", "1:1: " + end},
           {"  \r\n", "2:1: " + end},
           {"out.bin", "1:8: expected the cons_fix file name, found the end of the file\n"},
           {"out.bin\n\x1A fix.bin",
            "2:1: expected the cons_fix file name, found the byte 0x1A that ends the text\n"},
       }) {
    JobDir dir(c.text);
    const Result r = dir.Run();
    EXPECT_EQ(r.status, 1) << c.text;
    EXPECT_EQ(r.output, "Could not read output file names from input file job.txt\n") << c.text;
    EXPECT_EQ(r.error, "blkmerge: job.txt:" + c.error) << c.text;
    EXPECT_EQ(dir.Files(), kUntouched) << c.text;
  }
}

TEST(Refused, SameOutputNames) {
  JobDir dir("out.bin out.bin 1 2 3 4 a.src first");
  const Result r = dir.Run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Output files cannot have the same name\n");
  EXPECT_EQ(r.error,
            "blkmerge: job.txt:1:9: the cons_fix file name \"out.bin\" is also the merged file "
            "name\n");
  EXPECT_EQ(dir.Files(), kUntouched);
}

TEST(Refused, NumbersMissingOrMalformed) {
  // The numbers start at column 17.
  for (const Refusal& c : {
           Refusal{"1 2 3", "1:22: num4: expected a number, found the end of the file"},
           {"1 2 3\n", "2:1: num4: expected a number, found the end of the file"},
           {"1 2 3 -", "1:23: num4: expected a number, found \"-\""},
           {"1 2 3 - a.src first", "1:23: num4: expected a number, found \"-\""},
           {". 2 3 4", "1:17: num1: expected a number, found \".\""},
           {"1ex 2 3 4", "1:17: num1: expected a number, found \"1ex\""},
           {"1 5.e 3 4", "1:19: num2: expected a number, found \"5.e\""},
           {"1 2 inf 4", "1:21: num3: expected a number, found \"inf\""},
           {"nan 2 3 4", "1:17: num1: expected a number, found \"nan\""},
           {"1 2 3 +", "1:23: num4: expected a number, found \"+\""},
           {"1 2O 3 4", "1:19: num3: expected a number, found \"2O\" (num2 took \"2\")"},
       }) {
    JobDir dir("out.bin fix.bin " + c.text);
    const Result r = dir.Run();
    EXPECT_EQ(r.status, 1) << c.text;
    EXPECT_EQ(r.output, "Could not read four numbers from input file job.txt\n") << c.text;
    EXPECT_EQ(r.error, "blkmerge: job.txt:" + c.error + "\n") << c.text;
    EXPECT_EQ(dir.Files(), kUntouched) << c.text;
  }
}

TEST(Refused, NameTooLong) {
  const std::string n100(100, 'n');
  // The name's first 40 bytes, its length and the limit.
  const std::string name =
      " \"" + std::string(40, 'n') + "\"... is 100 bytes long, over the limit of 99";
  for (const Refusal& c : {
           Refusal{n100 + " fix.bin 1 2 3 4", "1:1: the merged file name" + name},
           {"out.bin " + n100 + " 1 2 3 4", "1:9: the cons_fix file name" + name},
           {"out.bin fix.bin 1 2 3 4 a.src first " + n100 + " x",
            "1:37: the input name of pair 2" + name},
           {"out.bin fix.bin 1 2 3 4 a.src " + n100, "1:31: the alias of pair 1" + name},
           {"out.bin fix.bin 1 2 3 4 a.src first " + n100, "1:37: the input name of pair 2" + name},
       }) {
    JobDir dir(c.text);
    const Result r = dir.Run();
    EXPECT_EQ(r.status, 1) << c.text;
    EXPECT_EQ(r.output, "Name longer than 99 characters in input file job.txt\n") << c.text;
    EXPECT_EQ(r.error, "blkmerge: job.txt:" + c.error + "\n") << c.text;
    EXPECT_EQ(dir.Files(), kUntouched) << c.text;
  }
}

TEST(Refused, InputNamedLikeAnOutput) {
  // However late in the list, and for a lone name at the end too.
  for (const Refusal& c : {
           Refusal{"a.src x b.src y out.bin z",
                   "1:41: the input name of pair 3 \"out.bin\" is the merged file name"},
           {"a.src x fix.bin y b.src z",
            "1:33: the input name of pair 2 \"fix.bin\" is the cons_fix file name"},
           {"a.src x b.src y out.bin",
            "1:41: the input name of pair 3 \"out.bin\" is the merged file name"},
       }) {
    JobDir dir("out.bin fix.bin 1 2 3 4 " + c.text);
    const std::string input = c.text.find("fix.bin") != std::string::npos ? "fix.bin" : "out.bin";
    const Result r = dir.Run();
    EXPECT_EQ(r.status, 1) << c.text;
    EXPECT_EQ(r.output, "input file " + input + " cannot have name of output file\n") << c.text;
    EXPECT_EQ(r.error, "blkmerge: job.txt:" + c.error + "\n") << c.text;
    EXPECT_EQ(dir.Files(), kUntouched) << c.text;
  }
}

TEST(Refused, EarlierProblemIsTheOneReported) {
  JobDir dir("out.bin fix.bin 1 2 3 4 a.src " + std::string(100, 'x') + " out.bin y");
  const Result r = dir.Run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Name longer than 99 characters in input file job.txt\n");
  EXPECT_EQ(r.error, "blkmerge: job.txt:1:31: the alias of pair 1 \"" + std::string(40, 'x') +
                         "\"... is 100 bytes long, over the limit of 99\n");
  EXPECT_EQ(dir.Files(), kUntouched);
}

TEST(Refused, MoreThanOneHundredPairs) {
  std::string text = "out.bin fix.bin 1 2 3 4\n";
  for (int i = 0; i < 100; ++i) text += "a.src al" + std::to_string(i) + "\n";
  {
    // 100 pairs and a lone 101st name are a good job, with a warning.
    JobDir dir(text + "a.src");
    const Result r = dir.Run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.error,
              "blkmerge: job.txt:102:1: warning: the input name \"a.src\" at the end of the job "
              "has no alias, and is ignored (an alias forgotten earlier shifts every later pair "
              "by one)\n");
    EXPECT_EQ(dir.Read("fix.bin").size(), 99u * 176u);
  }
  JobDir dir(text + "b.src al100\n");
  const Result r = dir.Run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "More than 100 input files in input file job.txt\n");
  EXPECT_EQ(r.error,
            "blkmerge: job.txt:102:1: pair 101 (\"b.src\" \"al100\") is over the limit of 100 "
            "pairs\n");
  EXPECT_EQ(dir.Files(), kUntouched);
}

TEST(Refused, AliasTooLongForConsFix) {
  const std::string a65(65, 'f');
  const std::string b77(77, 's');
  struct Case {
    std::string text;
    std::string alias;
    std::string error;
  };
  for (const Case& c : {
           Case{"a.src " + a65 + " b.src second", a65,
                "1:31: the alias of pair 1 \"" + a65 +
                    "\" is 65 bytes long, its cons_fix field holds 64"},
           {"a.src first b.src second a.src " + b77 + " b.src " + std::string(90, 'z'), b77,
            "1:56: the alias of pair 3 \"" + b77 +
                "\" is 77 bytes long, its cons_fix field holds 76"},
       }) {
    JobDir dir("out.bin fix.bin 1 2 3 4 " + c.text);
    const Result r = dir.Run();
    EXPECT_EQ(r.status, 1) << c.text;
    EXPECT_EQ(r.output, "Alias " + c.alias + " is too long for the cons_fix file\n") << c.text;
    EXPECT_EQ(r.error, "blkmerge: job.txt:" + c.error + "\n") << c.text;
    EXPECT_EQ(dir.Files(), kUntouched) << c.text;
  }
}

TEST(SameFile, OutputsUnderTwoSpellings) {
  JobDir dir("");
  // link.bin: a symbolic link to out.bin, which is not there yet.
  ASSERT_EQ(RunIn(dir, "ln -s out.bin link.bin").status, 0);
  for (const std::string& outputs :
       {std::string("./out.bin out.bin"), "out.bin " + dir.At("out.bin"),
        std::string("out.bin link.bin")}) {
    dir.Write("job.txt", outputs + " 1 2 3 4 a.src first b.src second");
    const Result r = dir.Run();
    EXPECT_EQ(r.status, 1) << outputs;
    EXPECT_EQ(r.output, "Output files cannot have the same name\n") << outputs;
    EXPECT_EQ(dir.Files(), Files({"a.src", "b.src", "job.txt", "link.bin"})) << outputs;
  }
}

TEST(SameFile, OutputIsStandardOutput) {
  // Console lines would land inside the output: refused before any write.
  for (const char* output : {"out.bin", "fix.bin"}) {
    JobDir dir("out.bin fix.bin 1 2 3 4 a.src first b.src second");
    const Result r = RunIn(dir, "'" BLKMERGE_BINARY "' job.txt > " + std::string(output));
    EXPECT_EQ(r.status, 1);
    const std::string message =
        std::string("Output file ") + output + " is the same file as standard output\n";
    EXPECT_EQ(dir.Read(output), Bytes(message.begin(), message.end()));
    EXPECT_FALSE(dir.Exists(output == std::string("out.bin") ? "fix.bin" : "out.bin"));
  }
}

TEST(SameFile, OutputIsTheJobFile) {
  for (const char* merged : {"job.txt", "./job.txt"}) {
    const std::string text = std::string(merged) + " fix.bin 1 2 3 4 a.src first";
    JobDir dir(text);
    const Result r = dir.Run();
    EXPECT_EQ(r.status, 1) << merged;
    EXPECT_EQ(r.output, "Output file " + std::string(merged) + " is the same file as job.txt\n");
    EXPECT_EQ(dir.Read("job.txt"), Bytes(text.begin(), text.end()));
    EXPECT_EQ(dir.Files(), kUntouched);
  }
}

TEST(SameFile, OutputIsAnInputUnderAnotherName) {
  struct Case {
    const char* setup;  // a shell command run in the directory first
    const char* job;
    const char* message;
  };
  for (const Case c : {
           Case{"true", "out.bin ./a.src 1 2 3 4 a.src first",
                "Output file ./a.src is the same file as a.src"},
           // Not yet a file: the paths are compared.
           {"true", "out.bin fix.bin 1 2 3 4 a.src x ./out.bin y",
            "Output file out.bin is the same file as ./out.bin"},
           {"cp b.src out.bin", "out.bin fix.bin 1 2 3 4 a.src x ./out.bin y",
            "Output file out.bin is the same file as ./out.bin"},
           {"ln -s a.src link.src", "link.src fix.bin 1 2 3 4 b.src x a.src y",
            "Output file link.src is the same file as a.src"},
           {"ln -s b.src link.src", "b.src fix.bin 1 2 3 4 link.src x",
            "Output file b.src is the same file as link.src"},
           {"ln b.src hard.src", "out.bin hard.src 1 2 3 4 a.src x b.src y",
            "Output file hard.src is the same file as b.src"},
           {"ln -s job.txt link.job", "out.bin link.job 1 2 3 4 a.src x",
            "Output file link.job is the same file as job.txt"},
           {"ln -s job.txt link.job", "link.job fix.bin 1 2 3 4 a.src x",
            "Output file link.job is the same file as job.txt"},
           {"ln job.txt hard.job", "hard.job fix.bin 1 2 3 4 a.src x b.src y",
            "Output file hard.job is the same file as job.txt"},
           // Writing through the link would create the input c.src.
           {"ln -s c.src link.bin", "link.bin fix.bin 1 2 3 4 a.src x c.src y",
            "Output file link.bin is the same file as c.src"},
           // The merged name is checked against every input before the
           // cons_fix name is checked against the job file.
           {"true", "./b.src ./job.txt 1 2 3 4 a.src x b.src y",
            "Output file ./b.src is the same file as b.src"},
       }) {
    JobDir dir(c.job);
    ASSERT_EQ(RunIn(dir, c.setup).status, 0);
    const auto before = dir.Snapshot();
    const Result r = dir.Run();
    EXPECT_EQ(r.status, 1) << c.job;
    EXPECT_EQ(r.output, std::string(c.message) + "\n") << c.job;
    EXPECT_EQ(dir.Snapshot(), before) << c.job;
  }
}

TEST(SameFile, OutputIsAnInputByItsAbsolutePath) {
  JobDir dir("");
  const std::string absolute = dir.At("b.src");
  dir.Write("job.txt", absolute + " fix.bin 1 2 3 4 a.src first b.src second");
  const auto before = dir.Snapshot();
  const Result r = dir.Run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Output file " + absolute + " is the same file as b.src\n");
  EXPECT_EQ(dir.Snapshot(), before);
}

}  // namespace
}  // namespace blkmerge::e2e
