// The Windows build, run under an emulator, against this build: one job in
// two copies of one directory must end with the same exit status and leave
// the same files, byte for byte, and print the same lines, each ended by
// CR LF instead of LF. Then what only Windows does: names compared without
// regard to ASCII case, names that are not UTF-8, a standard output that a
// Windows shell redirected onto an output.
//
// The environment names the Windows programs: BLKMERGE_EMULATOR is a shell
// command prefix that runs a Windows program (an empty prefix runs it
// directly), WINDOWS_BLKMERGE and WINDOWS_BLKINSPECT the paths of
// blkmerge.exe and blkinspect.exe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e_util.h"
#include "tests/fixture.h"

namespace blkmerge::e2e {
namespace {

using fixture::Bytes;
using Setup = std::function<void(const TempDir&)>;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// A shell command that runs the Windows program at the path that the
// environment variable `program` holds.
std::string WindowsProgram(const char* program) {
  return Environment("BLKMERGE_EMULATOR") + " '" + Environment(program) + "'";
}

// The same text with each line ended by CR LF.
std::string Crlf(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Every file under the directory, by its relative name; a directory is
// listed with a '/' at the end and no bytes.
std::map<std::string, Bytes> Snapshot(const TempDir& dir) {
  namespace fs = std::filesystem;
  std::map<std::string, Bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
    const std::string name = fs::relative(entry.path(), dir.path()).string();
    if (entry.is_directory()) {
      files[name + "/"] = {};
    } else {
      files[name] = fixture::ReadFile(entry.path().string());
    }
  }
  return files;
}

// The inputs a.src and b.src and the job file job.txt with `job`.
Setup Job(const std::string& job) {
  return [job](const TempDir& dir) {
    dir.Write("a.src", fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 1}));
    dir.Write("b.src", fixture::MakeInput({.n = 0, .m = 3, .k = 5, .seed = 2, .extra = 9}));
    dir.Write("job.txt", job);
  };
}

// Job(job), then the shell command `command` in the directory.
Setup JobThen(const std::string& job, const std::string& command) {
  return [job, command](const TempDir& dir) {
    Job(job)(dir);
    ASSERT_EQ(RunIn(dir, command).status, 0) << command;
  };
}

struct Case {
  const char* what;
  Setup setup;
  std::string args;
  std::string output;  // as this build prints it
  int status;
};

// Runs both builds on copies of one directory and compares what they did;
// then `check`, where given, looks at what each left.
void ExpectSameRun(const Case& c, const Setup& check = {}) {
  SCOPED_TRACE(c.what);
  TempDir here;
  TempDir windows;
  c.setup(here);
  c.setup(windows);
  const Result ours = Blkmerge(here, c.args);
  const Result theirs =
      RunIn(windows, "timeout 60 " + WindowsProgram("WINDOWS_BLKMERGE") + " " + c.args);
  EXPECT_EQ(ours.output, c.output);
  EXPECT_EQ(ours.status, c.status);
  EXPECT_EQ(theirs.output, Crlf(ours.output));
  EXPECT_EQ(theirs.status, ours.status);
  EXPECT_EQ(Snapshot(windows), Snapshot(here));
  if (check) {
    check(here);
    check(windows);
  }
}

const std::string kExampleDir = std::string(BLKMERGE_SOURCE_DIR) + "/examples/";

