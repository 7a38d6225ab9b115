// The fault seam: tests make a chosen file call fail, as a bad disk, a full
// file system or a network file system that reports a lost write only at
// close would, in the process and on any machine. It is compiled only into
// the test builds' copy of the platform layer (BLKMERGE_FAULTS, set by that
// copy for whatever links it); the tools as shipped carry none of it, and
// there the declarations below are not there to call.
#ifndef BLKMERGE_PLATFORM_FAULT_H_
#define BLKMERGE_PLATFORM_FAULT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace blkmerge::platform {

// One failure of one operation on one file.
struct Fault {
  enum class Op : uint8_t {
    kRead,    // a read that reaches byte `offset` gets the bytes before it, then the error
    kWrite,   // a write that reaches byte `offset` writes the bytes before it, then fails
    kClose,   // the close closes the file, then reports the error
    kRename,  // a rename of the file fails, leaving both names as they were
  };
  Op op = Op::kRead;
  // The file opened under this name, spelt as the caller of File::Open*
  // spelt it (an output as the job file names it).
  std::string name;
  // kRead: the bad byte of the file; a read that starts past it is served.
  // kWrite: the first byte that does not fit, counted over what this open
  // File wrote (outputs are written from empty, so the file's size); every
  // later write fails too, as on a full disk. Not used by the others.
  uint64_t offset = 0;
  // The system's error: errno on POSIX, GetLastError() on Windows.
  uint32_t code = 0;
};

#ifdef BLKMERGE_FAULTS
// From now on, every time, until ClearFaults: a file opened under
// `fault.name` meets `fault`. Faults add up; a file may meet several.
void InjectFault(const Fault& fault);
// Ends every fault injected so far.
void ClearFaults();

// For the platform layer alone (and for its tests): the checks that its file
// operations make. A file meets the faults bound to its identity.
namespace seam {

// Binds the faults for `name` to the file with identity `id`, just opened
// under that name; a file without an identity meets none. A later open under
// the same name binds them to that file instead. Every opener calls it, and
// one that writes a file in place of another (a temporary file beside an
// output, renamed over it at the end) calls it with the name it stands for.
void Bind(std::string_view name, const std::optional<FileId>& id);

// What a read (kRead) or write (kWrite) of `length` bytes from byte `offset`
// of the file `id` meets: `length` is cut back to end before its fault, and
// the fault's error is returned once nothing is left before it.
FileError FaultAt(Fault::Op op, const std::optional<FileId>& id, uint64_t offset, uint64_t& length);
// What a close (kClose) or rename (kRename) of the file `id` meets.
FileError FaultAt(Fault::Op op, const std::optional<FileId>& id);

}  // namespace seam
#endif

}  // namespace blkmerge::platform

#endif  // BLKMERGE_PLATFORM_FAULT_H_
