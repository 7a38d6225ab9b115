#include "driver/job_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/messages.h"
#include "tests/peak_memory.h"

namespace blkmerge {
namespace {

using namespace std::string_literals;  // texts with zero bytes in them

Failure Read(const std::string& text, Job& job) {
  std::istringstream in(text);
  return ReadJob(in, "job.txt", job);
}

// Reads a job whose fourth number is written as `number`, then `rest`.
Failure ReadNum4(const std::string& number, Job& job, const std::string& rest = " in al") {
  return Read("out.bin fix.bin 1 2 3 " + number + rest, job);
}

uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f); }

constexpr std::string_view kHead = "out.bin fix.bin 1 2 3 4";

// `count` pairs " in<i> al<i>".
std::string Pairs(size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += " in" + std::to_string(i) + " al" + std::to_string(i);
  return text;
}

std::string JobWithPairs(size_t count) { return std::string(kHead) + Pairs(count); }

TEST(ReadJob, TheExampleJob) {
  Job job;
  ASSERT_FALSE(Read("out.bin fix.bin 0.5 10 20 30 a.src first b.src second", job));
  EXPECT_EQ(job.merged_name, "out.bin");
  EXPECT_EQ(job.cons_fix_name, "fix.bin");
  EXPECT_EQ(job.numbers.num1, 0.5F);
  EXPECT_EQ(job.numbers.num2, 10.0F);
  EXPECT_EQ(job.numbers.num3, 20.0F);
  EXPECT_EQ(job.numbers.num4, 30.0F);
  ASSERT_EQ(job.pairs.size(), 2u);
  EXPECT_EQ(job.pairs[0].input, "a.src");
  EXPECT_EQ(job.pairs[0].alias, "first");
  EXPECT_EQ(job.pairs[1].input, "b.src");
  EXPECT_EQ(job.pairs[1].alias, "second");
}

TEST(ReadJob, MissingOutputNames) {
  Job job;
  for (const std::string text :
       {"", " \n\t ", "out.bin", "out.bin\n", "\x1A out.bin fix.bin", "out.bin\x1A fix.bin"}) {
    EXPECT_EQ(Read(text, job).kind, FailureKind::kNoOutputNames) << text;
  }
}

TEST(ReadJob, OutputNamesComparedByteForByte) {
  Job job;
  EXPECT_EQ(Read("out.bin out.bin 1 2 3 4", job).kind, FailureKind::kSameOutputNames);
  // Checked before the numbers are read.
  EXPECT_EQ(Read("out.bin out.bin", job).kind, FailureKind::kSameOutputNames);
  EXPECT_EQ(Read("out.bin Out.bin 1 2 3 4", job).kind, FailureKind::kNone);
  EXPECT_EQ(Read("out.bin ./out.bin 1 2 3 4", job).kind, FailureKind::kNone);
}

TEST(ReadJob, NumberForms) {
  struct Case {
    const char* text;
    float value;
  };
  for (const Case c : {Case{"5", 5.0F},
                       {"5.", 5.0F},
                       {".5", 0.5F},
                       {"-.5", -0.5F},
                       {"+5", 5.0F},
                       {"-5.25", -5.25F},
                       {"007.50", 7.5F},
                       {"1e5", 1e5F},
                       {"1E-3", 1e-3F},
                       {"2.5e+2", 250.0F},
                       {".5E1", 5.0F}}) {
    Job job;
    ASSERT_FALSE(ReadNum4(c.text, job)) << c.text;
    EXPECT_EQ(Bits(job.numbers.num4), Bits(c.value)) << c.text;
    ASSERT_EQ(job.pairs.size(), 1u) << c.text;
    EXPECT_EQ(job.pairs[0].input, "in") << c.text;
  }
  Job job;
  ASSERT_FALSE(ReadNum4("-0", job));
  EXPECT_EQ(Bits(job.numbers.num4), 0x80000000u);
}

TEST(ReadJob, MalformedNumbers) {
  for (const char* text : {"-", "+", ".", "-.", "+.e1", "e5", "1ex", "1e", "5.e", "5e+", "1e-x",
                           "inf", "-inf", "nan", "infinity", "abc", "\x1A 4"}) {
    Job job;
    EXPECT_EQ(ReadNum4(text, job).kind, FailureKind::kNoNumbers) << text;
  }
  Job job;
  EXPECT_EQ(Read("out.bin fix.bin 1 2 3", job).kind, FailureKind::kNoNumbers);
  EXPECT_EQ(Read("out.bin fix.bin 1 2 3\n", job).kind, FailureKind::kNoNumbers);
  EXPECT_EQ(Read("out.bin fix.bin", job).kind, FailureKind::kNoNumbers);
  EXPECT_EQ(Read("out.bin fix.bin 1 - 3 4", job).kind, FailureKind::kNoNumbers);
}

TEST(ReadJob, ByteThatStopsANumberStartsTheNextToken) {
  Job job;
  ASSERT_FALSE(ReadNum4("12abc", job, " first"));
  EXPECT_EQ(job.numbers.num4, 12.0F);
  ASSERT_EQ(job.pairs.size(), 1u);
  EXPECT_EQ(job.pairs[0].input, "abc");
  EXPECT_EQ(job.pairs[0].alias, "first");

  // No hexadecimal: 0x10 is the number 0 followed by the token x10.
  ASSERT_FALSE(ReadNum4("0x10", job, " first"));
  EXPECT_EQ(job.numbers.num4, 0.0F);
  ASSERT_EQ(job.pairs.size(), 1u);
  EXPECT_EQ(job.pairs[0].input, "x10");

  ASSERT_FALSE(ReadNum4("1.5.25", job, " first"));
  EXPECT_EQ(job.numbers.num4, 1.5F);
  ASSERT_EQ(job.pairs.size(), 1u);
  EXPECT_EQ(job.pairs[0].input, ".25");

  EXPECT_EQ(Read("out.bin fix.bin 1,2 3 4 5", job).kind, FailureKind::kNoNumbers);
}

