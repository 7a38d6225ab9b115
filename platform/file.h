// The files both tools read and write, behind one narrow interface: the
// only code that knows the operating system's file calls. Names are text as
// the job file or the command line spells them: bytes on POSIX, UTF-8 on
// Windows (passed on to the wide file API).
#ifndef BLKMERGE_PLATFORM_FILE_H_
#define BLKMERGE_PLATFORM_FILE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace blkmerge::platform {

// The device that takes every write and keeps nothing.
#ifdef _WIN32
inline constexpr std::string_view kNullDevice = "NUL";
#else
inline constexpr std::string_view kNullDevice = "/dev/null";
#endif

// One file has one identity, whichever name or link reaches it.
struct FileId {
  uint64_t volume = 0;  // POSIX: the device; Windows: the volume serial number
  uint64_t index = 0;   // POSIX: the inode; Windows: the file index
  friend bool operator==(const FileId&, const FileId&) = default;
};

enum class FileKind { kRegular, kDirectory, kPipe, kDevice };

struct FileInfo {
  FileKind kind = FileKind::kRegular;
  // Nothing where the platform gives the file none (a pipe or a device on
  // Windows).
  std::optional<FileId> id;
  uint64_t size = 0;  // of a regular file; 0 for the other kinds
};

// Why a call on a file failed.
struct FileError {
  enum class Kind : uint8_t {
    kNone,
    kSystem,      // the system refused: `code` says why
    kNotRegular,  // a directory, a pipe or a device where only a regular file will do
    kNoEnd,       // a directory or a device, which cannot be read to an end
    kLocked,      // another process holds the file's lock
    kBadName,     // the text names no file (on Windows: it is not UTF-8)
    kTerminal,    // a terminal, where an output would only be shown
  };
  Kind kind = Kind::kNone;
  uint32_t code = 0;  // kSystem: errno on POSIX, GetLastError() on Windows

  static FileError System(uint32_t code) { return {Kind::kSystem, code}; }
  explicit operator bool() const { return kind != Kind::kNone; }
  friend bool operator==(const FileError&, const FileError&) = default;
};

// The system's own text for the error `code`, in UTF-8, on one line.
std::string SystemErrorText(uint32_t code);

// What `error` means, in words, on one line: the system's text, or what
// the layer found ("a directory, not a regular file", "locked by another
// process"). `kind` is what was found, where anything was.
std::string Describe(const FileError& error, FileKind kind = FileKind::kRegular);

// What a read brought: `bytes` bytes. Fewer than asked for without an
// error means that the file ended.
struct ReadResult {
  size_t bytes = 0;
  FileError error;
  bool failed() const { return static_cast<bool>(error); }
};

// The path that `name` spells. Nothing when it cannot name a file at all
// (on Windows: text that is not UTF-8).
std::optional<std::filesystem::path> PathOf(std::string_view name);

// What `path` leads to, links followed; nothing when it leads nowhere or
// cannot be looked up.
std::optional<FileInfo> InfoOf(const std::filesystem::path& path);

// True when two normalised absolute paths are one name to the file system:
// the same bytes on POSIX; on Windows, the same but for the case of ASCII
// letters (Out.bin and out.bin are one file there).
bool SamePathName(const std::filesystem::path& a, const std::filesystem::path& b);

// An open file, closed when it goes. A closed File (default-constructed, or
// from an Open that failed) fails every operation. A File that an Open
// refused tells why (error()), and what it found where it found a file
// (info()).
class File {
 public:
  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Opens an existing file of any kind for reading, without waiting for the
  // writer of a named pipe; info().kind tells what it is.
  static File OpenAny(std::string_view name);
  // Opens an existing regular file for reading. Anything else (a directory,
  // a pipe, a device) is refused at once: the File is closed.
  static File OpenInput(std::string_view name);
  // Opens a file that is read through to its end: a regular file, or a pipe
  // (which waits for its writer). Directories and devices, which may never
  // end, are refused.
  static File OpenStream(std::string_view name);
  // Files to write are opened as outputs: see platform/output.h.

  bool is_open() const;
  // As at open.
  const FileInfo& info() const { return info_; }
  // Why the Open refused the file, or why the last write, truncation or
  // close failed; nothing when none did.
  const FileError& error() const { return error_; }

  // A file is read either at offsets or from start to end, not both: a
  // read at an offset moves the position of the other kind on Windows.
  //
  // Reads into `out` from `offset` until `out` is full, the file ends or a
  // read fails.
  ReadResult ReadAt(uint64_t offset, std::span<uint8_t> out) const;
  // Tells the system that the `length` bytes from `offset` will be read
  // soon, so that it can start reading them from the disk now, without
  // waiting. A hint: it changes no byte read, and does nothing where the
  // platform has no such hint (see CanHintReads) or the file is closed.
  void WillRead(uint64_t offset, uint64_t length) const;
  // Whether the page that holds the byte at `offset` is in memory, so that
  // reading it waits for no disk; nothing where the platform cannot tell.
  // Asking reads nothing from the disk.
  std::optional<bool> InMemory(uint64_t offset) const;
  // Reads what comes next, at most out.size() bytes, and at least one
  // unless the file has ended or the read failed. Read fails once it has
  // failed.
  ReadResult Read(std::span<uint8_t> out);
  // Appends all of `bytes`. Returns false when that failed; a failure is
  // kept, and every later write fails without writing.
  bool Write(std::span<const uint8_t> bytes);
  // Cuts a regular file back to `length` bytes. Other kinds of file have
  // nothing to cut, and succeed.
  bool Truncate(uint64_t length);
  // Closes now. Returns false when the close failed (the file system may
  // report a failed write only then).
  bool Close();

 private:
  friend uint64_t CopyInKernel(const File& from, uint64_t offset, uint64_t length, File& to,
                               bool& unsupported);
  friend class Output;

  // A descriptor on POSIX, a HANDLE on Windows.
  static constexpr intptr_t kNoHandle = -1;

  File(intptr_t handle, const FileInfo& info) : handle_(handle), info_(info) {}
  // Opens `name` for reading from its start to its end, whatever it is.
  static File OpenToEnd(std::string_view name);
  // The system's opens behind OpenAny and OpenToEnd.
  static File NativeOpenAny(std::string_view name);
  static File NativeOpenToEnd(std::string_view name);
  // A closed File that an Open refused.
  static File Refused(FileError error, const FileInfo& info = {}) {
    File file;
    file.error_ = error;
    file.info_ = info;
    return file;
  }
  void Release();

  // The system's read at `offset` (ReadAt) or at the position (Read).
  ReadResult NativeReadAt(uint64_t offset, std::span<uint8_t> out) const;
  ReadResult NativeRead(std::span<uint8_t> out);

  intptr_t handle_ = kNoHandle;
  FileInfo info_;
  FileError error_;
  bool write_failed_ = false;
  uint64_t position_ = 0;  // what Read read, or Write and CopyInKernel wrote, from the start
  FileError read_error_;   // of Read, once it failed
};

// Appends `length` bytes of `from`, from `offset`, to `to` inside the
// kernel, where the platform can. Returns how many were copied: fewer when
// `from` ended or a call failed, and when this pair of files cannot be
// copied so (`unsupported` is then set, as always where the platform has
// no such copy). The caller carries on with what is left.
uint64_t CopyInKernel(const File& from, uint64_t offset, uint64_t length, File& to,
                      bool& unsupported);

// True where File::WillRead reaches the system: there reading ahead is
// worth opening files early for.
bool CanHintReads();

}  // namespace blkmerge::platform

#endif  // BLKMERGE_PLATFORM_FILE_H_
