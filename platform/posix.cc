// The platform layer on POSIX systems.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/native.h"
#include "platform/process.h"

namespace blkmerge::platform {

FileInfo native::InfoFromStat(const struct stat& st) {
  FileInfo info;
  if (S_ISREG(st.st_mode)) {
    info.kind = FileKind::kRegular;
    info.size = static_cast<uint64_t>(st.st_size);
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = FileKind::kDirectory;
  } else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    info.kind = FileKind::kPipe;
  } else {
    info.kind = FileKind::kDevice;
  }
  info.id = FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return info;
}

namespace {

using native::InfoFromStat;

std::optional<FileInfo> InfoOfDescriptor(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  return InfoFromStat(st);
}

FileError LastError() { return FileError::System(static_cast<uint32_t>(errno)); }

// Opens `name` with `flags` and looks at what it is. Returns -1, with
// nothing open and `error` set, when either fails.
int OpenDescriptor(std::string_view name, int flags, FileInfo& info, FileError& error) {
  const std::string path(name);
  const int fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = LastError();
    return -1;
  }
  const auto found = InfoOfDescriptor(fd);
  if (!found) {
    error = LastError();
    close(fd);
    return -1;
  }
  info = *found;
  return fd;
}

}  // namespace

std::string SystemErrorText(uint32_t code) {
  // strerror is not thread-safe, but only this thread asks.
  return std::strerror(static_cast<int>(code));
}

std::optional<std::filesystem::path> PathOf(std::string_view name) {
  return std::filesystem::path(name);
}

std::optional<FileInfo> InfoOf(const std::filesystem::path& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return InfoFromStat(st);
}

bool SamePathName(const std::filesystem::path& a, const std::filesystem::path& b) {
  return a.native() == b.native();
}

File File::NativeOpenAny(std::string_view name) {
  // Non-blocking, so that a named pipe opens at once instead of waiting for
  // a writer; reads of a regular file are not affected.
  FileInfo info;
  FileError error;
  const int fd = OpenDescriptor(name, O_RDONLY | O_NONBLOCK, info, error);
  return fd < 0 ? Refused(error) : File(fd, info);
}

File File::NativeOpenToEnd(std::string_view name) {
  FileInfo info;
  FileError error;
  const int fd = OpenDescriptor(name, O_RDONLY, info, error);
  return fd < 0 ? Refused(error) : File(fd, info);
}

ReadResult File::NativeReadAt(uint64_t offset, std::span<uint8_t> out) const {
  ReadResult result;
  while (result.bytes < out.size()) {
    const ssize_t n = pread(static_cast<int>(handle_), out.data() + result.bytes,
                            out.size() - result.bytes, static_cast<off_t>(offset + result.bytes));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    if (n < 0) {
      result.error = LastError();
      break;
    }
    result.bytes += static_cast<size_t>(n);
  }
  return result;
}

void File::WillRead(uint64_t offset, uint64_t length) const {
#ifdef BLKMERGE_HAVE_POSIX_FADVISE
  // The kernel queues the reads and returns; a failure only loses the hint.
  // Linux reads at most its read-ahead size per call (a few hundred KiB
  // to a few MiB, as the device allows), so callers hint in pieces.
  if (is_open() && length > 0) {
    (void)posix_fadvise(static_cast<int>(handle_), static_cast<off_t>(offset),
                        static_cast<off_t>(length), POSIX_FADV_WILLNEED);
  }
#else
  (void)offset;
  (void)length;
#endif
}

std::optional<bool> File::InMemory(uint64_t offset) const {
#ifdef BLKMERGE_HAVE_MINCORE
  // A page mapped and asked about, never touched: no read is made.
  const long page = sysconf(_SC_PAGESIZE);
  if (!is_open() || page <= 0 || offset >= info_.size) return std::nullopt;
  const auto start = static_cast<off_t>(offset - offset % static_cast<uint64_t>(page));
  const auto length = static_cast<size_t>(page);
  void* map = mmap(nullptr, length, PROT_READ, MAP_SHARED, static_cast<int>(handle_), start);
  if (map == MAP_FAILED) return std::nullopt;
  unsigned char resident = 0;
  const bool asked = mincore(map, length, &resident) == 0;
  munmap(map, length);
  if (!asked) return std::nullopt;
  return (resident & 1) != 0;
#else
  (void)offset;
  return std::nullopt;
#endif
}

bool CanHintReads() {
#ifdef BLKMERGE_HAVE_POSIX_FADVISE
  return true;
#else
  return false;
#endif
}

