// Any bytes as a job file give either a job within the limits, which reads
// back the same when written out again, or one of the defined problems with
// its place and a one-line detail.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <system_error>

#include "consfix/cons_fix.h"
#include "driver/job_reader.h"
#include "fuzz/fuzz_util.h"

namespace blkmerge {
namespace {

bool IsSpaceOrEnd(char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == '\0'; }

// A name as the reader may hand it out: at most 99 bytes, none of them
// white space, the text end or a zero byte. (A token that starts with a
// zero byte gives the empty name.)
bool IsName(const std::string& name) {
  return name.size() <= kMaxNameLength && std::ranges::none_of(name, IsSpaceOrEnd);
}

// The name a standard-output line holds between `before` and `after`.
std::string NameIn(const std::string& line, std::string_view before, std::string_view after) {
  FUZZ_CHECK(line.starts_with(before) && line.ends_with(after) &&
             line.size() >= before.size() + after.size());
  return line.substr(before.size(), line.size() - before.size() - after.size());
}

// A line for standard error about a place in the job says where, and
// stays one line whatever the text held.
void CheckPlaceLine(const std::string& text) {
  FUZZ_CHECK(text.starts_with("job.txt:"));
  uint64_t line = 0;
  uint64_t column = 0;
  const char* p = text.data() + 8;
  const char* end = text.data() + text.size();
  auto r = std::from_chars(p, end, line);
  FUZZ_CHECK(r.ec == std::errc() && r.ptr < end && *r.ptr == ':');
  r = std::from_chars(r.ptr + 1, end, column);
  FUZZ_CHECK(r.ec == std::errc() && end - r.ptr > 2 && r.ptr[0] == ':' && r.ptr[1] == ' ');
  FUZZ_CHECK(line >= 1 && column >= 1);
  FUZZ_CHECK(std::ranges::none_of(text, [](char c) { return c == '\n' || c == '\r'; }));
}

void CheckProblem(const Failure& problem) {
  switch (problem.kind) {
    case FailureKind::kInputIsOutput:
      FUZZ_CHECK(
          IsName(NameIn(problem.message, "input file ", " cannot have name of output file")));
      break;
    case FailureKind::kAliasTooLong: {
      const std::string alias =
          NameIn(problem.message, "Alias ", " is too long for the cons_fix file");
      FUZZ_CHECK(IsName(alias) && alias.size() > cons_fix::kFirstAliasField);
      break;
    }
    case FailureKind::kNoOutputNames:
    case FailureKind::kSameOutputNames:
    case FailureKind::kNoNumbers:
    case FailureKind::kNameTooLong:
    case FailureKind::kTooManyPairs: break;
    default: FUZZ_CHECK(false);
  }
  FUZZ_CHECK(!problem.message.empty());
  CheckPlaceLine(problem.detail);
}

void CheckLimits(const Job& job) {
  FUZZ_CHECK(IsName(job.merged_name));
  FUZZ_CHECK(IsName(job.cons_fix_name));
  FUZZ_CHECK(job.merged_name != job.cons_fix_name);
  for (const float number :
       {job.numbers.num1, job.numbers.num2, job.numbers.num3, job.numbers.num4}) {
    FUZZ_CHECK(!std::isnan(number));
  }
  FUZZ_CHECK(job.pairs.size() <= kMaxPairs);
  for (size_t i = 0; i < job.pairs.size(); ++i) {
    const Pair& pair = job.pairs[i];
    FUZZ_CHECK(IsName(pair.input));
    FUZZ_CHECK(IsName(pair.alias));
    FUZZ_CHECK(pair.input != job.merged_name && pair.input != job.cons_fix_name);
    if (job.pairs.size() >= 2) {
      FUZZ_CHECK(pair.alias.size() <=
                 (i == 0 ? cons_fix::kFirstAliasField : cons_fix::kAliasField));
    }
  }
}

// The shortest text that reads back as exactly `value`.
std::string NumberText(float value) {
  if (std::isinf(value)) return value < 0 ? "-1e999" : "1e999";
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  FUZZ_CHECK(error == std::errc());
  return std::string(text, end);
}

// A token that reads back as `name`.
std::string Token(const std::string& name) { return name.empty() ? std::string(1, '\0') : name; }

std::string JobText(const Job& job) {
  std::string text = Token(job.merged_name) + "\n" + Token(job.cons_fix_name) + "\n";
  for (const float number :
       {job.numbers.num1, job.numbers.num2, job.numbers.num3, job.numbers.num4}) {
    text += NumberText(number) + " ";
  }
  for (const Pair& pair : job.pairs) text += "\n" + Token(pair.input) + " " + Token(pair.alias);
  return text;
}

bool SameBits(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

void CheckReadsBack(const Job& job) {
  std::istringstream text(JobText(job));
  Job again;
  FUZZ_CHECK(!ReadJob(text, "job.txt", again));
  FUZZ_CHECK(again.merged_name == job.merged_name);
  FUZZ_CHECK(again.cons_fix_name == job.cons_fix_name);
  FUZZ_CHECK(SameBits(again.numbers.num1, job.numbers.num1));
  FUZZ_CHECK(SameBits(again.numbers.num2, job.numbers.num2));
  FUZZ_CHECK(SameBits(again.numbers.num3, job.numbers.num3));
  FUZZ_CHECK(SameBits(again.numbers.num4, job.numbers.num4));
  FUZZ_CHECK(again.pairs.size() == job.pairs.size());
  for (size_t i = 0; i < job.pairs.size(); ++i) {
    FUZZ_CHECK(again.pairs[i].input == job.pairs[i].input);
    FUZZ_CHECK(again.pairs[i].alias == job.pairs[i].alias);
  }
}

}  // namespace
}  // namespace blkmerge

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace blkmerge;
  std::istringstream text(std::string(reinterpret_cast<const char*>(data), size));
  Job job;
  const Failure problem = ReadJob(text, "job.txt", job);
  for (const std::string& warning : job.warnings) {
    CheckPlaceLine(warning);
    FUZZ_CHECK(warning.find(": warning: ") != std::string::npos);
  }
  if (problem) {
    CheckProblem(problem);
    return 0;
  }
  CheckLimits(job);
  CheckReadsBack(job);
  return 0;
}
