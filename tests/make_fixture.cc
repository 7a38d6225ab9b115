// make_fixture OUT N M K SEED [EXTRA]: writes a well-formed input file.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fixture.h"

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: make_fixture OUT N M K SEED [EXTRA]\n");
    return 2;
  }
  blkmerge::fixture::Shape shape;
  shape.n = std::atoi(argv[2]);
  shape.m = std::atoi(argv[3]);
  shape.k = std::atoi(argv[4]);
  shape.seed = static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10));
  shape.extra = argc == 7 ? static_cast<uint32_t>(std::strtoul(argv[6], nullptr, 10)) : 0;
  if (shape.n < 0 || shape.m < 0 || shape.k < 0) {
    std::fprintf(stderr, "make_fixture: N, M and K must not be negative\n");
    return 2;
  }
  if (!blkmerge::fixture::WriteFile(argv[1], blkmerge::fixture::MakeInput(shape))) {
    std::fprintf(stderr, "make_fixture: could not write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
