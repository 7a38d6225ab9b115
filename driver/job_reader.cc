#include "driver/job_reader.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <streambuf>

#include "consfix/cons_fix.h"

namespace blkmerge {
namespace {

constexpr int kEndOfText = -1;
constexpr int kTextEnd = 0x1A;

bool IsSpace(int c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// The job file as a sequence of bytes, ending at the end of the file or at
// the first 0x1A.
class JobText {
 public:
  explicit JobText(std::streambuf* buf) : buf_(buf) {}

  int Peek() {
    if (buf_ == nullptr) return kEndOfText;
    const int c = buf_->sgetc();
    if (c == std::char_traits<char>::eof() || c == kTextEnd) return kEndOfText;
    return static_cast<unsigned char>(c);
  }
  void Take() { buf_->sbumpc(); }
  void SkipSpace() {
    while (IsSpace(Peek())) Take();
  }

  enum class Name { kRead, kEnd, kTooLong };

  // Reads the next token; the name is the token up to its first zero byte.
  Name ReadName(std::string& name) {
    name.clear();
    SkipSpace();
    if (Peek() == kEndOfText) return Name::kEnd;
    bool ended = false;
    for (int c = Peek(); c != kEndOfText && !IsSpace(c); c = Peek()) {
      Take();
      if (c == 0) ended = true;
      if (ended) continue;
      if (name.size() == kMaxNameLength) return Name::kTooLong;
      name.push_back(static_cast<char>(c));
    }
    return Name::kRead;
  }

  // Reads a decimal number: [sign] digits [. digits] [e|E [sign] digits],
  // with at least one mantissa digit; never gives back a byte it took.
  bool ReadNumber(float& value) {
    SkipSpace();
    std::string text;
    if (Peek() == '+' || Peek() == '-') TakeInto(text);
    const size_t mantissa_start = text.size();
    TakeDigits(text);
    if (Peek() == '.') {
      TakeInto(text);
      TakeDigits(text);
    }
    const bool has_digit = text.find_first_of("0123456789", mantissa_start) != std::string::npos;
    if (!has_digit) return false;
    if (Peek() == 'e' || Peek() == 'E') {
      TakeInto(text);
      if (Peek() == '+' || Peek() == '-') TakeInto(text);
      if (!IsDigit(Peek())) return false;
      TakeDigits(text);
    }
    if (text.size() > kMaxNumberText) return false;
    return ToFloat(text, value);
  }

 private:
  void TakeInto(std::string& text) {
    // Past the limit the text is refused anyway: keep taking, stop storing.
    if (text.size() <= kMaxNumberText) text.push_back(static_cast<char>(Peek()));
    Take();
  }
  void TakeDigits(std::string& text) {
    while (IsDigit(Peek())) TakeInto(text);
  }

  // Converts checked number text to the nearest float. Beyond the float
  // range the result is infinity, below it zero, each with the sign.
  static bool ToFloat(std::string_view text, float& value) {
    const bool negative = text.front() == '-';
    if (text.front() == '+' || negative) text.remove_prefix(1);
    float magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude,
                                              std::chars_format::general);
    if (end != text.data() + text.size()) return false;
    if (error == std::errc::result_out_of_range) {
      magnitude = DecimalExponent(text) >= 0 ? std::numeric_limits<float>::infinity() : 0.0F;
    } else if (error != std::errc()) {
      return false;
    }
    value = negative ? -magnitude : magnitude;
    return true;
  }

  // The power of ten of the leading significant digit of a nonzero number
  // text, saturated far beyond the float range.
  static int64_t DecimalExponent(std::string_view text) {
    constexpr int64_t kSaturate = int64_t{1} << 40;
    bool found = false;
    int64_t integer_digits = 0;
    bool after_point = false;
    int64_t fraction_zeros = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
      const char c = text[i];
      if (c == '.') {
        after_point = true;
      } else if (!after_point) {
        if (found || c != '0') {
          found = true;
          ++integer_digits;
        }
      } else if (!found) {
        if (c == '0') {
          ++fraction_zeros;
        } else {
          found = true;
        }
      }
    }
    // The power of ten of the first nonzero digit, before the exponent.
    const int64_t leading = integer_digits > 0 ? integer_digits - 1 : -(fraction_zeros + 1);
    int64_t exponent = 0;
    if (i < text.size()) {
      ++i;
      bool negative = false;
      if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
      for (; i < text.size(); ++i) {
        if (exponent < kSaturate) exponent = exponent * 10 + (text[i] - '0');
      }
      if (negative) exponent = -exponent;
    }
    return leading + exponent;
  }

  std::streambuf* buf_;
};

}  // namespace

JobProblem ReadJob(std::istream& stream, Job& job) {
  job = Job{};
  JobText text(stream.rdbuf());
  using Name = JobText::Name;

  for (std::string* output : {&job.merged_name, &job.cons_fix_name}) {
    switch (text.ReadName(*output)) {
      case Name::kRead: break;
      case Name::kEnd: return {JobError::kNoOutputNames, {}};
      case Name::kTooLong: return {JobError::kNameTooLong, {}};
    }
  }
  if (job.merged_name == job.cons_fix_name) return {JobError::kSameOutputNames, {}};

  for (float* number :
       {&job.numbers.num1, &job.numbers.num2, &job.numbers.num3, &job.numbers.num4}) {
    if (!text.ReadNumber(*number)) return {JobError::kNoNumbers, {}};
  }

  Pair pair;
  for (;;) {
    const Name input = text.ReadName(pair.input);
    if (input == Name::kEnd) break;
    if (input == Name::kTooLong) return {JobError::kNameTooLong, {}};
    if (pair.input == job.merged_name || pair.input == job.cons_fix_name) {
      return {JobError::kInputIsOutput, pair.input};
    }
    const Name alias = text.ReadName(pair.alias);
    if (alias == Name::kEnd) break;  // a lone input name is dropped
    if (alias == Name::kTooLong) return {JobError::kNameTooLong, {}};
    if (job.pairs.size() == kMaxPairs) return {JobError::kTooManyPairs, {}};
    job.pairs.push_back(pair);
  }

  // Aliases must fit their cons_fix fields, or the records would not be of
  // fixed size. With fewer than two pairs no record is written.
  if (job.pairs.size() >= 2) {
    for (size_t i = 0; i < job.pairs.size(); ++i) {
      const size_t field = i == 0 ? cons_fix::kFirstAliasField : cons_fix::kAliasField;
      if (job.pairs[i].alias.size() > field) return {JobError::kAliasTooLong, job.pairs[i].alias};
    }
  }
  return {};
}

}  // namespace blkmerge
