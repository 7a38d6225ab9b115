#include "driver/run.h"

#include <array>
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
#include "platform/output.h"
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

  // Prints `text` as it is: the help or the version. Returns the exit
  // status.
  int Inform(std::string_view text) {
    console_.Print(text);
    return Exit(kExitSuccess);
  }

  // The status to exit with: `status`, unless a line could not be printed.
  int Exit(int status) {
    if (console_.ok() || status != kExitSuccess) return status;
    Explain(FileDetail(message::kStandardOutput, console_.error()));
    return kExitFailure;
  }

  const std::optional<platform::FileInfo>& OutputInfo() { return console_.OutputInfo(); }
  const std::optional<platform::FileInfo>& ErrorInfo() { return console_.ErrorInfo(); }

 private:
  platform::Console console_;
};

// Memory from malloc, which says when there is none without throwing:
// where memory is that short, even throwing may fail.
struct Free {
  void operator()(uint8_t* p) const { std::free(p); }
};
using Memory = std::unique_ptr<uint8_t, Free>;
Memory Allocate(size_t size) { return Memory(static_cast<uint8_t*>(std::malloc(size))); }

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

// The two outputs while the run writes them.
struct Outputs {
  platform::Output merged;
  platform::Output cons_fix;

  void GiveUp() {
    merged.Abandon();
    cons_fix.Abandon();
  }
};

// The failure of an output that cannot be opened, emptied or written.
Failure OutputFailure(FailureKind kind, const std::string& name, const platform::FileError& error,
                      platform::FileKind found = platform::FileKind::kRegular) {
  return {kind,
          kind == FailureKind::kOutputUnopened ? message::CouldNotOpenOutput(name)
                                               : message::CouldNotWriteOutput(name),
          FileDetail(name, error, found)};
}

Failure OutputUnopened(const std::string& name, const platform::Output& output) {
  const auto& found = output.existing();
  return OutputFailure(FailureKind::kOutputUnopened, name, output.error(),
                       found ? found->kind : platform::FileKind::kRegular);
}

// What the outputs must not be besides each other, as the run found them.
struct Others {
  std::string job_file;
  platform::FileInfo job;
  std::optional<platform::FileInfo> standard_output;
  std::optional<platform::FileInfo> standard_error;
};

// Finds both outputs, checks that they are two files, opens and locks
// both, then checks what they are as opened; and only then empties one
// written in place. A run refused on the way leaves every file as it was.
Failure OpenOutputs(const Job& job, const Others& others, Outputs& out) {
  const std::array outputs = {std::pair{&out.merged, &job.merged_name},
                              std::pair{&out.cons_fix, &job.cons_fix_name}};
  for (const auto& [output, name] : outputs) {
    *output = platform::Output::Find(*name);
    if (!output->found()) return OutputUnopened(*name, *output);
  }
  if (Failure failure = CheckTargetsApart(job, out.merged, out.cons_fix)) return failure;
  for (const auto& [output, name] : outputs) {
    if (!output->Open()) return OutputUnopened(*name, *output);
  }
  for (const auto& [output, name] : outputs) {
    for (const auto& [other, file] :
         {std::pair{std::string_view(others.job_file), std::optional(others.job)},
          {message::kStandardOutput, others.standard_output},
          {message::kStandardError, others.standard_error}}) {
      if (Failure failure = CheckNotFile(*name, *output, std::string(other), file)) return failure;
    }
  }
  for (const auto& [output, name] : outputs) {
    if (output->is_terminal()) {
      return OutputFailure(FailureKind::kOutputUnopened, *name,
                           {platform::FileError::Kind::kTerminal});
    }
    if (!output->Empty())
      return OutputFailure(FailureKind::kOutputUnopened, *name, output->file().error());
  }
  return {};
}

// Fails when the file `other` is one of the outputs as opened.
Failure CheckNotOutput(const Job& job, const Outputs& out, const std::string& other,
                       const std::optional<platform::FileInfo>& file) {
  if (Failure f = CheckNotFile(job.merged_name, out.merged, other, file)) return f;
  return CheckNotFile(job.cons_fix_name, out.cons_fix, other, file);
}