TEST(WindowsBuild, GoodRunsMatch) {
  std::string hundred_pairs = "out.bin fix.bin 1 2 3 4\n";
  for (int i = 0; i < 100; ++i) hundred_pairs += "b.src al" + std::to_string(i) + "\n";
  const std::string m99(99, 'm');
  const std::string c99(99, 'c');
  const std::string i99(99, 'i');
  const std::string a99(99, 'a');
  const Case cases[] = {
      {"the example job",
       [](const TempDir& dir) {
         for (const char* name : {"example.job", "one.src", "two.src", "three.src"}) {
           dir.Write(name, fixture::ReadFile(kExampleDir + name));
         }
       },
       "example.job",
       "Processed one.src as first\nProcessed two.src as second\nProcessed three.src as third\n"
       "Processed one.src as FIRST\nProduced cons_fix file cons_fix.out\n",
       0},
      {"CR LF lines, an input twice, text after 0x1A",
       Job("out.bin fix.bin\r\n0.5 -10 2e3 .25\r\na.src first\r\nb.src second\r\n"
           "a.src Third\r\n\x1A c.src ignored\r\n"),
       "job.txt",
       "Processed a.src as first\nProcessed b.src as second\nProcessed a.src as Third\n"
       "Produced cons_fix file fix.bin\n",
       0},
      {"no pairs", Job("out.bin fix.bin 0.5 10 20 30\n"), "job.txt",
       "Produced cons_fix file fix.bin\n", 0},
      {"a number stopped by a letter, a lone name at the end",
       Job("out.bin fix.bin -.5 1e1 +2E1 12a.src first missing.src"), "job.txt",
       "Processed a.src as first\nProduced cons_fix file fix.bin\n", 0},
      {"names of 99 bytes",
       JobThen(m99 + " " + c99 + " 1 2 3 4 " + i99 + " " + a99, "cp a.src " + i99), "job.txt",
       "Processed " + i99 + " as " + a99 + "\nProduced cons_fix file " + c99 + "\n", 0},
      {"100 pairs and a lone name", Job(hundred_pairs + "a.src"), "job.txt",
       [] {
         std::string lines;
         for (int i = 0; i < 100; ++i) lines += "Processed b.src as al" + std::to_string(i) + "\n";
         return lines + "Produced cons_fix file fix.bin\n";
       }(),
       0},
      // U+00E4, U+1F600, U+00E5, U+540D and U+00E9 in UTF-8: names the file
      // system holds as characters, and aliases hashed and stored as bytes.
      {"non-ASCII names and aliases",
       JobThen("m\xC3\xA9rged.bin f\xC3\xAFx.bin 1 2 3 4\n"
               "d\xC3\xA4t\xC3\xA4-\xF0\x9F\x98\x80.src \xC3\xA5lias-\xE5\x90\x8D\n"
               "b.src s\xC3\xA9"
               "cond\n",
               "cp a.src 'd\xC3\xA4t\xC3\xA4-\xF0\x9F\x98\x80.src'"),
       "job.txt",
       "Processed d\xC3\xA4t\xC3\xA4-\xF0\x9F\x98\x80.src as \xC3\xA5lias-\xE5\x90\x8D\n"
       "Processed b.src as s\xC3\xA9"
       "cond\nProduced cons_fix file f\xC3\xAFx.bin\n",
       0},
  };
  for (const Case& c : cases) ExpectSameRun(c);
}

