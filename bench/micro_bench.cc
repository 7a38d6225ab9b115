// Micro-benchmarks of the rewrite's inner loops: the name hash and the
// stamping of the second table.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "merge/block.h"
#include "merge/name_hash.h"

namespace blkmerge {
namespace {

void BM_NameHash(benchmark::State& state) {
  // Mixed case and bytes above 0x7F, as aliases may hold.
  std::string alias;
  for (int64_t i = 0; i < state.range(0); ++i)
    alias.push_back(static_cast<char>("aZ_9\xC3\xA9"[i % 6]));
  for (auto _ : state) {
    benchmark::DoNotOptimize(alias.data());
    benchmark::DoNotOptimize(NameHash(alias));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_NameHash)->Arg(8)->Arg(32)->Arg(99);

void BM_StampSecondTable(benchmark::State& state) {
  std::vector<uint8_t> table(static_cast<size_t>(state.range(0)), 0x5A);
  uint32_t hash = 0x12345678;
  for (auto _ : state) {
    StampSecondTable(table, hash++);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
// A small input's table, the rewrite's chunk, the sink's whole buffer.
BENCHMARK(BM_StampSecondTable)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);

}  // namespace
}  // namespace blkmerge
