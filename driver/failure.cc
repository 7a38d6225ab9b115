#include "driver/failure.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "driver/messages.h"

namespace blkmerge {

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

std::string Printable(std::string_view text) {
  const bool plain = !text.empty() && text.front() != '"' && std::ranges::none_of(text, [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
  return plain ? std::string(text) : Quote(text);
}

std::string Place(std::string_view job_file, TextPosition where) {
  return Printable(job_file) + ":" + std::to_string(where.line) + ":" +
         std::to_string(where.column) + ": ";
}

std::string Warning(std::string_view job_file, TextPosition where, std::string_view text) {
  return Place(job_file, where) + "warning: " + std::string(text);
}

std::string FileDetail(std::string_view name, const platform::FileError& error,
                       platform::FileKind kind) {
  return Printable(name) + ": " + platform::Describe(error, kind);
}

Failure InputUnopened(std::string_view job_file, const Pair& pair, const platform::File& file) {
  return {FailureKind::kInputUnopened, message::CouldNotOpenInput(pair.input),
          Place(job_file, pair.where) + FileDetail(pair.input, file.error(), file.info().kind)};
}

Failure InputRefused(std::string_view job_file, const Pair& pair, const InputProblem& problem) {
  const bool unread = problem.kind == InputProblem::Kind::kReadFailed;
  return {unread ? FailureKind::kInputUnread : FailureKind::kInputDamaged,
          unread ? message::CouldNotReadInput(pair.input) : message::InputDamaged(pair.input),
          Place(job_file, pair.where) + Printable(pair.input) + ": " + problem.Describe()};
}

std::string InputWarning(std::string_view job_file, const Pair& pair, std::string_view how) {
  return Warning(job_file, pair.where,
                 Printable(pair.input) +
                     ": not a well-formed input, so blkinspect --job will reject its block: " +
                     std::string(how));
}

}  // namespace blkmerge
