// Little-endian loads and stores. The only place that turns bytes into
// numbers and back; everything else calls these.
#ifndef BLKMERGE_MERGE_CODING_H_
#define BLKMERGE_MERGE_CODING_H_

#include <bit>
#include <cstdint>

namespace blkmerge {

constexpr uint32_t LoadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

constexpr int32_t LoadLE32Signed(const uint8_t* p) { return static_cast<int32_t>(LoadLE32(p)); }

constexpr void StoreLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

constexpr void StoreLE32(uint8_t* p, int32_t v) { StoreLE32(p, static_cast<uint32_t>(v)); }

constexpr uint32_t LoadLE24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16;
}

// The low 24 bits of `v`.
constexpr void StoreLE24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}

inline void StoreLEFloat(uint8_t* p, float v) { StoreLE32(p, std::bit_cast<uint32_t>(v)); }

inline float LoadLEFloat(const uint8_t* p) { return std::bit_cast<float>(LoadLE32(p)); }

// 32-bit two's-complement arithmetic: the format's offsets wrap rather
// than overflow, and signed overflow is undefined in C++.
constexpr int32_t Wrap(int64_t v) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

}  // namespace blkmerge

#endif  // BLKMERGE_MERGE_CODING_H_