TEST(WindowsBuild, RefusedJobsMatch) {
  const std::string n100(100, 'n');
  std::string too_many = "out.bin fix.bin 1 2 3 4\n";
  for (int i = 0; i <= 100; ++i) too_many += "a.src al" + std::to_string(i) + "\n";
  const Case cases[] = {
      {"no argument", Job(""), "", "usage:       blkmerge input_ini_file\n", 2},
      {"two arguments", Job(""), "job.txt job.txt", "usage:       blkmerge input_ini_file\n", 2},
      {"no job file", Job(""), "nojob.txt", "Could not open input file nojob.txt\n", 1},
      {"a directory as job file", JobThen("", "mkdir jobs"), "jobs",
       "Could not open input file jobs\n", 1},
      // The null device on Windows, a missing file here: refused alike.
      {"a device as job file", Job(""), "NUL", "Could not open input file NUL\n", 1},
      {"no output names", Job("out.bin"), "job.txt",
       "Could not read output file names from input file job.txt\n", 1},
      {"equal output names", Job("out.bin out.bin 1 2 3 4 a.src first"), "job.txt",
       "Output files cannot have the same name\n", 1},
      {"no four numbers", Job("out.bin fix.bin 1 2 3 - a.src first"), "job.txt",
       "Could not read four numbers from input file job.txt\n", 1},
      {"a name of 100 bytes", Job("out.bin fix.bin 1 2 3 4 a.src " + n100), "job.txt",
       "Name longer than 99 characters in input file job.txt\n", 1},
      {"an input named like an output", Job("out.bin fix.bin 1 2 3 4 a.src x fix.bin y"), "job.txt",
       "input file fix.bin cannot have name of output file\n", 1},
      {"101 pairs", Job(too_many), "job.txt", "More than 100 input files in input file job.txt\n",
       1},
      {"an alias too long for cons_fix",
       Job("out.bin fix.bin 1 2 3 4 a.src " + std::string(65, 'f') + " b.src second"), "job.txt",
       "Alias " + std::string(65, 'f') + " is too long for the cons_fix file\n", 1},
      {"outputs under two spellings", Job("./out.bin out.bin 1 2 3 4 a.src first"), "job.txt",
       "Output files cannot have the same name\n", 1},
      {"an output that is the job file", Job("./job.txt fix.bin 1 2 3 4 a.src first"), "job.txt",
       "Output file ./job.txt is the same file as job.txt\n", 1},
      {"an output that is an input", Job("out.bin ./a.src 1 2 3 4 a.src first"), "job.txt",
       "Output file ./a.src is the same file as a.src\n", 1},
      {"an output that is a missing input", Job("out.bin fix.bin 1 2 3 4 a.src x ./out.bin y"),
       "job.txt", "Output file out.bin is the same file as ./out.bin\n", 1},
      {"an output that is a hard link to an input",
       JobThen("out.bin hard.src 1 2 3 4 a.src x b.src y", "ln b.src hard.src"), "job.txt",
       "Output file hard.src is the same file as b.src\n", 1},
  };
  for (const Case& c : cases) ExpectSameRun(c);
}

TEST(WindowsBuild, FailedRunsMatch) {
  const Bytes good = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 13});
  auto with_bad_input = [good](const std::function<void(Bytes&)>& spoil) {
    return [good, spoil](const TempDir& dir) {
      Job("out.bin fix.bin 1 2 3 4 a.src first bad.src second b.src third")(dir);
      Bytes bad = good;
      spoil(bad);
      dir.Write("bad.src", bad);
    };
  };
  const std::string stop = "Processed a.src as first\n";
  const Case cases[] = {
      {"a merged file in a missing directory", Job("nodir/out.bin fix.bin 1 2 3 4 a.src first"),
       "job.txt", "Could not open output file nodir/out.bin\n", 1},
      {"a directory as merged file", JobThen("sub fix.bin 1 2 3 4 a.src first", "mkdir sub"),
       "job.txt", "Could not open output file sub\n", 1},
      {"a cons_fix file in a missing directory", Job("out.bin nodir/fix.bin 1 2 3 4 a.src first"),
       "job.txt", "Could not open output file nodir/fix.bin\n", 1},
      {"a missing input", Job("out.bin fix.bin 1 2 3 4 a.src first missing.src second"), "job.txt",
       stop + "Could not open input file missing.src\n", 1},
      {"a directory as input",
       JobThen("out.bin fix.bin 1 2 3 4 a.src first dir.src second", "mkdir dir.src"), "job.txt",
       stop + "Could not open input file dir.src\n", 1},
      // The null device on Windows, a missing file here.
      {"a device as input", Job("out.bin fix.bin 1 2 3 4 a.src first NUL second"), "job.txt",
       stop + "Could not open input file NUL\n", 1},
      {"an input cut short", with_bad_input([](Bytes& b) { b.resize(150); }), "job.txt",
       stop + "Input file bad.src is truncated or damaged\n", 1},
      {"an input with N negative", with_bad_input([](Bytes& b) { fixture::SetN(b, -1); }),
       "job.txt", stop + "Input file bad.src is truncated or damaged\n", 1},
      {"an input whose second table lies past its end",
       with_bad_input([](Bytes& b) { fixture::SetLtable(b, 220 - 104 + 1); }), "job.txt",
       stop + "Input file bad.src is truncated or damaged\n", 1},
      // The emulator passes the device through: a write failure as Windows
      // reports one.
      {"a merged file that cannot be written", Job("/dev/full fix.bin 1 2 3 4 a.src first"),
       "job.txt", "Could not write output file /dev/full\n", 1},
      {"a cons_fix file that cannot be written",
       Job("out.bin /dev/full 1 2 3 4 a.src first b.src second"), "job.txt",
       "Processed a.src as first\nProcessed b.src as second\n"
       "Could not write output file /dev/full\n",
       1},
  };
  for (const Case& c : cases) ExpectSameRun(c);
}

