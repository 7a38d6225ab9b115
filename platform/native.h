// What the platform-neutral part of the layer needs from each platform's
// own part. Not for use outside platform/.
#ifndef BLKMERGE_PLATFORM_NATIVE_H_
#define BLKMERGE_PLATFORM_NATIVE_H_

#include <cstdint>
#include <span>

#include "platform/file.h"

namespace blkmerge::platform::native {

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
