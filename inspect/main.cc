#include "inspect/cli.h"

int main(int argc, char** argv) { return blkmerge::inspect::Run(argc, argv); }
