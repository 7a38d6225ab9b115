#ifndef BLKMERGE_MERGE_NAME_HASH_H_
#define BLKMERGE_MERGE_NAME_HASH_H_

#include <array>
#include <cstdint>
#include <string_view>

namespace blkmerge {

// The 256-entry table behind the name hash. It is built like the usual
// CRC-32 table, but with an arithmetic (sign-copying) shift, so the top
// eight bits of most entries differ from the published table's.
constexpr std::array<uint32_t, 256> MakeNameHashTable() {
  std::array<uint32_t, 256> table{};
  for (int32_t i = 0; i < 256; ++i) {
    int32_t c = i;
    for (int bit = 0; bit < 8; ++bit) {
      // >> on a negative int32_t copies the sign bit (defined since C++20).
      c = (c & 1) != 0 ? (c >> 1) ^ static_cast<int32_t>(0xEDB88320u) : c >> 1;
    }
    table[static_cast<size_t>(i)] = static_cast<uint32_t>(c);
  }
  return table;
}

inline constexpr std::array<uint32_t, 256> kNameHashTable = MakeNameHashTable();

// Returns the 32-bit name hash of `name`. ASCII capitals are folded to
// lower case first, so names differing only in case hash alike. All
// bytes of `name` are hashed (a name never holds a zero byte).
uint32_t NameHash(std::string_view name);

}  // namespace blkmerge

#endif  // BLKMERGE_MERGE_NAME_HASH_H_
