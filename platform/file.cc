// What File does alike on every platform.
#include "platform/file.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "platform/native.h"

namespace blkmerge::platform {
namespace {

#ifdef BLKMERGE_READ_FAULTS
struct ReadFault {
  std::optional<FileId> id;
  uint64_t offset = 0;
  uint64_t length = 0;
  uint32_t code = 0;
};
ReadFault read_fault;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables): a test seam
#endif

// The read fault that a read of `want` bytes at `offset` of `info`'s file
// meets: `want` is cut back to end where the fault begins, and the error is
// given once nothing is left before it.
FileError InjectedFault(const FileInfo& info, uint64_t offset, size_t& want) {
#ifdef BLKMERGE_READ_FAULTS
  if (read_fault.id && info.id == read_fault.id) {
    if (offset >= read_fault.offset && offset - read_fault.offset < read_fault.length) {
      return FileError::System(read_fault.code);
    }
    if (offset < read_fault.offset) {
      want = static_cast<size_t>(std::min<uint64_t>(want, read_fault.offset - offset));
    }
  }
#else
  (void)info;
  (void)offset;
  (void)want;
#endif
  return {};
}

std::string_view KindOf(FileKind kind) {
  switch (kind) {
    case FileKind::kRegular: return "a regular file";
    case FileKind::kDirectory: return "a directory";
    case FileKind::kPipe: return "a pipe";
    case FileKind::kDevice: return "a device";
  }
  return {};
}

}  // namespace

std::string Describe(const FileError& error, FileKind kind) {
  using Kind = FileError::Kind;
  switch (error.kind) {
    case Kind::kSystem: return SystemErrorText(error.code);
    case Kind::kNotRegular: return std::string(KindOf(kind)) + ", not a regular file";
    case Kind::kNoEnd:
      return kind == FileKind::kDirectory ? "a directory, which has no text to read"
                                          : "a device, which may never end";
    case Kind::kLocked: return "locked by another process";
    case Kind::kBadName: return "the name is not UTF-8";
    case Kind::kTerminal: return "a terminal, which cannot keep an output";
    case Kind::kNone: break;
  }
  return "no error";
}

#ifdef BLKMERGE_READ_FAULTS
void FailReadsAt(const FileId& id, uint64_t offset, uint64_t length, uint32_t code) {
  read_fault = {id, offset, length, code};
}
void ClearReadFaults() { read_fault = {}; }
#endif

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)),
      info_(other.info_),
      error_(other.error_),
      write_failed_(other.write_failed_),
      position_(other.position_),
      read_error_(other.read_error_) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = std::exchange(other.handle_, kNoHandle);
    info_ = other.info_;
    error_ = other.error_;
    write_failed_ = other.write_failed_;
    position_ = other.position_;
    read_error_ = other.read_error_;
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

ReadResult File::ReadAt(uint64_t offset, std::span<uint8_t> out) const {
  ReadResult result;
  while (result.bytes < out.size()) {
    size_t want = out.size() - result.bytes;
    if ((result.error = InjectedFault(info_, offset + result.bytes, want))) break;
    const ReadResult read = NativeReadAt(offset + result.bytes, out.subspan(result.bytes, want));
    result.bytes += read.bytes;
    result.error = read.error;
    if (read.failed() || read.bytes < want) break;
  }
  return result;
}

ReadResult File::Read(std::span<uint8_t> out) {
  if (read_error_) return {.bytes = 0, .error = read_error_};
  size_t want = out.size();
  ReadResult read;
  if ((read.error = InjectedFault(info_, position_, want))) {
    read_error_ = read.error;
    return read;
  }
  read = NativeRead(out.first(want));
  position_ += read.bytes;
  read_error_ = read.error;
  return read;
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
