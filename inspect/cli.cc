#include <array>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/failure.h"
#include "driver/messages.h"
#include "driver/preflight.h"
#include "inspect/deps.h"
#include "inspect/report.h"
#include "inspect/walk.h"
#include "merge/io.h"
#include "platform/file.h"
#include "platform/process.h"

namespace blkmerge::inspect {
namespace {

// 1: a check failed, or the run would fail. 2: a usage error, a file that
// cannot be opened or read.
enum ExitStatus { kExitAllHold = 0, kExitFailed = 1, kExitTrouble = 2 };

constexpr std::string_view kUsage =
    "usage: blkinspect [--job JOB] [--json] MERGED [CONS_FIX]\n"
    "       blkinspect --plan JOB [--json]\n"
    "       blkinspect --deps JOB";
constexpr std::string_view kHelp =
    "Lists and checks what blkmerge wrote, or what it would write for a job.\n\n"
    "  --job JOB, --job=JOB    also check against the job and each block's input\n"
    "  --plan JOB, --plan=JOB  tell what blkmerge would write, or how it would fail\n"
    "  --deps JOB, --deps=JOB  print the make rule of what blkmerge JOB reads and writes\n"
    "  --json                  write one JSON document\n"
    "  --help, --version       print this help, or the version\n"
    "  --                      take every later argument as a file name\n\n"
    "Exit status: 0 every check holds (the run would succeed), 1 a check failed (it\n"
    "would fail), 2 trouble (a usage error, a file that cannot be opened or read).\n";
constexpr std::string_view kVersion = "blkinspect " BLKMERGE_VERSION "\n";

struct Options {
  std::optional<std::string> job;
  std::optional<std::string> plan;
  std::optional<std::string> deps;
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
               name == "--job" || name == "--plan" || name == "--deps") {
      std::optional<std::string>& job = name == "--job"    ? o.job
                                        : name == "--plan" ? o.plan
                                                           : o.deps;
      if (job) return name + " given twice";
      if (arg == name && i + 1 == argc) return name + " needs a job file";
      job = arg == name ? argv[++i] : arg.substr(name.size() + 1);
    } else {
      return "unknown option " + Printable(arg);
    }
  }
  const bool fits = o.deps   ? !o.plan && !o.job && !o.json && o.files.empty()
                    : o.plan ? !o.job && o.files.empty()
                             : !o.files.empty() && o.files.size() <= 2;
  return fits ? std::nullopt : std::optional<std::string>("");
}

int Trouble(platform::Console& console, std::string_view message) {
  console.PrintErrorLine("blkinspect: ", message);
  return kExitTrouble;
}

// What stopped a walk of `name` that could not read the whole file.
std::string ReadTrouble(const std::string& name, const Source& source) {
  const platform::FileError error = source.ReadError();
  return "could not read " + (error ? FileDetail(name, error)
                                    : Printable(name) + ": it is shorter than when it was opened");
}

// `blkinspect --plan JOB`: what blkmerge would write, and what it would
// say on standard error: its warnings, and why it would fail.
int RunPlan(platform::Console& console, const Options& o) {
  const Plan plan = MakePlan(*o.plan);
  for (const std::string& warning : plan.warnings) Trouble(console, warning);
  if (!plan.failure.detail.empty()) Trouble(console, plan.failure.detail);
  if (!console.Print(o.json ? RenderPlanJson(plan) : RenderPlanText(plan))) return kExitTrouble;
  return plan.failure ? kExitFailed : kExitAllHold;
}

// `blkinspect --deps JOB`: the rule of what the run reads and writes, or,
// for a job that blkmerge would refuse, its line and what it would say on
// standard error. The inputs are not opened: a build needs to know of an
// input most when it is missing.
int RunDeps(platform::Console& console, const Options& o) {
  Job job;
  if (const Failure failure = CheckJob(*o.deps, job)) {
    if (!failure.detail.empty()) Trouble(console, failure.detail);
    return console.PrintLine(failure.message) ? kExitFailed : kExitTrouble;
  }
  const Depfile deps = MakeDepfile(*o.deps, job);
  if (!deps.problem.empty()) return Trouble(console, "no depfile can hold " + deps.problem);
  return console.Print(deps.rule) ? kExitAllHold : kExitTrouble;
}

