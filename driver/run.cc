#include "driver/run.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "consfix/cons_fix.h"
#include "driver/messages.h"
#include "driver/preflight.h"
#include "driver/same_file.h"
#include "merge/block.h"
#include "merge/io.h"
#include "platform/file.h"
#include "platform/process.h"

namespace blkmerge {
namespace {

// Standard output, one line per message, each out at once. Remembers
// whether every line got out, so that a run nobody could hear never claims
// success.
class Console {
 public:
  void Say(std::string_view message) { console_.PrintLine(message); }

  // A line for a person on standard error, after the tool's prefix.
  // Nothing reads it but people, so a run that cannot write it goes on as
  // it would. Neither this nor Say needs memory for a line of the usual
  // length.
  void Explain(std::string_view detail) { console_.PrintErrorLine(message::kPrefix, detail); }

  // The message on standard output; a detail, where there is one, on
  // standard error. Returns the exit status of a failed run.
  int Fail(std::string_view message, std::string_view detail = {}) {
    Say(message);
    if (!detail.empty()) Explain(detail);
    return kExitFailure;
  }

  // The status to exit with: `status`, unless a line could not be printed.
  int Exit(int status) {
    if (console_.ok() || status != kExitSuccess) return status;
    Explain(message::FileDetail(message::kStandardOutput, console_.error()));
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

  // Returns the detail of what could not be allocated, or nothing.
  std::optional<std::string> Allocate(const Job& job) {
    // The largest first: where memory is short, they fail first.
    sink = blkmerge::Allocate(FileSink::kBufferSize);
    if (!sink) return message::NoMemoryFor(message::memory::kSinkBuffer, FileSink::kBufferSize);
    whole = blkmerge::Allocate(FileSource::kWholeReadMax);
    if (!whole) {
      return message::NoMemoryFor(message::memory::kWholeBuffer, FileSource::kWholeReadMax);
    }
    try {
      records = ConsFixRecords(job.pairs);
      processed.reserve(job.pairs.size());
      for (const Pair& pair : job.pairs) {
        processed.push_back(message::Processed(pair.input, pair.alias));
      }
    } catch (const std::bad_alloc&) {
      return message::NoMemoryFor(message::memory::kRecordsAndLines);
    }
    return std::nullopt;
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

// The steps from the merged file's header to the closed outputs.
int WriteOutputs(Console& console, const Job& job, Buffers& buffers, Outputs& out) {
  // The failure's detail is taken before the cut, which may fail too.
  auto fail = [&](std::string_view message, const std::string& detail) {
    out.CutBack();
    return console.Fail(message, detail);
  };
  auto write_failed = [&](const std::string& name, const platform::File& file) {
    return fail(message::CouldNotWriteOutput(name), message::FileDetail(name, file.error()));
  };

  FileSink merged(out.merged, std::span<uint8_t, FileSink::kBufferSize>(buffers.sink.get(),
                                                                        FileSink::kBufferSize));
  if (!WriteMergedHeader(merged)) return write_failed(job.merged_name, out.merged);
  // Every block is flushed whole, so what the sink has written is where
  // the last complete block ends. A block that fails part-way (an input
  // that shrinks or cannot be read, a full disk) is cut off again.
  out.Complete(merged.written());
  for (size_t i = 0; i < job.pairs.size(); ++i) {
    const Pair& pair = job.pairs[i];
    const platform::File input_file = platform::File::OpenInput(pair.input);
    if (!input_file.is_open()) {
      return fail(message::CouldNotOpenInput(pair.input),
                  message::FileDetail(pair.input, input_file.error(), input_file.info().kind));
    }
    FileSource input(input_file, {buffers.whole.get(), FileSource::kWholeReadMax});
    InputProblem problem;
    switch (RewriteInput(input, pair.alias, job.numbers, merged, &problem)) {
      case RewriteStatus::kOk: break;
      case RewriteStatus::kDamaged:
        return fail(message::InputDamaged(pair.input), message::InputDetail(pair.input, problem));
      case RewriteStatus::kReadFailed:
        return fail(message::CouldNotReadInput(pair.input),
                    message::InputDetail(pair.input, problem));
      case RewriteStatus::kWriteFailed: return write_failed(job.merged_name, out.merged);
    }
    out.Complete(merged.written());
    console.Say(buffers.processed[i]);
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
    const platform::FileError error = out.cons_fix.error();
    out.cons_fix = Reopen(job.cons_fix_name, out.cons_fix);
    return fail(message::CouldNotWriteOutput(job.cons_fix_name),
                message::FileDetail(job.cons_fix_name, error));
  }
  console.Say(message::Produced(job.cons_fix_name));
  return console.Exit(kExitSuccess);
}

int RunJob(Console& console, int argc, const char* const* argv) {
  if (argc != 2) {
    console.Say(message::kUsage);
    console.Explain(message::ArgumentCount(argc - 1));
    return console.Exit(kExitUsage);
  }
  const std::string job_file = argv[1];

  // The job is read in full and checked before any output is touched.
  Job job;
  if (const auto failure = CheckJob(job_file, job)) {
    return console.Fail(failure->message, failure->detail);
  }
  // Console lines written into an output would corrupt it, whatever kind
  // of file standard output is.
  if (const auto& output = console.OutputInfo()) {
    for (const std::string* name : {&job.merged_name, &job.cons_fix_name}) {
      if (const auto reason = IsOpenFile(*name, *output)) {
        return console.Fail(message::SameFile(*name, message::kStandardOutput),
                            message::SameFileDetail(*name, message::kStandardOutput, *reason));
      }
    }
  }
  Buffers buffers;
  if (const auto shortfall = buffers.Allocate(job)) {
    return console.Fail(message::kNotEnoughMemory, *shortfall);
  }

  // Both outputs are opened, and locked, before either is emptied: a run
  // that cannot have both leaves an existing output as it was.
  Outputs out;
  out.merged = platform::File::OpenOutput(job.merged_name);
  if (!out.merged.is_open()) {
    return console.Fail(
        message::CouldNotOpenOutput(job.merged_name),
        message::FileDetail(job.merged_name, out.merged.error(), out.merged.info().kind));
  }
  out.cons_fix = platform::File::OpenOutput(job.cons_fix_name);
  if (!out.cons_fix.is_open()) {
    return console.Fail(
        message::CouldNotOpenOutput(job.cons_fix_name),
        message::FileDetail(job.cons_fix_name, out.cons_fix.error(), out.cons_fix.info().kind));
  }
  // From here an interrupt leaves both outputs empty, so that one emptied
  // is never left beside the other's old bytes.
  out.guard.Keep(Outputs::kConsFix, out.cons_fix, 0);
  out.Complete(0);
  for (auto [file, name] :
       {std::pair{&out.merged, &job.merged_name}, std::pair{&out.cons_fix, &job.cons_fix_name}}) {
    if (!Empty(*file)) {
      return console.Fail(message::CouldNotOpenOutput(*name),
                          message::FileDetail(*name, file->error()));
    }
  }

  try {
    return WriteOutputs(console, job, buffers, out);
  } catch (const std::bad_alloc&) {
    // Not expected, with everything allocated up front; the outputs are
    // left as any failed run leaves them.
    out.CutBack();
    return console.Fail(message::kNotEnoughMemory, message::memory::kWhileWriting);
  }
}

}  // namespace

int FailForMemory() {
  Console console;
  return console.Fail(message::kNotEnoughMemory, message::memory::kBeforeOutputs);
}

int Run(int argc, const char* const* argv) {
  Console console;
  try {
    return RunJob(console, argc, argv);
  } catch (const std::bad_alloc&) {
    // Before any output was touched.
    return console.Fail(message::kNotEnoughMemory, message::memory::kBeforeOutputs);
  }
}

}  // namespace blkmerge
