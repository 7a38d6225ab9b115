// The outputs of a run on Windows: names are full paths in UTF-16; the
// lock file is held open unshared and goes when its last handle closes,
// so that no run, however it ends, leaves one behind.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <array>
#include <atomic>
#include <cwchar>
#include <string>
#include <utility>

#include "platform/file.h"
#include "platform/native.h"
#include "platform/output.h"

namespace blkmerge::platform {
namespace {

constexpr std::string_view kTempTag = ".blkmerge-";
constexpr std::string_view kLockTag = ".blkmerge-lock";
constexpr std::string_view kOldTag = ".blkmerge-old-";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE ToHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);  // NOLINT(performance-no-int-to-ptr)
}
intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }

FileError LastError() { return FileError::System(GetLastError()); }

std::wstring WideOf(const std::string& utf8) { return native::Wide(utf8).value_or(L""); }

// ------------------------------------------------------- the interrupts

// The console control handler runs on a thread of its own; it waits for a
// publish under way to end, and stops the run's thread before it touches
// anything.
HANDLE run_thread = nullptr;
SRWLOCK publishing = SRWLOCK_INIT;
std::atomic<bool> interrupted{false};

BOOL WINAPI GiveUpAndEnd(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: break;
    default: return FALSE;
  }
  interrupted.store(true);
  // A publish under way puts everything back when it sees the flag, or
  // finishes; either way nothing is half done once the lock is had.
  AcquireSRWLockExclusive(&publishing);
  // Asking for the run's context waits until it has really stopped, its
  // write done.
  if (run_thread != nullptr && SuspendThread(run_thread) != static_cast<DWORD>(-1)) {
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(run_thread, &context);
  }
  for (const native::OutputSlot& slot : native::OutputSlots()) {
    if (!slot.used.load(std::memory_order_acquire)) continue;
    const intptr_t handle = slot.in_place.load();
    if (handle != -1) {
      FILE_END_OF_FILE_INFO end{};
      end.EndOfFile.QuadPart = static_cast<LONGLONG>(slot.length.load());
      SetFileInformationByHandle(ToHandle(handle), FileEndOfFileInfo, &end, sizeof end);
    }
    // Into a buffer of the handler's own: the run, stopped, may hold the
    // heap's lock. UTF-8 takes no more UTF-16 units than it has bytes.
    std::array<wchar_t, sizeof slot.temp> temp{};
    if (slot.temp[0] != '\0' && MultiByteToWideChar(CP_UTF8, 0, slot.temp.data(), -1, temp.data(),
                                                    static_cast<int>(temp.size())) > 0) {
      DeleteFileW(temp.data());
    }
  }
  // What the default handler ends the process with; the lock files go
  // with their handles.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  return TRUE;
}

}  // namespace

InterruptGuard::InterruptGuard() {
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &run_thread, 0,
                  FALSE, DUPLICATE_SAME_ACCESS);
  SetConsoleCtrlHandler(GiveUpAndEnd, TRUE);
}

InterruptGuard::~InterruptGuard() {
  SetConsoleCtrlHandler(GiveUpAndEnd, FALSE);
  if (run_thread != nullptr) CloseHandle(run_thread);
  run_thread = nullptr;
}

// ------------------------------------------------------------- Output