TEST(ReadJob, NumbersRoundCorrectlyToFloat) {
  struct Case {
    const char* text;
    uint32_t bits;
  };
  for (const Case c : {
           // Just above the midpoint between 1 and the next float: up.
           Case{"1.00000005960464477539062500000000001", 0x3F800001u},
           // Exactly the midpoint, 1 + 2^-24: to the even neighbour, 1.
           Case{"1.000000059604644775390625", 0x3F800000u},
           // Exactly the midpoint 1 + 3·2^-24: to the even neighbour above.
           Case{"1.000000178813934326171875", 0x3F800002u},
           // Just below that midpoint. Rounded to double first it becomes
           // the midpoint and then rounds up: the right answer is down.
           Case{"1.000000178813934326171874999", 0x3F800001u},
           // Just above 1 + 2^-24 by less than a double's precision.
           Case{"1.0000000596046447753906250001", 0x3F800001u},
           {"0.1", 0x3DCCCCCDu},
           {"16777217", 0x4B800000u},  // 2^24 + 1, a tie: down to even
           {"16777219", 0x4B800002u},  // 2^24 + 3, a tie: up to even
       }) {
    Job job;
    ASSERT_FALSE(ReadNum4(c.text, job)) << c.text;
    EXPECT_EQ(Bits(job.numbers.num4), c.bits) << c.text;
  }
}

TEST(ReadJob, NumbersBeyondTheFloatRange) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* text;
    uint32_t bits;
  };
  for (const Case c : {
           Case{"1e39", Bits(kInf)},
           {"-1e39", Bits(-kInf)},
           {"1e99999999999999999999", Bits(kInf)},
           {"-1e99999999999999999999", Bits(-kInf)},
           {"0.000001e45", Bits(kInf)},
           {"3.4028235e38", 0x7F7FFFFFu},  // the largest float
           {"3.4028236e38", Bits(kInf)},   // past the midpoint to 2^128
           {"1e-50", 0x00000000u},
           {"-1e-50", 0x80000000u},
           {"1e-99999999999999999999", 0x00000000u},
           {"-1e-99999999999999999999", 0x80000000u},
           {"100000e-51", 0x00000000u},
           {"7e-46", 0x00000000u},    // below half the smallest float
           {"7.1e-46", 0x00000001u},  // above it: the smallest float
           {"1e-40", 0x000116C2u},    // subnormal, not zero
           {"0e99999999999999999999", 0x00000000u},
           {"-0.0e-99999999999999999999", 0x80000000u},
       }) {
    Job job;
    ASSERT_FALSE(ReadNum4(c.text, job)) << c.text;
    EXPECT_EQ(Bits(job.numbers.num4), c.bits) << c.text;
  }
}

std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (const std::string_view part : parts) text += part;
  return text;
}

// The bits of the fourth number when it is written as `parts`.
uint32_t Num4Bits(std::initializer_list<std::string_view> parts) {
  Job job;
  const std::string text = Cat(parts);
  EXPECT_FALSE(ReadNum4(text, job)) << text;
  return Bits(job.numbers.num4);
}

// `digits` (with a point) less one in its last nonzero digit, so that any
// digits after it keep it below what it was.
std::string LastDigitLess(std::string digits) {
  --digits[digits.find_last_of("123456789")];
  return digits;
}

