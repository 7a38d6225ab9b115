// How much memory this test process has needed at most.
#ifndef BLKMERGE_TESTS_PEAK_MEMORY_H_
#define BLKMERGE_TESTS_PEAK_MEMORY_H_

namespace blkmerge::testutil {

// The process's peak resident size so far, in KiB (POSIX: ru_maxrss;
// Windows: the peak working set).
long PeakKilobytes();

}  // namespace blkmerge::testutil

#endif  // BLKMERGE_TESTS_PEAK_MEMORY_H_
