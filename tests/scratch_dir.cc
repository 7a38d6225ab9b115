#include "tests/scratch_dir.h"

#include <random>
#include <stdexcept>
#include <system_error>

namespace blkmerge::testutil {

ScratchDir::ScratchDir() {
  std::random_device random;
  std::error_code error;
  const auto base = std::filesystem::temp_directory_path(error);
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = base / ("blkmerge-" + std::to_string(random()));
    if (std::filesystem::create_directory(path_, error)) return;
  }
  throw std::runtime_error("cannot make a scratch directory");
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::At(std::string_view file) const {
  const std::u8string name = (path_ / "").u8string();
  return std::string(name.begin(), name.end()).append(file);
}

}  // namespace blkmerge::testutil
