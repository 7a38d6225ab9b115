// A decimal number read digit by digit, rounded exactly to a float.
#ifndef BLKMERGE_DRIVER_DECIMAL_H_
#define BLKMERGE_DRIVER_DECIMAL_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace blkmerge {

// A decimal number gathered digit by digit in bounded memory, as
// 0.d1 d2 d3 ... × 10^power with d1 its first nonzero digit: the first
// kKeptDigits significant digits, whether any digit after them is nonzero
// (the sticky digit), and the power of ten.
//
// Why that rounds exactly. The float nearest to a value changes only at
// the midpoints between neighbouring floats, and at the midpoint above the
// largest float, where infinity begins. Each is n × 2^q with n odd,
// n < 2^25 and q >= -150, so it has at most 113 significant decimal
// digits: n × 5^150 < 2^25 × 5^150 < 10^113 for q < 0, and 39 digits
// for integers below 2^128. Let L be the value of the kept digits. When a
// dropped digit is nonzero, the value lies strictly between L and
// L + 10^(power - kKeptDigits), neighbours among the numbers of
// kKeptDigits digits in one decade. No midpoint lies strictly between two
// such neighbours, having fewer digits, so every value in between rounds
// to the same float, the kept digits followed by a 1 among them. When no
// dropped digit is nonzero, the value is L itself.
class Decimal {
 public:
  // At least the 113 digits above; a round number.
  static constexpr size_t kKeptDigits = 128;

  // Adds a digit ('0' to '9') of the mantissa, before or after the point.
  void AddDigit(int c, bool after_point);
  // Adds a digit of the exponent after the e; NegateExponent gives it a minus.
  void AddExponentDigit(int c) { exponent_ = std::min(exponent_ * 10 + (c - '0'), kSaturated); }
  void NegateExponent() { exponent_ = -exponent_; }

  // The nearest float, ties to even, with the sign: beyond the float range
  // infinity, below it zero.
  float ToFloat(bool negative) const;

 private:
  // Far beyond the float range, and beyond the digits any text can hold
  // (2^59 bytes), so that a saturated exponent decides the sum alone; ten
  // times it still fits.
  static constexpr int64_t kSaturated = int64_t{1} << 59;
  static int64_t Saturated(int64_t v) { return std::clamp(v, -kSaturated, kSaturated); }

  std::array<char, kKeptDigits> digits_{};
  size_t count_ = 0;
  bool sticky_ = false;
  int64_t power_ = 0;     // where the point stands
  int64_t exponent_ = 0;  // written after the e
};

}  // namespace blkmerge

#endif  // BLKMERGE_DRIVER_DECIMAL_H_