// The steps from the merged file's header to both outputs in their places.
// `job_file` names the job in the details of its inputs.
int WriteOutputs(Reporter& reporter, std::string_view job_file, const Job& job, Buffers& buffers,
                 Outputs& out) {
  // The failure's detail is taken before the outputs are given up.
  auto fail = [&](const Failure& failure) {
    out.GiveUp();
    return reporter.Fail(failure);
  };
  auto write_failed = [&](const std::string& name, const platform::FileError& error) {
    return fail(OutputFailure(FailureKind::kOutputUnwritten, name, error));
  };

  FileSink merged(out.merged.file(), std::span<uint8_t, FileSink::kBufferSize>(
                                         buffers.sink.get(), FileSink::kBufferSize));
  if (!WriteMergedHeader(merged)) return write_failed(job.merged_name, out.merged.file().error());
  // Every block is flushed whole, so what the sink has written is where
  // the last complete block ends: where a merged file written in place is
  // cut back to when the run fails.
  out.merged.Keep(merged.written());
  ReadAhead ahead(job.pairs);
  for (size_t i = 0; i < job.pairs.size(); ++i) {
    const Pair& pair = job.pairs[i];
    const platform::File& input_file = ahead.Open(i);
    if (!input_file.is_open()) return fail(InputUnopened(job_file, pair, input_file));
    // Its name was checked before the run began; the file opened is too.
    if (Failure f = CheckNotOutput(job, out, pair.input, input_file.info())) return fail(f);
    FileSource input(input_file, {buffers.whole.get(), FileSource::kWholeReadMax}, &ahead);
    InputProblem problem;
    std::string malformation;
    const RewriteStatus status =
        RewriteInput(input, pair.alias, job.numbers, merged, &problem, &malformation);
    if (!malformation.empty()) reporter.Explain(InputWarning(job_file, pair, malformation));
    switch (status) {
      case RewriteStatus::kOk: break;
      case RewriteStatus::kDamaged:
      case RewriteStatus::kReadFailed: return fail(InputRefused(job_file, pair, problem));
      case RewriteStatus::kWriteFailed:
        return write_failed(job.merged_name, out.merged.file().error());
    }
    out.merged.Keep(merged.written());
    reporter.Say(buffers.processed[i]);
  }

  // The records are written straight from their buffer, in one call.
  if (!out.cons_fix.file().Write(buffers.records)) {
    return write_failed(job.cons_fix_name, out.cons_fix.file().error());
  }
  if (!out.merged.Close()) return write_failed(job.merged_name, out.merged.file().error());
  if (!out.cons_fix.Close()) return write_failed(job.cons_fix_name, out.cons_fix.file().error());
  // The cons_fix file first: a crash between the two leaves the old merged
  // file, older than the job, which a build then makes again.
  platform::FileError error;
  const std::array<platform::Output*, 2> order = {&out.cons_fix, &out.merged};
  if (const int failed = platform::Publish(order, error); failed >= 0) {
    return write_failed(failed == 0 ? job.cons_fix_name : job.merged_name, error);
  }
  reporter.Say(message::Produced(job.cons_fix_name));
  return reporter.Exit(kExitSuccess);
}

int RunJob(Reporter& reporter, int argc, const char* const* argv) {
  // Only these two words exactly; any other argument names a job file.
  if (argc == 2 &&
      (argv[1] == std::string_view("--help") || argv[1] == std::string_view("--version"))) {
    return reporter.Inform(argv[1] == std::string_view("--help") ? message::Help()
                                                                 : message::Version());
  }
  if (argc != 2) {
    reporter.Say(message::kUsage);
    reporter.Explain("expected one argument, the job file, but got " + std::to_string(argc - 1));
    return reporter.Exit(kExitUsage);
  }
  Others others{.job_file = argv[1], .job = {}, .standard_output = {}, .standard_error = {}};

  // The job is read in full and checked before any output is touched.
  Job job;
  const Failure refused = CheckJob(others.job_file, job, &others.job);
  for (const std::string& warning : job.warnings) reporter.Explain(warning);
  if (refused) return reporter.Fail(refused);
  Buffers buffers;
  if (const Failure failure = buffers.Allocate(job)) return reporter.Fail(failure);

  // Console lines written into an output would corrupt it, whatever kind
  // of file standard output or standard error is.
  others.standard_output = reporter.OutputInfo();
  others.standard_error = reporter.ErrorInfo();
  const platform::InterruptGuard guard;
  Outputs out;
  if (const Failure failure = OpenOutputs(job, others, out)) {
    out.GiveUp();
    return reporter.Fail(failure);
  }
  try {
    return WriteOutputs(reporter, others.job_file, job, buffers, out);
  } catch (const std::bad_alloc&) {
    // Not expected, with everything allocated up front; the outputs are
    // left as any failed run leaves them.
    out.GiveUp();
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
