#include "inspect/cli.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  const blkmerge::platform::CommandLine command_line(argc, argv);
  return blkmerge::inspect::Run(command_line.argc(), command_line.argv());
}
