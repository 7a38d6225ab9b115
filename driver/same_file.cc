#include "driver/same_file.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace blkmerge {
namespace {

std::filesystem::path NormalPath(const std::string& name) {
  // Absolute first: a relative name none of whose parts exists would come
  // back from weakly_canonical still relative, and out.bin would not match
  // ./out.bin.
  std::error_code error;
  const auto absolute = std::filesystem::absolute(name, error);
  auto path = std::filesystem::weakly_canonical(absolute, error);
  if (error) path = absolute.lexically_normal();
  return path;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  return NormalPath(a) == NormalPath(b);
}

std::optional<OutputClash> FindOutputClash(const Job& job, const std::string& job_file) {
  if (SameFile(job.merged_name, job.cons_fix_name)) {
    return OutputClash{job.merged_name, job.cons_fix_name, true};
  }
  for (const std::string* output : {&job.merged_name, &job.cons_fix_name}) {
    if (SameFile(*output, job_file)) return OutputClash{*output, job_file, false};
    for (const Pair& pair : job.pairs) {
      if (SameFile(*output, pair.input)) return OutputClash{*output, pair.input, false};
    }
  }
  return std::nullopt;
}

}  // namespace blkmerge