// Outputs that are there before a run: a good run replaces both, a failed
// one leaves both as they were, and nothing else beside them (the
// snapshots of the two directories would differ by any hidden file left).
TEST(WindowsBuild, OldOutputsStayWhenARunFailsAndAreReplacedWhenItSucceeds) {
  const std::string old = "printf old > out.bin && printf old > fix.bin";
  const Bytes kOld = {'o', 'l', 'd'};
  const auto kept = [kOld](const TempDir& dir) {
    EXPECT_EQ(dir.Read("out.bin"), kOld);
    EXPECT_EQ(dir.Read("fix.bin"), kOld);
  };
  const auto replaced = [](const TempDir& dir) {
    EXPECT_EQ(dir.Read("fix.bin"), fixture::ConsFixRecord("first", "second"));
    EXPECT_EQ(dir.Read("out.bin"),
              fixture::ExpectedMerged({dir.Read("a.src"), dir.Read("b.src")}, {"first", "second"},
                                      {1.0F, 2.0F, 3.0F, 4.0F}));
  };
  const std::string stop = "Processed a.src as first\n";
  ExpectSameRun(
      {"a good run", JobThen("out.bin fix.bin 1 2 3 4 a.src first b.src second", old), "job.txt",
       stop + "Processed b.src as second\nProduced cons_fix file fix.bin\n", 0},
      replaced);
  ExpectSameRun(
      {"a missing input", JobThen("out.bin fix.bin 1 2 3 4 a.src first missing.src second", old),
       "job.txt", stop + "Could not open input file missing.src\n", 1},
      kept);
  ExpectSameRun({"an input cut short",
                 JobThen("out.bin fix.bin 1 2 3 4 a.src first short.src second",
                         old + " && head -c 150 a.src > short.src"),
                 "job.txt", stop + "Input file short.src is truncated or damaged\n", 1},
                kept);
  ExpectSameRun({"a cons_fix file that cannot be written",
                 JobThen("out.bin /dev/full 1 2 3 4 a.src first b.src second", old), "job.txt",
                 stop + "Processed b.src as second\nCould not write output file /dev/full\n", 1},
                [kOld](const TempDir& dir) { EXPECT_EQ(dir.Read("out.bin"), kOld); });
}

TEST(WindowsBuild, ConsoleThatCannotBeWrittenIsNoSuccess) {
  // Standard output closed, or on a full device: both files are written,
  // and the run still fails.
  for (const char* redirect : {" >&-", " >/dev/full"}) {
    SCOPED_TRACE(redirect);
    TempDir here;
    TempDir windows;
    Job("out.bin fix.bin 1 2 3 4 a.src first b.src second")(here);
    Job("out.bin fix.bin 1 2 3 4 a.src first b.src second")(windows);
    const Result ours = Blkmerge(here, std::string("job.txt") + redirect);
    const Result theirs =
        RunIn(windows, WindowsProgram("WINDOWS_BLKMERGE") + " job.txt" + redirect);
    EXPECT_EQ(ours.status, 1);
    EXPECT_EQ(theirs.status, 1);
    EXPECT_EQ(here.Read("fix.bin").size(), 176u);
    EXPECT_EQ(Snapshot(windows), Snapshot(here));
  }
}

// Runs the Windows build through the Windows command interpreter, so that
// it is that shell which redirects standard output to `redirect`.
Result ThroughWindowsShell(const TempDir& dir, const std::string& args,
                           const std::string& redirect) {
  std::string exe = "Z:" + Environment("WINDOWS_BLKMERGE");
  for (char& c : exe) c = c == '/' ? '\\' : c;
  return RunIn(dir, Environment("BLKMERGE_EMULATOR") + " cmd /c '" + exe + " " + args + " > " +
                        redirect + "'");
}

