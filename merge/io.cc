#include "merge/io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace blkmerge {
namespace {

// Below this a stretch goes through the buffer rather than to the kernel
// in a call of its own, which first needs the buffer flushed. Measured on
// ext4: a kernel copy of 512 KiB costs a fifth less than a pass through
// the buffer; at 128 KiB and below the two cost the same.
constexpr uint64_t kKernelCopyMin = 1 << 16;

}  // namespace

IoStatus Sink::CopyFrom(Source& source, uint64_t offset, uint64_t length) {
  while (length > 0) {
    const std::span<uint8_t> room = Room(static_cast<size_t>(std::min<uint64_t>(length, SIZE_MAX)));
    if (room.empty()) return IoStatus::kWriteFailed;
    if (!source.ReadAt(offset, room)) return IoStatus::kReadFailed;
    Commit(room.size());
    offset += room.size();
    length -= room.size();
  }
  return IoStatus::kOk;
}

bool FileSource::ReadAt(uint64_t offset, std::span<uint8_t> out) {
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n =
        pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Default-initialised: the buffer's pages are only touched once used.
FileSink::FileSink(int fd) : fd_(fd), buffer_(new uint8_t[kBufferSize]) {}

bool FileSink::WriteOut(std::span<const uint8_t> bytes) const {
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
  if (used_ + bytes.size() > kBufferSize) {
    if (!Flush()) return false;
    if (bytes.size() >= kBufferSize) {
      failed_ = !WriteOut(bytes);
      return !failed_;
    }
  }
  // An empty span may carry a null pointer, which memcpy must not be given.
  if (!bytes.empty()) std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
  used_ += bytes.size();
  return true;
}

std::span<uint8_t> FileSink::Room(size_t want) {
  if (failed_) return {};
  if (kBufferSize - used_ < std::min(want, kMinRoom) && !Flush()) return {};
  return {buffer_.get() + used_, std::min(want, kBufferSize - used_)};
}

void FileSink::Commit(size_t length) { used_ += length; }

bool FileSink::Flush() {
  if (failed_) return false;
  failed_ = !WriteOut(std::span(buffer_.get(), used_));
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
    const ssize_t n = copy_file_range(source.Descriptor(), &in_offset, fd_, nullptr, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      length -= static_cast<uint64_t>(n);
      continue;
    }
    if (n < 0 && (errno == EINVAL || errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
                  errno == EBADF)) {
      // This pair of files cannot be copied in the kernel (a device or a
      // pipe as output, say): fall back for this and every later stretch.
      try_kernel_copy_ = false;
    }
    // n == 0: the input ended early. Otherwise a real error, which a read
    // would meet too; let the plain path tell which side failed.
    return Sink::CopyFrom(source, static_cast<uint64_t>(in_offset), length);
  }
  return IoStatus::kOk;
}

bool MemorySource::ReadAt(uint64_t offset, std::span<uint8_t> out) {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
  // As in FileSink::Write: an empty span may carry a null pointer.
  if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
  return true;
}

bool MemorySink::Write(std::span<const uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return true;
}

std::span<uint8_t> MemorySink::Room(size_t want) {
  room_.resize(std::min(want, room_limit_));
  return room_;
}

void MemorySink::Commit(size_t length) {
  bytes_.insert(bytes_.end(), room_.begin(), room_.begin() + static_cast<std::ptrdiff_t>(length));
}

}  // namespace blkmerge
