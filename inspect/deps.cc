#include "inspect/deps.h"

#include <algorithm>
#include <vector>

#include "driver/failure.h"

namespace blkmerge::inspect {
namespace {

// Bytes at which Ninja ends a name, whatever comes before them.
constexpr std::string_view kNameEnds = "\"&'*;<>?^`|";

// Why the byte `c` of a name cannot stand in a depfile, or nothing.
std::string Refused(char c, bool target) {
  const auto b = static_cast<unsigned char>(c);
  // As Quote writes it, between single quotes.
  const auto shown = [c] {
    std::string byte = Quote(std::string_view(&c, 1));
    byte.front() = '\'';
    byte.back() = '\'';
    return byte;
  };
  if (b < 0x20 || b == 0x7F) return shown() + ", a control byte, which ends a name or a line";
  if (kNameEnds.find(c) != std::string_view::npos) return shown() + ", at which Ninja ends a name";
  if (c == '=') return "'=', which makes Make read the line as a variable";
  if (c == '%' && target) return "'%', which makes Make read the rule as a pattern";
  return {};
}

// Why `name` as a whole cannot stand in a depfile, or nothing.
std::string_view RefusedWhole(std::string_view name) {
  if (name.empty()) return "an empty name";
  if (name.front() == '~') return "a '~' at the start, which Make and CMake read as a home folder";
  if (name.back() == ':') return "a ':' at the end, which Ninja reads as the end of the targets";
  if (name.back() == ')' && name.find('(') != std::string_view::npos)
    return "a name ending in \"(...)\", which Make reads as an archive member";
  const size_t open = name.find('[');
  if (open != std::string_view::npos && name.find(']', open) != std::string_view::npos)
    return "\"[...]\", which Make reads as a wildcard";
  return {};
}

}  // namespace

DepfileName ForDepfile(std::string_view name, bool target) {
  DepfileName out;
  const auto refuse = [&](std::string_view why) {
    out.text.clear();
    out.problem = Quote(name) + ": " + std::string(why);
    return out;
  };
  if (const std::string_view why = RefusedWhole(name); !why.empty()) return refuse(why);
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (const std::string why = Refused(c, target); !why.empty()) return refuse(why);
    if (c == '\\') {
      // A run of backslashes is read as it is, but before a blank, where
      // each stands for half of itself.
      const size_t end = std::min(name.find_first_not_of('\\', i), name.size());
      const char next = end < name.size() ? name[end] : '\0';
      if (end == name.size() || next == '#' || next == ':' || next == '$')
        return refuse(
            "a backslash before '#', ':', '$' or the end, which the readers undo "
            "differently");
      out.text.append((end - i) * (next == ' ' ? 2 : 1), '\\');
      i = end - 1;
    } else if (c == ' ' || c == '#' || c == ':') {
      out.text += '\\';
      out.text += c;
    } else if (c == '$') {
      out.text += "$$";
    } else {
      out.text += c;
    }
  }
  return out;
}

Depfile MakeDepfile(const std::string& job_file, const Job& job) {
  Depfile deps;
  std::string rule;
  for (const std::string* output : {&job.merged_name, &job.cons_fix_name}) {
    DepfileName name = ForDepfile(*output, true);
    if (!name.problem.empty()) return {{}, std::move(name.problem)};
    rule += (rule.empty() ? "" : " ") + name.text;
  }
  rule += ":";
  std::vector<std::string_view> listed;
  const auto add = [&](std::string_view prerequisite) {
    if (std::find(listed.begin(), listed.end(), prerequisite) != listed.end()) return true;
    DepfileName name = ForDepfile(prerequisite, false);
    if (!name.problem.empty()) {
      deps.problem = std::move(name.problem);
      return false;
    }
    rule += (listed.empty() ? " " : " \\\n  ") + name.text;
    listed.push_back(prerequisite);
    return true;
  };
  if (!add(job_file)) return deps;
  for (const Pair& pair : job.pairs) {
    if (!add(pair.input)) return deps;
  }
  deps.rule = rule + "\n";
  return deps;
}

}  // namespace blkmerge::inspect
