// Writing JSON text.
#ifndef BLKMERGE_INSPECT_JSON_H_
#define BLKMERGE_INSPECT_JSON_H_

#include <string>
#include <string_view>

namespace blkmerge::inspect::json {

// `bytes` as a JSON string, quotes included. Well-formed UTF-8 passes
// through; a byte that is not part of a well-formed UTF-8 sequence becomes
// U+FFFD; the quote, the backslash and bytes below 0x20 and 0x7F are
// escaped. The result is always valid UTF-8 and valid JSON.
std::string String(std::string_view bytes);

// `bytes` as lower-case hexadecimal, two digits a byte, in quotes.
std::string Hex(std::string_view bytes);

// A float as a JSON number, or as the string "NaN", "Infinity" or
// "-Infinity", which JSON numbers cannot hold.
std::string Float(float value);

}  // namespace blkmerge::inspect::json

#endif  // BLKMERGE_INSPECT_JSON_H_
