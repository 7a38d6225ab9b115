// The job a run carries out, as read from the job file.
#ifndef BLKMERGE_DRIVER_JOB_H_
#define BLKMERGE_DRIVER_JOB_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "merge/block.h"

namespace blkmerge {

inline constexpr size_t kMaxNameLength = 99;
inline constexpr size_t kMaxPairs = 100;

// A place in the job text. Lines are counted from 1 and each line feed
// ends one, so CR LF and LF read alike (a carriage return is the last byte
// of its line). Columns are counted in bytes from 1, whatever the bytes
// encode.
struct TextPosition {
  uint64_t line = 1;
  uint64_t column = 1;
  bool operator==(const TextPosition&) const = default;
};

// An input file and the alias it is stored under.
struct Pair {
  std::string input;
  std::string alias;
  TextPosition where;  // of the input name in the job text
};

struct Job {
  std::string merged_name;
  std::string cons_fix_name;
  Numbers numbers;
  std::vector<Pair> pairs;  // job-file order, at most kMaxPairs
  // What the job text holds that is probably not what its writer meant,
  // though it is read as it always was: lines for standard error after
  // the tool's prefix ("JOB:LINE:COLUMN: warning: ..."), in text order.
  std::vector<std::string> warnings;

  // The aliases of the pairs, in job order.
  std::vector<std::string_view> Aliases() const {
    std::vector<std::string_view> aliases;
    aliases.reserve(pairs.size());
    for (const Pair& pair : pairs) aliases.emplace_back(pair.alias);
    return aliases;
  }
};

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_JOB_H_
