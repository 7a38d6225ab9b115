#include "merge/block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "merge/coding.h"
#include "merge/name_hash.h"
#include "tests/fixture.h"

namespace blkmerge {
namespace {

using fixture::Bytes;

const Numbers kNumbers{0.5F, 10.0F, 20.0F, 30.0F};

// The block `input` becomes; `malformation`, where given, is set to how
// the input departs from a well-formed one.
Bytes Rewrite(const Bytes& input, std::string_view alias, RewriteStatus expect = RewriteStatus::kOk,
              std::string* malformation = nullptr) {
  MemorySource in(input);
  MemorySink out;
  EXPECT_EQ(RewriteInput(in, alias, kNumbers, out, nullptr, malformation), expect);
  return out.bytes();
}

uint32_t Word(const Bytes& b, uint64_t offset) { return fixture::GetLE32(b, offset); }

Bytes Slice(const Bytes& b, uint64_t from, uint64_t length) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
               b.begin() + static_cast<std::ptrdiff_t>(from + length));
}

TEST(MergedHeader, IsVersAndTwo) {
  MemorySink out;
  ASSERT_TRUE(WriteMergedHeader(out));
  EXPECT_EQ(out.bytes(), (Bytes{'v', 'e', 'r', 's', 0x00, 0x00, 0x00, 0x40}));
}

