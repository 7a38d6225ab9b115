// A directory of a unit test's own, on any platform.
#ifndef BLKMERGE_TESTS_SCRATCH_DIR_H_
#define BLKMERGE_TESTS_SCRATCH_DIR_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace blkmerge::testutil {

// A fresh directory in the temporary directory, removed with everything in
// it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir();

  const std::filesystem::path& path() const { return path_; }
  // The name of `file` in the directory, as the tools take names (UTF-8).
  std::string At(std::string_view file) const;

 private:
  std::filesystem::path path_;
};

}  // namespace blkmerge::testutil

#endif  // BLKMERGE_TESTS_SCRATCH_DIR_H_
