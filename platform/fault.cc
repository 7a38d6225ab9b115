// The fault seam's state: built into the test builds' platform layer only.
#include "platform/fault.h"

#include <algorithm>
#include <vector>

namespace blkmerge::platform {
namespace {

struct Injected {
  Fault fault;
  std::optional<FileId> file;  // what it is bound to: the file last opened under its name
};

// Made on first use, so that faults may be injected before main.
std::vector<Injected>& Faults() {
  static std::vector<Injected> faults;
  return faults;
}

bool Meets(const Injected& injected, Fault::Op op, const std::optional<FileId>& id) {
  return injected.fault.op == op && id && injected.file == id;
}

}  // namespace

void InjectFault(const Fault& fault) { Faults().push_back({fault, std::nullopt}); }

void ClearFaults() { Faults().clear(); }

namespace seam {

void Bind(std::string_view name, const std::optional<FileId>& id) {
  for (Injected& injected : Faults()) {
    if (injected.fault.name == name) injected.file = id;
  }
}

FileError FaultAt(Fault::Op op, const std::optional<FileId>& id, uint64_t offset,
                  uint64_t& length) {
  FileError error;
  for (const Injected& injected : Faults()) {
    if (!Meets(injected, op, id)) continue;
    const uint64_t at = injected.fault.offset;
    // A bad sector fails the reads that reach it; a full disk every write
    // from where it filled.
    const bool reached = op == Fault::Op::kWrite ? offset >= at : offset == at;
    if (reached) {
      error = FileError::System(injected.fault.code);
    } else if (offset < at) {
      length = std::min(length, at - offset);
    }
  }
  return error;
}

FileError FaultAt(Fault::Op op, const std::optional<FileId>& id) {
  const auto& faults = Faults();
  const auto found = std::ranges::find_if(
      faults, [&](const Injected& injected) { return Meets(injected, op, id); });
  return found == faults.end() ? FileError{} : FileError::System(found->fault.code);
}

}  // namespace seam
}  // namespace blkmerge::platform
