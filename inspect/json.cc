#include "inspect/json.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "inspect/messages.h"

namespace blkmerge::inspect::json {
namespace {

bool Continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0.
size_t SequenceLength(std::string_view s) {
  const auto at = [&s](size_t i) { return static_cast<uint8_t>(s[i]); };
  const uint8_t b = at(0);
  if (b < 0x80) return 1;
  size_t length = 0;
  uint8_t low = 0x80;  // bounds of the second byte
  uint8_t high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    if (b == 0xE0) low = 0xA0;   // no overlong forms
    if (b == 0xED) high = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < length || at(1) < low || at(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (!Continuation(at(i))) return 0;
  }
  return length;
}

}  // namespace

std::string String(std::string_view bytes) {
  std::string out = "\"";
  while (!bytes.empty()) {
    const auto b = static_cast<uint8_t>(bytes.front());
    const size_t length = SequenceLength(bytes);
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      bytes.remove_prefix(1);
      continue;
    }
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b < 0x20 || b == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", b);
      out += esc;
    } else {
      out.append(bytes.substr(0, length));
    }
    bytes.remove_prefix(length);
  }
  out += '"';
  return out;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  out += '"';
  return out;
}

std::string Float(float value) {
  if (std::isnan(value)) return "\"NaN\"";
  if (std::isinf(value)) return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
  return message::Float(value);
}

}  // namespace blkmerge::inspect::json
