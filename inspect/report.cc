#include "inspect/report.h"

namespace blkmerge::inspect {

void FileReport::Add(std::vector<Finding>& item, Finding f) {
  ++failures;
  if (!Lists(item)) {
    ++unlisted;
    return;
  }
  ++listed;
  item.push_back(std::move(f));
}

void FileReport::AddToFile(int64_t index, uint64_t start, std::string_view check, std::string text,
                           std::optional<uint64_t> at) {
  ++failures;
  findings.push_back({index, start, check, std::move(text), at});
}

uint64_t Report::Failures() const { return merged.failures + (cons_fix ? cons_fix->failures : 0); }

bool Report::Unreadable() const { return merged.unreadable || (cons_fix && cons_fix->unreadable); }

}  // namespace blkmerge::inspect
