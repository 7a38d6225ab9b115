// What the platform-neutral part of the layer needs from each platform's
// own part. Not for use outside platform/.
#ifndef BLKMERGE_PLATFORM_NATIVE_H_
#define BLKMERGE_PLATFORM_NATIVE_H_

#include <cstdint>
#include <span>

#include "platform/file.h"

#ifndef _WIN32
struct stat;
#endif

namespace blkmerge::platform::native {

#ifndef _WIN32
// What `st` says a file is.
FileInfo InfoFromStat(const struct ::stat& st);
#endif

// Writes all of `bytes` to a descriptor (POSIX) or handle (Windows):
// the one write loop of both tools. Returns why it failed, or nothing.
FileError WriteAll(intptr_t handle, std::span<const uint8_t> bytes);

// The same for standard output and standard error.
FileError WriteStandardOutput(std::span<const uint8_t> bytes);
FileError WriteStandardError(std::span<const uint8_t> bytes);

}  // namespace blkmerge::platform::native

#endif  // BLKMERGE_PLATFORM_NATIVE_H_
