// Helpers shared by the fuzz targets and their seed makers.
#ifndef BLKMERGE_FUZZ_FUZZ_UTIL_H_
#define BLKMERGE_FUZZ_FUZZ_UTIL_H_

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tests/fixture.h"

// Stops the fuzzer with the failed condition when a property does not hold;
// libFuzzer then saves the input that broke it.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

namespace blkmerge::fuzz {

inline fixture::Bytes BytesOf(std::string_view text) {
  return fixture::Bytes(text.begin(), text.end());
}

// The body of a seeds_NAME program: `write_seeds(dir)` writes the corpus
// and returns false when a file could not be written.
template <typename WriteSeeds>
int SeedsMain(int argc, char** argv, WriteSeeds write_seeds) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  if (!write_seeds(std::string(argv[1]))) {
    std::fprintf(stderr, "%s: could not write the seeds into %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}

}  // namespace blkmerge::fuzz

#endif  // BLKMERGE_FUZZ_FUZZ_UTIL_H_
