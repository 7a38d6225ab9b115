#include "consfix/cons_fix.h"

#include <array>

#include "merge/coding.h"

namespace blkmerge {
namespace {

void PadTo(size_t mark, size_t start, std::vector<uint8_t>& out) {
  if (out.size() - start < mark) out.resize(start + mark, 0);
}

void AppendOne(std::vector<uint8_t>& out) {
  std::array<uint8_t, kWordSize> one;
  StoreLEFloat(one.data(), 1.0F);
  out.insert(out.end(), one.begin(), one.end());
}

void AppendName(std::string_view name, std::vector<uint8_t>& out) {
  out.insert(out.end(), name.begin(), name.end());
}

}  // namespace

void AppendConsFixRecord(std::string_view first, std::string_view alias,
                         std::vector<uint8_t>& out) {
  // Padding only ever fills up to the next mark, so an overlong name shifts
  // the rest of the record rather than being cut.
  const size_t start = out.size();
  AppendName(first, out);
  PadTo(cons_fix::kFirstAliasField, start, out);
  AppendName(alias, out);
  for (uint64_t i = 0; i < cons_fix::kMatrixSide; ++i) {
    PadTo(cons_fix::MatrixEntry(i, i), start, out);
    AppendOne(out);
  }
}

std::vector<uint8_t> ConsFixRecords(std::span<const std::string_view> aliases) {
  std::vector<uint8_t> out;
  for (size_t k = 1; k < aliases.size(); ++k) AppendConsFixRecord(aliases[0], aliases[k], out);
  return out;
}

}  // namespace blkmerge
