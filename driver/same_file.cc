#include "driver/same_file.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>
#include <vector>

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

// One name as the check sees it: looked up once, normalised only when a
// comparison needs it. A run compares each output with every input, and
// each lookup costs system calls.
class NamedFile {
 public:
  explicit NamedFile(const std::string& name)
      : name_(&name), exists_(stat(name.c_str(), &st_) == 0) {}

  bool SameAs(NamedFile& other) {
    if (exists_ && other.exists_)
      return st_.st_dev == other.st_.st_dev && st_.st_ino == other.st_.st_ino;
    // An existing name normalises to its real path, where a file is. When
    // nothing is where the missing name normalises to, the two differ, and
    // the existing name need not be normalised (the common case: outputs
    // not made yet, compared with every input).
    if (exists_ != other.exists_ && !(exists_ ? other : *this).NormalExists()) return false;
    return Normal() == other.Normal();
  }

 private:
  const std::filesystem::path& Normal() {
    if (!normal_) normal_ = NormalPath(*name_);
    return *normal_;
  }

  bool NormalExists() {
    if (!normal_exists_) {
      struct stat st {};
      normal_exists_ = stat(Normal().c_str(), &st) == 0;
    }
    return *normal_exists_;
  }

  const std::string* name_;
  struct stat st_ {};
  bool exists_;
  std::optional<std::filesystem::path> normal_;
  std::optional<bool> normal_exists_;
};

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  NamedFile fa(a);
  NamedFile fb(b);
  return fa.SameAs(fb);
}

bool IsFileOpenOn(const std::string& name, int fd) {
  struct stat by_name {};
  struct stat by_fd {};
  return fstat(fd, &by_fd) == 0 && S_ISREG(by_fd.st_mode) && stat(name.c_str(), &by_name) == 0 &&
         by_name.st_dev == by_fd.st_dev && by_name.st_ino == by_fd.st_ino;
}

std::optional<OutputClash> FindOutputClash(const Job& job, const std::string& job_file) {
  NamedFile merged(job.merged_name);
  NamedFile cons_fix(job.cons_fix_name);
  if (merged.SameAs(cons_fix)) return OutputClash{job.merged_name, job.cons_fix_name, true};
  NamedFile job_named(job_file);
  std::vector<NamedFile> inputs;
  inputs.reserve(job.pairs.size());
  for (const Pair& pair : job.pairs) inputs.emplace_back(pair.input);
  for (NamedFile* output : {&merged, &cons_fix}) {
    const std::string& output_name = output == &merged ? job.merged_name : job.cons_fix_name;
    if (output->SameAs(job_named)) return OutputClash{output_name, job_file, false};
    for (size_t i = 0; i < inputs.size(); ++i) {
      if (output->SameAs(inputs[i])) return OutputClash{output_name, job.pairs[i].input, false};
    }
  }
  return std::nullopt;
}

}  // namespace blkmerge
