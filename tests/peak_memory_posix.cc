#include <sys/resource.h>

#include "tests/peak_memory.h"

namespace blkmerge::testutil {

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace blkmerge::testutil
