#include "merge/name_hash.h"

#include <gtest/gtest.h>

namespace blkmerge {
namespace {

TEST(NameHashTable, TellingEntries) {
  EXPECT_EQ(kNameHashTable[0], 0x00000000u);
  EXPECT_EQ(kNameHashTable[1], 0x09073096u);
  EXPECT_EQ(kNameHashTable[2], 0x120E612Cu);
  EXPECT_EQ(kNameHashTable[64], 0xF6DC4190u);
  EXPECT_EQ(kNameHashTable[128], 0xEDB88320u);
  EXPECT_EQ(kNameHashTable[255], 0x0702EF8Du);
}

TEST(NameHashTable, LowBitsMatchPublishedTableTopBitsDiffer) {
  // The published CRC-32 entries at 64 and 255.
  EXPECT_EQ(kNameHashTable[64] & 0x00FFFFFFu, 0x76DC4190u & 0x00FFFFFFu);
  EXPECT_EQ(kNameHashTable[64] ^ 0x76DC4190u, 0x80000000u);
  EXPECT_EQ(kNameHashTable[255] & 0x00FFFFFFu, 0x2D02EF8Du & 0x00FFFFFFu);
  EXPECT_NE(kNameHashTable[255], 0x2D02EF8Du);
}

TEST(NameHash, WorkedValues) {
  EXPECT_EQ(NameHash(""), 0x00000000u);
  EXPECT_EQ(NameHash("abc"), 0xEBB055C2u);
  EXPECT_EQ(NameHash("a"), 0xFCB7BE43u);
  EXPECT_NE(NameHash("abc"), 0x352441C2u);  // not the published CRC-32
}

TEST(NameHash, FoldsOnlyAsciiCapitals) {
  EXPECT_EQ(NameHash("ABC"), 0xEBB055C2u);
  EXPECT_EQ(NameHash("Hello_World.01"), NameHash("hELLO_wORLD.01"));
  EXPECT_EQ(NameHash("Hello_World.01"), 0x1D3BD5F4u);
  // '@' and '[' sit either side of A-Z and are not folded.
  EXPECT_NE(NameHash("@"), NameHash("`"));
  EXPECT_NE(NameHash("["), NameHash("{"));
}

TEST(NameHash, HighBytesUsedUnchanged) {
  EXPECT_EQ(NameHash("\x80"), 0x15BA6CADu);
  EXPECT_EQ(NameHash("\xFF\xC4\xE9"), 0xEBCBA569u);
  EXPECT_EQ(NameHash("\xC3\x84rger"), 0x05C1EC5Fu);
  // 0xC4 and 0xE4 are a capital and small letter in Latin-1: not folded.
  EXPECT_NE(NameHash("\xC4"), NameHash("\xE4"));
}

TEST(NameHash, TableIsCompileTime) {
  static_assert(kNameHashTable[128] == 0xEDB88320u);
  static_assert(kNameHashTable[1] == 0x09073096u);
}

}  // namespace
}  // namespace blkmerge
