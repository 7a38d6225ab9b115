#include "tests/temp_dir.h"

#include <algorithm>
#include <random>
#include <stdexcept>
#include <system_error>

namespace blkmerge::testutil {

TempDir::TempDir() {
  std::random_device random;
  std::error_code error;
  const auto base = std::filesystem::temp_directory_path(error);
  // A name that exists already is never taken over, whoever made it.
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = base / ("blkmerge-" + std::to_string(random()));
    if (std::filesystem::create_directory(path_, error)) return;
  }
  throw std::runtime_error("cannot make a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::At(std::string_view file) const {
  const std::u8string name = (path_ / "").u8string();
  return std::string(name.begin(), name.end()).append(file);
}

void TempDir::Write(std::string_view file, std::string_view text) const {
  Write(file, fixture::Bytes(text.begin(), text.end()));
}

void TempDir::Write(std::string_view file, const fixture::Bytes& bytes) const {
  if (!fixture::WriteFile(At(file), bytes)) {
    throw std::runtime_error("cannot write " + std::string(file));
  }
}

fixture::Bytes TempDir::Read(std::string_view file) const { return fixture::ReadFile(At(file)); }

bool TempDir::Exists(std::string_view file) const {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path_ / file, ignored));
}

std::vector<std::string> TempDir::Files() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::ranges::sort(names);
  return names;
}

TestOutput::TestOutput(std::string_view name) : output_(platform::Output::Find(name)) {
  if (output_.found() && output_.Open()) output_.Empty();
}

bool TestOutput::Publish() {
  platform::Output* const outputs[] = {&output_};
  platform::FileError error;
  return (!output_.file().is_open() || output_.Close()) && platform::Publish(outputs, error) < 0;
}

}  // namespace blkmerge::testutil
