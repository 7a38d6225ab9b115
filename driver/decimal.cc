#include "driver/decimal.h"

#include <charconv>
#include <limits>
#include <system_error>

namespace blkmerge {

void Decimal::AddDigit(int c, bool after_point) {
  if (count_ == 0 && c == '0') {  // a leading zero
    if (after_point) power_ = Saturated(power_ - 1);
    return;
  }
  if (!after_point) power_ = Saturated(power_ + 1);
  if (count_ < kKeptDigits) {
    digits_[count_++] = static_cast<char>(c);
  } else if (c != '0') {
    sticky_ = true;
  }
}

float Decimal::ToFloat(bool negative) const {
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  // The value lies in [10^(power - 1), 10^power).
  const int64_t power = power_ + exponent_;
  float magnitude = 0;
  if (count_ == 0) {
    magnitude = 0;
  } else if (power > 39) {  // at least 10^39, past 2^128
    magnitude = kInfinity;
  } else if (power >= -45) {  // else below 10^-46, under half the smallest float (2^-150)
    // The kept digits, the sticky digit, and the power of ten of the last.
    std::array<char, kKeptDigits + 8> text{};
    char* end = std::copy_n(digits_.begin(), count_, text.begin());
    if (sticky_) *end++ = '1';
    const int64_t last = power - (end - text.data());
    *end++ = 'e';
    end = std::to_chars(end, text.data() + text.size(), last).ptr;
    // Overflow and underflow are all that can fail; the text is well formed.
    if (std::from_chars(text.data(), end, magnitude).ec == std::errc::result_out_of_range) {
      magnitude = power > 0 ? kInfinity : 0;
    }
  }
  return negative ? -magnitude : magnitude;
}

}  // namespace blkmerge
