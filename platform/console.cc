// The console's text, the same on every platform but for the line end.
#include <string>

#include "platform/native.h"
#include "platform/process.h"

namespace blkmerge::platform {
namespace {

std::span<const uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// `text` with '\n' made kLineEnd, in `scratch` where that changes it.
std::string_view WithLineEnds(std::string_view text, std::string& scratch) {
  if constexpr (kLineEnd == "\n") {
    return text;
  } else {
    scratch.clear();
    scratch.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
      if (c == '\n') {
        scratch.append(kLineEnd);
      } else {
        scratch.push_back(c);
      }
    }
    return scratch;
  }
}

}  // namespace

bool Console::Print(std::string_view text) {
  if (!ok_) return false;
  std::string scratch;
  error_ = native::WriteStandardOutput(BytesOf(WithLineEnds(text, scratch)));
  ok_ = !error_;
  return ok_;
}

bool Console::PrintLine(std::string_view line) { return Print(std::string(line) + '\n'); }

void Console::PrintErrorLine(std::string_view line) {
  const std::string text = std::string(line) + '\n';
  std::string scratch;
  native::WriteStandardError(BytesOf(WithLineEnds(text, scratch)));
}

}  // namespace blkmerge::platform
