// Any bytes as an input file, with a fixed alias and numbers, give either
// exactly one block, byte for byte the one the fixture builder works out,
// or the damaged-input refusal with nothing written. The input is a buffer
// of its own size, so AddressSanitizer catches any read outside it.
#include <algorithm>
#include <cstdint>

#include "fuzz/fuzz_util.h"
#include "merge/block.h"
#include "merge/io.h"
#include "tests/fixture.h"

namespace {

const blkmerge::Numbers kNumbers{0.5F, 10.0F, 20.0F, 30.0F};
constexpr char kAlias[] = "fuzz";

int32_t Word(const uint8_t* data, size_t offset) {
  return static_cast<int32_t>(static_cast<uint32_t>(data[offset]) |
                              static_cast<uint32_t>(data[offset + 1]) << 8 |
                              static_cast<uint32_t>(data[offset + 2]) << 16 |
                              static_cast<uint32_t>(data[offset + 3]) << 24);
}

// 148 + 16·N + 16·max(K, 0), from the input's own words.
// REQUIRES: the input holds at least 120 bytes.
uint64_t BlockLength(const uint8_t* data) {
  const int64_t n = Word(data, 116);
  const auto p = static_cast<int32_t>(static_cast<uint32_t>(int64_t{Word(data, 88)} + 56));
  const auto q = static_cast<int32_t>(static_cast<uint32_t>(int64_t{Word(data, 104)} + 104));
  const int64_t k = static_cast<int32_t>(static_cast<uint32_t>(int64_t{p} - q)) / 16;
  return static_cast<uint64_t>(148 + 16 * n + 16 * std::max<int64_t>(k, 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace blkmerge;
  const fixture::Bytes input(data, data + size);
  MemorySource source(input);
  MemorySink sink;
  const RewriteStatus status = RewriteInput(source, kAlias, kNumbers, sink);
  if (!fixture::RewriteReadsInside(input)) {
    FUZZ_CHECK(status == RewriteStatus::kDamaged);
    FUZZ_CHECK(sink.bytes().empty());
    return 0;
  }
  FUZZ_CHECK(status == RewriteStatus::kOk);
  FUZZ_CHECK(sink.bytes().size() == BlockLength(data));
  FUZZ_CHECK(sink.bytes() == fixture::ExpectedBlock(input, kAlias, kNumbers));
  return 0;
}
