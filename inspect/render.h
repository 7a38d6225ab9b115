// Writing the report as it comes: as text lines or as one JSON document.
#ifndef BLKMERGE_INSPECT_RENDER_H_
#define BLKMERGE_INSPECT_RENDER_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "inspect/report.h"

namespace blkmerge::inspect {

// Where the rendered text goes; each call is one or more whole lines.
class Output {
 public:
  virtual ~Output() = default;
  virtual void Write(std::string_view text) = 0;
};

class StringOutput final : public Output {
 public:
  void Write(std::string_view text) override { text_.append(text); }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// Receives the walks in order: the merged file, then the cons_fix file when
// there is one, then the end.
class Renderer : public ReportSink {
 public:
  virtual void BeginMerged(std::string_view name, uint64_t size) = 0;
  virtual void EndMerged() = 0;
  virtual void BeginConsFix(std::string_view name, uint64_t size) = 0;
  virtual void EndConsFix() = 0;
  // `job_file` is the --job argument, if any; `records` is nothing when no
  // cons_fix file was given.
  virtual void Finish(const std::optional<std::string>& job_file, uint64_t blocks,
                      std::optional<uint64_t> records, uint64_t failures) = 0;
};

// A line per block and record, each failure on a line of its own that
// starts with the file name, and a closing summary line.
std::unique_ptr<Renderer> MakeTextRenderer(Output& out);

// One JSON document:
//   {"merged": {"file", "size", "blocks": [...], "failures": [...]},
//    "cons_fix": {"file", "size", "records": [...], "failures": [...]} or null,
//    "job": name or null, "failed_checks": count, "ok": true or false}
// Each block and record carries its own "failures"; the file-wide ones
// follow the blocks or records.
std::unique_ptr<Renderer> MakeJsonRenderer(Output& out);

}  // namespace blkmerge::inspect

#endif  // BLKMERGE_INSPECT_RENDER_H_
