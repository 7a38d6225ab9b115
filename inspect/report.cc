#include "inspect/report.h"

namespace blkmerge::inspect {

FileKind FileOf(Check check) {
  switch (check) {
    case Check::kPartialRecord:
    case Check::kNamePadding:
    case Check::kMatrix:
    case Check::kFirstNameDiffers:
    case Check::kRecordCount:
    case Check::kRecordFirstAlias:
    case Check::kRecordAlias: return FileKind::kConsFix;
    default: return FileKind::kMerged;
  }
}

std::vector<Finding> Report::AllFindings() const {
  std::vector<Finding> all;
  for (const BlockReport& b : blocks) all.insert(all.end(), b.findings.begin(), b.findings.end());
  for (const RecordReport& r : records) all.insert(all.end(), r.findings.begin(), r.findings.end());
  all.insert(all.end(), file_findings.begin(), file_findings.end());
  return all;
}

}  // namespace blkmerge::inspect
