#include "driver/job_reader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <streambuf>
#include <string_view>
#include <utility>

#include "consfix/cons_fix.h"
#include "driver/messages.h"

namespace blkmerge {
namespace {

using message::job::Role;

constexpr int kEndOfText = -1;
constexpr int kTextEnd = 0x1A;

bool IsSpace(int c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

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

  // Adds a digit of the mantissa, before or after the point.
  void AddDigit(int c, bool after_point) {
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

  void AddExponentDigit(int c) { exponent_ = std::min(exponent_ * 10 + (c - '0'), kSaturated); }
  void NegateExponent() { exponent_ = -exponent_; }

  // The nearest float, ties to even, with the sign: beyond the float range
  // infinity, below it zero.
  float ToFloat(bool negative) const {
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

// A token read as a name.
struct NameToken {
  bool read = false;    // false at the end of the text
  TextPosition where;   // of the token, or of the end of the text
  uint64_t length = 0;  // of the name, held cut to kMaxNameLength bytes
  bool too_long() const { return length > kMaxNameLength; }
};

// The job file as a sequence of bytes, ending at the end of the file or at
// the first 0x1A. Knows where it stands and, for the details of a problem,
// the token the last number read stands in.
class JobText {
 public:
  explicit JobText(std::streambuf* buf) : buf_(buf) {}

  int Peek() {
    if (buf_ == nullptr) return kEndOfText;
    const int c = buf_->sgetc();
    if (c == std::char_traits<char>::eof() || c == kTextEnd) return kEndOfText;
    return static_cast<unsigned char>(c);
  }
  void Take() {
    if (buf_->sbumpc() == '\n') {
      ++next_.line;
      next_.column = 1;
    } else {
      ++next_.column;
    }
  }
  void SkipSpace() {
    while (IsSpace(Peek())) Take();
  }

  // Where the next byte stands.
  TextPosition where() const { return next_; }

  // "the end of the file", or of the text at a byte 0x1A.
  std::string EndOfText() {
    return message::job::EndOfText(buf_ != nullptr && buf_->sgetc() == kTextEnd);
  }

  // Reads the next token; the name is the token up to its first zero byte.
  NameToken ReadName(std::string& name) {
    name.clear();
    SkipSpace();
    NameToken token{.read = Peek() != kEndOfText, .where = next_};
    bool ended = false;
    for (int c = Peek(); c != kEndOfText && !IsSpace(c); c = Peek()) {
      Take();
      ended = ended || c == 0;
      if (ended) continue;
      if (name.size() < kMaxNameLength) name.push_back(static_cast<char>(c));
      ++token.length;
    }
    return token;
  }

  // Starts a number where the reading stands, and returns how many bytes of
  // its token the number before took: nonzero when that number stopped
  // inside the token ("2O").
  uint64_t StartNumber() {
    SkipSpace();
    if (next_ != token_end_) {
      token_where_ = next_;
      token_.clear();
      token_length_ = 0;
    }
    return token_length_;
  }

  // Reads a decimal number from where StartNumber left:
  // [sign] digits [. digits] [e|E [sign] digits], with at least one
  // mantissa digit; never gives back a byte it took.
  bool ReadNumber(float& value) {
    const bool read = ReadNumberText(value);
    token_end_ = next_;
    return read;
  }

  // The token a failed number stopped in, taken to its end: where it
  // starts, its first bytes and its length.
  struct Token {
    TextPosition where;
    std::string_view start;
    uint64_t length;
  };
  Token FinishToken() {
    while (Peek() != kEndOfText && !IsSpace(Peek())) TakeIntoToken();
    return {token_where_, token_, token_length_};
  }

 private:
  bool ReadNumberText(float& value) {
    const bool negative = Peek() == '-';
    if (negative || Peek() == '+') TakeIntoToken();
    Decimal decimal;
    bool has_digit = false;
    auto take_digits = [&](bool after_point) {
      for (int c = Peek(); IsDigit(c); c = Peek()) {
        decimal.AddDigit(c, after_point);
        has_digit = true;
        TakeIntoToken();
      }
    };
    take_digits(false);
    if (Peek() == '.') {
      TakeIntoToken();
      take_digits(true);
    }
    if (!has_digit) return false;
    if (Peek() == 'e' || Peek() == 'E') {
      TakeIntoToken();
      const bool negative_exponent = Peek() == '-';
      if (negative_exponent || Peek() == '+') TakeIntoToken();
      if (!IsDigit(Peek())) return false;
      for (int c = Peek(); IsDigit(c); c = Peek()) {
        decimal.AddExponentDigit(c);
        TakeIntoToken();
      }
      if (negative_exponent) decimal.NegateExponent();
    }
    value = decimal.ToFloat(negative);
    return true;
  }

  void TakeIntoToken() {
    if (token_length_ < message::job::kShownBytes) token_.push_back(static_cast<char>(Peek()));
    ++token_length_;
    Take();
  }

  std::streambuf* buf_;
  TextPosition next_;  // of the next byte
  // The token of the last number: where it starts and ends, its first
  // kShownBytes bytes and its length.
  TextPosition token_where_;
  TextPosition token_end_{.line = 0};  // no place: the first number starts a token
  std::string token_;
  uint64_t token_length_ = 0;
};

JobProblem Problem(JobError error, TextPosition where, std::string detail, std::string name = {}) {
  return {.error = error, .name = std::move(name), .where = where, .detail = std::move(detail)};
}

JobProblem NameTooLong(Role role, size_t pair, std::string_view name, const NameToken& token) {
  const std::string_view start = name.substr(0, message::job::kShownBytes);
  return Problem(JobError::kNameTooLong, token.where,
                 message::job::NameTooLong(role, pair, start, token.length));
}

}  // namespace

JobProblem ReadJob(std::istream& stream, Job& job) {
  namespace detail = message::job;
  job = Job{};
  JobText text(stream.rdbuf());

  TextPosition cons_fix_where;
  for (const Role role : {Role::kMergedName, Role::kConsFixName}) {
    std::string& name = role == Role::kMergedName ? job.merged_name : job.cons_fix_name;
    const NameToken token = text.ReadName(name);
    if (!token.read) {
      return Problem(JobError::kNoOutputNames, token.where,
                     detail::NoOutputName(role, text.EndOfText()));
    }
    if (token.too_long()) return NameTooLong(role, 0, name, token);
    cons_fix_where = token.where;
  }
  if (job.merged_name == job.cons_fix_name) {
    return Problem(JobError::kSameOutputNames, cons_fix_where,
                   detail::SameOutputNames(job.cons_fix_name));
  }

  const std::array numbers = {&job.numbers.num1, &job.numbers.num2, &job.numbers.num3,
                              &job.numbers.num4};
  for (size_t i = 0; i < numbers.size(); ++i) {
    const uint64_t taken = text.StartNumber();
    if (text.ReadNumber(*numbers[i])) continue;
    const JobText::Token token = text.FinishToken();
    if (token.length == taken) {  // the text ends where the number should be
      return Problem(JobError::kNoNumbers, text.where(),
                     detail::NotANumber(i + 1, text.EndOfText(), ""));
    }
    const std::string found = detail::Token(token.start, token.length);
    const std::string before = taken == 0 ? "" : detail::Token(token.start.substr(0, taken), taken);
    return Problem(JobError::kNoNumbers, token.where, detail::NotANumber(i + 1, found, before));
  }

  Pair pair;
  std::array<TextPosition, kMaxPairs> alias_where;
  for (;;) {
    const size_t number = job.pairs.size() + 1;  // of the pair being read
    const NameToken input = text.ReadName(pair.input);
    if (!input.read) break;
    if (input.too_long()) return NameTooLong(Role::kInputName, number, pair.input, input);
    for (const Role output : {Role::kMergedName, Role::kConsFixName}) {
      if (pair.input == (output == Role::kMergedName ? job.merged_name : job.cons_fix_name)) {
        return Problem(JobError::kInputIsOutput, input.where,
                       detail::InputIsOutput(number, pair.input, output), pair.input);
      }
    }
    const NameToken alias = text.ReadName(pair.alias);
    if (!alias.read) break;  // a lone input name is dropped
    if (alias.too_long()) return NameTooLong(Role::kAlias, number, pair.alias, alias);
    if (job.pairs.size() == kMaxPairs) {
      return Problem(JobError::kTooManyPairs, input.where, detail::TooManyPairs(number, pair));
    }
    alias_where[job.pairs.size()] = alias.where;
    job.pairs.push_back(pair);
  }

  // Aliases must fit their cons_fix fields, or the records would not be of
  // fixed size. With fewer than two pairs no record is written.
  if (job.pairs.size() >= 2) {
    for (size_t i = 0; i < job.pairs.size(); ++i) {
      const std::string& alias = job.pairs[i].alias;
      const size_t field = i == 0 ? cons_fix::kFirstAliasField : cons_fix::kAliasField;
      if (alias.size() > field) {
        return Problem(JobError::kAliasTooLong, alias_where[i],
                       detail::AliasTooLong(i + 1, alias, field), alias);
      }
    }
  }
  return {};
}

}  // namespace blkmerge
