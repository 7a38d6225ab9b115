#include "driver/same_file.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace blkmerge {
namespace {

// Symbolic links followed in a row before giving up, as the kernel does.
constexpr int kMaxLinks = 40;

std::filesystem::path NormalPath(const std::string& name) {
  namespace fs = std::filesystem;
  // Absolute first: a relative name none of whose parts exists would come
  // back from weakly_canonical still relative, and out.bin would not match
  // ./out.bin.
  std::error_code error;
  auto path = fs::absolute(name, error);
  // A link to a file not yet there is where that file will be created;
  // weakly_canonical would keep the link's own name.
  for (int i = 0; i < kMaxLinks && fs::is_symlink(fs::symlink_status(path, error)); ++i) {
    const fs::path target = fs::read_symlink(path, error);
    if (error) break;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  const auto canonical = fs::weakly_canonical(path, error);
  return error ? path.lexically_normal() : canonical;
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
