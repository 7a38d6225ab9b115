// Makes input files of the layout the rewrite reads, and the block each
// one must become, for the tests, the examples and the benchmarks.
#ifndef BLKMERGE_TESTS_FIXTURE_H_
#define BLKMERGE_TESTS_FIXTURE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "merge/block.h"

namespace blkmerge::fixture {

using Bytes = std::vector<uint8_t>;

// A well-formed input: N entries in the first table, M in the dropped
// section, K in the second table, `extra` bytes after the tail; every other
// byte drawn from `seed`.
struct Shape {
  int32_t n = 1;
  int32_t m = 1;
  int32_t k = 2;
  uint32_t seed = 1;
  uint32_t extra = 0;

  friend bool operator==(const Shape&, const Shape&) = default;
};

Bytes MakeInput(const Shape& shape);

// Input offsets of a well-formed input's parts.
uint64_t SecondTableOffset(const Shape& shape);  // Q
uint64_t TailOffset(const Shape& shape);         // P

// Breaking an input in one line.
void PutLE32(Bytes& bytes, uint64_t offset, uint32_t value);
uint32_t GetLE32(const Bytes& bytes, uint64_t offset);
inline void SetN(Bytes& b, int32_t v) { PutLE32(b, input::kN, static_cast<uint32_t>(v)); }
inline void SetLtail(Bytes& b, int32_t v) { PutLE32(b, input::kLtail, static_cast<uint32_t>(v)); }
inline void SetLtable(Bytes& b, int32_t v) { PutLE32(b, input::kLtable, static_cast<uint32_t>(v)); }
// REQUIRES: N as stored is not negative and the M word lies inside `b`.
void SetM(Bytes& b, int32_t v);

// True when every read of the rewrite lies inside `input`, worked out
// afresh from its words: at least 120 bytes; N not negative and the word M
// (at 132 + 16·N) inside; Q = Ltable + 104 (32-bit) within [0, size]; and
// Q + 16·max(K, 0) + 20 within the size. Only then may it become a block.
bool RewriteReadsInside(const Bytes& input);

// The block that `input` must become, read straight off the format's
// block table. REQUIRES: every read of the rewrite lies inside `in`.
Bytes ExpectedBlock(const Bytes& in, std::string_view alias, const Numbers& nums);

// The whole merged file for these inputs and aliases.
Bytes ExpectedMerged(const std::vector<Bytes>& inputs, const std::vector<std::string>& aliases,
                     const Numbers& numbers);

// The cons_fix record for two aliases that fit their fields: the first at
// 0, the other at 64, zero padding, the float 1.0 at 140, 156 and 172.
Bytes ConsFixRecord(const std::string& first, const std::string& alias);

bool WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

}  // namespace blkmerge::fixture

#endif  // BLKMERGE_TESTS_FIXTURE_H_
