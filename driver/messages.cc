#include "driver/messages.h"

#include <cstdio>
#include <string>

namespace blkmerge::message {
namespace {

template <typename... Parts>
std::string Cat(const Parts&... parts) {
  std::string s;
  s.reserve((std::string_view(parts).size() + ...));
  (s.append(std::string_view(parts)), ...);
  return s;
}

std::string Dec(uint64_t n) { return std::to_string(n); }
std::string Signed(int64_t n) { return std::to_string(n); }

std::string_view KindOf(platform::FileKind kind) {
  switch (kind) {
    case platform::FileKind::kRegular: return "a regular file";
    case platform::FileKind::kDirectory: return "a directory";
    case platform::FileKind::kPipe: return "a pipe";
    case platform::FileKind::kDevice: return "a device";
  }
  return {};
}

std::string_view PartOf(InputPart part) {
  switch (part) {
    case InputPart::kFrontPart: return "the front part";
    case InputPart::kFirstTable: return "the first table";
    case InputPart::kDroppedCount: return "the dropped section's count M";
    case InputPart::kSecondTable: return "the second table";
    case InputPart::kTail: return "the tail";
  }
  return {};
}

// "the merged file name", "the alias of pair 3".
std::string Describe(job::Role role, size_t pair = 0) {
  switch (role) {
    case job::Role::kMergedName: return "the merged file name";
    case job::Role::kConsFixName: return "the cons_fix file name";
    case job::Role::kInputName: return "the input name of pair " + Dec(pair);
    case job::Role::kAlias: return "the alias of pair " + Dec(pair);
  }
  return {};
}

}  // namespace

std::string CouldNotOpenInput(std::string_view name) {
  return Cat("Could not open input file ", name);
}
std::string CouldNotReadInput(std::string_view name) {
  return Cat("Could not read input file ", name);
}
std::string CouldNotOpenOutput(std::string_view name) {
  return Cat("Could not open output file ", name);
}
std::string CouldNotWriteOutput(std::string_view name) {
  return Cat("Could not write output file ", name);
}
std::string InputDamaged(std::string_view name) {
  return Cat("Input file ", name, " is truncated or damaged");
}
std::string SameFile(std::string_view output, std::string_view other) {
  return Cat("Output file ", output, " is the same file as ", other);
}
std::string Processed(std::string_view input, std::string_view alias) {
  return Cat("Processed ", input, " as ", alias);
}
std::string Produced(std::string_view cons_fix_name) {
  return Cat("Produced cons_fix file ", cons_fix_name);
}

std::string ArgumentCount(int arguments) {
  return Cat("expected one argument, the job file, but got ",
             Dec(static_cast<uint64_t>(arguments)));
}

std::string NoMemoryFor(std::string_view what, uint64_t bytes) {
  return Cat("could not allocate ", bytes > 0 ? Dec(bytes) + " bytes for " : std::string(), what,
             "; no output was touched");
}

std::string SameFileDetail(std::string_view a, std::string_view b, const SameFileReason& reason) {
  if (reason.id) {
    return Cat(a, " and ", b, " reach one file (the same file identity: volume ",
               Dec(reason.id->volume), ", index ", Dec(reason.id->index), ")");
  }
  return Cat(a, " and ", b, " reach one file (the same path ", reason.path, ")");
}

std::string ForJob(const JobProblem& problem, std::string_view job_file) {
  switch (problem.error) {
    case JobError::kNoOutputNames:
      return Cat("Could not read output file names from input file ", job_file);
    case JobError::kSameOutputNames: return std::string(kSameOutputNames);
    case JobError::kNoNumbers: return Cat("Could not read four numbers from input file ", job_file);
    case JobError::kNameTooLong:
      return Cat("Name longer than 99 characters in input file ", job_file);
    case JobError::kInputIsOutput:
      return Cat("input file ", problem.name, " cannot have name of output file");
    case JobError::kTooManyPairs: return Cat("More than 100 input files in input file ", job_file);
    case JobError::kAliasTooLong:
      return Cat("Alias ", problem.name, " is too long for the cons_fix file");
    case JobError::kNone: break;
  }
  return {};
}

std::string JobDiagnostic(const JobProblem& problem, std::string_view job_file) {
  return Cat(job_file, ":", Dec(problem.where.line), ":", Dec(problem.where.column), ": ",
             problem.detail);
}

std::string Reason(const platform::FileError& error, platform::FileKind kind) {
  using Kind = platform::FileError::Kind;
  switch (error.kind) {
    case Kind::kSystem: return platform::SystemErrorText(error.code);
    case Kind::kNotRegular: return Cat(KindOf(kind), ", not a regular file");
    case Kind::kNoEnd:
      return kind == platform::FileKind::kDirectory ? "a directory, which has no text to read"
                                                    : "a device, which may never end";
    case Kind::kLocked: return "locked by another process";
    case Kind::kBadName: return "the name is not UTF-8";
    case Kind::kNone: break;
  }
  return "no error";
}

std::string FileDetail(std::string_view name, const platform::FileError& error,
                       platform::FileKind kind) {
  return Cat(name, ": ", Reason(error, kind));
}

std::string ReadDetail(std::string_view name, uint64_t offset, const platform::FileError& error) {
  return Cat(name, ": reading at offset ", Dec(offset), ": ", Reason(error, {}));
}

std::string InputDetail(std::string_view name, const InputProblem& problem) {
  const std::string part = Cat(PartOf(problem.part), " at offset ", Signed(problem.offset));
  switch (problem.kind) {
    case InputProblem::Kind::kOutside:
      if (problem.part == InputPart::kFirstTable) {
        return Cat(name, ": ", part, " has a negative entry count (", Signed(problem.count), ")");
      }
      if (problem.offset < 0) return Cat(name, ": ", part, " starts before the start of the file");
      return Cat(name, ": ", part, " ends past the end of the file (", Dec(problem.size),
                 " bytes)");
    case InputProblem::Kind::kEndedEarly:
      return Cat(name, ": the file ended before ", part, " (", Dec(problem.length),
                 " bytes), though it had ", Dec(problem.size), " bytes when opened");
    case InputProblem::Kind::kReadFailed:
      return Cat(name, ": reading ", part, " (", Dec(problem.length),
                 " bytes): ", Reason(problem.error, {}));
  }
  return {};
}

std::string Quote(std::string_view text, const char* escape) {
  std::string out = "\"";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, escape, b);
      out += code;
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

namespace job {

std::string Token(std::string_view start, uint64_t length) {
  return Cat(Quote(start), length > start.size() ? "..." : "");
}

std::string EndOfText(bool at_text_end_byte) {
  return at_text_end_byte ? "the byte 0x1A that ends the text" : "the end of the file";
}

std::string NoOutputName(Role role, std::string_view found) {
  return Cat("expected ", Describe(role), ", found ", found);
}

std::string SameOutputNames(std::string_view name) {
  return Cat(Describe(Role::kConsFixName), " ", Quote(name), " is also ",
             Describe(Role::kMergedName));
}

std::string NotANumber(size_t number, std::string_view found, std::string_view before) {
  std::string detail = Cat("num", Dec(number), ": expected a number, found ", found);
  if (!before.empty()) detail += Cat(" (num", Dec(number - 1), " took ", before, ")");
  return detail;
}

std::string NameTooLong(Role role, size_t pair, std::string_view start, uint64_t length) {
  return Cat(Describe(role, pair), " ", Token(start, length), " is ", Dec(length),
             " bytes long, over the limit of ", Dec(kMaxNameLength));
}

std::string InputIsOutput(size_t pair, std::string_view input, Role output) {
  return Cat(Describe(Role::kInputName, pair), " ", Quote(input), " is ", Describe(output));
}

std::string TooManyPairs(size_t pair, const Pair& names) {
  return Cat("pair ", Dec(pair), " (", Quote(names.input), " ", Quote(names.alias),
             ") is over the limit of ", Dec(kMaxPairs), " pairs");
}

std::string AliasTooLong(size_t pair, std::string_view alias, size_t field) {
  return Cat(Describe(Role::kAlias, pair), " ", Quote(alias), " is ", Dec(alias.size()),
             " bytes long, its cons_fix field holds ", Dec(field));
}

}  // namespace job

}  // namespace blkmerge::message
