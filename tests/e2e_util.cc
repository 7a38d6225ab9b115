#include "tests/e2e_util.h"

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace blkmerge::e2e {

Result RunIn(const TempDir& dir, const std::string& command) {
  // Standard error goes to a file beside the directory, not in it, so that
  // the directory holds only what the command made.
  const std::string error_file = dir.path().string() + ".stderr";
  const std::string line =
      "{ cd '" + dir.path().string() + "' && " + command + "; } 2>'" + error_file + "'";
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

std::string AsInspector(const std::string& error) {
  std::string out;
  for (size_t at = 0; at < error.size();) {
    const size_t end = std::min(error.find('\n', at), error.size() - 1) + 1;
    const std::string line = error.substr(at, end - at);
    out += line.starts_with("blkmerge: ") ? "blkinspect: " + line.substr(10) : line;
    at = end;
  }
  return out;
}

}  // namespace blkmerge::e2e
