#include <new>

#include "inspect/cli.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  try {
    const blkmerge::platform::CommandLine command_line(argc, argv);
    return blkmerge::inspect::Run(command_line.argc(), command_line.argv());
  } catch (const std::bad_alloc&) {
    // The last resort: Run catches what it meets itself, and says so.
    return blkmerge::inspect::kExitTrouble;
  }
}