// N = 1, M = 1, K = 2: Ltail = 144, Ltable = 64, so P = 200, Q = 168, D = 32.
TEST(RewriteInput, WorkedExampleByteForByte) {
  Bytes in = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 7, .extra = 30});
  ASSERT_EQ(in.size(), 250u);
  ASSERT_EQ(Word(in, 88), 144u);
  ASSERT_EQ(Word(in, 104), 64u);
  ASSERT_EQ(Word(in, 148), 1u);
  const uint32_t h = NameHash("first");
  ASSERT_EQ(h, 0xEA27E8ACu);

  const Bytes b = Rewrite(in, "first");
  ASSERT_EQ(b.size(), 196u);
  EXPECT_EQ(Word(b, 0), h);
  EXPECT_EQ(Slice(b, 4, 40), Slice(in, 12, 40));
  EXPECT_EQ(Slice(b, 44, 4), (Bytes{0x8C, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Slice(b, 48, 12), Slice(in, 56, 12));
  EXPECT_EQ(Slice(b, 60, 16), (Bytes{0x00, 0x00, 0x20, 0x41,     // num2 = 10
                                     0x00, 0x00, 0xA0, 0x41,     // num3 = 20
                                     0x00, 0x00, 0xF0, 0x41,     // num4 = 30
                                     0x00, 0x00, 0x00, 0x3F}));  // num1 = 0.5
  EXPECT_EQ(b[76], in[84]);
  EXPECT_EQ(Slice(b, 77, 3), (Bytes{0x8C, 0x00, 0x00}));
  EXPECT_EQ(Word(b, 80), 112u);
  EXPECT_EQ(Slice(b, 84, 12), Slice(in, 92, 12));
  EXPECT_EQ(Word(b, 96), 32u);
  EXPECT_EQ(Word(b, 100), h);
  EXPECT_EQ(Slice(b, 104, 24), Slice(in, 112, 24));
  for (uint64_t e = 0; e < 2; ++e) {
    EXPECT_EQ(Slice(b, 128 + 16 * e, 12), Slice(in, 168 + 16 * e, 12));
    EXPECT_EQ(Word(b, 140 + 16 * e), h);
  }
  EXPECT_EQ(Word(b, 160), 0u);
  EXPECT_EQ(Slice(b, 164, 4), (Bytes{0xC0, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Slice(b, 168, 12), Slice(in, 208, 12));
  EXPECT_EQ(Slice(b, 180, 16), (Bytes{0x00, 0x00, 0x00, 0x3F, 0x37, 0x13, 0x42, 0x00, 'h', 'p', 'i',
                                      'd', 0x00, 0x00, 0x00, 0x00}));
  // The offsets land where they should: 48 + 140 = 188 ("hpid"),
  // 48 + 112 = 160 (first tail word), 96 + 32 = 128, 160 - 64 = 96.
  EXPECT_EQ(std::memcmp(&b[48 + 140], "hpid", 4), 0);
}

TEST(RewriteInput, IgnoresFirstEightBytesAndAllAfterTail) {
  Bytes in = fixture::MakeInput({.n = 2, .m = 3, .k = 4, .seed = 1, .extra = 64});
  const Bytes before = Rewrite(in, "x");
  for (uint64_t i = 0; i < 8; ++i) in[i] ^= 0xFF;
  for (uint64_t i = fixture::TailOffset({.n = 2, .m = 3, .k = 4}) + 20; i < in.size(); ++i)
    in[i] ^= 0xFF;
  EXPECT_EQ(Rewrite(in, "x"), before);
}

TEST(RewriteInput, MatchesBlockTableForManyShapes) {
  for (int32_t n : {0, 1, 5}) {
    for (int32_t m : {0, 1, 7}) {
      for (int32_t k : {0, 1, 3, 5000}) {
        const Bytes in = fixture::MakeInput({.n = n, .m = m, .k = k, .seed = 3, .extra = 5});
        std::string malformation = "unset";
        const Bytes b = Rewrite(in, "Alias", RewriteStatus::kOk, &malformation);
        SCOPED_TRACE(testing::Message() << "N=" << n << " M=" << m << " K=" << k);
        EXPECT_EQ(malformation, "");
        ASSERT_EQ(b.size(), 148u + 16u * static_cast<uint32_t>(n + k));
        EXPECT_EQ(b, fixture::ExpectedBlock(in, "Alias", kNumbers));
        // Self-consistency of a well-formed block.
        EXPECT_EQ(Word(b, 96), 16u + 16u * static_cast<uint32_t>(n));
        EXPECT_EQ(Word(b, 80), 64u + 16u * static_cast<uint32_t>(n + k));
        EXPECT_EQ(Word(b, 44), Word(b, 80) + 28);
        EXPECT_EQ(std::memcmp(&b[48 + Word(b, 44)], "hpid", 4), 0);
      }
    }
  }
}

TEST(RewriteInput, EdgeCases) {
  // M = 0: only the sub-header is dropped, D = 16.
  Bytes in = fixture::MakeInput({.n = 1, .m = 0, .k = 1, .seed = 2});
  Bytes b = Rewrite(in, "a");
  EXPECT_EQ(Word(b, 96), Word(in, 104) - 16);
  EXPECT_EQ(b, fixture::ExpectedBlock(in, "a", kNumbers));

  // N = 0: block offset 96 holds 16.
  in = fixture::MakeInput({.n = 0, .m = 2, .k = 1, .seed = 2});
  EXPECT_EQ(Word(Rewrite(in, "a"), 96), 16u);

  // P = Q: empty second table, tail words read at Q.
  in = fixture::MakeInput({.n = 1, .m = 1, .k = 0, .seed = 2});
  b = Rewrite(in, "a");
  EXPECT_EQ(b.size(), 148u + 16u);
  EXPECT_EQ(b, fixture::ExpectedBlock(in, "a", kNumbers));
}

TEST(RewriteInput, RemainderOfPMinusQRoundsTowardZero) {
  // P − Q = 16·2 + 7: K = 2; the tail comes from Q + 32, while the words at
  // 44, 77, 80 and the back offset use P.
  Bytes in = fixture::MakeInput({.n = 1, .m = 1, .k = 3, .seed = 4});
  fixture::SetLtail(in, 144 + 7);  // P = 207, Q = 168
  const Bytes b = Rewrite(in, "a");
  ASSERT_EQ(b.size(), 148u + 16u * 3u);
  EXPECT_EQ(Word(b, 44), 207u - 32u - 28u);
  EXPECT_EQ(Word(b, 80), 151u - 32u);
  EXPECT_EQ(Word(b, 112 + 16 + 32 + 4), static_cast<uint32_t>(104 + 32 - 207));
  EXPECT_EQ(Slice(b, 112 + 16 + 32 + 8, 12), Slice(in, 168 + 32 + 8, 12));
  EXPECT_EQ(b, fixture::ExpectedBlock(in, "a", kNumbers));

  // P before Q: K is negative, the second table empty, the tail read at Q.
  fixture::SetLtail(in, 100);  // P = 156 < Q = 168, K = 0 (−12 / 16)
  EXPECT_EQ(Rewrite(in, "a"), fixture::ExpectedBlock(in, "a", kNumbers));
  fixture::SetLtail(in, 0);  // P = 56, K = −7
  EXPECT_EQ(Rewrite(in, "a").size(), 148u + 16u);
}

TEST(RewriteInput, SaysWhichRelationOfAWellFormedInputFails) {
  // N = 1, M = 1, K = 2: Q = 168, P = 200, D = 32; the dropped section
  // runs from 136 to Q.
  const Bytes good = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 5});
  const std::string dropped = "the dropped section from offset 136 to Q = 168 is 32 bytes, not ";
  struct Case {
    void (*change)(Bytes&);
    std::string how;
  };
  for (const Case& c : {
           Case{[](Bytes& b) { fixture::SetLtail(b, 152 - 56); },
                "the tail at P = 152 lies before the second table at Q = 168"},
           {[](Bytes& b) { fixture::SetLtail(b, 204 - 56); }, "P - Q = 36 is not a multiple of 16"},
           {[](Bytes& b) { fixture::SetM(b, 2); }, dropped + "D = 48 with M = 2"},
           {[](Bytes& b) { fixture::SetM(b, -1); }, dropped + "D = 0 with M = -1"},
           // Two at once, and the last byte of a 32-bit D.
           {[](Bytes& b) {
              fixture::SetLtail(b, 150 - 56);
              fixture::SetM(b, 0x7FFFFFFF);
            },
            "the tail at P = 150 lies before the second table at Q = 168; P - Q = -18 is not a "
            "multiple of 16; " +
                dropped + "D = 0 with M = 2147483647"},
       }) {
    Bytes in = good;
    c.change(in);
    std::string malformation;
    // Rewritten all the same, as the block table says.
    EXPECT_EQ(Rewrite(in, "a", RewriteStatus::kOk, &malformation),
              fixture::ExpectedBlock(in, "a", kNumbers));
    EXPECT_EQ(malformation, c.how);
  }
}

TEST(StampSecondTable, LastWordOfEachWholeEntry) {
  Bytes table(40, 0xAA);  // two whole entries and half of a third
  StampSecondTable(table, 0x04030201);
  Bytes want(40, 0xAA);
  for (const size_t at : {size_t{12}, size_t{28}}) {
    want[at] = 1;
    want[at + 1] = 2;
    want[at + 2] = 3;
    want[at + 3] = 4;
  }
  EXPECT_EQ(table, want);
}

TEST(RewriteInput, HashStandsTwoPlusKTimes) {
  const Bytes in = fixture::MakeInput({.n = 2, .m = 1, .k = 3, .seed = 9});
  const Bytes one = Rewrite(in, "one");
  const Bytes two = Rewrite(in, "two");
  ASSERT_EQ(one.size(), two.size());
  std::vector<uint64_t> differing;
  for (uint64_t i = 0; i < one.size(); i += 4) {
    if (Word(one, i) != Word(two, i)) differing.push_back(i);
  }
  const uint64_t table2 = 112 + 32;
  EXPECT_EQ(differing, (std::vector<uint64_t>{0, 100, table2 + 12, table2 + 28, table2 + 44}));
}

TEST(RewriteInput, WrapsThirtyTwoBitArithmetic) {
  // M = 0x7FFFFFFF: D = 16·M + 16 wraps to 0 in 32 bits.
  Bytes in = fixture::MakeInput({.n = 1, .m = 1, .k = 1, .seed = 5});
  fixture::SetM(in, 0x7FFFFFFF);
  const Bytes b = Rewrite(in, "a");
  EXPECT_EQ(Word(b, 96), Word(in, 104));
  EXPECT_EQ(b, fixture::ExpectedBlock(in, "a", kNumbers));
  fixture::SetM(in, -1);  // D = 0 as well
  EXPECT_EQ(Rewrite(in, "a"), fixture::ExpectedBlock(in, "a", kNumbers));
  fixture::SetM(in, static_cast<int32_t>(0x80000000u));  // D = 16
  EXPECT_EQ(Rewrite(in, "a"), fixture::ExpectedBlock(in, "a", kNumbers));
}

TEST(RewriteInput, RefusesReadsOutsideTheInput) {
  const fixture::Shape shape{.n = 2, .m = 1, .k = 2, .seed = 6};
  const Bytes good = fixture::MakeInput(shape);
  const uint64_t needed = fixture::TailOffset(shape) + 20;
  // Every truncation short of the tail's end is refused, with nothing written.
  for (uint64_t size = 0; size < needed; ++size) {
    const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_TRUE(Rewrite(cut, "a", RewriteStatus::kDamaged).empty()) << size;
  }
  auto refused = [&good](auto&& breakIt) {
    Bytes in = good;
    breakIt(in);
    return Rewrite(in, "a", RewriteStatus::kDamaged).empty();
  };
  EXPECT_TRUE(refused([](Bytes& b) { fixture::SetN(b, -1); }));
  EXPECT_TRUE(refused([](Bytes& b) { fixture::SetN(b, 0x7FFFFFFF); }));
  EXPECT_TRUE(refused([](Bytes& b) { fixture::SetN(b, 1000); }));
  EXPECT_TRUE(refused([](Bytes& b) { fixture::SetLtable(b, -105); }));        // Q = −1
  EXPECT_TRUE(refused([](Bytes& b) { fixture::SetLtable(b, 0x7FFFFFFF); }));  // Q wraps negative
  EXPECT_TRUE(refused([&](Bytes& b) {                                         // Q just past the end
    fixture::SetLtable(b, static_cast<int32_t>(b.size()) - 103);
  }));
  EXPECT_TRUE(refused([](Bytes& b) { fixture::SetLtail(b, 0x7FFFFFFF); }));  // K huge
  EXPECT_TRUE(refused([](Bytes& b) { fixture::SetLtail(b, 100000); }));
}

TEST(RewriteInput, QAtEndOfFileIsRefusedOnlyForTheMissingTail) {
  // With K ≤ 0 the tail words are read at Q: Q may be anywhere that leaves
  // 20 bytes.
  Bytes in = fixture::MakeInput({.n = 0, .m = 0, .k = 0, .seed = 8, .extra = 0});
  ASSERT_EQ(in.size(), 156u);
  fixture::SetLtable(in, 156 - 20 - 104);  // Q = 136, the real tail
  EXPECT_EQ(Rewrite(in, "a"), fixture::ExpectedBlock(in, "a", kNumbers));
  fixture::SetLtable(in, 156 - 19 - 104);
  fixture::SetLtail(in, 156 - 19 - 56);  // P = Q, K = 0
  EXPECT_TRUE(Rewrite(in, "a", RewriteStatus::kDamaged).empty());
}

// What the check says fell outside: the part, where it starts, how long it
// is; the file's size, as every problem carries it.
struct Outside {
  InputPart part;
  int64_t offset;
  uint64_t length;
  int32_t count = 0;
};

void ExpectOutside(const Bytes& in, const Outside& want) {
  MemorySource source(in);
  InputHead head;
  const auto problem = ReadInputHead(source, head);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->kind, InputProblem::Kind::kOutside);
  EXPECT_EQ(problem->part, want.part);
  EXPECT_EQ(problem->offset, want.offset);
  EXPECT_EQ(problem->length, want.length);
  EXPECT_EQ(problem->count, want.count);
  EXPECT_EQ(problem->size, in.size());
  // RewriteInput says the same.
  MemorySink sink;
  InputProblem said;
  EXPECT_EQ(RewriteInput(source, "a", kNumbers, sink, &said), RewriteStatus::kDamaged);
  EXPECT_EQ(said.part, want.part);
  EXPECT_EQ(said.offset, want.offset);
}

