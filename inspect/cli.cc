#include "inspect/cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
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

// Writes to a descriptor, one call per piece, and remembers a failure.
class DescriptorOutput final : public Output {
 public:
  explicit DescriptorOutput(int fd) : fd_(fd) {}
  void Write(std::string_view text) override {
    while (ok_ && !text.empty()) {
      const ssize_t n = write(fd_, text.data(), text.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok_ = false;
      if (n > 0) text.remove_prefix(static_cast<size_t>(n));
    }
  }
  bool ok() const { return ok_; }

 private:
  int fd_;
  bool ok_ = true;
};

void Say(int fd, std::string_view line) {
  DescriptorOutput out(fd);
  out.Write(std::string(line) + "\n");
}

// An open regular file, closed when it goes.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() {
    if (fd_ >= 0) close(fd_);
  }
  // Returns the message when the file cannot be read.
  std::optional<std::string> Open(const std::string& name) {
    // Non-blocking, so that a named pipe is refused below, not waited on.
    fd_ = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) return message::CouldNotOpen(name);
    if (!S_ISREG(st.st_mode)) return message::NotARegularFile(name);
    source_.emplace(fd_, static_cast<uint64_t>(st.st_size));
    return std::nullopt;
  }
  FileSource& source() { return *source_; }

 private:
  int fd_ = -1;
  std::optional<FileSource> source_;
};

}  // namespace

int Run(int argc, const char* const* argv) {
  std::signal(SIGPIPE, SIG_IGN);
  const auto options = Parse(argc, argv);
  if (!options) {
    Say(STDERR_FILENO, message::kUsage);
    return kExitUsage;
  }

  Job job;
  if (options->job) {
    const auto problem = ReadJobFile(*options->job, job);
    if (!problem) {
      Say(STDERR_FILENO, message::CouldNotOpen(*options->job));
      return kExitFailed;
    }
    if (!problem->ok()) {
      Say(STDERR_FILENO,
          message::BadJob(*options->job, blkmerge::message::ForJob(*problem, *options->job)));
      return kExitFailed;
    }
  }
  const Job* job_or_null = options->job ? &job : nullptr;

  InputFile merged;
  InputFile cons_fix;
  if (auto problem = merged.Open(options->merged)) {
    Say(STDERR_FILENO, *problem);
    return kExitFailed;
  }
  if (options->cons_fix) {
    if (auto problem = cons_fix.Open(*options->cons_fix)) {
      Say(STDERR_FILENO, *problem);
      return kExitFailed;
    }
  }

  DescriptorOutput out(STDOUT_FILENO);
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
  return failures == 0 && out.ok() ? kExitAllHold : kExitFailed;
}

}  // namespace blkmerge::inspect
