// The two files a run writes, from the moment their names are looked up to
// the moment they take their places, or are given up.
#ifndef BLKMERGE_PLATFORM_OUTPUT_H_
#define BLKMERGE_PLATFORM_OUTPUT_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace blkmerge::platform {

// An output of the run. How it is written depends on what its name leads
// to (links followed, the link itself kept):
//
// - kReplace: a regular file, or no file yet, in a folder where a new file
//   can be made. The run writes a new hidden file beside it,
//   ".NAME.blkmerge-XXXXXX" (created exclusively, never through an
//   existing file or link), which takes the name's place only at Publish;
//   until then the old file is untouched. The name's lock is a hidden file
//   beside it, ".NAME.blkmerge-lock", held from Open until the output is
//   published or given up, and removed then.
// - kInPlace: an existing regular file in a folder where no new file can
//   be made (the file writable, the folder not): written in place, locked
//   itself, and emptied once its lock is held.
// - kDirect: anything else that can be written (a device, a named pipe
//   with a reader): written as it is, with nothing to keep or lock.
//
// An Output that goes without being published is given up (Abandon).
class Output {
 public:
  enum class Mode : uint8_t { kReplace, kInPlace, kDirect };

  Output() = default;
  Output(Output&& other) noexcept;
  Output& operator=(Output&& other) noexcept;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();

  // Looks up where `name` leads: the folder of the file it names, links
  // followed, and what is there now. Opens nothing to write and locks
  // nothing. Fails (found() false, error() why) when the folder cannot be
  // opened, or the links do not end.
  static Output Find(std::string_view name);
  bool found() const { return found_; }

  // Why Open must fail for what the name leads to as it stands, told
  // without opening anything: a directory, or a socket, which no open
  // writes. Nothing where Open may succeed: a named pipe may have a reader
  // by then. REQUIRES: found.
  FileError Foresee() const;

  // True when this output and `other` lead to one file: the same file
  // identity, or for a name with no file yet, the same name in the same
  // folder (on Windows the same but for case, as the file system folds
  // names). REQUIRES: both found.
  bool SameTarget(const Output& other) const;

  // Takes the output's lock and opens what the run writes into (file()).
  // Fails (error(), existing()->kind) when another process holds the lock
  // (FileError::Kind::kLocked), the name leads to a directory or to a
  // named pipe with no reader, a file that may not be written, or nothing
  // can be made there. REQUIRES: found.
  bool Open();

  Mode mode() const { return mode_; }
  // The name of the file the output is, in its folder, links followed.
  const std::string& leaf() const { return leaf_; }
  // What the run writes into.
  File& file() { return file_; }
  const File& file() const { return file_; }
  // What the name led to when the output was opened: the file that
  // publishing replaces, or that is written directly. Nothing for a name
  // with no file yet.
  const std::optional<FileInfo>& existing() const { return existing_; }
  // True for a terminal, which shows what is written and keeps nothing.
  bool is_terminal() const { return terminal_; }
  // Why Find or Open failed.
  const FileError& error() const { return error_; }

  // From now on a failure or an interrupt leaves a file written in place
  // `length` bytes long. Other modes leave the old file as it was whatever
  // was written.
  void Keep(uint64_t length);

  // Closes what the run wrote into. Returns false when the close failed
  // (file().error() says why): the file system may report a failed write
  // only then.
  bool Close();

  // Empties a file written in place, once every output is open: its old
  // bytes are given up from here. Nothing to do for the other modes.
  bool Empty();

  // Gives the output up: a new file is removed, a file written in place is
  // cut back to what Keep last said (best effort), and the lock is let go.
  void Abandon();

 private:
  friend int Publish(std::span<Output* const> outputs, FileError& error);

  void ReleaseLock();

  // POSIX: one step of Find, in the folder `path` names its file in: sets
  // `done` once that file is reached or is not there, or else `path` to
  // where the link there leads (`last`: a link there is one too many).
  bool LookAt(std::string& path, bool last, bool& done);
  // Opens the output as it is: kDirect, or kInPlace for a regular file.
  bool OpenAsItIs();
  // Checks and holds the existing file that a new one will replace;
  // `in_place` when only the owner could replace it (a sticky folder).
  bool HoldExisting(bool& in_place);
  // Makes the new file beside the target.
  bool OpenBeside();
  // Takes the name's lock, or fails; `made` says whether the lock file
  // could be made at all.
  bool TakeLock(bool& made);
  // The steps of Publish for one output. TakePlace puts a new file in the
  // target's place, keeping the old one aside; GiveBackPlace undoes that;
  // Published lets the old file and the lock go. Nothing to do for an
  // output written in place or directly.
  FileError TakePlace();
  void GiveBackPlace();
  void Published();
  // Registers a file written in place, `handle`, with the interrupt table.
  void WriteInPlace(intptr_t handle);
  // Cuts a file written in place back to what Keep last said.
  void CutBack();
  // Looks again at what the name leads to, under the lock; `as_found` false
  // when it is no longer a regular file or none.
  bool LookAgain(bool& as_found);
  bool Fail(FileError error);

  std::string name_;  // as given
  bool found_ = false;
  Mode mode_ = Mode::kDirect;
  intptr_t folder_ = -1;     // POSIX: the folder's descriptor
  std::string folder_path_;  // the folder, as reached; Windows: its full path
  FileId folder_id_;
  std::string leaf_;             // the target's name in the folder
  bool must_be_folder_ = false;  // the name ends in a slash
  bool through_link_ = false;    // the leaf is a link to a file written as it is
  std::optional<FileInfo> existing_;
  uint32_t permissions_ = 0;  // of the existing file
  uint32_t owner_ = 0;
  uint32_t group_ = 0;
  std::string temp_;    // kReplace: the new file's name in the folder
  intptr_t held_ = -1;  // kReplace: the existing file, held and locked
  intptr_t lock_ = -1;  // kReplace: the lock file
  std::string lock_name_;
  int slot_ = -1;  // in the interrupt table
  bool terminal_ = false;
  bool swapped_ = false;  // Publish: the new file is in the target's place
  std::string aside_;     // Windows, Publish: where the old file was moved
  bool published_ = false;
  File file_;
  FileError error_;
};

// Puts each new file of `outputs` (all closed without error) in its
// target's place, in the order given, and lets every lock go. A rename that
// fails puts back what the renames before it replaced, where the system
// can swap two names in one step, so that the outputs are either all new or
// all as they were. Interrupts wait until it returns. Returns the index of
// the output whose rename failed, with `error` set, or -1.
int Publish(std::span<Output* const> outputs, FileError& error);

// Keeps an interrupt from leaving anything of a run behind. While it
// lives, an interrupt (every signal whose default action ends the process:
// SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2 and
// the like; on Windows Ctrl+C, Ctrl+Break or the console closing) gives
// every open Output up (see Output::Abandon) and then ends the process as
// it would have ended: by the same signal, or on Windows with
// STATUS_CONTROL_C_EXIT. A signal that the process ignored at start stays
// ignored. One at a time in a process.
class InterruptGuard {
 public:
  InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
  ~InterruptGuard();
};

}  // namespace blkmerge::platform

#endif  // BLKMERGE_PLATFORM_OUTPUT_H_
