#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/preflight.h"
#include "inspect/report.h"
#include "inspect/walk.h"
#include "merge/io.h"
#include "platform/file.h"
#include "platform/process.h"

namespace blkmerge::inspect {
namespace {

constexpr int kExitAllHold = 0;
constexpr int kExitFailed = 1;   // a check failed, or with --plan the run would fail
constexpr int kExitTrouble = 2;  // a usage error, a file that cannot be opened or read

constexpr std::string_view kUsage =
    "usage: blkinspect [--job JOB] [--json] MERGED [CONS_FIX]\n"
    "       blkinspect --plan JOB [--json]";
constexpr std::string_view kHelp =
    "Lists and checks what blkmerge wrote, or tells what it would write for a job.\n\n"
    "  --job JOB, --job=JOB    also check against the job, and each block against its input\n"
    "  --plan JOB, --plan=JOB  check the job and its inputs as blkmerge would, and print\n"
    "                          what it would write or the line it would fail with\n"
    "  --json                  write one JSON document\n"
    "  --help, --version       print this help, or the version\n"
    "  --                      take every later argument as a file name\n\n"
    "Exit status: 0 every check holds (the run would succeed), 1 a check failed (it\n"
    "would fail), 2 trouble (a usage error, a file that cannot be opened or read).\n";
constexpr std::string_view kVersion = "blkinspect " BLKMERGE_VERSION "\n";

struct Options {
  std::optional<std::string> job;
  std::optional<std::string> plan;
  bool json = false;
  std::vector<std::string> files;  // MERGED [CONS_FIX]
  std::string print;               // what --help or --version print
};

// Reads the command line into `o`. Returns what is wrong when it does not
// fit the usage (empty when there is nothing to say beyond the usage).
std::optional<std::string> Parse(int argc, const char* const* argv, Options& o) {
  bool only_files = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (only_files || arg == "-" || !arg.starts_with('-')) {
      o.files.emplace_back(arg);
    } else if (arg == "--") {
      only_files = true;
    } else if (arg == "--help" || arg == "--version") {
      o.print =
          arg == "--help" ? std::string(kUsage) + "\n" + std::string(kHelp) : std::string(kVersion);
      return std::nullopt;
    } else if (arg == "--json") {
      o.json = true;
    } else if (const std::string name(arg.substr(0, arg.find('=')));
               name == "--job" || name == "--plan") {
      std::optional<std::string>& job = name == "--job" ? o.job : o.plan;
      if (job) return name + " given twice";
      if (arg == name && i + 1 == argc) return name + " needs a job file";
      job = arg == name ? argv[++i] : arg.substr(name.size() + 1);
    } else {
      return "unknown option " + std::string(arg);
    }
  }
  const bool fits = o.plan ? !o.job && o.files.empty() : !o.files.empty() && o.files.size() <= 2;
  return fits ? std::nullopt : std::optional<std::string>("");
}

int Trouble(platform::Console& console, const std::string& message) {
  console.PrintErrorLine("blkinspect: " + message);
  return kExitTrouble;
}

// Runs `blkinspect [--job JOB] [--json] MERGED [CONS_FIX]`, `blkinspect
// --plan JOB [--json]` (or --help, --version) and returns the exit status.
// The report, the plan, the help and the version go to standard output;
// usage errors, files that cannot be opened and what blkmerge would say
// of a failure on standard error go to standard error.
int Run(int argc, const char* const* argv) {
  platform::Console console;
  Options o;
  if (const auto error = Parse(argc, argv, o)) {
    if (!error->empty()) Trouble(console, *error);
    console.PrintErrorLine(kUsage);
    return kExitTrouble;
  }
  if (!o.print.empty()) return console.Print(o.print) ? kExitAllHold : kExitTrouble;
  if (o.plan) {
    const Plan plan = MakePlan(*o.plan);
    if (plan.failure && !plan.failure->detail.empty()) Trouble(console, plan.failure->detail);
    if (!console.Print(o.json ? RenderPlanJson(plan) : RenderPlanText(plan))) return kExitTrouble;
    return plan.failure ? kExitFailed : kExitAllHold;
  }

  Report report;
  Job job;
  if (o.job) {
    // Read and checked as blkmerge reads it: a job it refuses made no files.
    if (const auto failure = CheckJob(*o.job, job)) {
      Trouble(console, "job file " + *o.job + " cannot be used: " + failure->message);
      return failure->detail.empty() ? kExitTrouble : Trouble(console, failure->detail);
    }
    report.job = o.job;
  }
  std::array<platform::File, 2> files;
  for (size_t i = 0; i < o.files.size(); ++i) {
    // Any kind opens without waiting, so that all but a regular file can be refused.
    files[i] = platform::File::OpenAny(o.files[i]);
    if (!files[i].is_open()) return Trouble(console, "could not open " + o.files[i]);
    if (files[i].info().kind != platform::FileKind::kRegular)
      return Trouble(console, o.files[i] + " is not a regular file");
  }
  FileSource merged(files[0]);
  report.merged =
      WalkMerged(merged, o.job ? &job : nullptr, o.job ? AgainstInputs(merged, job) : BlockCheck{});
  report.merged.name = o.files[0];
  if (o.files.size() == 2) {
    FileSource cons_fix(files[1]);
    report.cons_fix = WalkConsFix(cons_fix, o.job ? &job : nullptr);
    report.cons_fix->name = o.files[1];
  }
  const bool printed = console.Print(o.json ? RenderJson(report) : RenderText(report));
  if (!printed || report.Unreadable()) return kExitTrouble;
  return report.Failures() == 0 ? kExitAllHold : kExitFailed;
}

}  // namespace
}  // namespace blkmerge::inspect

int main(int argc, char** argv) {
  const blkmerge::platform::CommandLine command_line(argc, argv);
  return blkmerge::inspect::Run(command_line.argc(), command_line.argv());
}
