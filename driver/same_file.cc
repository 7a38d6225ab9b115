#include "driver/same_file.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "driver/messages.h"

namespace blkmerge {
namespace {

// Symbolic links followed in a row before giving up, as the kernel does.
constexpr int kMaxLinks = 40;

std::filesystem::path NormalPath(const std::filesystem::path& name) {
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

std::optional<platform::FileInfo> InfoOfName(const std::string& name) {
  const auto path = platform::PathOf(name);
  return path ? platform::InfoOf(*path) : std::nullopt;
}

// How two names reach one file: the same file identity, where both lead
// to a file, or else the same normalised absolute path (UTF-8).
struct SameFileReason {
  std::optional<platform::FileId> id;
  std::string path;
};

// "A and B reach one file (the same file identity: volume V, index I)", or
// "(the same path P)".
std::string Reach(std::string_view a, std::string_view b, const SameFileReason& reason) {
  std::string how = reason.id
                        ? "the same file identity: volume " + std::to_string(reason.id->volume) +
                              ", index " + std::to_string(reason.id->index)
                        : "the same path " + Printable(reason.path);
  return Printable(a) + " and " + Printable(b) + " reach one file (" + how + ")";
}

Failure Clash(const std::string& output, const std::string& other, const SameFileReason& reason) {
  return {FailureKind::kSameFile, message::SameFile(output, other), Reach(output, other, reason)};
}

// One name as the check sees it: looked up once, normalised only when a
// comparison needs it. A run compares each output with every input, and
// each lookup costs system calls.
class NamedFile {
 public:
  explicit NamedFile(const std::string& name) : path_(platform::PathOf(name)) {
    if (path_) {
      const auto info = platform::InfoOf(*path_);
      if (info) id_ = info->id;
    }
  }

  // How the two names reach one file, or nothing when they do not.
  std::optional<SameFileReason> SameAs(NamedFile& other) {
    if (!path_ || !other.path_) return std::nullopt;
    if (id_ && other.id_) {
      if (*id_ != *other.id_) return std::nullopt;
      return SameFileReason{.id = id_, .path = {}};
    }
    // An existing name normalises to its real path, where a file is. When
    // nothing is where the missing name normalises to, the two differ, and
    // the existing name need not be normalised (the common case: outputs
    // not made yet, compared with every input).
    if (id_.has_value() != other.id_.has_value() && !(id_ ? other : *this).NormalExists()) {
      return std::nullopt;
    }
    if (!platform::SamePathName(Normal(), other.Normal())) return std::nullopt;
    const std::u8string path = Normal().u8string();
    return SameFileReason{.id = std::nullopt, .path = std::string(path.begin(), path.end())};
  }

 private:
  const std::filesystem::path& Normal() {
    if (!normal_) normal_ = NormalPath(*path_);
    return *normal_;
  }

  bool NormalExists() {
    if (!normal_exists_) normal_exists_ = platform::InfoOf(Normal()).has_value();
    return *normal_exists_;
  }

  std::optional<std::filesystem::path> path_;  // nothing: the name cannot name a file
  std::optional<platform::FileId> id_;         // nothing: no file there, or none that can be told
  std::optional<std::filesystem::path> normal_;
  std::optional<bool> normal_exists_;
};

}  // namespace

Failure CheckTargetsApart(const Job& job, const platform::Output& merged,
                          const platform::Output& cons_fix) {
  if (!merged.SameTarget(cons_fix)) return {};
  std::string detail;
  if (merged.existing() && merged.existing()->id) {
    detail = Reach(job.merged_name, job.cons_fix_name, {.id = merged.existing()->id, .path = {}});
  } else {
    detail = Printable(job.merged_name) + " and " + Printable(job.cons_fix_name) +
             " reach one file (the name " + Quote(merged.leaf()) + " in one folder)";
  }
  return {FailureKind::kSameOutputNames, std::string(message::kSameOutputNames), std::move(detail)};
}

Failure CheckNotFile(const std::string& name, const platform::Output& output,
                     const std::string& other, const std::optional<platform::FileInfo>& file) {
  const auto& opened = output.existing();
  if (!opened || !opened->id || !file || opened->id != file->id) return {};
  if (opened->kind == platform::FileKind::kDevice) {
    const auto null = InfoOfName(std::string(platform::kNullDevice));
    if (null && null->id == opened->id) return {};
  }
  return Clash(name, other, {.id = opened->id, .path = {}});
}

Failure CheckOutputsApart(const Job& job, const std::string& job_file) {
  NamedFile merged(job.merged_name);
  NamedFile cons_fix(job.cons_fix_name);
  if (auto reason = merged.SameAs(cons_fix)) {
    return {FailureKind::kSameOutputNames, std::string(message::kSameOutputNames),
            Reach(job.merged_name, job.cons_fix_name, *reason)};
  }
  NamedFile job_named(job_file);
  std::vector<NamedFile> inputs;
  inputs.reserve(job.pairs.size());
  for (const Pair& pair : job.pairs) inputs.emplace_back(pair.input);
  for (NamedFile* output : {&merged, &cons_fix}) {
    const std::string& output_name = output == &merged ? job.merged_name : job.cons_fix_name;
    if (auto reason = output->SameAs(job_named)) return Clash(output_name, job_file, *reason);
    for (size_t i = 0; i < inputs.size(); ++i) {
      if (auto reason = output->SameAs(inputs[i])) {
        return Clash(output_name, job.pairs[i].input, *reason);
      }
    }
  }
  return {};
}

}  // namespace blkmerge
