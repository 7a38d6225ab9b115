// The outputs of a run on POSIX systems: every call on an output is made
// relative to its folder, opened once, so that a link repointed while the
// run goes on cannot send a later call elsewhere.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "platform/file.h"
#include "platform/native.h"
#include "platform/output.h"

namespace blkmerge::platform {
namespace {

// Links followed in a row before giving up, as the kernel does.
constexpr int kMaxLinks = 40;
// Tries at a lock file that another run removes as it is taken, and at
// what the name leads to when it changes under the lock.
constexpr int kTries = 16;
constexpr std::string_view kTempTag = ".blkmerge-";
constexpr std::string_view kLockTag = ".blkmerge-lock";

#ifdef O_PATH
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

FileError Errno() { return FileError::System(static_cast<uint32_t>(errno)); }
FileError Error(int code) { return FileError::System(static_cast<uint32_t>(code)); }

int Fd(intptr_t handle) { return static_cast<int>(handle); }

// ------------------------------------------------------- the interrupts

// Every signal whose default action ends the process, but those that a
// fault raises, which the sanitizers watch, and those the process ignores
// (SIGPIPE, SIGXFSZ: a failed write tells instead).
constexpr std::array kInterrupts = {
    SIGHUP,    SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM, SIGPROF,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

sigset_t InterruptSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : kInterrupts) sigaddset(&set, s);
#ifdef SIGRTMIN
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) sigaddset(&set, s);
#endif
  return set;
}

// Async-signal-safe calls only.
void GiveUpAll() {
  for (const native::OutputSlot& slot : native::OutputSlots()) {
    if (!slot.used.load(std::memory_order_acquire)) continue;
    const int folder = Fd(slot.folder);
    if (slot.temp[0] != '\0') (void)unlinkat(folder, slot.temp.data(), 0);
    const intptr_t fd = slot.in_place.load();
    if (fd >= 0) (void)ftruncate(Fd(fd), static_cast<off_t>(slot.length.load()));
    if (slot.lock[0] != '\0') (void)unlinkat(folder, slot.lock.data(), 0);
  }
}

// The signal mask before HoldInterrupts.
sigset_t held_from{};

}  // namespace

void native::HoldInterrupts() {
  const sigset_t set = InterruptSet();
  sigprocmask(SIG_BLOCK, &set, &held_from);
}

FileError native::InterruptWaiting() {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  const sigset_t set = InterruptSet();
  for (int s = 1; s < NSIG; ++s) {
    if (sigismember(&set, s) == 1 && sigismember(&pending, s) == 1) return Error(EINTR);
  }
  return {};
}

void native::LetInterruptsThrough() { sigprocmask(SIG_SETMASK, &held_from, nullptr); }

extern "C" void BlkmergeGiveUpAndEnd(int signal_number) {
  GiveUpAll();
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigaction(signal_number, &default_action, nullptr);
  // Blocked while this handler runs: delivered as it returns, the default
  // action then ends the process by the signal.
  raise(signal_number);
}

namespace {
// What each signal did before the guard took it, put back when it goes.
std::array<struct sigaction, NSIG> before_guard{};
std::array<bool, NSIG> guarded{};
}  // namespace

InterruptGuard::InterruptGuard() {
  struct sigaction action {};
  action.sa_handler = BlkmergeGiveUpAndEnd;
  // One at a time: the other interrupts wait while one is handled.
  action.sa_mask = InterruptSet();
  const sigset_t set = InterruptSet();
  for (int s = 1; s < NSIG; ++s) {
    const auto i = static_cast<size_t>(s);
    // A signal ignored at start (nohup, a background job) stays ignored.
    guarded[i] = sigismember(&set, s) == 1 && sigaction(s, nullptr, &before_guard[i]) == 0 &&
                 before_guard[i].sa_handler != SIG_IGN && sigaction(s, &action, nullptr) == 0;
  }
}

InterruptGuard::~InterruptGuard() {
  for (int s = 1; s < NSIG; ++s) {
    const auto i = static_cast<size_t>(s);
    if (guarded[i]) sigaction(s, &before_guard[i], nullptr);
    guarded[i] = false;
  }
}

