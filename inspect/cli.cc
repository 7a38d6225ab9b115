#include "inspect/cli.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/job_file.h"
#include "driver/messages.h"
#include "inspect/cons_fix_walk.h"
#include "inspect/merged_walk.h"
#include "inspect/messages.h"
#include "inspect/render.h"
#include "merge/io.h"
#include "platform/file.h"
#include "platform/process.h"

namespace blkmerge::inspect {
namespace {

struct Options {
  std::optional<std::string> job;
  bool json = false;
  std::string merged;
  std::optional<std::string> cons_fix;
};

// Returns nothing for a command line that does not fit the usage.
std::optional<Options> Parse(int argc, const char* const* argv) {
  Options options;
  std::vector<std::string> files;
  bool only_files = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!only_files && arg == "--") {
      only_files = true;
    } else if (!only_files && arg == "--json") {
      options.json = true;
    } else if (!only_files && arg == "--job") {
      if (options.job || i + 1 == argc) return std::nullopt;
      options.job = argv[++i];
    } else if (!only_files && arg.size() > 1 && arg.front() == '-') {
      return std::nullopt;  // an option we do not know
    } else {
      files.emplace_back(arg);
    }
  }
  if (files.empty() || files.size() > 2) return std::nullopt;
  options.merged = files[0];
  if (files.size() == 2) options.cons_fix = files[1];
  return options;
}

// The report, written to standard output as it comes.
class ConsoleOutput final : public Output {
 public:
  explicit ConsoleOutput(platform::Console& console) : console_(console) {}
  void Write(std::string_view text) override { console_.Print(text); }

 private:
  platform::Console& console_;
};

// An open regular file to walk.
class InputFile {
 public:
  // Returns the message when the file cannot be read.
  std::optional<std::string> Open(const std::string& name) {
    // Any kind opens without waiting, so that it can be told apart below.
    file_ = platform::File::OpenAny(name);
    if (!file_.is_open()) return message::CouldNotOpen(name);
    if (file_.info().kind != platform::FileKind::kRegular) return message::NotARegularFile(name);
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
  const auto options = Parse(argc, argv);
  if (!options) {
    console.PrintErrorLine(message::kUsage);
    return kExitUsage;
  }

  Job job;
  if (options->job) {
    const auto problem = ReadJobFile(*options->job, job);
    if (!problem) {
      console.PrintErrorLine(message::CouldNotOpen(*options->job));
      return kExitFailed;
    }
    if (!problem->ok()) {
      console.PrintErrorLine(
          message::BadJob(*options->job, blkmerge::message::ForJob(*problem, *options->job)));
      return kExitFailed;
    }
  }
  const Job* job_or_null = options->job ? &job : nullptr;

  InputFile merged;
  InputFile cons_fix;
  if (auto problem = merged.Open(options->merged)) {
    console.PrintErrorLine(*problem);
    return kExitFailed;
  }
  if (options->cons_fix) {
    if (auto problem = cons_fix.Open(*options->cons_fix)) {
      console.PrintErrorLine(*problem);
      return kExitFailed;
    }
  }

  ConsoleOutput out(console);
  const auto renderer = options->json ? MakeJsonRenderer(out) : MakeTextRenderer(out);
  renderer->BeginMerged(options->merged, merged.source().Size());
  const WalkSummary blocks = WalkMerged(merged.source(), job_or_null, *renderer);
  renderer->EndMerged();
  std::optional<WalkSummary> records;
  if (options->cons_fix) {
    renderer->BeginConsFix(*options->cons_fix, cons_fix.source().Size());
    records = WalkConsFix(cons_fix.source(), job_or_null, *renderer);
    renderer->EndConsFix();
  }
  const uint64_t failures = blocks.failures + (records ? records->failures : 0);
  renderer->Finish(options->job, blocks.items,
                   records ? std::optional<uint64_t>(records->items) : std::nullopt, failures);
  return failures == 0 && console.ok() ? kExitAllHold : kExitFailed;
}

}  // namespace blkmerge::inspect
