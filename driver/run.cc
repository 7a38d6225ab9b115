#include "driver/run.h"

#include <memory>
#include <string>
#include <string_view>

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
  // it would.
  void Explain(std::string_view detail) {
    console_.PrintErrorLine(std::string(message::kPrefix) + std::string(detail));
  }

  // The status to exit with: `status`, unless a line could not be printed.
  int Exit(int status) const {
    return console_.ok() || status != kExitSuccess ? status : kExitFailure;
  }

  const std::optional<platform::FileInfo>& OutputInfo() { return console_.OutputInfo(); }

 private:
  platform::Console console_;
};

// Opens `name` as an output, emptied. One that is empty already (a new
// file, mostly) is not truncated: on ext4 a truncation marks the file for
// writeback at close, which made closing a large merged file wait for the
// disk (a large job took 1.5 times as long).
platform::File CreateOutput(const std::string& name) {
  platform::File file = platform::File::OpenOutput(name);
  if (file.is_open() && file.info().size > 0 && !file.Truncate(0)) file.Close();
  return file;
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
  if (const auto failure = CheckJob(job_file, job)) return fail(failure->message, failure->detail);
  // Console lines written into an output would corrupt it.
  if (const auto& output = console.OutputInfo()) {
    for (const std::string* name : {&job.merged_name, &job.cons_fix_name}) {
      if (IsOpenRegularFile(*name, *output)) {
        return fail(message::SameFile(*name, message::kStandardOutput));
      }
    }
  }

  platform::File merged_file = CreateOutput(job.merged_name);
  if (!merged_file.is_open()) {
    return fail(message::CouldNotOpenOutput(job.merged_name),
                message::FileDetail(job.merged_name, merged_file.error(), merged_file.info().kind));
  }
  platform::File cons_fix_file = CreateOutput(job.cons_fix_name);
  if (!cons_fix_file.is_open()) {
    return fail(
        message::CouldNotOpenOutput(job.cons_fix_name),
        message::FileDetail(job.cons_fix_name, cons_fix_file.error(), cons_fix_file.info().kind));
  }
  auto write_failed = [&fail](const std::string& name, const platform::File& file) {
    return fail(message::CouldNotWriteOutput(name), message::FileDetail(name, file.error()));
  };

  FileSink merged(merged_file);
  if (!WriteMergedHeader(merged)) return write_failed(job.merged_name, merged_file);
  // A block that fails part-way (an input that shrinks while it is read, a
  // full disk) is cut off again, so that the merged file ends with its last
  // complete block. Every block is flushed whole, so what the sink has
  // written is where the last complete block ends.
  uint64_t complete = merged.written();
  auto fail_block = [&](std::string_view message, std::string_view detail) {
    // Best effort: the failure is reported whether or not the cut works.
    merged_file.Truncate(complete);
    return fail(message, detail);
  };

  // Small inputs are read whole, into this, in one call each.
  const auto whole = std::make_unique_for_overwrite<uint8_t[]>(FileSource::kWholeReadMax);
  for (const Pair& pair : job.pairs) {
    const platform::File input_file = platform::File::OpenInput(pair.input);
    if (!input_file.is_open()) {
      return fail(message::CouldNotOpenInput(pair.input),
                  message::FileDetail(pair.input, input_file.error(), input_file.info().kind));
    }
    FileSource input(input_file, {whole.get(), FileSource::kWholeReadMax});
    InputProblem problem;
    switch (RewriteInput(input, pair.alias, job.numbers, merged, &problem)) {
      case RewriteStatus::kOk: break;
      case RewriteStatus::kDamaged:
        return fail_block(message::InputDamaged(pair.input),
                          message::InputDetail(pair.input, problem));
      case RewriteStatus::kReadFailed:
        return fail_block(message::CouldNotReadInput(pair.input),
                          message::InputDetail(pair.input, problem));
      case RewriteStatus::kWriteFailed:
        return fail_block(message::CouldNotWriteOutput(job.merged_name),
                          message::FileDetail(job.merged_name, merged_file.error()));
    }
    complete = merged.written();
    console.Say(message::Processed(pair.input, pair.alias));
  }

  // The records are written straight from their buffer, in one call.
  if (!cons_fix_file.Write(ConsFixRecords(job.pairs))) {
    return write_failed(job.cons_fix_name, cons_fix_file);
  }
  if (!merged_file.Close()) return write_failed(job.merged_name, merged_file);
  if (!cons_fix_file.Close()) return write_failed(job.cons_fix_name, cons_fix_file);
  console.Say(message::Produced(job.cons_fix_name));
  return console.Exit(kExitSuccess);
}

}  // namespace blkmerge
