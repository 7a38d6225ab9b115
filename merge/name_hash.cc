#include "merge/name_hash.h"

namespace blkmerge {

uint32_t NameHash(std::string_view name) {
  uint32_t h = 0xFFFFFFFFu;
  for (const char ch : name) {
    auto c = static_cast<uint8_t>(ch);
    if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c + ('a' - 'A'));
    h = (h >> 8) ^ kNameHashTable[(c ^ h) & 0xFFu];
  }
  return ~h;
}

}  // namespace blkmerge