Output Output::Find(std::string_view name) {
  Output out;
  out.name_ = name;
  const auto wide = native::Wide(name);
  if (!wide) {
    out.error_ = {FileError::Kind::kBadName};
    return out;
  }
  std::array<wchar_t, 32768> full{};
  wchar_t* leaf = nullptr;
  const DWORD n = wide->empty() ? 0
                                : GetFullPathNameW(wide->c_str(), static_cast<DWORD>(full.size()),
                                                   full.data(), &leaf);
  if (n == 0 || n >= full.size()) {
    out.error_ = wide->empty() ? FileError::System(ERROR_PATH_NOT_FOUND) : LastError();
    return out;
  }
  // What is there now, links followed; a device name has no folder.
  const HANDLE found = CreateFileW(full.data(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (found != INVALID_HANDLE_VALUE) {
    out.existing_ = native::InfoOfHandle(found);
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(found, FileBasicInfo, &basic, sizeof basic) != FALSE) {
      out.permissions_ = basic.FileAttributes;
    }
    CloseHandle(found);
  }
  if (leaf == nullptr || *leaf == L'\0') {
    if (!out.existing_ || out.existing_->kind == FileKind::kDirectory) {
      out.error_ = FileError::System(out.existing_ ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
      return out;
    }
    leaf = full.data() + n;
  }
  out.leaf_ = native::Utf8(leaf);
  out.folder_path_ = native::Utf8({full.data(), static_cast<size_t>(leaf - full.data())});
  if (!out.existing_ || out.existing_->kind == FileKind::kRegular) {
    const HANDLE folder =
        CreateFileW(WideOf(out.folder_path_).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
      out.error_ = LastError();
      return out;
    }
    const auto info = native::InfoOfHandle(folder);
    CloseHandle(folder);
    if (info && info->id) out.folder_id_ = *info->id;
  }
  out.found_ = true;
  return out;
}

FileError Output::Foresee() const {
  // Open writes a directory as it is (OpenAsItIs), which the system
  // refuses.
  if (existing_ && existing_->kind == FileKind::kDirectory) {
    return FileError::System(ERROR_ACCESS_DENIED);
  }
  return {};
}

bool Output::SameTarget(const Output& other) const {
  const auto id = existing_ ? existing_->id : std::nullopt;
  const auto other_id = other.existing_ ? other.existing_->id : std::nullopt;
  if (id || other_id) return id == other_id;
  // As the file system compares names: without regard to case.
  const std::wstring a = WideOf(leaf_);
  const std::wstring b = WideOf(other.leaf_);
  return folder_id_ == other.folder_id_ &&
         CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool Output::LookAgain(bool& as_found) {
  Output again = Find(name_);
  if (!again.found()) return Fail(again.error_);
  existing_ = again.existing_;
  permissions_ = again.permissions_;
  as_found = !existing_ || existing_->kind == FileKind::kRegular;
  return true;
}

bool Output::TakeLock(bool& made) {
  made = false;
  lock_name_ = folder_path_ + native::Hidden(leaf_, kLockTag);
  // Unshared, so that a second run cannot open it; gone when the last
  // handle closes, however the process ends.
  const HANDLE lock = CreateFileW(WideOf(lock_name_).c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (lock == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A lock file that is being removed cannot be opened either.
    made = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
    return Fail(made ? FileError{FileError::Kind::kLocked} : FileError::System(error));
  }
  made = true;
  lock_ = FromHandle(lock);
  return true;
}

void Output::ReleaseLock() {
  if (held_ != -1) CloseHandle(ToHandle(held_));
  held_ = -1;
  if (lock_ != -1) CloseHandle(ToHandle(lock_));
  lock_ = -1;
}

bool Output::Open() {
  if (existing_ && existing_->kind != FileKind::kRegular) return OpenAsItIs();
  bool made = false;
  if (!TakeLock(made)) {
    if (made) return false;
    return OpenAsItIs();
  }
  bool as_found = false;
  if (!LookAgain(as_found)) {
    ReleaseLock();
    return false;
  }
  if (!as_found) {
    ReleaseLock();
    return OpenAsItIs();
  }
  return OpenBeside();
}

bool Output::OpenAsItIs() {
  const std::wstring path = WideOf(folder_path_ + leaf_);
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Fail(LastError());
  const auto info = native::InfoOfHandle(handle);
  file_ = File(FromHandle(handle), info.value_or(FileInfo{}));
  native::Opened(name_, file_);
  existing_ = info;
  if (!info || info->kind != FileKind::kRegular) {
    mode_ = Mode::kDirect;
    DWORD console_mode = 0;
    terminal_ = GetConsoleMode(handle, &console_mode) != FALSE;
    return true;
  }
  mode_ = Mode::kInPlace;
  // Every byte there is or may be, without waiting. Any other failure is a
  // file system that cannot lock: the file is written unlocked.
  OVERLAPPED whole{};
  if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                 &whole) == FALSE &&
      GetLastError() == ERROR_LOCK_VIOLATION) {
    return Fail({FileError::Kind::kLocked});
  }
  // What it holds is looked at once the lock is held.
  existing_ = native::InfoOfHandle(handle);
  if (existing_) file_.info_ = *existing_;
  WriteInPlace(FromHandle(handle));
  return true;
}

bool Output::OpenBeside() {
  const std::wstring target = WideOf(folder_path_ + leaf_);
  if (existing_) {
    // A file the run may not write is not replaced either.
    if ((permissions_ & FILE_ATTRIBUTE_READONLY) != 0) {
      ReleaseLock();
      return Fail(FileError::System(ERROR_ACCESS_DENIED));
    }
    // Held, and locked, while it is replaced, so that a run that can only
    // write it in place waits for this one.
    const HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held != INVALID_HANDLE_VALUE) {
      held_ = FromHandle(held);
      OVERLAPPED whole{};
      if (LockFileEx(held, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                     MAXDWORD, &whole) == FALSE &&
          GetLastError() == ERROR_LOCK_VIOLATION) {
        ReleaseLock();
        return Fail({FileError::Kind::kLocked});
      }
    }
  }
  for (int tries = 0; tries < 100; ++tries) {
    std::string temp =
        folder_path_ + native::Hidden(leaf_, std::string(kTempTag) + native::RandomTag());
    const HANDLE handle = CreateFileW(WideOf(temp).c_str(), GENERIC_WRITE | DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
    if (handle == INVALID_HANDLE_VALUE) {
      const FileError error = LastError();
      ReleaseLock();
      return existing_ ? OpenAsItIs() : Fail(error);
    }
    temp_ = std::move(temp);
    slot_ = native::TakeOutputSlot(-1, temp_, "");
    mode_ = Mode::kReplace;
    file_ = File(FromHandle(handle), native::InfoOfHandle(handle).value_or(FileInfo{}));
    native::Opened(name_, file_);
    return true;
  }
  ReleaseLock();
  return Fail(FileError::System(ERROR_FILE_EXISTS));
}

void Output::Abandon() {
  if (published_) return;
  CutBack();
  file_ = File();
  if (!temp_.empty()) DeleteFileW(WideOf(temp_).c_str());
  temp_.clear();
  native::FreeOutputSlot(slot_);
  ReleaseLock();
  found_ = false;
}

void native::HoldInterrupts() { AcquireSRWLockExclusive(&publishing); }

FileError native::InterruptWaiting() {
  return interrupted.load() ? FileError::System(ERROR_OPERATION_ABORTED) : FileError{};
}

void native::LetInterruptsThrough() { ReleaseSRWLockExclusive(&publishing); }

FileError Output::TakePlace() {
  if (mode_ != Mode::kReplace) return {};
  const std::wstring target = WideOf(folder_path_ + leaf_);
  const std::wstring temp = WideOf(temp_);
  // The new file takes the old one's attributes, without the hidden one.
  const DWORD attributes =
      existing_ && permissions_ != 0 ? permissions_ : DWORD{FILE_ATTRIBUTE_NORMAL};
  SetFileAttributesW(temp.c_str(), attributes);
  if (held_ != -1) CloseHandle(ToHandle(held_));
  held_ = -1;
  // The old file steps aside first, so that it can be put back.
  if (existing_) {
    aside_ = folder_path_ + native::Hidden(leaf_, std::string(kOldTag) + native::RandomTag());
    if (MoveFileExW(target.c_str(), WideOf(aside_).c_str(), 0) == FALSE) {
      aside_.clear();
      return LastError();
    }
  }
  if (MoveFileExW(temp.c_str(), target.c_str(), 0) == FALSE) {
    const FileError error = LastError();
    if (!aside_.empty()) MoveFileExW(WideOf(aside_).c_str(), target.c_str(), 0);
    aside_.clear();
    return error;
  }
  swapped_ = true;
  return {};
}

void Output::GiveBackPlace() {
  if (!swapped_) return;
  const std::wstring target = WideOf(folder_path_ + leaf_);
  MoveFileExW(target.c_str(), WideOf(temp_).c_str(), 0);
  if (!aside_.empty()) MoveFileExW(WideOf(aside_).c_str(), target.c_str(), 0);
  aside_.clear();
}

void Output::Published() {
  if (!aside_.empty()) DeleteFileW(WideOf(aside_).c_str());
  aside_.clear();
  temp_.clear();
  published_ = true;
  native::FreeOutputSlot(slot_);
  file_ = File();
  ReleaseLock();
}

}  // namespace blkmerge::platform
