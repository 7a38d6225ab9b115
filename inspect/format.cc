#include "inspect/format.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace blkmerge::inspect {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0: no
// overlong forms, no surrogates, nothing past U+10FFFF.
size_t SequenceLength(std::string_view s) {
  const auto byte = [&s](size_t i) { return static_cast<uint8_t>(s[i]); };
  if (byte(0) < 0x80) return 1;
  const size_t length = byte(0) >= 0xF0 ? 4 : byte(0) >= 0xE0 ? 3 : 2;
  if (byte(0) < 0xC2 || byte(0) > 0xF4 || s.size() < length) return 0;
  uint32_t code = byte(0) & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return code < kLeast[length] || code > 0x10FFFF || surrogate ? 0 : length;
}

// `name` between quotes: the quote and the backslash after a backslash,
// control bytes and 0x7F as the printf format `escape` writes them.
std::string Escaped(std::string_view name, const char* escape) {
  std::string out = "\"";
  for (const char c : name) {
    const auto b = static_cast<uint8_t>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7F) {
      char text[8];
      std::snprintf(text, sizeof text, escape, b);
      out += text;
    } else {
      out += c;
    }
  }
  return out + '"';
}

}  // namespace

std::string Hex(int64_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<uint32_t>(v)));
  return text;
}

std::string HexByte(uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", unsigned{b});
  return text;
}

std::string Float(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string FloatBits(int64_t bits) {
  return Float(std::bit_cast<float>(static_cast<uint32_t>(bits)));
}

std::string Quote(std::string_view name) { return Escaped(name, "\\x%02X"); }

std::string JsonString(std::string_view bytes) {
  std::string valid;
  while (!bytes.empty()) {
    const size_t length = SequenceLength(bytes);
    valid.append(length == 0 ? std::string_view("\xEF\xBF\xBD") : bytes.substr(0, length));
    bytes.remove_prefix(length == 0 ? 1 : length);
  }
  return Escaped(valid, "\\u%04x");
}

std::string JsonHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out + '"';
}

std::string JsonFloat(float value) {
  if (std::isnan(value)) return "\"NaN\"";
  if (std::isinf(value)) return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
  return Float(value);
}

}  // namespace blkmerge::inspect
