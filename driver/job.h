// The job a run carries out, as read from the job file.
#ifndef BLKMERGE_DRIVER_JOB_H_
#define BLKMERGE_DRIVER_JOB_H_

#include <cstddef>
#include <string>
#include <vector>

namespace blkmerge {

inline constexpr size_t kMaxNameLength = 99;
inline constexpr size_t kMaxPairs = 100;

// An input file and the alias it is stored under.
struct Pair {
  std::string input;
  std::string alias;
};

// The four numbers every block carries, as the job gives them.
struct Numbers {
  float num1 = 0;
  float num2 = 0;
  float num3 = 0;
  float num4 = 0;
};

struct Job {
  std::string merged_name;
  std::string cons_fix_name;
  Numbers numbers;
  std::vector<Pair> pairs;  // job-file order, at most kMaxPairs
};

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_JOB_H_