// ------------------------------------------------------------- Output

bool Output::LookAt(std::string& path, bool last, bool& done) {
  // The folder and the name in it; a name that ends in a slash must be a
  // folder, which an output cannot be.
  must_be_folder_ = must_be_folder_ || path.back() == '/';
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  folder_path_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  leaf_ = slash == std::string::npos ? path : path.substr(slash + 1);
  if (folder_ >= 0) close(Fd(folder_));
  folder_ = open(folder_path_.c_str(), kFolderFlags);
  struct stat st {};
  if (folder_ < 0 || fstat(Fd(folder_), &st) != 0) return Fail(Errno());
  folder_id_ = *native::InfoFromStat(st).id;
  done = true;
  if (fstatat(Fd(folder_), leaf_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    existing_.reset();
    return errno == ENOENT || Fail(Errno());
  }
  existing_ = native::InfoFromStat(st);
  if (!S_ISLNK(st.st_mode)) return true;
  // A link to something other than a regular file (a pipe or a device,
  // say, as /dev/stdout may be) is written through the link as it is.
  if (fstatat(Fd(folder_), leaf_.c_str(), &st, 0) == 0 && !S_ISREG(st.st_mode)) {
    existing_ = native::InfoFromStat(st);
    through_link_ = true;
    return true;
  }
  // A link, to a file that may not be there yet: where it leads is where
  // the output goes, and the link stays.
  done = false;
  std::array<char, 4096> target{};
  const ssize_t n = readlinkat(Fd(folder_), leaf_.c_str(), target.data(), target.size());
  if (last || n <= 0 || static_cast<size_t>(n) == target.size()) {
    return Fail(last ? Error(ELOOP) : n < 0 ? Errno() : Error(ENAMETOOLONG));
  }
  const std::string_view to(target.data(), static_cast<size_t>(n));
  path = to.front() == '/' ? std::string(to) : folder_path_ + "/" + std::string(to);
  return true;
}

Output Output::Find(std::string_view name) {
  Output out;
  out.name_ = name;
  if (name.empty()) {
    out.error_ = Error(ENOENT);
    return out;
  }
  std::string path(name);
  bool done = false;
  for (int links = 0; !done; ++links) {
    if (!out.LookAt(path, links == kMaxLinks, done)) return out;
  }
  if (out.must_be_folder_) {
    const bool folder = out.existing_ && out.existing_->kind == FileKind::kDirectory;
    out.error_ = Error(out.existing_ && !folder ? ENOTDIR : EISDIR);
    return out;
  }
  out.found_ = true;
  return out;
}

FileError Output::Foresee() const {
  if (!existing_) return {};
  // Open writes what is there as it is (OpenAsItIs), and the system
  // refuses these two.
  if (existing_->kind == FileKind::kDirectory) return Error(EISDIR);
  struct stat st {};
  const int follow = through_link_ ? 0 : AT_SYMLINK_NOFOLLOW;
  if (fstatat(Fd(folder_), leaf_.c_str(), &st, follow) == 0 && S_ISSOCK(st.st_mode)) {
    return Error(ENXIO);
  }
  return {};
}

bool Output::SameTarget(const Output& other) const {
  const auto id = existing_ ? existing_->id : std::nullopt;
  const auto other_id = other.existing_ ? other.existing_->id : std::nullopt;
  if (id || other_id) return id == other_id;
  return folder_id_ == other.folder_id_ && leaf_ == other.leaf_;
}

bool Output::LookAgain(bool& as_found) {
  as_found = true;
  struct stat st {};
  if (fstatat(Fd(folder_), leaf_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return Fail(Errno());
    existing_.reset();
    return true;
  }
  existing_ = native::InfoFromStat(st);
  as_found = S_ISREG(st.st_mode);
  permissions_ = st.st_mode & 07777;
  owner_ = st.st_uid;
  group_ = st.st_gid;
  return true;
}

bool Output::TakeLock(bool& made) {
  made = false;
  lock_name_ = native::Hidden(leaf_, kLockTag);
  for (int tries = 0; tries < kTries; ++tries) {
    // Read-only: the lock file is never written, only held.
    const int fd = openat(Fd(folder_), lock_name_.c_str(),
                          O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return Fail(Errno());
    made = true;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(fd);
      return Fail(error == EWOULDBLOCK ? FileError{FileError::Kind::kLocked} : Error(error));
    }
    // The run that held it may have removed it meanwhile, and another run
    // may hold a new one by that name: only a lock file still in place
    // holds the name.
    struct stat held {};
    struct stat named {};
    if (fstat(fd, &held) == 0 &&
        fstatat(Fd(folder_), lock_name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      lock_ = fd;
      return true;
    }
    close(fd);
  }
  return Fail({FileError::Kind::kLocked});
}

void Output::ReleaseLock() {
  if (held_ >= 0) close(Fd(held_));
  held_ = -1;
  if (lock_ < 0) return;
  struct stat held {};
  struct stat named {};
  if (fstat(Fd(lock_), &held) == 0 &&
      fstatat(Fd(folder_), lock_name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
    unlinkat(Fd(folder_), lock_name_.c_str(), 0);
  }
  close(Fd(lock_));
  lock_ = -1;
}

bool Output::Open() {
  for (int tries = 0; tries < kTries; ++tries) {
    if (existing_ && existing_->kind != FileKind::kRegular) return OpenAsItIs();
    bool made = false;
    if (!TakeLock(made)) {
      // No lock file can be made: no new file either. A file there is
      // written in place, locked itself.
      if (made || error_.kind == FileError::Kind::kLocked) return false;
      return OpenAsItIs();
    }
    bool as_found = false;
    if (!LookAgain(as_found)) {
      ReleaseLock();
      return false;
    }
    if (as_found) return OpenBeside();
    // Changed into a link or another kind of file before the lock was
    // held: start again from the name.
    ReleaseLock();
    Output again = Find(name_);
    if (!again.found()) return Fail(again.error_);
    *this = std::move(again);
  }
  return Fail(Error(EAGAIN));
}

bool Output::OpenAsItIs() {
  // Non-blocking, so that a named pipe with no reader fails at once; the
  // flag is taken off again for a pipe that has one, or a device.
  const int fd =
      openat(Fd(folder_), leaf_.c_str(),
             O_WRONLY | O_CREAT | O_NONBLOCK | (through_link_ ? 0 : O_NOFOLLOW) | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(Errno());
  file_ = File(fd, {});
  struct stat st {};
  if (fstat(fd, &st) != 0) return Fail(Errno());
  existing_ = native::InfoFromStat(st);
  file_.info_ = *existing_;
  native::Opened(name_, file_);
  if (!S_ISREG(st.st_mode)) {
    mode_ = Mode::kDirect;
    terminal_ = isatty(fd) == 1;
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) return Fail(Errno());
    return true;
  }
  mode_ = Mode::kInPlace;
  // Any other failure is a file system that cannot lock (ENOLCK,
  // EOPNOTSUPP, EINVAL, ...): the file is written unlocked.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    return Fail({FileError::Kind::kLocked});
  }
  // What it holds is looked at once the lock is held: another run may
  // have written it meanwhile.
  if (fstat(fd, &st) != 0) return Fail(Errno());
  existing_ = native::InfoFromStat(st);
  file_.info_ = *existing_;
  WriteInPlace(fd);
  return true;
}

bool Output::HoldExisting(bool& in_place) {
  in_place = false;
  // A file the run may not write is not replaced either, whatever the
  // folder allows.
  if (faccessat(Fd(folder_), leaf_.c_str(), W_OK, AT_EACCESS) != 0) return Fail(Errno());
  // Held, and locked, while it is replaced, so that a run that can only
  // write it in place waits for this one.
  const int held =
      openat(Fd(folder_), leaf_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (held >= 0) {
    held_ = held;
    if (flock(held, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      return Fail({FileError::Kind::kLocked});
    }
  }
  // In a sticky folder only the owner of a file may replace it.
  struct stat folder {};
  const uid_t me = geteuid();
  in_place = fstat(Fd(folder_), &folder) == 0 && (folder.st_mode & S_ISVTX) != 0 && me != 0 &&
             owner_ != me && folder.st_uid != me;
  return true;
}

bool Output::OpenBeside() {
  bool in_place = false;
  if (existing_ && !HoldExisting(in_place)) {
    ReleaseLock();
    return false;
  }
  if (in_place) {
    ReleaseLock();
    return OpenAsItIs();
  }
  for (int tries = 0; tries < 100; ++tries) {
    std::string temp = native::Hidden(leaf_, std::string(kTempTag) + native::RandomTag());
    const mode_t mode = existing_ ? static_cast<mode_t>(permissions_) : 0666;
    const int fd = openat(Fd(folder_), temp.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      // No new file can be made here (a quota, a full disk): an existing
      // file is written in place.
      const FileError error = Errno();
      ReleaseLock();
      return existing_ ? OpenAsItIs() : Fail(error);
    }
    temp_ = std::move(temp);
    slot_ = native::TakeOutputSlot(folder_, temp_, lock_name_);
    mode_ = Mode::kReplace;
    file_ = File(fd, {});
    if (existing_) {
      // The mode exactly, whatever the umask; the owner where allowed.
      fchmod(fd, static_cast<mode_t>(permissions_));
      if (owner_ != geteuid() || group_ != getegid()) (void)fchown(fd, owner_, group_);
    }
    struct stat st {};
    if (fstat(fd, &st) == 0) file_.info_ = native::InfoFromStat(st);
    native::Opened(name_, file_);
    return true;
  }
  ReleaseLock();
  return Fail(Error(EEXIST));
}

void Output::Abandon() {
  if (published_) return;
  CutBack();
  if (!temp_.empty()) unlinkat(Fd(folder_), temp_.c_str(), 0);
  temp_.clear();
  native::FreeOutputSlot(slot_);
  file_ = File();
  if (folder_ >= 0) ReleaseLock();
  if (folder_ >= 0) close(Fd(folder_));
  folder_ = -1;
  found_ = false;
}

namespace {

#ifdef BLKMERGE_HAVE_RENAMEAT2
// Swaps the names `a` and `b` in `folder` in one step.
bool Swap(int folder, const char* a, const char* b) {
  return renameat2(folder, a, folder, b, RENAME_EXCHANGE) == 0;
}
// The system has no such swap, or this file system does not.
bool NoSwap(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }
#else
bool Swap(int /*folder*/, const char* /*a*/, const char* /*b*/) {
  errno = ENOSYS;
  return false;
}
bool NoSwap(int /*error*/) { return true; }
#endif

}  // namespace

FileError Output::TakePlace() {
  if (mode_ != Mode::kReplace) return {};
  const int folder = Fd(folder_);
  // With an old file, the two names are swapped, so that the old file can
  // be put back while the other outputs are not yet in place.
  swapped_ = existing_ && Swap(folder, temp_.c_str(), leaf_.c_str());
  if (swapped_) return {};
  if ((!existing_ || NoSwap(errno)) &&
      renameat(folder, temp_.c_str(), folder, leaf_.c_str()) == 0) {
    temp_.clear();
    return {};
  }
  return Errno();
}

void Output::GiveBackPlace() {
  if (mode_ != Mode::kReplace) return;
  const int folder = Fd(folder_);
  if (swapped_) {
    Swap(folder, temp_.c_str(), leaf_.c_str());
  } else if (!existing_ && temp_.empty()) {
    // A new name moved back to a hidden one, which Abandon then removes.
    temp_ = native::Hidden(leaf_, std::string(kTempTag) + native::RandomTag());
    renameat(folder, leaf_.c_str(), folder, temp_.c_str());
  }
}

void Output::Published() {
  // A swapped hidden name now holds the old file.
  if (!temp_.empty()) unlinkat(Fd(folder_), temp_.c_str(), 0);
  temp_.clear();
  published_ = true;
  native::FreeOutputSlot(slot_);
  file_ = File();
  if (folder_ >= 0) {
    ReleaseLock();
    close(Fd(folder_));
  }
  folder_ = -1;
}

}  // namespace blkmerge::platform
