// Linked into the tools built with the fault seam: injects the faults that
// the environment lists (see faulty_tool.h) before main runs. A list it
// cannot read ends the process, so that no test runs a tool without the
// faults it asked for.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "platform/fault.h"
#include "tests/faulty_tool.h"

namespace blkmerge::testutil {
namespace {

using Op = platform::Fault::Op;

constexpr int kBadList = 125;

[[noreturn]] void Refuse(const std::string& line) {
  std::fprintf(stderr, "%s: cannot read the fault \"%s\"\n", kFaultsVariable, line.c_str());
  std::exit(kBadList);  // NOLINT(concurrency-mt-unsafe): before main, one thread
}

platform::Fault Parse(const std::string& line) {
  static const std::map<std::string, Op> kOps = {
      {"read", Op::kRead}, {"write", Op::kWrite}, {"close", Op::kClose}, {"rename", Op::kRename}};
  std::istringstream words(line);
  std::string op;
  platform::Fault fault;
  if (!(words >> op >> fault.offset >> fault.code) || !kOps.contains(op) || words.get() != ' ' ||
      !std::getline(words, fault.name) || fault.name.empty()) {
    Refuse(line);
  }
  fault.op = kOps.at(op);
  return fault;
}

bool InjectListed() {
  const char* list = std::getenv(kFaultsVariable);  // NOLINT(concurrency-mt-unsafe): one thread
  if (list == nullptr) return false;
  std::istringstream lines(list);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) platform::InjectFault(Parse(line));
  }
  return true;
}

[[maybe_unused]] const bool injected = InjectListed();

}  // namespace
}  // namespace blkmerge::testutil
