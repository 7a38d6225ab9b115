// What the platform-neutral part of the layer needs from each platform's
// own part. Not for use outside platform/.
#ifndef BLKMERGE_PLATFORM_NATIVE_H_
#define BLKMERGE_PLATFORM_NATIVE_H_

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
// RenameFault is what renaming `file` meets.
void Opened(std::string_view name, const File& file);
FileError RenameFault(const File& file);

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
