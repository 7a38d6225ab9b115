// seeds_rewrite DIR: well-formed inputs from the fixture builder, and the
// same inputs broken in the ways the rewrite must notice or put up with.
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"

namespace blkmerge::fuzz {
namespace {

using fixture::Bytes;

std::vector<Bytes> Inputs() {
  std::vector<Bytes> inputs;
  for (const fixture::Shape& shape :
       {fixture::Shape{.n = 1, .m = 1, .k = 2, .seed = 1},
        fixture::Shape{.n = 0, .m = 0, .k = 0, .seed = 2},
        fixture::Shape{.n = 3, .m = 0, .k = 4, .seed = 3, .extra = 16},
        fixture::Shape{.n = 0, .m = 2, .k = 1, .seed = 4},
        fixture::Shape{.n = 2, .m = 5, .k = 0, .seed = 5, .extra = 3}}) {
    inputs.push_back(fixture::MakeInput(shape));
  }
  const Bytes good = inputs.front();
  auto broken = [&inputs, &good](auto change) {
    Bytes b = good;
    change(b);
    inputs.push_back(b);
  };
  broken([](Bytes& b) { fixture::SetN(b, -1); });
  broken([](Bytes& b) { fixture::SetN(b, 0x7FFFFFFF); });
  broken([](Bytes& b) { fixture::SetM(b, -1); });
  broken([](Bytes& b) { fixture::SetM(b, 0x7FFFFFFF); });
  broken([](Bytes& b) { fixture::SetLtable(b, static_cast<int32_t>(0x80000000u)); });
  broken([](Bytes& b) { fixture::SetLtable(b, 0x7FFFFFFF); });
  broken([](Bytes& b) { fixture::SetLtail(b, -1); });
  broken([](Bytes& b) { fixture::SetLtail(b, 144 + 8); });  // P − Q not a multiple of 16
  broken([](Bytes& b) { fixture::SetLtail(b, 100); });      // P before Q
  broken([](Bytes& b) { b.resize(219); });                  // the tail cut short
  broken([](Bytes& b) { b.resize(119); });                  // not even the front part
  return inputs;
}

}  // namespace
}  // namespace blkmerge::fuzz

int main(int argc, char** argv) {
  using namespace blkmerge;
  return fuzz::SeedsMain(argc, argv, [](const std::string& dir) {
    const auto inputs = fuzz::Inputs();
    for (size_t i = 0; i < inputs.size(); ++i) {
      if (!fixture::WriteFile(dir + "/input" + std::to_string(i), inputs[i])) return false;
    }
    return true;
  });
}
