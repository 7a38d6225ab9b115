#include "consfix/cons_fix.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/fixture.h"

namespace blkmerge {
namespace {

using fixture::Bytes;

const Bytes kOne = {0x00, 0x00, 0x80, 0x3F};

std::vector<std::string_view> Aliases(std::initializer_list<std::string_view> aliases) {
  return aliases;
}

// Checks one 176-byte record: names zero-padded in their fields, then the
// identity matrix.
void ExpectRecord(const uint8_t* r, const std::string& first, const std::string& alias) {
  EXPECT_EQ(Bytes(r, r + 176), fixture::ConsFixRecord(first, alias));
}

TEST(ConsFix, NoRecordForNoneOrOnePair) {
  EXPECT_TRUE(ConsFixRecords({}).empty());
  EXPECT_TRUE(ConsFixRecords(Aliases({"only"})).empty());
}

TEST(ConsFix, ThreePairsGiveTwoRecordsNamingTheFirst) {
  const Bytes out = ConsFixRecords(Aliases({"first", "second", "third"}));
  ASSERT_EQ(out.size(), 2u * 176u);
  ExpectRecord(out.data(), "first", "second");
  ExpectRecord(out.data() + 176, "first", "third");
}

TEST(ConsFix, NamesThatFillTheirFieldsExactly) {
  const std::string first(64, 'f');
  const std::string second(76, 's');
  const Bytes out = ConsFixRecords(Aliases({first, second}));
  ASSERT_EQ(out.size(), 176u);
  ExpectRecord(out.data(), first, second);
  EXPECT_EQ(out[63], 'f');
  EXPECT_EQ(out[64], 's');
  EXPECT_EQ(out[139], 's');
}

TEST(ConsFix, OverlongAliasShiftsUntilAMarkAbsorbsIt) {
  // A 77-byte second alias: the first 1.0 moves to 141, the zero run after
  // it is one byte shorter, the record stays 176 bytes.
  std::vector<uint8_t> r;
  AppendConsFixRecord("a", std::string(77, 'b'), r);
  ASSERT_EQ(r.size(), 176u);
  EXPECT_EQ(Bytes(r.begin() + 141, r.begin() + 145), kOne);
  EXPECT_EQ(Bytes(r.begin() + 145, r.begin() + 156), Bytes(11, 0));
  EXPECT_EQ(Bytes(r.begin() + 156, r.begin() + 160), kOne);
  EXPECT_EQ(Bytes(r.begin() + 172, r.begin() + 176), kOne);
}

TEST(ConsFix, TwoNinetyNineByteAliasesLeaveNoPadding) {
  const std::string first(99, 'x');
  const std::string second(99, 'y');
  std::vector<uint8_t> r;
  AppendConsFixRecord(first, second, r);
  ASSERT_EQ(r.size(), 210u);
  EXPECT_EQ(std::string(r.begin(), r.begin() + 99), first);
  EXPECT_EQ(std::string(r.begin() + 99, r.begin() + 198), second);
  for (const size_t at : {size_t{198}, size_t{202}, size_t{206}}) {
    EXPECT_EQ(Bytes(r.begin() + static_cast<std::ptrdiff_t>(at),
                    r.begin() + static_cast<std::ptrdiff_t>(at) + 4),
              kOne)
        << at;
  }
}

}  // namespace
}  // namespace blkmerge
