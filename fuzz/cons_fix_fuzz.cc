// The cons_fix records for any pair table within the job's limits: one
// record per pair after the first, laid out as the padding rule places it,
// 176 bytes whenever the aliases fit their fields.
//
// The fuzz input is the table's aliases, each ended by a zero byte; names
// are cut to the job's 99 bytes and the table to its 100 pairs.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "consfix/cons_fix.h"
#include "driver/job.h"
#include "fuzz/fuzz_util.h"

namespace blkmerge {
namespace {

std::vector<Pair> PairTable(const uint8_t* data, size_t size) {
  std::vector<Pair> pairs;
  const auto* text = reinterpret_cast<const char*>(data);
  size_t start = 0;
  while (start < size && pairs.size() < kMaxPairs) {
    const auto* zero = static_cast<const char*>(std::memchr(text + start, 0, size - start));
    const size_t end = zero == nullptr ? size : static_cast<size_t>(zero - text);
    const size_t length = std::min(end - start, kMaxNameLength);
    pairs.push_back(Pair{"input", std::string(text + start, length), {}});
    start = end + 1;
  }
  return pairs;
}

// The record for `first` and `alias` from the closed form of the padding
// rule: with s = max(64, |first|) + |alias|, the three 1.0 start at
// max(s, 140), max(s + 4, 156) and max(s + 8, 172); zero bytes elsewhere.
fixture::Bytes ExpectedRecord(const std::string& first, const std::string& alias) {
  const size_t second_at = std::max<size_t>(64, first.size());
  const size_t s = second_at + alias.size();
  const std::array<size_t, 3> ones = {std::max<size_t>(s, 140), std::max<size_t>(s + 4, 156),
                                      std::max<size_t>(s + 8, 172)};
  fixture::Bytes record(ones[2] + 4, 0);
  std::copy(first.begin(), first.end(), record.begin());
  std::copy(alias.begin(), alias.end(), record.begin() + static_cast<std::ptrdiff_t>(second_at));
  for (const size_t at : ones) {
    const uint8_t one[] = {0x00, 0x00, 0x80, 0x3F};
    std::copy(one, one + 4, record.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return record;
}

}  // namespace
}  // namespace blkmerge

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace blkmerge;
  Job job;
  job.pairs = PairTable(data, size);
  const std::vector<Pair>& pairs = job.pairs;
  const std::vector<uint8_t> records = ConsFixRecords(job.Aliases());
  if (pairs.size() < 2) {
    FUZZ_CHECK(records.empty());
    return 0;
  }
  bool fits = pairs[0].alias.size() <= cons_fix::kFirstAliasField;
  fixture::Bytes expected;
  for (size_t k = 1; k < pairs.size(); ++k) {
    fits = fits && pairs[k].alias.size() <= cons_fix::kAliasField;
    const fixture::Bytes record = ExpectedRecord(pairs[0].alias, pairs[k].alias);
    expected.insert(expected.end(), record.begin(), record.end());
  }
  if (fits) FUZZ_CHECK(records.size() == (pairs.size() - 1) * cons_fix::kRecordSize);
  FUZZ_CHECK(records == expected);
  return 0;
}