TEST(WindowsBuild, OutputThatIsStandardOutputIsRefused) {
  for (const char* output : {"out.bin", "fix.bin"}) {
    SCOPED_TRACE(output);
    TempDir dir;
    Job("out.bin fix.bin 1 2 3 4 a.src first b.src second")(dir);
    const Result r = ThroughWindowsShell(dir, "job.txt", output);
    EXPECT_EQ(r.status, 1);
    const std::string message =
        "Output file " + std::string(output) + " is the same file as standard output\r\n";
    EXPECT_EQ(dir.Read(output), Bytes(message.begin(), message.end()));
    EXPECT_FALSE(dir.Exists(output == std::string("out.bin") ? "fix.bin" : "out.bin"));
  }
}

// What Windows alone refuses: its file system takes Out.bin and out.bin
// for one file, and a name must be UTF-8 to reach the wide file API.
TEST(WindowsBuild, NamesAsWindowsSeesThem) {
  struct WindowsCase {
    const char* what;
    std::string job;
    std::string output;
    bool untouched;  // no file made or changed
  };
  const WindowsCase cases[] = {
      {"outputs that differ in case", "Out.bin out.bin 1 2 3 4 a.src first",
       "Output files cannot have the same name", true},
      {"an output that is an input under another case", "A.SRC fix.bin 1 2 3 4 a.src first",
       "Output file A.SRC is the same file as a.src", true},
      {"an output that is a missing input under another case",
       "out.bin fix.bin 1 2 3 4 a.src x OUT.BIN y",
       "Output file out.bin is the same file as OUT.BIN", true},
      {"an input name that is not UTF-8", "out.bin fix.bin 1 2 3 4 a.src x \xFF.src y",
       "Processed a.src as x\nCould not open input file \xFF.src", false},
      {"an output name that is not UTF-8", "\xC3.bin fix.bin 1 2 3 4 a.src x",
       "Could not open output file \xC3.bin", true},
  };
  for (const WindowsCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    JobThen(c.job, "cp a.src \"$(printf '\\377.src')\"")(dir);
    const auto before = Snapshot(dir);
    const Result r = RunIn(dir, WindowsProgram("WINDOWS_BLKMERGE") + " job.txt");
    EXPECT_EQ(r.output, Crlf(c.output + "\n"));
    EXPECT_EQ(r.status, 1);
    if (c.untouched) {
      EXPECT_EQ(Snapshot(dir), before);
    }
  }
}

TEST(WindowsBuild, InspectorReportsAlike) {
  TempDir here;
  TempDir windows;
  for (const TempDir* dir : {&here, &windows}) {
    for (const char* name : {"example.job", "one.src", "two.src", "three.src"}) {
      dir->Write(name, fixture::ReadFile(kExampleDir + name));
    }
    ASSERT_EQ(Blkmerge(*dir, "example.job").status, 0);
  }
  for (const char* args :
       {"--job example.job merged.out cons_fix.out", "--json merged.out", "missing.out"}) {
    SCOPED_TRACE(args);
    const Result ours = RunIn(here, std::string("'") + BLKINSPECT_BINARY + "' " + args);
    const Result theirs = RunIn(windows, WindowsProgram("WINDOWS_BLKINSPECT") + " " + args);
    EXPECT_EQ(theirs.output, Crlf(ours.output));
    EXPECT_EQ(theirs.status, ours.status);
  }
  // The reason is the system's own text on each.
  const Result theirs = RunIn(windows, WindowsProgram("WINDOWS_BLKINSPECT") + " missing.out");
  EXPECT_TRUE(theirs.error.starts_with("blkinspect: could not open missing.out: ")) << theirs.error;
  EXPECT_TRUE(theirs.error.ends_with("\r\n")) << theirs.error;
}

}  // namespace
}  // namespace blkmerge::e2e
