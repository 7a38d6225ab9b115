#include "driver/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <string_view>

#include "consfix/cons_fix.h"
#include "driver/job_file.h"
#include "driver/messages.h"
#include "driver/same_file.h"
#include "merge/block.h"
#include "merge/io.h"

namespace blkmerge {
namespace {

// Writes `text` and a line end to `fd`; false when it cannot.
bool WriteLine(int fd, std::string_view text) {
  std::string line(text);
  line.push_back('\n');
  std::string_view rest = line;
  while (!rest.empty()) {
    const ssize_t n = write(fd, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    rest.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Standard output, one flushed line per message. Remembers whether every
// line got out, so that a run nobody could hear never claims success.
class Console {
 public:
  Console() {
    // Keep descriptors 0 to 2 taken, so that no file the run opens lands
    // on them; a closed standard output means the run cannot report.
    for (int fd = 0; fd <= 2; ++fd) {
      if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
        if (fd == STDOUT_FILENO) ok_ = false;
        if (open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) != fd) ok_ = false;
      }
    }
    // A vanished reader gives a write error, not a silent death mid-run.
    std::signal(SIGPIPE, SIG_IGN);
    // Likewise a file-size limit: a failed write, reported, not a kill.
    std::signal(SIGXFSZ, SIG_IGN);
  }

  void Say(std::string_view message) {
    if (ok_) ok_ = WriteLine(STDOUT_FILENO, message);
  }

  // A line for a person on standard error. Nothing reads it but people, so
  // a run that cannot write it goes on as it would.
  void Explain(std::string_view detail) const { WriteLine(STDERR_FILENO, detail); }

  // The status to exit with: `status`, unless a line could not be printed.
  int Exit(int status) const { return ok_ || status != kExitSuccess ? status : kExitFailure; }

 private:
  bool ok_ = true;
};

// An open file descriptor, closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  // Closes now and tells whether the close succeeded.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

// Creates or truncates `name` and returns its descriptor, or -1.
int CreateOutput(const std::string& name) {
  // Non-blocking, so that a named pipe with no reader fails at once rather
  // than waiting; writes then block as usual.
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool IsRegularFile(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

int Run(int argc, const char* const* argv) {
  Console console;
  // The message on standard output; a detail, where there is one, on
  // standard error.
  auto fail = [&console](std::string_view message, std::string_view detail = {}) {
    console.Say(message);
    if (!detail.empty()) console.Explain(detail);
    return console.Exit(kExitFailure);
  };
  if (argc != 2) {
    console.Say(message::kUsage);
    return console.Exit(kExitUsage);
  }
  const std::string job_file = argv[1];

  // The job is read in full and checked before any output is touched.
  Job job;
  const auto problem = ReadJobFile(job_file, job);
  if (!problem) return fail(message::CouldNotOpenInput(job_file));
  if (!problem->ok()) {
    return fail(message::ForJob(*problem, job_file), message::JobDiagnostic(*problem, job_file));
  }
  if (const auto clash = FindOutputClash(job, job_file)) {
    return fail(clash->other_is_output ? std::string(message::kSameOutputNames)
                                       : message::SameFile(clash->output, clash->other));
  }
  // Console lines written into an output would corrupt it.
  for (const std::string* output : {&job.merged_name, &job.cons_fix_name}) {
    if (IsFileOpenOn(*output, STDOUT_FILENO)) {
      return fail(message::SameFile(*output, message::kStandardOutput));
    }
  }

  Descriptor merged_fd(CreateOutput(job.merged_name));
  if (!merged_fd.ok()) return fail(message::CouldNotOpenOutput(job.merged_name));
  Descriptor cons_fix_fd(CreateOutput(job.cons_fix_name));
  if (!cons_fix_fd.ok()) return fail(message::CouldNotOpenOutput(job.cons_fix_name));

  FileSink merged(merged_fd.get());
  if (!WriteMergedHeader(merged)) return fail(message::CouldNotWriteOutput(job.merged_name));
  // A block that fails part-way (an input that shrinks while it is read, a
  // full disk) is cut off again, so that the merged file ends with its last
  // complete block.
  const bool cut_back = IsRegularFile(merged_fd.get());
  off_t complete = lseek(merged_fd.get(), 0, SEEK_CUR);
  auto fail_block = [&](std::string_view message) {
    if (cut_back && complete >= 0) {
      // Best effort: the failure is reported whether or not the cut works.
      [[maybe_unused]] const int cut = ftruncate(merged_fd.get(), complete);
    }
    return fail(message);
  };

  for (const Pair& pair : job.pairs) {
    // Non-blocking, so that a named pipe is refused below instead of
    // waiting for a writer; reads of a regular file are unaffected.
    Descriptor input_fd(open(pair.input.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!input_fd.ok() || fstat(input_fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      return fail(message::CouldNotOpenInput(pair.input));
    }
    FileSource input(input_fd.get(), static_cast<uint64_t>(st.st_size));
    switch (RewriteInput(input, pair.alias, job.numbers, merged)) {
      case RewriteStatus::kOk: break;
      case RewriteStatus::kDamaged: return fail_block(message::InputDamaged(pair.input));
      case RewriteStatus::kWriteFailed:
        return fail_block(message::CouldNotWriteOutput(job.merged_name));
    }
    if (cut_back) complete = lseek(merged_fd.get(), 0, SEEK_CUR);
    console.Say(message::Processed(pair.input, pair.alias));
  }

  FileSink cons_fix(cons_fix_fd.get());
  if (!cons_fix.Write(ConsFixRecords(job.pairs)) || !cons_fix.Flush()) {
    return fail(message::CouldNotWriteOutput(job.cons_fix_name));
  }
  if (!merged_fd.Close()) return fail(message::CouldNotWriteOutput(job.merged_name));
  if (!cons_fix_fd.Close()) return fail(message::CouldNotWriteOutput(job.cons_fix_name));
  console.Say(message::Produced(job.cons_fix_name));
  return console.Exit(kExitSuccess);
}

}  // namespace blkmerge
