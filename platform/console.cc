// The console's text, the same on every platform but for the line end.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/native.h"
#include "platform/process.h"

namespace blkmerge::platform {
namespace {

// Lines up to this long are put together on the stack, so that a line
// still gets out when memory has run out.
constexpr size_t kShortLine = 1024;

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

// Writes `prefix`, `line` and a line end in one call of `write`.
FileError WriteLine(std::string_view prefix, std::string_view line,
                    FileError (*write)(std::span<const uint8_t>)) {
  std::array<char, kShortLine> buffer;
  const size_t size = prefix.size() + line.size() + kLineEnd.size();
  if (size <= buffer.size() && prefix.find('\n') == std::string_view::npos &&
      line.find('\n') == std::string_view::npos) {
    char* end = std::copy(prefix.begin(), prefix.end(), buffer.data());
    end = std::copy(line.begin(), line.end(), end);
    std::copy(kLineEnd.begin(), kLineEnd.end(), end);
    return write(BytesOf({buffer.data(), size}));
  }
  std::string scratch;
  const std::string text = std::string(prefix) + std::string(line) + '\n';
  return write(BytesOf(WithLineEnds(text, scratch)));
}

// Enough for the exception and for what unwinding to the report takes.
constexpr size_t kReserve = 64 << 10;
std::atomic<void*> reserve{nullptr};

void GiveBackReserve() {
  std::set_new_handler(nullptr);
  std::free(reserve.exchange(nullptr));
  throw std::bad_alloc();
}

}  // namespace

MemoryReserve::MemoryReserve() {
  reserve.store(std::malloc(kReserve));
  if (ok()) std::set_new_handler(GiveBackReserve);
}

MemoryReserve::~MemoryReserve() {
  std::set_new_handler(nullptr);
  std::free(reserve.exchange(nullptr));
}

bool MemoryReserve::ok() const { return reserve.load() != nullptr; }

bool Console::Print(std::string_view text) {
  if (!ok_) return false;
  std::string scratch;
  error_ = native::WriteStandardOutput(BytesOf(WithLineEnds(text, scratch)));
  ok_ = !error_;
  return ok_;
}

bool Console::PrintLine(std::string_view line) {
  if (!ok_) return false;
  error_ = WriteLine({}, line, native::WriteStandardOutput);
  ok_ = !error_;
  return ok_;
}

void Console::PrintErrorLine(std::string_view prefix, std::string_view line) {
  (void)WriteLine(prefix, line, native::WriteStandardError);
}

}  // namespace blkmerge::platform
