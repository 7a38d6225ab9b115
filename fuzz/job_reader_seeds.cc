// seeds_job_reader DIR: job texts that reach every branch of the reader.
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"

namespace blkmerge::fuzz {
namespace {

std::vector<std::string> JobTexts() {
  const std::string front = "out.bin fix.bin\n0.5 10 20 30\n";
  std::string many = front;
  for (int i = 0; i < 101; ++i) many += "in" + std::to_string(i) + " a" + std::to_string(i) + "\n";
  return {
      front + "a.src first\nb.src second\na.src Third\n",
      "out.bin fix.bin\r\n-1.5e-3 +2. .5 1E+39\r\na.src first\r\n",
      front + "a.src first\nlone.src",
      front + "a.src first\x1A b.src second",
      "out.bin fix.bin 1 2 3 12abc x",
      std::string("out") + '\0' + "tail.bin fix.bin 1 2 3 4 a.src b",
      std::string("out.bin fix.bin 1 2 3 4 ") + '\0' + "x.src first",
      "out.bin out.bin 1 2 3 4",
      "out.bin fix.bin 1 2 3",
      "out.bin fix.bin - . 1ex 5.e",
      "out.bin fix.bin 1 2 3 4 out.bin x",
      "out.bin fix.bin 1 2 3 4 " + std::string(100, 'n') + " x",
      front + "a.src " + std::string(65, 'f') + "\nb.src " + std::string(77, 's'),
      "out.bin fix.bin 0." + std::string(1200, '0') + "1 1e-46 3.4028235e38 -0",
      "out.bin fix.bin 1.000000059604644775390625" + std::string(300, '0') + "1 2e" +
          std::string(40, '9') + " 3 4",
      "out.bin fix.bin 1 2O 3 4",
      "out.bin fix.bin 1 2 " + std::string(200, '1') + ".x 4",
      many,
      "out.bin",
      "",
  };
}

}  // namespace
}  // namespace blkmerge::fuzz

int main(int argc, char** argv) {
  using namespace blkmerge;
  return fuzz::SeedsMain(argc, argv, [](const std::string& dir) {
    const auto texts = fuzz::JobTexts();
    for (size_t i = 0; i < texts.size(); ++i) {
      if (!fixture::WriteFile(dir + "/job" + std::to_string(i), fuzz::BytesOf(texts[i]))) {
        return false;
      }
    }
    return true;
  });
}