// `blkinspect [--job JOB] MERGED [CONS_FIX]`: the report of both walks.
int RunCheck(platform::Console& console, const Options& o) {
  Report report;
  Job job;
  if (o.job) {
    // Read and checked as blkmerge does it: a job that it refuses made no
    // files. A job file that cannot be read is trouble like any other file.
    if (const Failure failure = CheckJob(*o.job, job)) {
      switch (failure.kind) {
        case FailureKind::kJobUnopened: return Trouble(console, "could not open " + failure.detail);
        case FailureKind::kJobUnread: return Trouble(console, "could not read " + failure.detail);
        default:
          Trouble(console, "job file " + Printable(*o.job) +
                               " cannot be used: " + Printable(failure.message));
          return failure.detail.empty() ? kExitTrouble : Trouble(console, failure.detail);
      }
    }
    report.job = o.job;
  }
  std::array<platform::File, 2> files;
  for (size_t i = 0; i < o.files.size(); ++i) {
    files[i] = platform::File::OpenInput(o.files[i]);
    if (!files[i].is_open()) {
      return Trouble(console, "could not open " +
                                  FileDetail(o.files[i], files[i].error(), files[i].info().kind));
    }
  }
  FileSource merged(files[0]);
  FileSource cons_fix(files[1]);
  report.merged =
      WalkMerged(merged, o.job ? &job : nullptr, o.job ? AgainstInputs(merged, job) : BlockCheck{});
  report.merged.name = o.files[0];
  if (o.files.size() == 2) {
    report.cons_fix = WalkConsFix(cons_fix, o.job ? &job : nullptr);
    report.cons_fix->name = o.files[1];
  }
  if (!console.Print(o.json ? RenderJson(report) : RenderText(report))) {
    return Trouble(console, FileDetail(message::kStandardOutput, console.error()));
  }
  if (report.merged.unreadable) Trouble(console, ReadTrouble(o.files[0], merged));
  if (report.cons_fix && report.cons_fix->unreadable)
    Trouble(console, ReadTrouble(o.files[1], cons_fix));
  if (report.Unreadable()) return kExitTrouble;
  return report.Failures() == 0 ? kExitAllHold : kExitFailed;
}

// Runs `blkinspect [--job JOB] [--json] MERGED [CONS_FIX]`, `blkinspect
// --plan JOB [--json]`, `blkinspect --deps JOB` (or --help, --version) and
// returns the exit status.
// The report, the plan, the help and the version go to standard output;
// usage errors, files that cannot be opened or read, and what blkmerge
// would say of a failure on standard error, to standard error.
int Run(platform::Console& console, int argc, const char* const* argv) {
  Options o;
  if (const auto error = Parse(argc, argv, o)) {
    if (!error->empty()) Trouble(console, *error);
    console.PrintErrorLine(kUsage);
    return kExitTrouble;
  }
  if (!o.print.empty()) return console.Print(o.print) ? kExitAllHold : kExitTrouble;
  if (o.deps) return RunDeps(console, o);
  return o.plan ? RunPlan(console, o) : RunCheck(console, o);
}

}  // namespace
}  // namespace blkmerge::inspect

int main(int argc, char** argv) {
  using namespace blkmerge;
  const platform::MemoryReserve reserve;
  platform::Console console;
  if (!reserve.ok()) return inspect::Trouble(console, "not enough memory");
  try {
    const platform::CommandLine command_line(argc, argv);
    return inspect::Run(console, command_line.argc(), command_line.argv());
  } catch (const std::bad_alloc&) {
    return inspect::Trouble(console, "not enough memory");
  }
}
