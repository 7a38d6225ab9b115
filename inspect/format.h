// Numbers and names as blkinspect writes them, in text and in JSON.
#ifndef BLKMERGE_INSPECT_FORMAT_H_
#define BLKMERGE_INSPECT_FORMAT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace blkmerge::inspect {

inline std::string Dec(int32_t v) { return std::to_string(v); }
inline std::string Dec(int64_t v) { return std::to_string(v); }
inline std::string Dec(uint64_t v) { return std::to_string(v); }

// "1 block", "2 blocks".
inline std::string Count(uint64_t n, const std::string& noun) {
  return Dec(n) + " " + noun + (n == 1 ? "" : "s");
}

// The low 32 bits of `v` as "0x" and eight upper-case hexadecimal digits;
// a byte as "0x" and two.
std::string Hex(int64_t v);
std::string HexByte(uint8_t b);

// The shortest text that reads back as the same float.
std::string Float(float value);
// The float whose bits are the low 32 bits of `bits`.
std::string FloatBits(int64_t bits);

// A name between double quotes; the backslash, the quote, control bytes
// and 0x7F are written as \\, \" and \xNN, other bytes as they are.
std::string Quote(std::string_view name);

// `bytes` as a JSON string. Well-formed UTF-8 passes through; a byte that
// is not part of a well-formed sequence becomes U+FFFD; the quote, the
// backslash, bytes below 0x20 and 0x7F are escaped. Always valid JSON.
std::string JsonString(std::string_view bytes);
// `bytes` as a JSON string of lower-case hexadecimal, two digits a byte.
std::string JsonHex(std::string_view bytes);
// A float as a JSON number, or as the string "NaN", "Infinity" or
// "-Infinity", which JSON numbers cannot hold.
std::string JsonFloat(float value);

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_FORMAT_H_
