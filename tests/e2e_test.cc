#include <gtest/gtest.h>

#include "tests/e2e_util.h"
#include "tests/fixture.h"

namespace blkmerge::e2e {
namespace {

using fixture::Bytes;

const Numbers kNumbers{0.5F, 10.0F, 20.0F, 30.0F};

TEST(Run, ThreeInputsOneRepeated) {
  TempDir dir;
  const Bytes a = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 1});
  const Bytes b = fixture::MakeInput({.n = 0, .m = 3, .k = 5, .seed = 2, .extra = 9});
  dir.Write("a.src", a);
  dir.Write("b.src", b);
  dir.Write("job.txt", "out.bin fix.bin\r\n0.5 10 20 30\r\na.src first\nb.src second\na.src Third\n");
  const Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output,
            "Processed a.src as first\n"
            "Processed b.src as second\n"
            "Processed a.src as Third\n"
            "Produced cons_fix file fix.bin\n");
  EXPECT_EQ(dir.Read("out.bin"),
            fixture::ExpectedMerged({a, b, a}, {"first", "second", "Third"}, kNumbers));
  EXPECT_EQ(dir.Read("fix.bin").size(), 2u * 176u);
}

TEST(Run, UsageLine) {
  TempDir dir;
  for (const char* args : {"", "a b", "a b c"}) {
    const Result r = Blkmerge(dir, args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.output, "usage:       blkmerge input_ini_file\n");
  }
}

}  // namespace
}  // namespace blkmerge::e2e
