// What File does alike on every platform.
#include "platform/file.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "platform/fault.h"
#include "platform/native.h"

namespace blkmerge::platform {
namespace {

// What the fault seam (platform/fault.h) makes the operations on a File
// meet. A build without the seam meets nothing here, and holds no trace of
// it. ReadCut and WriteCut cut `want`, the bytes to read or write from
// `offset`, back to end before the fault, and give its error once nothing
// is left before it.
#ifdef BLKMERGE_FAULTS
FileError ReadCut(const FileInfo& info, uint64_t offset, uint64_t& want) {
  return seam::FaultAt(Fault::Op::kRead, info.id, offset, want);
}
FileError WriteCut(const FileInfo& info, uint64_t offset, uint64_t& want) {
  return seam::FaultAt(Fault::Op::kWrite, info.id, offset, want);
}
FileError CloseError(const FileInfo& info) { return seam::FaultAt(Fault::Op::kClose, info.id); }
#else
FileError ReadCut(const FileInfo&, uint64_t, uint64_t&) { return {}; }
FileError WriteCut(const FileInfo&, uint64_t, uint64_t&) { return {}; }
FileError CloseError(const FileInfo&) { return {}; }
#endif

std::string_view KindOf(FileKind kind) {
  switch (kind) {
    case FileKind::kRegular: return "a regular file";
    case FileKind::kDirectory: return "a directory";
    case FileKind::kPipe: return "a pipe";
    case FileKind::kDevice: return "a device";
  }
  return {};
}

using native::Opened;

}  // namespace

#ifdef BLKMERGE_FAULTS
void native::Opened(std::string_view name, const File& file) {
  if (file.is_open()) seam::Bind(name, file.info().id);
}
FileError native::RenameFault(const File& file) {
  return seam::FaultAt(Fault::Op::kRename, file.info().id);
}
#endif

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

void File::Release() {
  if (handle_ != kNoHandle) (void)native::Close(handle_);
  handle_ = kNoHandle;
}

File File::OpenAny(std::string_view name) {
  File file = NativeOpenAny(name);
  Opened(name, file);
  return file;
}

File File::OpenToEnd(std::string_view name) {
  File file = NativeOpenToEnd(name);
  Opened(name, file);
  return file;
}

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
    uint64_t want = out.size() - result.bytes;
    if ((result.error = ReadCut(info_, offset + result.bytes, want))) break;
    const ReadResult read =
        NativeReadAt(offset + result.bytes, out.subspan(result.bytes, static_cast<size_t>(want)));
    result.bytes += read.bytes;
    result.error = read.error;
    if (read.failed() || read.bytes < want) break;
  }
  return result;
}

ReadResult File::Read(std::span<uint8_t> out) {
  if (read_error_) return {.bytes = 0, .error = read_error_};
  uint64_t want = out.size();
  ReadResult read;
  if ((read.error = ReadCut(info_, position_, want))) {
    read_error_ = read.error;
    return read;
  }
  read = NativeRead(out.first(static_cast<size_t>(want)));
  position_ += read.bytes;
  read_error_ = read.error;
  return read;
}

bool File::Write(std::span<const uint8_t> bytes) {
  if (write_failed_ || !is_open()) return false;
  // One pass unless a fault cuts the write short: the bytes before it go
  // out, and the next pass fails.
  while (!bytes.empty()) {
    uint64_t want = bytes.size();
    FileError error = WriteCut(info_, position_, want);
    const std::span<const uint8_t> part = bytes.first(static_cast<size_t>(want));
    if (!error) error = native::WriteAll(handle_, part);
    if (error) {
      write_failed_ = true;
      error_ = error;
      return false;
    }
    position_ += part.size();
    bytes = bytes.subspan(part.size());
  }
  return true;
}

bool File::Close() {
  if (!is_open()) return false;
  FileError error = native::Close(std::exchange(handle_, kNoHandle));
  // The seam's failure comes after a close that worked: the file is closed
  // either way, as when the system's close fails.
  if (!error) error = CloseError(info_);
  if (!error) return true;
  error_ = error;
  return false;
}

uint64_t CopyInKernel(const File& from, uint64_t offset, uint64_t length, File& to,
                      bool& unsupported) {
  unsupported = false;
  if (!from.is_open() || to.write_failed_) return 0;
  // A fault ends the copy before it; the caller's plain read or write then
  // meets it.
  if (ReadCut(from.info_, offset, length) || WriteCut(to.info_, to.position_, length)) return 0;
  const uint64_t copied = native::CopyRange(from.handle_, offset, length, to.handle_, unsupported);
  to.position_ += copied;
  return copied;
}

}  // namespace blkmerge::platform
