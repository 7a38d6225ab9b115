#include "inspect/cli.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/job_file.h"
#include "driver/messages.h"
#include "inspect/cons_fix_walk.h"
#include "inspect/merged_walk.h"
#include "inspect/report.h"
#include "inspect/verify.h"
#include "merge/io.h"
#include "platform/file.h"
#include "platform/process.h"

namespace blkmerge::inspect {
namespace {

constexpr std::string_view kUsage = "usage: blkinspect [--job JOB] [--json] MERGED [CONS_FIX]";
constexpr std::string_view kHelp =
    "Lists and checks the merged file and the cons_fix file that blkmerge wrote.\n"
    "\n"
    "  --job JOB, --job=JOB  also check both files against the job file that made them\n"
    "  --json                write the report as one JSON document\n"
    "  --help                print this help and exit\n"
    "  --version             print the version and exit\n"
    "  --                    take every later argument as a file name\n"
    "\n"
    "Exit status: 0 every check holds, 1 a check failed, 2 trouble (a usage error,\n"
    "a file that cannot be opened or read).\n";
constexpr std::string_view kVersion = "blkinspect " BLKMERGE_VERSION "\n";

struct Options {
  std::optional<std::string> job;
  bool json = false;
  std::vector<std::string> files;  // MERGED [CONS_FIX]
  std::string print;               // what --help or --version print
  // Set when the command line does not fit the usage: what is wrong, or
  // nothing to say beyond the usage line.
  std::optional<std::string> error;
};

Options Refused(std::string error) {
  Options o;
  o.error = std::move(error);
  return o;
}

Options Parse(int argc, const char* const* argv) {
  Options o;
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
      return o;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "--job" || arg.starts_with("--job=")) {
      if (o.job) return Refused("--job given twice");
      if (arg == "--job" && i + 1 == argc) return Refused("--job needs a job file");
      o.job = arg == "--job" ? argv[++i] : arg.substr(arg.find('=') + 1);
    } else {
      return Refused("unknown option " + std::string(arg));
    }
  }
  if (o.files.empty() || o.files.size() > 2) o.error = "";
  return o;
}

int Trouble(platform::Console& console, const std::string& message) {
  console.PrintErrorLine("blkinspect: " + message);
  return kExitTrouble;
}

// An open regular file to walk.
class InputFile {
 public:
  // Returns what is wrong when the file cannot be read.
  std::optional<std::string> Open(const std::string& name) {
    // Any kind opens without waiting, so that it can be told apart below.
    file_ = platform::File::OpenAny(name);
    if (!file_.is_open()) return "could not open " + name;
    if (file_.info().kind != platform::FileKind::kRegular) return name + " is not a regular file";
    source_.emplace(file_);
    return std::nullopt;
  }
  FileSource& source() { return *source_; }

 private:
  platform::File file_;
  std::optional<FileSource> source_;
};

}  // namespace

int Run(int argc, const char* const* argv) {
  platform::Console console;
  const Options o = Parse(argc, argv);
  if (o.error) {
    if (!o.error->empty()) Trouble(console, *o.error);
    console.PrintErrorLine(kUsage);
    return kExitTrouble;
  }
  if (!o.print.empty()) return console.Print(o.print) ? kExitAllHold : kExitTrouble;

  Report report;
  Job job;
  if (o.job) {
    JobFileFault fault;
    const auto problem = ReadJobFile(*o.job, job, fault);
    if (!problem) return Trouble(console, "could not open " + *o.job);
    if (!problem->ok()) {
      return Trouble(console, "job file " + *o.job + " cannot be used: " +
                                  blkmerge::message::ForJob(*problem, *o.job));
    }
    report.job = o.job;
  }
  const Job* job_or_null = o.job ? &job : nullptr;
  InputFile merged;
  InputFile cons_fix;
  if (auto problem = merged.Open(o.files[0])) return Trouble(console, *problem);
  if (o.files.size() == 2) {
    if (auto problem = cons_fix.Open(o.files[1])) return Trouble(console, *problem);
  }

  report.merged = WalkMerged(merged.source(), job_or_null,
                             o.job ? AgainstInputs(merged.source(), job) : BlockCheck{});
  report.merged.name = o.files[0];
  if (o.files.size() == 2) {
    report.cons_fix = WalkConsFix(cons_fix.source(), job_or_null);
    report.cons_fix->name = o.files[1];
  }
  if (!console.Print(o.json ? RenderJson(report) : RenderText(report)) || report.Unreadable()) {
    return kExitTrouble;
  }
  return report.Failures() == 0 ? kExitAllHold : kExitFailed;
}

}  // namespace blkmerge::inspect
