#include <new>

#include "driver/run.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  const blkmerge::platform::MemoryReserve reserve;
  if (!reserve.ok()) return blkmerge::FailForMemory();
  try {
    const blkmerge::platform::CommandLine command_line(argc, argv);
    return blkmerge::Run(command_line.argc(), command_line.argv());
  } catch (const std::bad_alloc&) {
    // The last resort: Run catches what it meets itself.
    return blkmerge::FailForMemory();
  }
}
