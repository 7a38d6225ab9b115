// A directory of a test's own, on any platform.
#ifndef BLKMERGE_TESTS_TEMP_DIR_H_
#define BLKMERGE_TESTS_TEMP_DIR_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/output.h"
#include "tests/fixture.h"

namespace blkmerge::testutil {

// A fresh directory in the temporary directory, removed with everything in
// it when the object goes.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  const std::filesystem::path& path() const { return path_; }
  // The name of `file` in the directory, as the tools take names (UTF-8).
  std::string At(std::string_view file) const;

  // The files below, named relative to the directory. Write and Read
  // throw when they fail.
  void Write(std::string_view file, std::string_view text) const;
  void Write(std::string_view file, const fixture::Bytes& bytes) const;
  fixture::Bytes Read(std::string_view file) const;
  bool Exists(std::string_view file) const;
  // The names in the directory itself, sorted.
  std::vector<std::string> Files() const;

 private:
  std::filesystem::path path_;
};

// An output opened as a run opens one: what is written into file() takes
// the name's place at Publish.
class TestOutput {
 public:
  explicit TestOutput(std::string_view name);
  platform::File& file() { return output_.file(); }
  platform::Output& output() { return output_; }
  // Closes the file, unless closed already, and puts it in place; false
  // when either failed.
  bool Publish();

 private:
  platform::Output output_;
};

}  // namespace blkmerge::testutil

#endif  // BLKMERGE_TESTS_TEMP_DIR_H_