// Exact decimal values at the edges: each midpoint as written, then just
// above and just below it by a digit far past the ones that can matter.
TEST(ReadJob, MidpointsAtTheEdgesOfTheRange) {
  struct Case {
    std::string midpoint;  // exact, with a point
    uint32_t below;        // the float below the midpoint
    uint32_t tie;          // where the midpoint itself goes: the even neighbour
    uint32_t above;
  };
  const uint32_t inf = Bits(std::numeric_limits<float>::infinity());
  for (const Case& c : {
           // 2^-150, between zero and the smallest float.
           Case{"7.0064923216240853546186479164495806564013097093825788587853414194489554134293"
                "0300743319094181060791015625e-46",
                0x00000000u, 0x00000000u, 0x00000001u},
           // 3 × 2^-150, between the two smallest floats.
           {"2.1019476964872256063855943749348741969203929128147736576356024258346866240287"
            "90902229957282543182373046875e-45",
            0x00000001u, 0x00000002u, 0x00000002u},
           // 2^-126 - 2^-150, between the largest subnormal and the smallest
           // normal float: 112 significant digits.
           {"1.1754942807573642917278829910357665133228589927589904276829631184250030649651"
            "730385585324256680905818939208984375e-38",
            0x007FFFFFu, 0x00800000u, 0x00800000u},
           // 2^128 - 2^103, between the largest float and infinity.
           {"340282356779733661637539395458142568448.", 0x7F7FFFFFu, inf, inf},
           // 1 + 2^-24 and 1 + 3 × 2^-24.
           {"1.000000059604644775390625", 0x3F800000u, 0x3F800000u, 0x3F800001u},
           {"1.000000178813934326171875", 0x3F800001u, 0x3F800002u, 0x3F800002u},
       }) {
    const size_t e = std::min(c.midpoint.find('e'), c.midpoint.size());
    const std::string digits = c.midpoint.substr(0, e);
    const std::string exponent = c.midpoint.substr(e);
    const std::string lower = LastDigitLess(digits);
    for (const size_t tail : {size_t{0}, size_t{1}, size_t{200}, size_t{10'000}}) {
      SCOPED_TRACE(c.midpoint.substr(0, 12) + " tail " + std::to_string(tail));
      const std::string nines(tail, '9');
      const std::string zeros(tail, '0');
      EXPECT_EQ(Num4Bits({lower, nines, exponent}), c.below);
      EXPECT_EQ(Num4Bits({digits, zeros, exponent}), c.tie);
      EXPECT_EQ(Num4Bits({digits, zeros, "1", exponent}), c.above);
      EXPECT_EQ(Num4Bits({"-", digits, zeros, "1", exponent}), c.above | 0x80000000u);
    }
  }
  Job job;
  // The largest float exactly, and 2^128 itself.
  ASSERT_FALSE(ReadNum4("340282346638528859811704183484516925440", job));
  EXPECT_EQ(Bits(job.numbers.num4), 0x7F7FFFFFu);
  ASSERT_FALSE(ReadNum4("3.40282366920938463463374607431768211456e38", job));
  EXPECT_EQ(Bits(job.numbers.num4), Bits(std::numeric_limits<float>::infinity()));
}

// The float the C library reads from `text`: glibc's strtof rounds
// exactly, and gives infinity and zero beyond the range.
float Strtof(const std::string& text) { return std::strtof(text.c_str(), nullptr); }

// The exact decimal value of `value`, "d.ddd...e-45": 121 significant
// digits hold every float midpoint exactly.
std::string ExactText(double value) {
  std::array<char, 160> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value,
                                    std::chars_format::scientific, 120);
  return {text.data(), result.ptr};
}

// Midpoints between random neighbouring floats, written exactly and then
// nudged by a digit up to some hundred places past the last that matters:
// to the even neighbour, up and down, as strtof and from_chars read them.
TEST(ReadJob, RandomMidpointsRoundExactly) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<uint32_t> finite(0, 0x7F7FFFFEu);
  std::uniform_int_distribution<size_t> tail_length(0, 300);
  // The smallest, the last subnormal, the first normal, the largest.
  constexpr std::array<uint32_t, 4> kEdges = {0u, 0x7FFFFFu, 0x800000u, 0x7F7FFFFEu};
  for (size_t i = 0; i < 3000; ++i) {
    const uint32_t low_bits = i < kEdges.size() ? kEdges[i] : finite(random);
    const float low = std::bit_cast<float>(low_bits);
    const float high = std::bit_cast<float>(low_bits + 1);
    const std::string exact = ExactText((double{low} + double{high}) / 2);
    const size_t e = exact.find('e');
    // Zeros past the last digit show that the text is exact.
    ASSERT_EQ(exact.substr(e - 7, 7), "0000000") << exact;
    const std::string digits = exact.substr(0, exact.find_last_not_of('0', e - 1) + 1);
    const std::string exponent = exact.substr(e);
    const std::string lower = LastDigitLess(digits);
    const std::string tail(tail_length(random), '0');
    const std::string sign = i % 2 == 0 ? "" : "-";
    const uint32_t sign_bit = i % 2 == 0 ? 0 : 0x80000000u;
    struct Variant {
      std::string text;
      uint32_t bits;
    };
    for (const Variant& v : {
             Variant{Cat({sign, digits, tail, exponent}),
                     (low_bits % 2 == 0 ? low_bits : low_bits + 1)},
             {Cat({sign, digits, tail, "1", exponent}), low_bits + 1},
             {Cat({sign, lower, std::string(tail.size(), '9'), exponent}), low_bits},
         }) {
      Job job;
      ASSERT_FALSE(ReadNum4(v.text, job)) << v.text;
      ASSERT_EQ(Bits(job.numbers.num4), v.bits | sign_bit) << v.text;
      ASSERT_EQ(Bits(Strtof(v.text)), v.bits | sign_bit) << v.text;
      // from_chars leaves a value that underflows to zero unset.
      float from_chars = 0;
      if (std::from_chars(v.text.data(), v.text.data() + v.text.size(), from_chars).ec ==
          std::errc()) {
        ASSERT_EQ(Bits(from_chars), v.bits | sign_bit) << v.text;
      }
    }
  }
}

// Random digits, a point anywhere and exponents around the float range,
// with leading zeros: read as strtof reads them.
TEST(ReadJob, RandomNumberTextsReadAsStrtofReadsThem) {
  std::mt19937 random(1208);
  std::uniform_int_distribution<int> digit('0', '9');
  std::uniform_int_distribution<size_t> length(1, 400);
  std::uniform_int_distribution<int> exponent(-480, 80);
  for (size_t i = 0; i < 5000; ++i) {
    std::string text(length(random), '0');
    for (char& c : text) c = static_cast<char>(digit(random));
    text.insert(std::uniform_int_distribution<size_t>(0, text.size())(random), ".");
    if (i % 3 == 0) text.insert(0, std::string(i % 50, '0'));
    if (i % 2 == 1) text.insert(0, "-");
    if (i % 5 != 0) text += "e" + std::to_string(exponent(random));
    Job job;
    ASSERT_FALSE(ReadNum4(text, job)) << text;
    ASSERT_EQ(Bits(job.numbers.num4), Bits(Strtof(text))) << text;
  }
}

