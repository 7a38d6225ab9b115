#include "driver/job_reader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <streambuf>
#include <string>
#include <utility>

#include "consfix/cons_fix.h"
#include "driver/decimal.h"
#include "driver/messages.h"

namespace blkmerge {
namespace {

constexpr int kEndOfText = -1;
constexpr int kTextEnd = 0x1A;
// How many bytes of a long token a detail shows.
constexpr size_t kShownBytes = 40;
// How many bytes at the start of the text tell how it is encoded.
constexpr size_t kStartBytes = 8;

bool IsSpace(int c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// A name of the job; the names of a pair also give the pair's number,
// counted from 1.
enum class Role { kMergedName, kConsFixName, kInputName, kAlias };

// "the merged file name", "the alias of pair 3".
std::string Describe(Role role, size_t pair = 0) {
  switch (role) {
    case Role::kMergedName: return "the merged file name";
    case Role::kConsFixName: return "the cons_fix file name";
    case Role::kInputName: return "the input name of pair " + std::to_string(pair);
    case Role::kAlias: return "the alias of pair " + std::to_string(pair);
  }
  return {};
}

// A token of `length` bytes shown by its first bytes `start`: quoted, with
// "..." after it when the token is longer.
std::string Shown(std::string_view start, uint64_t length) {
  return Quote(start) + (length > start.size() ? "..." : "");
}

// What the first bytes of a job text say when it is not the plain bytes
// the reader takes it for: a byte order mark, or the zero byte every
// other byte that UTF-16 gives ASCII text. The text of a warning, or
// empty.
std::string EncodingWarning(std::span<const uint8_t> start) {
  const auto starts_with = [start](std::string_view mark) {
    return start.size() >= mark.size() &&
           std::equal(mark.begin(), mark.end(), start.begin(),
                      [](char m, uint8_t b) { return static_cast<uint8_t>(m) == b; });
  };
  if (starts_with("\xEF\xBB\xBF")) {
    return "the job file starts with a UTF-8 byte order mark (EF BB BF), which is read as the "
           "first 3 bytes of the merged file name";
  }
  const std::string utf16 = "the job file looks like UTF-16 (";
  const std::string bytes = "); it is read byte by byte, and a zero byte ends a name";
  if (starts_with("\xFF\xFE")) return utf16 + "it starts with the byte order mark FF FE" + bytes;
  if (starts_with("\xFE\xFF")) return utf16 + "it starts with the byte order mark FE FF" + bytes;
  // Two units at least, each a zero byte and another, the zero on the same
  // side in every one.
  const auto zero_at = [start](size_t side) {
    for (size_t i = 0; i < start.size(); ++i) {
      if ((start[i] == 0) != (i % 2 == side)) return false;
    }
    return start.size() >= 4;
  };
  if (zero_at(0) || zero_at(1)) return utf16 + "a zero byte every other byte at its start" + bytes;
  return {};
}

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
    const int c = buf_->sbumpc();
    if (started_ < start_.size()) start_[started_++] = static_cast<uint8_t>(c);
    if (c == '\n') {
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

  // The first bytes taken, up to kStartBytes of them.
  std::span<const uint8_t> start() const { return std::span(start_).first(started_); }

  // "the end of the file", or of the text at a byte 0x1A.
  std::string EndOfText() {
    return buf_ != nullptr && buf_->sgetc() == kTextEnd ? "the byte 0x1A that ends the text"
                                                        : "the end of the file";
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
    if (token_length_ < kShownBytes) token_.push_back(static_cast<char>(Peek()));
    ++token_length_;
    Take();
  }

  std::streambuf* buf_;
  TextPosition next_;  // of the next byte
  std::array<uint8_t, kStartBytes> start_{};
  size_t started_ = 0;
  // The token of the last number: where it starts and ends, its first
  // kShownBytes bytes and its length.
  TextPosition token_where_;
  TextPosition token_end_{.line = 0};  // no place: the first number starts a token
  std::string token_;
  uint64_t token_length_ = 0;
};

// Reads a job part by part, in the order of the file; each part returns
// the first problem it finds, with its text built there.
class JobReader {
 public:
  JobReader(std::istream& stream, std::string_view job_file, Job& job)
      : text_(stream.rdbuf()), job_file_(job_file), job_(job) {}

  Failure Read() {
    job_ = Job{};
    // Reading the output names takes the first bytes of the text, which
    // tell how it is encoded.
    Failure names = OutputNames();
    if (const std::string warning = EncodingWarning(text_.start()); !warning.empty()) {
      job_.warnings.push_back(Warning(job_file_, TextPosition{}, warning));
    }
    if (names) return names;
    if (Failure f = Numbers()) return f;
    if (Failure f = Pairs()) return f;
    return AliasesFit();
  }

 private:
  Failure Fail(FailureKind kind, std::string message, TextPosition where,
               const std::string& detail) const {
    return {kind, std::move(message), Place(job_file_, where) + detail};
  }

  Failure NameTooLong(Role role, size_t pair, std::string_view name, const NameToken& token) const {
    return Fail(FailureKind::kNameTooLong, message::NameTooLong(job_file_), token.where,
                Describe(role, pair) + " " + Shown(name.substr(0, kShownBytes), token.length) +
                    " is " + std::to_string(token.length) + " bytes long, over the limit of " +
                    std::to_string(kMaxNameLength));
  }

  Failure OutputNames() {
    TextPosition cons_fix_where;
    for (const Role role : {Role::kMergedName, Role::kConsFixName}) {
      std::string& name = role == Role::kMergedName ? job_.merged_name : job_.cons_fix_name;
      const NameToken token = text_.ReadName(name);
      if (!token.read) {
        return Fail(FailureKind::kNoOutputNames, message::NoOutputNames(job_file_), token.where,
                    "expected " + Describe(role) + ", found " + text_.EndOfText());
      }
      if (token.too_long()) return NameTooLong(role, 0, name, token);
      cons_fix_where = token.where;
    }
    if (job_.merged_name != job_.cons_fix_name) return {};
    return Fail(FailureKind::kSameOutputNames, std::string(message::kSameOutputNames),
                cons_fix_where,
                Describe(Role::kConsFixName) + " " + Quote(job_.cons_fix_name) + " is also " +
                    Describe(Role::kMergedName));
  }

  Failure Numbers() {
    const std::array numbers = {&job_.numbers.num1, &job_.numbers.num2, &job_.numbers.num3,
                                &job_.numbers.num4};
    for (size_t i = 0; i < numbers.size(); ++i) {
      const uint64_t taken = text_.StartNumber();
      if (text_.ReadNumber(*numbers[i])) continue;
      const std::string expected = "num" + std::to_string(i + 1) + ": expected a number, found ";
      const JobText::Token token = text_.FinishToken();
      if (token.length == taken) {  // the text ends where the number should be
        return Fail(FailureKind::kNoNumbers, message::NoNumbers(job_file_), text_.where(),
                    expected + text_.EndOfText());
      }
      std::string found = Shown(token.start, token.length);
      if (taken > 0) {
        found += " (num" + std::to_string(i) + " took " +
                 Shown(token.start.substr(0, taken), taken) + ")";
      }
      return Fail(FailureKind::kNoNumbers, message::NoNumbers(job_file_), token.where,
                  expected + found);
    }
    return {};
  }

  Failure Pairs() {
    Pair pair;
    for (;;) {
      const size_t number = job_.pairs.size() + 1;  // of the pair being read
      const NameToken input = text_.ReadName(pair.input);
      if (!input.read) return {};
      if (input.too_long()) return NameTooLong(Role::kInputName, number, pair.input, input);
      for (const Role output : {Role::kMergedName, Role::kConsFixName}) {
        if (pair.input == (output == Role::kMergedName ? job_.merged_name : job_.cons_fix_name)) {
          return Fail(FailureKind::kInputIsOutput, message::InputIsOutput(pair.input), input.where,
                      Describe(Role::kInputName, number) + " " + Quote(pair.input) + " is " +
                          Describe(output));
        }
      }
      const NameToken alias = text_.ReadName(pair.alias);
      if (!alias.read) {
        // A lone input name is dropped; most often an alias was forgotten
        // somewhere before it.
        job_.warnings.push_back(
            Warning(job_file_, input.where,
                    "the input name " + Quote(pair.input) +
                        " at the end of the job has no alias, and is ignored (an alias "
                        "forgotten earlier shifts every later pair by one)"));
        return {};
      }
      if (alias.too_long()) return NameTooLong(Role::kAlias, number, pair.alias, alias);
      if (job_.pairs.size() == kMaxPairs) {
        return Fail(FailureKind::kTooManyPairs, message::TooManyPairs(job_file_), input.where,
                    "pair " + std::to_string(number) + " (" + Quote(pair.input) + " " +
                        Quote(pair.alias) + ") is over the limit of " + std::to_string(kMaxPairs) +
                        " pairs");
      }
      alias_where_[job_.pairs.size()] = alias.where;
      pair.where = input.where;
      job_.pairs.push_back(pair);
    }
  }

  // Aliases must fit their cons_fix fields, or the records would not be of
  // fixed size. With fewer than two pairs no record is written.
  Failure AliasesFit() const {
    if (job_.pairs.size() < 2) return {};
    for (size_t i = 0; i < job_.pairs.size(); ++i) {
      const std::string& alias = job_.pairs[i].alias;
      const size_t field = i == 0 ? cons_fix::kFirstAliasField : cons_fix::kAliasField;
      if (alias.size() <= field) continue;
      return Fail(FailureKind::kAliasTooLong, message::AliasTooLong(alias), alias_where_[i],
                  Describe(Role::kAlias, i + 1) + " " + Quote(alias) + " is " +
                      std::to_string(alias.size()) + " bytes long, its cons_fix field holds " +
                      std::to_string(field));
    }
    return {};
  }

  JobText text_;
  std::string_view job_file_;
  Job& job_;
  std::array<TextPosition, kMaxPairs> alias_where_;
};

}  // namespace

Failure ReadJob(std::istream& stream, std::string_view job_file, Job& job) {
  return JobReader(stream, job_file, job).Read();
}

}  // namespace blkmerge
