// Running the built tool on files in a temporary directory.
#ifndef BLKMERGE_TESTS_E2E_UTIL_H_
#define BLKMERGE_TESTS_E2E_UTIL_H_

#include <string>

#include "tests/temp_dir.h"

namespace blkmerge::e2e {

struct Result {
  int status = -1;     // exit status, or -1 when the tool did not exit normally
  std::string output;  // standard output
  std::string error;   // standard error
};

using testutil::TempDir;

// True in a build under AddressSanitizer, which needs more address space
// than any tight limit leaves.
constexpr bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
  return __has_feature(address_sanitizer);
#else
  return false;
#endif
}

// Runs `command` (a shell command line) in `dir` and captures its standard
// output and standard error.
Result RunIn(const TempDir& dir, const std::string& command);

// Runs the built tool in `dir` with the given argument words (shell-quoted
// by the caller where they need it). A run still going after a minute is
// killed and gives the status 124.
Result Blkmerge(const TempDir& dir, const std::string& args);

// Each line of `error` with the prefix "blkmerge: " made "blkinspect: ":
// what blkinspect says where it says what blkmerge says.
std::string AsInspector(const std::string& error);

}  // namespace blkmerge::e2e

#endif  // BLKMERGE_TESTS_E2E_UTIL_H_
