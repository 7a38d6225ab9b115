#include <new>

#include "driver/run.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  try {
    const blkmerge::platform::CommandLine command_line(argc, argv);
    return blkmerge::Run(command_line.argc(), command_line.argv());
  } catch (const std::bad_alloc&) {
    // The last resort: Run catches what it meets itself.
    return blkmerge::FailForMemory();
  }
}
