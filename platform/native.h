// What the platform-neutral part of the layer needs from each platform's
// own part. Not for use outside platform/.
#ifndef BLKMERGE_PLATFORM_NATIVE_H_
#define BLKMERGE_PLATFORM_NATIVE_H_

#include <cstdint>
#include <span>

namespace blkmerge::platform::native {

// Writes all of `bytes` to a descriptor (POSIX) or handle (Windows) and
// tells whether that worked: the one write loop of both tools.
bool WriteAll(intptr_t handle, std::span<const uint8_t> bytes);

// The same for standard output and standard error.
bool WriteStandardOutput(std::span<const uint8_t> bytes);
bool WriteStandardError(std::span<const uint8_t> bytes);

}  // namespace blkmerge::platform::native

#endif  // BLKMERGE_PLATFORM_NATIVE_H_
