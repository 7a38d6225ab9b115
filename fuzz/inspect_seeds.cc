// seeds_inspect DIR: merged files and cons_fix files as blkmerge writes
// them, made with the fixture builder.
#include <string>
#include <string_view>
#include <vector>

#include "consfix/cons_fix.h"
#include "fuzz/fuzz_util.h"

namespace blkmerge::fuzz {
namespace {

bool WriteSeeds(const std::string& dir) {
  const Numbers numbers{0.5F, 10.0F, 20.0F, 30.0F};
  // The aliases fuzz_inspect's job lists, so that its checks are reached.
  const std::vector<std::string> aliases = {"a0", "a1", "a2"};
  const std::vector<std::vector<fixture::Shape>> files = {
      {},
      {{.n = 1, .m = 1, .k = 2, .seed = 1}},
      {{.n = 0, .m = 0, .k = 0, .seed = 2}, {.n = 3, .m = 0, .k = 4, .seed = 3}},
      {{.n = 0, .m = 2, .k = 1, .seed = 4},
       {.n = 2, .m = 1, .k = 0, .seed = 5},
       {.n = 1, .m = 0, .k = 3, .seed = 6, .extra = 7}},
  };
  for (size_t f = 0; f < files.size(); ++f) {
    std::vector<fixture::Bytes> inputs;
    for (const fixture::Shape& shape : files[f]) inputs.push_back(fixture::MakeInput(shape));
    const std::vector<std::string> used(
        aliases.begin(), aliases.begin() + static_cast<std::ptrdiff_t>(inputs.size()));
    const std::vector<std::string_view> names(used.begin(), used.end());
    const std::string merged = dir + "/merged_" + std::to_string(f);
    const std::string cons_fix = dir + "/cons_fix_" + std::to_string(f);
    if (!fixture::WriteFile(merged, fixture::ExpectedMerged(inputs, used, numbers)) ||
        !fixture::WriteFile(cons_fix, ConsFixRecords(names))) {
      return false;
    }
  }
  return true;
}

}  // namespace
}  // namespace blkmerge::fuzz

int main(int argc, char** argv) {
  return blkmerge::fuzz::SeedsMain(argc, argv, blkmerge::fuzz::WriteSeeds);
}
