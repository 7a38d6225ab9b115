// blkinspect --deps: the rule it prints, and real builds that read it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e_util.h"
#include "tests/fixture.h"

namespace blkmerge::e2e {
namespace {

Result Deps(const TempDir& dir, const std::string& args) {
  return RunIn(dir, std::string("timeout 60 '") + BLKINSPECT_BINARY + "' --deps " + args);
}

bool Have(const TempDir& dir, const std::string& program) {
  return RunIn(dir, "command -v " + program + " >/dev/null").status == 0;
}

TEST(Deps, TheExampleJobsRule) {
  TempDir dir;
  ASSERT_EQ(RunIn(dir, std::string("cp '") + BLKMERGE_SOURCE_DIR + "'/examples/example.job '" +
                           BLKMERGE_SOURCE_DIR + "'/examples/*.src .")
                .status,
            0);
  const Result deps = Deps(dir, "example.job");
  EXPECT_EQ(deps.status, 0);
  EXPECT_EQ(deps.error, "");
  EXPECT_EQ(deps.output,
            "merged.out cons_fix.out: example.job \\\n"
            "  one.src \\\n"
            "  two.src \\\n"
            "  three.src\n");
  EXPECT_EQ(Deps(dir, "--json example.job").status, 2);
}

TEST(Deps, AJobBlkmergeRefusesGetsItsLineAndTheInputsAreNotOpened) {
  TempDir dir;
  dir.Write("a.src", fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 1}));
  const std::vector<std::string> refused = {
      "",
      "out.bin",
      "out.bin ./out.bin 1 2 3 4",
      "out.bin fix.bin 1 2 3O 4 a.src x",
      "out.bin fix.bin 1 2 3 4 a.src " + std::string(65, 'f') + " a.src y",
      "out.bin fix.bin 1 2 3 4 a.src x fix.bin y",
      "a.src fix.bin 1 2 3 4 a.src x",
  };
  for (const std::string& job : refused) {
    dir.Write("job.txt", job);
    const Result deps = Deps(dir, "job.txt");
    const Result run = Blkmerge(dir, "job.txt");
    EXPECT_EQ(run.status, 1) << job;
    EXPECT_EQ(deps.status, 1) << job;
    EXPECT_EQ(deps.output, run.output) << job;
    EXPECT_EQ(deps.error, AsInspector(run.error)) << job;
  }
  // A missing or damaged input fails the run, not the rule: the build
  // needs to know of the input all the more.
  dir.Write("cut.src", fixture::Bytes(100, 0));
  dir.Write("job.txt", std::string("out.bin fix.bin 1 2 3 4 gone.src x cut.src y"));
  EXPECT_EQ(Blkmerge(dir, "job.txt").status, 1);
  const Result deps = Deps(dir, "job.txt");
  EXPECT_EQ(deps.status, 0);
  EXPECT_EQ(deps.output, "out.bin fix.bin: job.txt \\\n  gone.src \\\n  cut.src\n");
  // A name no depfile holds is trouble, with nothing on standard output.
  dir.Write("job.txt", std::string("out.bin fix.bin 1 2 3 4 a.src x b&c.src y"));
  const Result trouble = Deps(dir, "job.txt");
  EXPECT_EQ(trouble.status, 2);
  EXPECT_EQ(trouble.output, "");
  EXPECT_EQ(trouble.error,
            "blkinspect: no depfile can hold \"b&c.src\": '&', at which Ninja ends a name\n");
}

// A job file whose name holds a blank, outputs and inputs whose names hold
// '$', '#', ':' and a backslash, built by Ninja and by Make with the rule
// --deps prints: each builds once, then again only when the job or one of
// its inputs changes.
TEST(Deps, NinjaAndMakeRebuildWhenTheJobOrAnInputChanges) {
  const std::string pack = std::string("'") + BLKMERGE_BINARY + "' 'my job.txt' && '" +
                           BLKINSPECT_BINARY + "' --deps 'my job.txt' > pack.d";
  const std::vector<std::string> inputs = {"in$1.src", "a#b.src", "x:y\\z.src"};
  struct Tool {
    std::string program;
    std::string file;     // the build file
    std::string text;     // what it holds
    std::string nothing;  // what the tool says when there is nothing to do
  };
  const std::vector<Tool> tools = {
      {"ninja", "build.ninja",
       "rule pack\n  command = " + pack +
           "\n  depfile = pack.d\n  deps = gcc\nbuild merged$$.out cons_fix.out: pack\n",
       "ninja: no work to do.\n"},
      {"make", "Makefile", "merged$$.out:\n\t" + pack + "\n-include pack.d\n",
       "make: 'merged$.out' is up to date.\n"},
  };
  int built = 0;
  for (const Tool& tool : tools) {
    SCOPED_TRACE(tool.program);
    TempDir dir;
    if (!Have(dir, tool.program)) continue;
    ++built;
    dir.Write(tool.file, tool.text);
    dir.Write("my job.txt", "merged$.out cons_fix.out 1 2 3 4 in$1.src first a#b.src second " +
                                std::string("x:y\\z.src third in$1.src fourth"));
    uint32_t seed = 0;
    for (const std::string& input : inputs) {
      dir.Write(input, fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = ++seed}));
    }
    const std::string build = tool.program + " 2>&1";
    const std::string produced = "Produced cons_fix file cons_fix.out\n";
    Result r = RunIn(dir, build);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(produced), std::string::npos) << r.output;
    if (tool.program == "ninja") {
      // What Ninja read from the rule, after the line with its times.
      EXPECT_EQ(RunIn(dir, "ninja -t deps 'merged$.out' | tail -n +2").output,
                "    my job.txt\n    in$1.src\n    a#b.src\n    x:y\\z.src\n\n");
    }
    EXPECT_EQ(RunIn(dir, build).output, tool.nothing);
    std::vector<std::string> changes = inputs;
    changes.insert(changes.begin(), "my job.txt");
    for (const std::string& changed : changes) {
      // Past the file system's clock tick, so that the change is newer.
      RunIn(dir, "sleep 0.05 && touch '" + changed + "'");
      r = RunIn(dir, build);
      EXPECT_EQ(r.status, 0) << changed << "\n" << r.output;
      EXPECT_NE(r.output.find(produced), std::string::npos) << changed << "\n" << r.output;
      EXPECT_EQ(RunIn(dir, build).output, tool.nothing) << changed;
    }
  }
  if (built == 0) GTEST_SKIP() << "needs ninja or make";
}

}  // namespace
}  // namespace blkmerge::e2e