// Not const: it moves the file's position.
ReadResult File::NativeRead(  // NOLINT(readability-make-member-function-const)
    std::span<uint8_t> out) {
  while (true) {
    const ssize_t n = read(static_cast<int>(handle_), out.data(), out.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {.bytes = 0, .error = LastError()};
    return {.bytes = static_cast<size_t>(n), .error = {}};
  }
}

// Not const: it changes the file.
bool File::Truncate(uint64_t length) {  // NOLINT(readability-make-member-function-const)
  if (!is_open()) return false;
  if (info_.kind != FileKind::kRegular) return true;
  if (ftruncate(static_cast<int>(handle_), static_cast<off_t>(length)) == 0) return true;
  error_ = LastError();
  return false;
}

CommandLine::CommandLine(int argc, char** argv) : words_(argv, argv + argc) {
  for (const std::string& word : words_) pointers_.push_back(word.c_str());
  pointers_.push_back(nullptr);
}

Console::Console() {
  // One call finds which of descriptors 0 to 2 are closed.
  std::array<pollfd, 3> fds{};
  for (int fd = 0; fd <= 2; ++fd) fds[static_cast<size_t>(fd)].fd = fd;
  if (poll(fds.data(), fds.size(), 0) < 0) ok_ = false;
  for (const pollfd& p : fds) {
    if ((p.revents & POLLNVAL) == 0) continue;
    if (p.fd == STDOUT_FILENO) {
      ok_ = false;
      error_ = FileError::System(EBADF);
    }
    // Opened in ascending order, each lands on the lowest free descriptor.
    if (open("/dev/null", p.fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) != p.fd) ok_ = false;
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

namespace native {

FileError Close(intptr_t handle) {
  // The descriptor is gone even when close fails, EINTR included (Linux):
  // it is never closed again.
  return close(static_cast<int>(handle)) == 0 ? FileError{} : LastError();
}

uint64_t CopyRange(intptr_t from, uint64_t offset, uint64_t length, intptr_t to,
                   bool& unsupported) {
  unsupported = false;
#ifdef BLKMERGE_HAVE_COPY_FILE_RANGE
  auto in_offset = static_cast<off_t>(offset);
  uint64_t copied = 0;
  while (copied < length) {
    const ssize_t n = copy_file_range(static_cast<int>(from), &in_offset, static_cast<int>(to),
                                      nullptr, length - copied, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      copied += static_cast<uint64_t>(n);
      continue;
    }
    // This pair of files cannot be copied in the kernel (a device or a pipe
    // as output, say). n == 0: the input ended early. Anything else is a
    // real error, which a plain read or write meets too.
    unsupported = n < 0 && (errno == EINVAL || errno == EXDEV || errno == ENOSYS ||
                            errno == EOPNOTSUPP || errno == EBADF);
    break;
  }
  return copied;
#else
  (void)from;
  (void)offset;
  (void)length;
  (void)to;
  unsupported = true;
  return 0;
#endif
}

FileError WriteAll(intptr_t handle, std::span<const uint8_t> bytes) {
  const int fd = static_cast<int>(handle);
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A non-blocking descriptor (its flag is shared with whoever set it)
      // that is full for now: wait until it takes more. A reader that went
      // away wakes the wait, and the next write tells.
      pollfd writable{.fd = fd, .events = POLLOUT, .revents = 0};
      if (poll(&writable, 1, -1) < 0 && errno != EINTR) return LastError();
      continue;
    }
    if (n < 0) return LastError();
    // write() takes at least one byte of a regular file, a pipe or a
    // device unless it fails; nothing taken is a full device.
    if (n == 0) return FileError::System(ENOSPC);
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return {};
}

FileError WriteStandardOutput(std::span<const uint8_t> bytes) {
  return WriteAll(STDOUT_FILENO, bytes);
}
FileError WriteStandardError(std::span<const uint8_t> bytes) {
  return WriteAll(STDERR_FILENO, bytes);
}

}  // namespace native

const std::optional<FileInfo>& Console::OutputInfo() {
  if (!looked_up_) {
    output_info_ = InfoOfDescriptor(STDOUT_FILENO);
    error_info_ = InfoOfDescriptor(STDERR_FILENO);
    looked_up_ = true;
  }
  return output_info_;
}

const std::optional<FileInfo>& Console::ErrorInfo() {
  OutputInfo();
  return error_info_;
}

}  // namespace blkmerge::platform
