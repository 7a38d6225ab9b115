#include "merge/io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace blkmerge {
namespace {

constexpr size_t kSinkBuffer = 1 << 20;
constexpr size_t kCopyChunk = 1 << 16;
// Below this a stretch is cheaper to pass through the buffer than to hand
// to the kernel in a call of its own.
constexpr uint64_t kKernelCopyMin = 1 << 16;

}  // namespace

IoStatus Sink::CopyFrom(Source& source, uint64_t offset, uint64_t length) {
  std::array<uint8_t, kCopyChunk> chunk;
  while (length > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length, chunk.size()));
    const std::span<uint8_t> part(chunk.data(), n);
    if (!source.ReadAt(offset, part)) return IoStatus::kReadFailed;
    if (!Write(part)) return IoStatus::kWriteFailed;
    offset += n;
    length -= n;
  }
  return IoStatus::kOk;
}

bool FileSource::ReadAt(uint64_t offset, std::span<uint8_t> out) {
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = pread(fd_, out.data() + done, out.size() - done,
                            static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

FileSink::FileSink(int fd) : fd_(fd), buffer_(kSinkBuffer) {}

bool FileSink::WriteOut(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return true;
}

bool FileSink::Write(std::span<const uint8_t> bytes) {
  if (failed_) return false;
  if (used_ + bytes.size() > buffer_.size()) {
    if (!Flush()) return false;
    if (bytes.size() >= buffer_.size()) {
      failed_ = !WriteOut(bytes);
      return !failed_;
    }
  }
  // An empty span may carry a null pointer, which memcpy must not be given.
  if (!bytes.empty()) std::memcpy(buffer_.data() + used_, bytes.data(), bytes.size());
  used_ += bytes.size();
  return true;
}

bool FileSink::Flush() {
  if (failed_) return false;
  failed_ = !WriteOut(std::span(buffer_.data(), used_));
  used_ = 0;
  return !failed_;
}

IoStatus FileSink::CopyFrom(Source& source, uint64_t offset, uint64_t length) {
  if (!try_kernel_copy_ || source.Descriptor() < 0 || length < kKernelCopyMin) {
    return Sink::CopyFrom(source, offset, length);
  }
  if (!Flush()) return IoStatus::kWriteFailed;
  auto in_offset = static_cast<off_t>(offset);
  while (length > 0) {
    const ssize_t n = copy_file_range(source.Descriptor(), &in_offset, fd_,
                                      nullptr, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      length -= static_cast<uint64_t>(n);
      continue;
    }
    if (n < 0 && (errno == EINVAL || errno == EXDEV || errno == ENOSYS ||
                  errno == EOPNOTSUPP || errno == EBADF)) {
      // This pair of files cannot be copied in the kernel (a device or a
      // pipe as output, say): fall back for this and every later stretch.
      try_kernel_copy_ = false;
      return Sink::CopyFrom(source, static_cast<uint64_t>(in_offset), length);
    }
    // n == 0: the input ended early. Otherwise a real error, which a read
    // would meet too; let the plain path tell which side failed.
    return Sink::CopyFrom(source, static_cast<uint64_t>(in_offset), length);
  }
  return IoStatus::kOk;
}

bool MemorySource::ReadAt(uint64_t offset, std::span<uint8_t> out) {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
  std::memcpy(out.data(), bytes_.data() + offset, out.size());
  return true;
}

bool MemorySink::Write(std::span<const uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return true;
}

}  // namespace blkmerge
