// seeds_inspect DIR: writes the seed corpus of fuzz_inspect, merged files
// and cons_fix files as blkmerge writes them, made with the fixture builder.
#include <cstdio>
#include <string>
#include <vector>

#include "consfix/cons_fix.h"
#include "tests/fixture.h"

int main(int argc, char** argv) {
  using namespace blkmerge;
  if (argc != 2) {
    std::fprintf(stderr, "usage: seeds_inspect DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
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
  bool ok = true;
  for (size_t f = 0; f < files.size(); ++f) {
    std::vector<fixture::Bytes> inputs;
    std::vector<Pair> pairs;
    for (size_t i = 0; i < files[f].size(); ++i) {
      inputs.push_back(fixture::MakeInput(files[f][i]));
      pairs.push_back({aliases[i], aliases[i]});
    }
    const std::vector<std::string> used(
        aliases.begin(), aliases.begin() + static_cast<std::ptrdiff_t>(inputs.size()));
    const std::string n = std::to_string(f);
    ok = fixture::WriteFile(dir + "/merged_" + n, fixture::ExpectedMerged(inputs, used, numbers)) &&
         ok;
    ok = fixture::WriteFile(dir + "/cons_fix_" + n, ConsFixRecords(pairs)) && ok;
  }
  if (!ok) {
    std::fprintf(stderr, "seeds_inspect: could not write to %s\n", argv[1]);
    return 1;
  }
  return 0;
}
