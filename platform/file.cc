// What File does alike on every platform.
#include "platform/file.h"

#include <utility>

#include "platform/native.h"

namespace blkmerge::platform {

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)),
      info_(other.info_),
      error_(other.error_),
      write_failed_(other.write_failed_) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = std::exchange(other.handle_, kNoHandle);
    info_ = other.info_;
    error_ = other.error_;
    write_failed_ = other.write_failed_;
  }
  return *this;
}

File::~File() { Release(); }

bool File::is_open() const { return handle_ != kNoHandle; }

File File::OpenInput(std::string_view name) {
  File file = OpenAny(name);
  if (!file.is_open() || file.info_.kind == FileKind::kRegular) return file;
  return Refused({FileError::Kind::kNotRegular}, file.info_);
}

File File::OpenStream(std::string_view name) {
  File file = OpenToEnd(name);
  const FileKind kind = file.info_.kind;
  if (!file.is_open() || (kind != FileKind::kDirectory && kind != FileKind::kDevice)) return file;
  return Refused({FileError::Kind::kNoEnd}, file.info_);
}

bool File::Write(std::span<const uint8_t> bytes) {
  if (write_failed_ || !is_open()) return false;
  if (const FileError error = native::WriteAll(handle_, bytes)) {
    write_failed_ = true;
    error_ = error;
  }
  return !write_failed_;
}

}  // namespace blkmerge::platform
