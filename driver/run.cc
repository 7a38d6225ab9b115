#include "driver/run.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "consfix/cons_fix.h"
#include "driver/failure.h"
#include "driver/messages.h"
#include "driver/preflight.h"
#include "driver/read_ahead.h"
#include "driver/same_file.h"
#include "merge/block.h"
#include "merge/io.h"
#include "platform/file.h"
#include "platform/process.h"

namespace blkmerge {
namespace {

// What a run short of memory could not allocate.
constexpr std::string_view kSinkBuffer = "the merged file's write buffer";
constexpr std::string_view kWholeBuffer = "the buffer that small inputs are read into";
constexpr std::string_view kRecordsAndLines = "the cons_fix records and the console lines";
constexpr std::string_view kBeforeOutputs =
    "could not allocate memory while reading the job; no output was touched";
constexpr std::string_view kWhileWriting = "could not allocate memory while writing the outputs";

// "could not allocate N bytes for WHAT; no output was touched", or without
// the count where `bytes` is 0.
Failure NoMemoryFor(std::string_view what, uint64_t bytes = 0) {
  std::string detail = "could not allocate ";
  if (bytes > 0) detail += std::to_string(bytes) + " bytes for ";
  detail += what;
  detail += "; no output was touched";
  return {FailureKind::kNoMemory, std::string(message::kNotEnoughMemory), std::move(detail)};
}

// Standard output, one line per message, each out at once. Remembers
// whether every line got out, so that a run nobody could hear never claims
// success.
class Reporter {
 public:
  void Say(std::string_view message) { console_.PrintLine(message); }

  // A line for a person on standard error, after the tool's prefix.
  // Nothing reads it but people, so a run that cannot write it goes on as
  // it would. Neither this nor Say needs memory for a line of the usual
  // length.
  void Explain(std::string_view detail) { console_.PrintErrorLine(kPrefix, detail); }

  // The failure's message on standard output; its detail, where there is
  // one, on standard error. Returns the exit status of a failed run.
  int Fail(const Failure& failure) {
    Say(failure.message);
    if (!failure.detail.empty()) Explain(failure.detail);
    return kExitFailure;
  }
  // The same without a Failure to build, where memory may have run out.
  int Fail(std::string_view message, std::string_view detail) {
    Say(message);
    Explain(detail);
    return kExitFailure;
  }

  // The status to exit with: `status`, unless a line could not be printed.
  int Exit(int status) {
    if (console_.ok() || status != kExitSuccess) return status;
    Explain(FileDetail(message::kStandardOutput, console_.error()));
    return kExitFailure;
  }

  const std::optional<platform::FileInfo>& OutputInfo() { return console_.OutputInfo(); }

 private:
  platform::Console console_;
};

// Memory from malloc, which says when there is none without throwing:
// where memory is that short, even throwing may fail.
struct Free {
  void operator()(uint8_t* p) const { std::free(p); }  // NOLINT(cppcoreguidelines-no-malloc)
};
using Memory = std::unique_ptr<uint8_t, Free>;
Memory Allocate(size_t size) {
  return Memory(static_cast<uint8_t*>(std::malloc(size)));  // NOLINT(cppcoreguidelines-no-malloc)
}

// What the run writes from, allocated before any output is touched, so
// that a run short of memory leaves every file as it was.
struct Buffers {
  Memory sink;                   // the merged file's write buffer
  Memory whole;                  // small inputs, read whole
  std::vector<uint8_t> records;  // the whole cons_fix file
  std::vector<std::string> processed;

