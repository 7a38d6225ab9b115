#include "driver/run.h"

int main(int argc, char** argv) { return blkmerge::Run(argc, argv); }
