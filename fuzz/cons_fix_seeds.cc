// seeds_cons_fix DIR: pair tables (aliases ended by zero bytes) with names
// that fit their fields, fill them exactly and overrun them.
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"

namespace blkmerge::fuzz {
namespace {

std::string Table(const std::vector<std::string>& aliases) {
  std::string table;
  for (const std::string& alias : aliases) table += alias + '\0';
  return table;
}

std::vector<std::string> Tables() {
  std::vector<std::string> hundred;
  hundred.reserve(100);
  for (int i = 0; i < 100; ++i) hundred.push_back("alias" + std::to_string(i));
  return {
      Table({"first"}),
      Table({"first", "second", "third"}),
      Table({std::string(64, 'f'), "second"}),
      Table({"first", std::string(76, 's'), std::string(77, 't')}),
      Table({std::string(99, 'f'), std::string(99, 's')}),
      Table({std::string(63, 'f'), std::string(75, 's'), std::string(65, 'x')}),
      Table(hundred),
  };
}

}  // namespace
}  // namespace blkmerge::fuzz

int main(int argc, char** argv) {
  using namespace blkmerge;
  return fuzz::SeedsMain(argc, argv, [](const std::string& dir) {
    const auto tables = fuzz::Tables();
    for (size_t i = 0; i < tables.size(); ++i) {
      if (!fixture::WriteFile(dir + "/table" + std::to_string(i), fuzz::BytesOf(tables[i]))) {
        return false;
      }
    }
    return true;
  });
}