TEST(ReadJob, LongNumberTexts) {
  Job job;
  // 1003 characters of which 1000 leading zeros.
  ASSERT_FALSE(ReadNum4(std::string(1000, '0') + "2.5", job));
  EXPECT_EQ(job.numbers.num4, 2.5F);
  // A midpoint decided by a digit 2000 places after the point.
  ASSERT_FALSE(ReadNum4("1.000000059604644775390625" + std::string(2000, '0') + "1", job));
  EXPECT_EQ(Bits(job.numbers.num4), 0x3F800001u);
  ASSERT_FALSE(ReadNum4("1.000000059604644775390625" + std::string(2000, '0'), job));
  EXPECT_EQ(Bits(job.numbers.num4), 0x3F800000u);

  struct Case {
    std::string text;
    uint32_t bits;
  };
  const std::string zeros(5000, '0');
  for (const Case& c : {
           Case{"1." + zeros, Bits(1.0F)},
           {"1." + std::string(10'000, '0') + "1", Bits(1.0F)},
           // The midpoint above 1, then 10,000 zeros and a 1: up.
           {"1.000000059604644775390625" + std::string(10'000, '0') + "1", 0x3F800001u},
           // Just below the midpoint for 10,000 digits: down.
           {"1.000000059604644775390624" + std::string(10'000, '9'), 0x3F800000u},
           // The point and the exponent far from the digits.
           {"1" + zeros + "e-5000", Bits(1.0F)},
           {"0." + zeros + "15e5001", Bits(1.5F)},
           {"-0." + zeros + "25E+5001", Bits(-2.5F)},
           {Cat({zeros, "12.", zeros}), Bits(12.0F)},
           {"1e" + zeros + "1", Bits(10.0F)},
           {"1e-" + zeros + "38", Bits(1e-38F)},
           {"7" + zeros, Bits(std::numeric_limits<float>::infinity())},
           {"-7" + zeros, Bits(-std::numeric_limits<float>::infinity())},
           {"0." + zeros + "7", 0x00000000u},
           {"-0." + zeros + "7", 0x80000000u},
           // Exponents past any count of digits saturate, and still decide.
           {"0." + zeros + "1e" + std::string(100, '9'),
            Bits(std::numeric_limits<float>::infinity())},
           {"1" + zeros + "e-" + std::string(100, '9'), 0x00000000u},
       }) {
    ASSERT_FALSE(ReadNum4(c.text, job)) << c.text.substr(0, 40);
    EXPECT_EQ(Bits(job.numbers.num4), c.bits) << c.text.substr(0, 40);
    ASSERT_EQ(job.pairs.size(), 1u);
    EXPECT_EQ(job.pairs[0].input, "in");
  }
  // A million digits, and a text of 50 MB in bounded memory below.
  ASSERT_FALSE(ReadNum4("1." + std::string(1'000'000, '5') + "e3", job));
  EXPECT_EQ(job.numbers.num4, 1555.5555555555555555F);
  ASSERT_FALSE(ReadNum4("-" + std::string(1'000'000, '0') + "1e-5", job));
  EXPECT_EQ(job.numbers.num4, -1e-5F);
}

TEST(ReadJob, WhiteSpaceAndLineEnds) {
  Job job;
  ASSERT_FALSE(Read("\r\n out.bin\tfix.bin\n1\v2\f3\r4 \t in\r\nal\r\n", job));
  EXPECT_EQ(job.merged_name, "out.bin");
  EXPECT_EQ(job.cons_fix_name, "fix.bin");
  EXPECT_EQ(job.numbers.num1, 1.0F);
  EXPECT_EQ(job.numbers.num4, 4.0F);
  ASSERT_EQ(job.pairs.size(), 1u);
  EXPECT_EQ(job.pairs[0].input, "in");
  EXPECT_EQ(job.pairs[0].alias, "al");

  // Other control bytes belong to tokens.
  ASSERT_FALSE(Read("o\x08ut f\x1B 1 2 3 4 \x7Fin \x01\x1F", job));
  EXPECT_EQ(job.merged_name, "o\x08ut");
  EXPECT_EQ(job.cons_fix_name, "f\x1B");
  ASSERT_EQ(job.pairs.size(), 1u);
  EXPECT_EQ(job.pairs[0].input, "\x7Fin");
  EXPECT_EQ(job.pairs[0].alias, "\x01\x1F");
}

TEST(ReadJob, LastAliasAtEndOfTextOrBeforeALineEnd) {
  Job at_end;
  Job before_line_end;
  ASSERT_FALSE(Read("out.bin fix.bin 1 2 3 4 a first b second", at_end));
  ASSERT_FALSE(Read("out.bin fix.bin 1 2 3 4 a first b second\n", before_line_end));
  ASSERT_EQ(at_end.pairs.size(), 2u);
  ASSERT_EQ(before_line_end.pairs.size(), 2u);
  EXPECT_EQ(at_end.pairs[1].alias, "second");
  EXPECT_EQ(before_line_end.pairs[1].alias, "second");
}

TEST(ReadJob, TextEndByteEndsTheText) {
  Job job;
  ASSERT_FALSE(Read("out.bin fix.bin 1 2 3 4 a first\x1A b second", job));
  ASSERT_EQ(job.pairs.size(), 1u);
  EXPECT_EQ(job.pairs[0].alias, "first");

  // Whatever follows 0x1A is not read, not even to be checked.
  ASSERT_FALSE(
      Read("out.bin fix.bin 1 2 3 4 a first \x1A out.bin x " + std::string(500, 'n'), job));
  EXPECT_EQ(job.pairs.size(), 1u);

  EXPECT_EQ(Read("out.bin fix.bin 1 2 3\x1A 4", job).kind, FailureKind::kNoNumbers);
}

TEST(ReadJob, ZeroByteEndsAName) {
  Job job;
  ASSERT_FALSE(Read("out.bin\0junk fix\0.bin 1 2 3 4 in\0put al\0\0ias\0"s, job));
  EXPECT_EQ(job.merged_name, "out.bin");
  EXPECT_EQ(job.cons_fix_name, "fix");
  ASSERT_EQ(job.pairs.size(), 1u);
  EXPECT_EQ(job.pairs[0].input, "in");
  EXPECT_EQ(job.pairs[0].alias, "al");

  // Only the bytes before the zero count towards the length limit.
  ASSERT_FALSE(Read(std::string(99, 'm') + "\0"s + std::string(200, 'x') + " fix 1 2 3 4", job));
  EXPECT_EQ(job.merged_name, std::string(99, 'm'));

  // Names compared as cut: "out.bin\0x" is the merged file.
  const Failure problem = Read("out.bin fix.bin 1 2 3 4 out.bin\0x al"s, job);
  EXPECT_EQ(problem.kind, FailureKind::kInputIsOutput);
  EXPECT_EQ(problem.message, message::InputIsOutput("out.bin"));
}

TEST(ReadJob, HighBytesBelongToTokens) {
  // 0x85 and 0xA0 are line or blank characters in some encodings; not here.
  Job job;
  ASSERT_FALSE(Read("\xE9t\xE9.bin \xFF\x80 1 2 3 4 in\x85put \xA0\xC3\xA9", job));
  EXPECT_EQ(job.merged_name, "\xE9t\xE9.bin");
  EXPECT_EQ(job.cons_fix_name, "\xFF\x80");
  ASSERT_EQ(job.pairs.size(), 1u);
  EXPECT_EQ(job.pairs[0].input, "in\x85put");
  EXPECT_EQ(job.pairs[0].alias, "\xA0\xC3\xA9");
}

TEST(ReadJob, NamesOfNinetyNineBytesFitOneHundredDoNot) {
  // Each of the four kinds of name in turn: merged, cons_fix, input, alias.
  for (size_t slot = 0; slot < 4; ++slot) {
    for (const size_t length : {size_t{99}, size_t{100}, size_t{5000}}) {
      std::vector<std::string> names = {"out.bin", "fix.bin", "in", "al"};
      names[slot] = std::string(length, static_cast<char>('a' + slot));
      Job job;
      const Failure problem =
          Read(names[0] + " " + names[1] + " 1 2 3 4 " + names[2] + " " + names[3], job);
      if (length == 99) {
        ASSERT_FALSE(problem) << slot;
        ASSERT_EQ(job.pairs.size(), 1u);
        EXPECT_EQ(std::vector<std::string>(
                      {job.merged_name, job.cons_fix_name, job.pairs[0].input, job.pairs[0].alias}),
                  names);
      } else {
        EXPECT_EQ(problem.kind, FailureKind::kNameTooLong) << slot << " " << length;
      }
    }
  }
}

TEST(ReadJob, OneHundredPairsFitTheHundredAndFirstDoesNot) {
  Job job;
  ASSERT_FALSE(Read(JobWithPairs(100), job));
  ASSERT_EQ(job.pairs.size(), 100u);
  EXPECT_EQ(job.pairs[99].input, "in99");
  EXPECT_EQ(job.pairs[99].alias, "al99");

  EXPECT_EQ(Read(JobWithPairs(101), job).kind, FailureKind::kTooManyPairs);
  EXPECT_EQ(Read(JobWithPairs(150), job).kind, FailureKind::kTooManyPairs);

  // A lone 101st input name is no pair: dropped like any lone name.
  ASSERT_FALSE(Read(JobWithPairs(100) + " in100", job));
  EXPECT_EQ(job.pairs.size(), 100u);
}

TEST(ReadJob, LoneInputNameAtTheEndIsCheckedThenDropped) {
  Job job;
  ASSERT_FALSE(Read("out.bin fix.bin 1 2 3 4 a first b\n", job));
  ASSERT_EQ(job.pairs.size(), 1u);
  EXPECT_EQ(job.pairs[0].input, "a");

  for (const char* output : {"out.bin", "fix.bin"}) {
    const Failure problem = Read("out.bin fix.bin 1 2 3 4 a first " + std::string(output), job);
    EXPECT_EQ(problem.kind, FailureKind::kInputIsOutput) << output;
    EXPECT_EQ(problem.message, message::InputIsOutput(output));
  }
  EXPECT_EQ(Read("out.bin fix.bin 1 2 3 4 a first " + std::string(100, 'b'), job).kind,
            FailureKind::kNameTooLong);
}

TEST(ReadJob, InputNamedLikeAnOutput) {
  Job job;
  Failure problem = Read(JobWithPairs(60) + " fix.bin x" + Pairs(3), job);
  EXPECT_EQ(problem.kind, FailureKind::kInputIsOutput);
  EXPECT_EQ(problem.message, message::InputIsOutput("fix.bin"));

  problem = Read("out.bin fix.bin 1 2 3 4 out.bin x", job);
  EXPECT_EQ(problem.kind, FailureKind::kInputIsOutput);
  EXPECT_EQ(problem.message, message::InputIsOutput("out.bin"));

  // Byte for byte: other spellings are left to the same-file check.
  EXPECT_FALSE(Read("out.bin fix.bin 1 2 3 4 Out.bin x ./fix.bin y", job));
  // An alias may be spelled like an output.
  EXPECT_FALSE(Read("out.bin fix.bin 1 2 3 4 a out.bin", job));
}

TEST(ReadJob, FirstProblemInReadingOrderWins) {
  Job job;
  // A too-long name before an input named like an output.
  EXPECT_EQ(Read("out.bin fix.bin 1 2 3 4 a " + std::string(100, 'x') + " out.bin y", job).kind,
            FailureKind::kNameTooLong);
  // An input named like an output before a too-long name.
  EXPECT_EQ(Read("out.bin fix.bin 1 2 3 4 out.bin " + std::string(100, 'x'), job).kind,
            FailureKind::kInputIsOutput);
  // Equal output names before a bad number, a bad number before long names.
  EXPECT_EQ(Read("o o x 2 3 4", job).kind, FailureKind::kSameOutputNames);
  EXPECT_EQ(Read("o f 1 2 3 x " + std::string(100, 'a') + " b", job).kind, FailureKind::kNoNumbers);
  // An input named like an output in pair 101 comes before the count.
  EXPECT_EQ(Read(JobWithPairs(100) + " out.bin x", job).kind, FailureKind::kInputIsOutput);
  // Too many pairs before the alias lengths, which are checked last.
  EXPECT_EQ(Read("out.bin fix.bin 1 2 3 4 in " + std::string(65, 'a') + Pairs(100), job).kind,
            FailureKind::kTooManyPairs);
  EXPECT_EQ(Read("out.bin fix.bin 1 2 3 4 in " + std::string(65, 'a') + " b c fix.bin", job).kind,
            FailureKind::kInputIsOutput);
}

TEST(ReadJob, AliasesMustFitTheirConsFixFields) {
  const std::string a64(64, 'f');
  const std::string a65(65, 'f');
  const std::string b76(76, 's');
  const std::string b77(77, 's');
  Job job;
  EXPECT_FALSE(Read("o f 1 2 3 4 in " + a64 + " in2 " + b76 + " in3 " + b76, job));

  Failure problem = Read("o f 1 2 3 4 in " + a65 + " in2 x", job);
  EXPECT_EQ(problem.kind, FailureKind::kAliasTooLong);
  EXPECT_EQ(problem.message, message::AliasTooLong(a65));

  problem = Read("o f 1 2 3 4 in x in2 y in3 " + b77, job);
  EXPECT_EQ(problem.kind, FailureKind::kAliasTooLong);
  EXPECT_EQ(problem.message, message::AliasTooLong(b77));

  // A later alias of 65 to 76 bytes is fine; only the first field is 64.
  EXPECT_FALSE(Read("o f 1 2 3 4 in x in2 " + a65, job));

  // The first offender in job order is named.
  problem = Read("o f 1 2 3 4 in x in2 " + b77 + " in3 " + std::string(80, 'z'), job);
  EXPECT_EQ(problem.message, message::AliasTooLong(b77));
  problem = Read("o f 1 2 3 4 in " + std::string(70, 'y') + " in2 " + b77, job);
  EXPECT_EQ(problem.message, message::AliasTooLong(std::string(70, 'y')));
}

TEST(ReadJob, AliasLengthOnlyMattersWithTwoPairsOrMore) {
  Job job;
  const std::string a99(99, 'a');
  ASSERT_FALSE(Read("o f 1 2 3 4 in " + a99, job));
  EXPECT_EQ(job.pairs[0].alias, a99);
  // A lone input name after it does not make a second pair.
  EXPECT_FALSE(Read("o f 1 2 3 4 in " + a99 + " in2", job));
  EXPECT_EQ(Read("o f 1 2 3 4 in " + a99 + " in2 x", job).kind, FailureKind::kAliasTooLong);
}

// Where each problem stands (line by line feed, column by byte, from 1)
// and what the reader found there.
TEST(ReadJob, ProblemsSayWhereAndWhatWasFound) {
  struct Case {
    std::string text;
    FailureKind error;
    uint64_t line;
    uint64_t column;
    std::string detail;
  };
  const std::string n150(150, 'n');
  const std::string shown = "\"" + std::string(40, 'n') + "\"...";
  std::string pairs = "o f 1 2 3 4\n";
  for (int i = 1; i <= 101; ++i)
    pairs += "in" + std::to_string(i) + " al" + std::to_string(i) + "\n";
  for (const Case& c : {
           Case{"", FailureKind::kNoOutputNames, 1, 1,
                "expected the merged file name, found the end of the file"},
           {"out.bin\r\n", FailureKind::kNoOutputNames, 2, 1,
            "expected the cons_fix file name, found the end of the file"},
           {"out.bin \x1A fix.bin", FailureKind::kNoOutputNames, 1, 9,
            "expected the cons_fix file name, found the byte 0x1A that ends the text"},
           {"out.bin\n  out.bin 1 2 3 4", FailureKind::kSameOutputNames, 2, 3,
            "the cons_fix file name \"out.bin\" is also the merged file name"},
           {n150 + " f", FailureKind::kNameTooLong, 1, 1,
            "the merged file name " + shown + " is 150 bytes long, over the limit of 99"},
           {"o\n" + n150 + "\0tail"s, FailureKind::kNameTooLong, 2, 1,
            "the cons_fix file name " + shown + " is 150 bytes long, over the limit of 99"},
           {"o f 1ex 2 3 4", FailureKind::kNoNumbers, 1, 5,
            "num1: expected a number, found \"1ex\""},
           // The number before took the 2 of 2O.
           {"o f\r\n0.5 2O 20 30", FailureKind::kNoNumbers, 2, 5,
            "num3: expected a number, found \"2O\" (num2 took \"2\")"},
           {"o f 1 2 3", FailureKind::kNoNumbers, 1, 10,
            "num4: expected a number, found the end of the file"},
           {"o f 1 2\n3\x1A 4", FailureKind::kNoNumbers, 2, 2,
            "num4: expected a number, found the byte 0x1A that ends the text"},
           {"o f 1 2 - 4", FailureKind::kNoNumbers, 1, 9, "num3: expected a number, found \"-\""},
           {"o f 1 2 3 \"\\\x01\x7F\xC3\xA9", FailureKind::kNoNumbers, 1, 11,
            "num4: expected a number, found \"\\\"\\\\\\x01\\x7F\xC3\xA9\""},
           {"o f 1 2 3 " + std::string(1000, '1') + "ex", FailureKind::kNoNumbers, 1, 11,
            "num4: expected a number, found \"" + std::string(40, '1') + "\"..."},
           {"o f 1 2 " + std::string(1000, '1') + ".x 4", FailureKind::kNoNumbers, 1, 9,
            "num4: expected a number, found \"" + std::string(40, '1') + "\"... (num3 took \"" +
                std::string(40, '1') + "\"...)"},
           // Columns count bytes: é is two.
           {"\xC3\xA9 f 1 2 3 x", FailureKind::kNoNumbers, 1, 12,
            "num4: expected a number, found \"x\""},
           {"o f 1 2 3 4\na.src " + n150, FailureKind::kNameTooLong, 2, 7,
            "the alias of pair 1 " + shown + " is 150 bytes long, over the limit of 99"},
           {"o f 1 2 3 4\na x\n\t" + n150, FailureKind::kNameTooLong, 3, 2,
            "the input name of pair 2 " + shown + " is 150 bytes long, over the limit of 99"},
           {"o f 1 2 3 4\na x\nf y", FailureKind::kInputIsOutput, 3, 1,
            "the input name of pair 2 \"f\" is the cons_fix file name"},
           {"o f 1 2 3 4 o", FailureKind::kInputIsOutput, 1, 13,
            "the input name of pair 1 \"o\" is the merged file name"},
           {pairs, FailureKind::kTooManyPairs, 102, 1,
            "pair 101 (\"in101\" \"al101\") is over the limit of 100 pairs"},
           {"o f 1 2 3 4\nin " + std::string(65, 'a') + "\nin2 x", FailureKind::kAliasTooLong, 2, 4,
            "the alias of pair 1 \"" + std::string(65, 'a') +
                "\" is 65 bytes long, its cons_fix field holds 64"},
           {"o f 1 2 3 4 a x b y\n  c " + std::string(77, 'z'), FailureKind::kAliasTooLong, 2, 5,
            "the alias of pair 3 \"" + std::string(77, 'z') +
                "\" is 77 bytes long, its cons_fix field holds 76"},
       }) {
    SCOPED_TRACE(c.text.substr(0, 40));
    Job job;
    const Failure problem = Read(c.text, job);
    EXPECT_EQ(problem.kind, c.error);
    EXPECT_EQ(problem.detail, "job.txt:" + std::to_string(c.line) + ":" + std::to_string(c.column) +
                                  ": " + c.detail);
  }
}

// What the job is read as stays what it was; the warnings say where the
// text is probably not what its writer meant.
TEST(ReadJob, WarningsSayWhereAndWhat) {
  struct Case {
    std::string text;
    std::string merged_name;  // as read
    FailureKind error;
    std::vector<std::string> warnings;  // after "job.txt:"
  };
  const std::string lone =
      " at the end of the job has no alias, and is ignored (an alias "
      "forgotten earlier shifts every later pair by one)";
  const std::string utf16 = "1:1: warning: the job file looks like UTF-16 (";
  const std::string bytes = "); it is read byte by byte, and a zero byte ends a name";
  const std::string mark = utf16 + "it starts with the byte order mark ";
  const std::string zeros = utf16 + "a zero byte every other byte at its start" + bytes;
  const std::vector<Case> cases = {
      Case{"o f 1 2 3 4 a x", "o", FailureKind::kNone, {}},
      {"o f 1 2 3 4 a x\n b\n",
       "o",
       FailureKind::kNone,
       {"2:2: warning: the input name \"b\"" + lone}},
      // Checked, and warned of, before the aliases are.
      {"o f 1 2 3 4 in " + std::string(65, 'a') + " in2 x in3",
       "o",
       FailureKind::kAliasTooLong,
       {"1:88: warning: the input name \"in3\"" + lone}},
      {"\xEF\xBB\xBFo f 1 2 3 4 a x",
       "\xEF\xBB\xBFo",
       FailureKind::kNone,
       {"1:1: warning: the job file starts with a UTF-8 byte order mark (EF BB BF), which is "
        "read as the first 3 bytes of the merged file name"}},
      // Not at the start, or not whole: no mark.
      {" \xEF\xBB\xBFo f 1 2 3 4", "\xEF\xBB\xBFo", FailureKind::kNone, {}},
      {"\xEF\xBBo f 1 2 3 4", "\xEF\xBBo", FailureKind::kNone, {}},
      {"\xFF\xFEo\0 \0f\0 \0"s, "\xFF\xFEo", FailureKind::kNoNumbers, {mark + "FF FE" + bytes}},
      {"\xFE\xFF\0o\0 \0f"s, "\xFE\xFF", FailureKind::kNoNumbers, {mark + "FE FF" + bytes}},
      {"o\0u\0t\0 \0f\0 \0"s, "o", FailureKind::kNoNumbers, {zeros}},
      {"\0o\0u\0t\0 \0f"s, "", FailureKind::kSameOutputNames, {zeros}},
      // A zero byte that ends a name is no sign of UTF-16.
      {"o\0x f\0y 1 2 3 4"s, "o", FailureKind::kNone, {}},
      {"o\0"s, "o", FailureKind::kNoOutputNames, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Job job;
    EXPECT_EQ(Read(c.text, job).kind, c.error);
    EXPECT_EQ(job.merged_name, c.merged_name);
    std::vector<std::string> warnings;
    for (const std::string& w : c.warnings) warnings.push_back("job.txt:" + w);
    EXPECT_EQ(job.warnings, warnings);
  }
}

TEST(Printable, QuotesOnlyNamesThatNeedIt) {
  for (const auto& [name, shown] : std::initializer_list<std::pair<std::string, std::string>>{
           {"in01.src", "in01.src"},
           {"dir/a b\\c \"d\" \xC3\xA9", "dir/a b\\c \"d\" \xC3\xA9"},
           {"", "\"\""},
           {"\"q.src", "\"\\\"q.src\""},
           {"a\x1B[31m\n\x7F\\.src", "\"a\\x1B[31m\\x0A\\x7F\\\\.src\""},
           {"\0"s, "\"\\x00\""},
       }) {
    EXPECT_EQ(Printable(name), shown);
  }
  EXPECT_EQ(Place("j\nob.txt", {.line = 2, .column = 5}), "\"j\\x0Aob.txt\":2:5: ");
}

// Serves `head`, then `count` copies of `fill`, then `tail`, a piece at a
// time, so that a text of any length never sits in memory.
class GeneratedText : public std::streambuf {
 public:
  GeneratedText(std::string head, char fill, uint64_t count, std::string tail)
      : pieces_{std::move(head), std::move(tail)}, left_(count) {
    std::fill(chunk_.begin(), chunk_.end(), fill);
  }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    for (;;) {
      if (step_ == 0 || step_ == 2) {
        std::string& piece = pieces_[static_cast<size_t>(step_ / 2)];
        ++step_;
        if (piece.empty()) continue;
        setg(piece.data(), piece.data(), piece.data() + piece.size());
      } else if (step_ == 1 && left_ > 0) {
        const auto n = static_cast<size_t>(std::min<uint64_t>(left_, chunk_.size()));
        left_ -= n;
        setg(chunk_.data(), chunk_.data(), chunk_.data() + n);
      } else if (step_ == 1) {
        ++step_;
        continue;
      } else {
        return traits_type::eof();
      }
      return traits_type::to_int_type(*gptr());
    }
  }

 private:
  std::array<std::string, 2> pieces_;
  std::array<char, 1 << 16> chunk_;
  uint64_t left_;
  int step_ = 0;  // 0 head, 1 filler, 2 tail, 3 done
};

Failure ReadGenerated(std::string head, char fill, uint64_t count, std::string tail, Job& job) {
  GeneratedText text(std::move(head), fill, count, std::move(tail));
  std::istream in(&text);
  return ReadJob(in, "job.txt", job);
}

using testutil::PeakKilobytes;

constexpr uint64_t k50MB = 50'000'000;

TEST(ReadJob, MemoryStaysBoundedOverLongTexts) {
  const long before = PeakKilobytes();
  Job job;
  ASSERT_FALSE(ReadGenerated("", ' ', k50MB, "\nout.bin fix.bin 1 2 3 4 a first", job));
  ASSERT_EQ(job.pairs.size(), 1u);
  EXPECT_EQ(job.pairs[0].alias, "first");

  ASSERT_FALSE(ReadGenerated("out.bin fix.bin 1 2 3 4 a first\n", '\n', k50MB, "b second", job));
  ASSERT_EQ(job.pairs.size(), 2u);
  EXPECT_EQ(job.pairs[1].alias, "second");

  // A number of 50 million digits: read, and far past the float range.
  ASSERT_FALSE(ReadGenerated("out.bin fix.bin 1 2 3 ", '7', k50MB, " a first", job));
  EXPECT_EQ(job.numbers.num4, std::numeric_limits<float>::infinity());
  EXPECT_EQ(ReadGenerated("out.bin fix.bin 1 2 3 4 a ", 'x', k50MB, "", job).kind,
            FailureKind::kNameTooLong);
  // 50 MB in a name after its zero byte: read and ignored.
  ASSERT_FALSE(ReadGenerated("out.bin fix.bin 1 2 3 4 a b"s + '\0', 'x', k50MB, " c d", job));
  ASSERT_EQ(job.pairs.size(), 2u);
  EXPECT_EQ(job.pairs[0].alias, "b");
  EXPECT_EQ(job.pairs[1].input, "c");

  EXPECT_LT(PeakKilobytes() - before, 8 * 1024) << "kilobytes";
}

}  // namespace
}  // namespace blkmerge
