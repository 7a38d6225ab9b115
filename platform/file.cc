// What File does alike on every platform.
#include "platform/file.h"

#include <utility>

#include "platform/native.h"

namespace blkmerge::platform {

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)),
      info_(other.info_),
      write_failed_(other.write_failed_) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = std::exchange(other.handle_, kNoHandle);
    info_ = other.info_;
    write_failed_ = other.write_failed_;
  }
  return *this;
}

File::~File() { Release(); }

bool File::is_open() const { return handle_ != kNoHandle; }

File File::OpenInput(std::string_view name) {
  File file = OpenAny(name);
  return file.info_.kind == FileKind::kRegular ? std::move(file) : File();
}

bool File::Write(std::span<const uint8_t> bytes) {
  if (write_failed_ || !is_open()) return false;
  write_failed_ = !native::WriteAll(handle_, bytes);
  return !write_failed_;
}

}  // namespace blkmerge::platform
