// What the platform-neutral part of the layer needs from each platform's
// own part. Not for use outside platform/.
#ifndef BLKMERGE_PLATFORM_NATIVE_H_
#define BLKMERGE_PLATFORM_NATIVE_H_

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/file.h"

#ifndef _WIN32
struct stat;
#endif

namespace blkmerge::platform::native {

#ifdef _WIN32
// `utf8` in UTF-16, for the wide file API; nothing when it is not
// well-formed UTF-8.
std::optional<std::wstring> Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
// What the open `handle` (a HANDLE) is, when the system can tell.
std::optional<FileInfo> InfoOfHandle(void* handle);
#else
// What `st` says a file is.
FileInfo InfoFromStat(const struct ::stat& st);
#endif

// The fault seam's hooks for what File alone does not do (see
// platform/fault.h); builds without the seam meet nothing. Opened binds the
// faults for `name` to `file`, just opened under that name or in its place;
// RenameFault is what renaming `file` meets, and exists only with the seam.
#ifdef BLKMERGE_FAULTS
void Opened(std::string_view name, const File& file);
FileError RenameFault(const File& file);
#else
inline void Opened(std::string_view /*name*/, const File& /*file*/) {}
#endif

// What an interrupt gives up of each open output: its new file and its
// lock file (POSIX: names in `folder`; Windows: full paths in UTF-8), or the
// file written in place and the length to cut it back to. A slot's names
// are written while it is free, and read by an interrupt only while it is
// in use.
struct OutputSlot {
  std::atomic<bool> used{false};
  intptr_t folder = -1;
  std::array<char, 1024> temp{};
  std::array<char, 1024> lock{};
  std::atomic<intptr_t> in_place{-1};
  std::atomic<uint64_t> length{0};
};
std::span<OutputSlot> OutputSlots();
// Takes a free slot for these names; -1 when none is free.
int TakeOutputSlot(intptr_t folder, std::string_view temp, std::string_view lock);
// Frees `slot`, and sets it to -1.
void FreeOutputSlot(int& slot);

// While outputs take their places, interrupts wait: HoldInterrupts makes
// them wait, InterruptWaiting tells whether one came meanwhile (as the
// error to give), LetInterruptsThrough lets it through, which ends the
// process.
void HoldInterrupts();
FileError InterruptWaiting();
void LetInterruptsThrough();

// "." + `leaf` + `tag`: hidden beside the target, recognisably the tools',
// and within the file system's name limit.
std::string Hidden(std::string_view leaf, std::string_view tag);
// Six characters that make a new file's name unlikely to be taken; a taken
// one is tried again, as such a file is made exclusively.
std::string RandomTag();

// Writes all of `bytes` to a descriptor (POSIX) or handle (Windows):
// the one write loop of both tools. Returns why it failed, or nothing.
FileError WriteAll(intptr_t handle, std::span<const uint8_t> bytes);

// Closes a descriptor (POSIX) or handle (Windows), which is gone then
// whether or not the close failed. Returns why it failed, or nothing.
FileError Close(intptr_t handle);

// The platform's part of CopyInKernel: copies `length` bytes of `from`,
// from `offset`, to the end of `to`, between descriptors or handles.
uint64_t CopyRange(intptr_t from, uint64_t offset, uint64_t length, intptr_t to, bool& unsupported);

// The same as WriteAll for standard output and standard error.
FileError WriteStandardOutput(std::span<const uint8_t> bytes);
FileError WriteStandardError(std::span<const uint8_t> bytes);

}  // namespace blkmerge::platform::native

#endif  // BLKMERGE_PLATFORM_NATIVE_H_
