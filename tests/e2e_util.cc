#include "tests/e2e_util.h"

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace blkmerge::e2e {

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "blkmerge-e2e-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const std::string& text) const {
  Write(name, fixture::Bytes(text.begin(), text.end()));
}

void TempDir::Write(const std::string& name, const fixture::Bytes& bytes) const {
  if (!fixture::WriteFile(*this / name, bytes)) throw std::runtime_error("cannot write " + name);
}

fixture::Bytes TempDir::Read(const std::string& name) const {
  return fixture::ReadFile(*this / name);
}

bool TempDir::Exists(const std::string& name) const {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(*this / name, ignored));
}

std::vector<std::string> TempDir::Files() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

Result RunIn(const TempDir& dir, const std::string& command) {
  // Standard error goes to a file beside the directory, not in it, so that
  // the directory holds only what the command made.
  const std::string error_file = dir.path() + ".stderr";
  const std::string line = "{ cd '" + dir.path() + "' && " + command + "; } 2>'" + error_file + "'";
  FILE* pipe = popen(line.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("popen failed");
  Result result;
  std::array<char, 4096> buffer;
  size_t n = 0;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    result.output.append(buffer.data(), n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const fixture::Bytes error = fixture::ReadFile(error_file);
  result.error.assign(error.begin(), error.end());
  std::filesystem::remove(error_file);
  return result;
}

Result Blkmerge(const TempDir& dir, const std::string& args) {
  // A tool that hangs fails its test instead of stalling the whole suite.
  return RunIn(dir, std::string("timeout 60 '") + BLKMERGE_BINARY + "' " + args);
}

}  // namespace blkmerge::e2e
