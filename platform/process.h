// What a tool's process meets besides files: its command line and its
// console.
#ifndef BLKMERGE_PLATFORM_PROCESS_H_
#define BLKMERGE_PLATFORM_PROCESS_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace blkmerge::platform {

// The platform's text line end, which ends every console line.
#ifdef _WIN32
inline constexpr std::string_view kLineEnd = "\r\n";
#else
inline constexpr std::string_view kLineEnd = "\n";
#endif

// The command line as the tools take it: the words as given on POSIX; on
// Windows, read from the wide command line and turned into UTF-8.
class CommandLine {
 public:
  CommandLine(int argc, char** argv);
  int argc() const { return static_cast<int>(pointers_.size()) - 1; }
  // Ends with a null pointer, as main's does.
  const char* const* argv() const { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<const char*> pointers_;
};

// Memory kept back from the start of a tool's process, so that a process
// that runs out of memory can still say so: the first allocation that
// fails gives it back and throws std::bad_alloc, whose own allocation then
// finds room. Made first thing in main; ok() is false when even this
// could not be had, and the tool should then say so and stop.
class MemoryReserve {
 public:
  MemoryReserve();
  MemoryReserve(const MemoryReserve&) = delete;
  MemoryReserve& operator=(const MemoryReserve&) = delete;
  ~MemoryReserve();
  bool ok() const;
};

// Standard output and standard error. Nothing is buffered: every call is
// out before it returns, written straight to the descriptor or handle (on
// Windows past the C runtime's text mode, so that a line ends in exactly
// one CR LF).
class Console {
 public:
  // Made once, first thing in the process: it also readies the process for
  // the run. A standard stream that is closed gets the null device, so that
  // no file the run opens takes its place; a reader that goes away, or a
  // file-size limit, then fails a write instead of ending the process.
  Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Writes `text` to standard output, each '\n' in it as kLineEnd. Returns
  // false once anything failed to get out (standard output closed at start
  // included); nothing more is then written.
  bool Print(std::string_view text);
  // Prints `line` and a line end, in one write. Needs no memory for a line
  // of up to a kilobyte.
  bool PrintLine(std::string_view line);
  // Writes `line` and a line end to standard error. A failure is not told:
  // there is nowhere left to tell it.
  void PrintErrorLine(std::string_view line) { PrintErrorLine({}, line); }
  // Writes `prefix`, `line` and a line end to standard error, in one write.
  void PrintErrorLine(std::string_view prefix, std::string_view line);
  // False once a Print failed.
  bool ok() const { return ok_; }
  // Why standard output failed, once it did.
  const FileError& error() const { return error_; }

  // What standard output and standard error are, when the platform can
  // tell (looked up once).
  const std::optional<FileInfo>& OutputInfo();
  const std::optional<FileInfo>& ErrorInfo();

 private:
  bool ok_ = true;
  FileError error_;
  bool looked_up_ = false;
  std::optional<FileInfo> output_info_;
  std::optional<FileInfo> error_info_;
};

}  // namespace blkmerge::platform

#endif  // BLKMERGE_PLATFORM_PROCESS_H_