  // Fails with what could not be allocated.
  Failure Allocate(const Job& job) {
    // The largest first: where memory is short, they fail first.
    sink = blkmerge::Allocate(FileSink::kBufferSize);
    if (!sink) return NoMemoryFor(kSinkBuffer, FileSink::kBufferSize);
    whole = blkmerge::Allocate(FileSource::kWholeReadMax);
    if (!whole) return NoMemoryFor(kWholeBuffer, FileSource::kWholeReadMax);
    try {
      records = ConsFixRecords(job.Aliases());
      processed.reserve(job.pairs.size());
      for (const Pair& pair : job.pairs) {
        processed.push_back(message::Processed(pair.input, pair.alias));
      }
    } catch (const std::bad_alloc&) {
      return NoMemoryFor(kRecordsAndLines);
    }
    return {};
  }
};

// The two outputs while the run writes them: open, locked, and cut back
// to what a failed or interrupted run leaves.
struct Outputs {
  static constexpr size_t kMerged = 0;
  static constexpr size_t kConsFix = 1;

  platform::File merged;
  platform::File cons_fix;
  uint64_t complete = 0;  // where the merged file's last complete block ends
  platform::InterruptGuard guard;

  // From now on a failure or an interrupt leaves the merged file `length`
  // bytes long.
  void Complete(uint64_t length) {
    complete = length;
    guard.Keep(kMerged, merged, length);
  }
  // Best effort: the failure is reported whether or not the cut works.
  void CutBack() {
    merged.Truncate(complete);
    cons_fix.Truncate(0);
  }
};

// Empties an output that holds anything. One that is empty already (a new
// file, mostly) is not truncated: on ext4 a truncation marks the file for
// writeback at close, which made closing a large merged file wait for the
// disk (a large job took 1.5 times as long).
bool Empty(platform::File& file) { return file.info().size == 0 || file.Truncate(0); }

// Opens again an output that was closed, to cut it back: the regular file
// that `name` still leads to, when it is the one `closed` was. Otherwise a
// closed File, which cuts nothing: a file that has gone is not made again,
// and one put in its place is not the run's to empty.
platform::File Reopen(const std::string& name, const platform::File& closed) {
  if (closed.info().kind != platform::FileKind::kRegular) return {};
  const auto path = platform::PathOf(name);
  const auto now = path ? platform::InfoOf(*path) : std::nullopt;
  if (!now || now->id != closed.info().id) return {};
  return platform::File::OpenOutput(name);
}

// The failure of an output that cannot be opened, emptied or written.
Failure OutputFailure(FailureKind kind, const std::string& name, const platform::File& file) {
  return {kind,
          kind == FailureKind::kOutputUnopened ? message::CouldNotOpenOutput(name)
                                               : message::CouldNotWriteOutput(name),
          FileDetail(name, file.error(), file.info().kind)};
}

// The steps from the merged file's header to the closed outputs.
int WriteOutputs(Reporter& reporter, const Job& job, Buffers& buffers, Outputs& out) {
  // The failure's detail is taken before the cut, which may fail too.
  auto fail = [&](const Failure& failure) {
    out.CutBack();
    return reporter.Fail(failure);
  };
  auto write_failed = [&](const std::string& name, const platform::File& file) {
    return fail(OutputFailure(FailureKind::kOutputUnwritten, name, file));
  };

  FileSink merged(out.merged, std::span<uint8_t, FileSink::kBufferSize>(buffers.sink.get(),
                                                                        FileSink::kBufferSize));
  if (!WriteMergedHeader(merged)) return write_failed(job.merged_name, out.merged);
  // Every block is flushed whole, so what the sink has written is where
  // the last complete block ends. A block that fails part-way (an input
  // that shrinks or cannot be read, a full disk) is cut off again.
  out.Complete(merged.written());
  ReadAhead ahead(job.pairs);
  for (size_t i = 0; i < job.pairs.size(); ++i) {
    const Pair& pair = job.pairs[i];
    const platform::File& input_file = ahead.Open(i);
    if (!input_file.is_open()) return fail(InputUnopened(pair, input_file));
    FileSource input(input_file, {buffers.whole.get(), FileSource::kWholeReadMax}, &ahead);
    InputProblem problem;
    switch (RewriteInput(input, pair.alias, job.numbers, merged, &problem)) {
      case RewriteStatus::kOk: break;
      case RewriteStatus::kDamaged:
      case RewriteStatus::kReadFailed: return fail(InputRefused(pair, problem));
      case RewriteStatus::kWriteFailed: return write_failed(job.merged_name, out.merged);
    }
    out.Complete(merged.written());
    reporter.Say(buffers.processed[i]);
  }

  // The records are written straight from their buffer, in one call; a
  // write that fails part-way leaves the file empty, as every failed run
  // does.
  if (!out.cons_fix.Write(buffers.records)) return write_failed(job.cons_fix_name, out.cons_fix);
  out.guard.Clear();
  if (!out.merged.Close()) return write_failed(job.merged_name, out.merged);
  if (!out.cons_fix.Close()) {
    // The close took the handle with it, failed or not: the file is opened
    // again by name to be cut back.
    const Failure failure =
        OutputFailure(FailureKind::kOutputUnwritten, job.cons_fix_name, out.cons_fix);
    out.cons_fix = Reopen(job.cons_fix_name, out.cons_fix);
    return fail(failure);
  }
  reporter.Say(message::Produced(job.cons_fix_name));
  return reporter.Exit(kExitSuccess);
}

int RunJob(Reporter& reporter, int argc, const char* const* argv) {
  if (argc != 2) {
    reporter.Say(message::kUsage);
    reporter.Explain("expected one argument, the job file, but got " + std::to_string(argc - 1));
    return reporter.Exit(kExitUsage);
  }
  const std::string job_file = argv[1];

  // The job is read in full and checked before any output is touched.
  Job job;
  if (const Failure failure = CheckJob(job_file, job)) return reporter.Fail(failure);
  // Console lines written into an output would corrupt it, whatever kind
  // of file standard output is.
  if (const auto& output = reporter.OutputInfo()) {
    if (const Failure failure = CheckNotConsole(job, *output)) return reporter.Fail(failure);
  }
  Buffers buffers;
  if (const Failure failure = buffers.Allocate(job)) return reporter.Fail(failure);

  // Both outputs are opened, and locked, before either is emptied: a run
  // that cannot have both leaves an existing output as it was.
  Outputs out;
  out.merged = platform::File::OpenOutput(job.merged_name);
  if (!out.merged.is_open()) {
    return reporter.Fail(OutputFailure(FailureKind::kOutputUnopened, job.merged_name, out.merged));
  }
  out.cons_fix = platform::File::OpenOutput(job.cons_fix_name);
  if (!out.cons_fix.is_open()) {
    return reporter.Fail(
        OutputFailure(FailureKind::kOutputUnopened, job.cons_fix_name, out.cons_fix));
  }
  // From here an interrupt leaves both outputs empty, so that one emptied
  // is never left beside the other's old bytes.
  out.guard.Keep(Outputs::kConsFix, out.cons_fix, 0);
  out.Complete(0);
  for (auto [file, name] :
       {std::pair{&out.merged, &job.merged_name}, std::pair{&out.cons_fix, &job.cons_fix_name}}) {
    if (!Empty(*file)) {
      return reporter.Fail(OutputFailure(FailureKind::kOutputUnopened, *name, *file));
    }
  }

  try {
    return WriteOutputs(reporter, job, buffers, out);
  } catch (const std::bad_alloc&) {
    // Not expected, with everything allocated up front; the outputs are
    // left as any failed run leaves them.
    out.CutBack();
    return reporter.Fail(message::kNotEnoughMemory, kWhileWriting);
  }
}

}  // namespace

int FailForMemory() {
  Reporter reporter;
  return reporter.Fail(message::kNotEnoughMemory, kBeforeOutputs);
}

int Run(int argc, const char* const* argv) {
  Reporter reporter;
  try {
    return RunJob(reporter, argc, argv);
  } catch (const std::bad_alloc&) {
    // Before any output was touched.
    return reporter.Fail(message::kNotEnoughMemory, kBeforeOutputs);
  }
}

}  // namespace blkmerge