TEST(ReadInputHead, SaysWhichPartFallsOutside) {
  const fixture::Shape shape{.n = 2, .m = 1, .k = 2, .seed = 6};
  const Bytes good = fixture::MakeInput(shape);  // Q = 184, P = 216, 236 bytes
  ASSERT_EQ(good.size(), 236u);
  auto broken = [&good](auto&& breakIt) {
    Bytes in = good;
    breakIt(in);
    return in;
  };
  ExpectOutside(Bytes(good.begin(), good.begin() + 119), {InputPart::kFrontPart, 0, 120});
  ExpectOutside(broken([](Bytes& b) { fixture::SetN(b, -3); }),
                {InputPart::kFirstTable, 120, 0, -3});
  ExpectOutside(broken([](Bytes& b) { fixture::SetN(b, 7); }),
                {InputPart::kDroppedCount, 132 + 16 * 7, 4});
  ExpectOutside(broken([](Bytes& b) { fixture::SetLtable(b, -105); }),
                {InputPart::kSecondTable, -1, uint64_t{16} * 13});  // K = (216 + 1) / 16
  ExpectOutside(broken([](Bytes& b) { fixture::SetLtable(b, 5000 - 104); }),
                {InputPart::kSecondTable, 5000, 0});  // K negative: an empty table
  ExpectOutside(broken([](Bytes& b) { fixture::SetLtail(b, 216 - 56 + 16); }),
                {InputPart::kTail, 232, 20});  // K = 3: the table fits, its tail not
  ExpectOutside(broken([](Bytes& b) { fixture::SetLtail(b, 216 - 56 + 32); }),
                {InputPart::kSecondTable, 184, 64});
  ExpectOutside(Bytes(good.begin(), good.end() - 1), {InputPart::kTail, 216, 20});
  // A well-formed input passes, with its layout.
  MemorySource source(good);
  InputHead head;
  EXPECT_FALSE(ReadInputHead(source, head));
  EXPECT_EQ(head.layout.q, 184);
  EXPECT_EQ(head.layout.k, 2);
}

}  // namespace
}  // namespace blkmerge
