// What Output does alike on every platform: the names beside a target,
// the table an interrupt reads, and an output's state.
#include "platform/output.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "platform/native.h"

namespace blkmerge::platform {
namespace {

// Hidden names keep this much of the target's name, and a hash of the
// rest, so that they stay within the file system's name limit.
constexpr size_t kKeptName = 200;

std::array<native::OutputSlot, 4> slots;
static_assert(std::atomic<intptr_t>::is_always_lock_free &&
                  std::atomic<uint64_t>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "an interrupt may use lock-free atomics only");

native::OutputSlot* SlotOf(int slot) {
  return slot >= 0 ? &slots[static_cast<size_t>(slot)] : nullptr;
}

}  // namespace

std::string native::Hidden(std::string_view leaf, std::string_view tag) {
  std::string name = ".";
  if (leaf.size() <= kKeptName) {
    name += leaf;
  } else {
    uint64_t hash = 14695981039346656037u;  // FNV-1a over the whole name
    for (const char c : leaf) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
    std::array<char, 20> hex{};
    std::snprintf(hex.data(), hex.size(), "~%016llx", static_cast<unsigned long long>(hash));
    // Cut where a character starts, so that the name stays UTF-8.
    size_t kept = kKeptName;
    while (kept > 0 && (static_cast<unsigned char>(leaf[kept]) & 0xC0) == 0x80) --kept;
    name.append(leaf.substr(0, kept)).append(hex.data());
  }
  return name.append(tag);
}

std::string native::RandomTag() {
  static std::atomic<uint64_t> counter{0};
  const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  uint64_t x = static_cast<uint64_t>(now) ^ reinterpret_cast<uintptr_t>(&counter) ^
               (counter.fetch_add(1) * 0x9E3779B97F4A7C15u);
  constexpr std::string_view kDigits = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string tag;
  for (int i = 0; i < 6; ++i) {
    x = x * 6364136223846793005u + 1442695040888963407u;
    tag += kDigits[(x >> 33) % kDigits.size()];
  }
  return tag;
}

std::span<native::OutputSlot> native::OutputSlots() { return slots; }

int native::TakeOutputSlot(intptr_t folder, std::string_view temp, std::string_view lock) {
  for (size_t i = 0; i < slots.size(); ++i) {
    OutputSlot& slot = slots[i];
    if (slot.used.load() || temp.size() >= slot.temp.size() || lock.size() >= slot.lock.size()) {
      continue;
    }
    slot.folder = folder;
    std::memcpy(slot.temp.data(), temp.data(), temp.size());
    slot.temp[temp.size()] = '\0';
    std::memcpy(slot.lock.data(), lock.data(), lock.size());
    slot.lock[lock.size()] = '\0';
    slot.in_place.store(-1);
    slot.used.store(true, std::memory_order_release);
    return static_cast<int>(i);
  }
  return -1;
}

void native::FreeOutputSlot(int& slot) {
  if (OutputSlot* s = SlotOf(slot)) s->used.store(false, std::memory_order_release);
  slot = -1;
}

Output::Output(Output&& other) noexcept { *this = std::move(other); }

Output& Output::operator=(Output&& other) noexcept {
  if (this == &other) return *this;
  Abandon();
  name_ = std::move(other.name_);
  found_ = std::exchange(other.found_, false);
  mode_ = other.mode_;
  folder_ = std::exchange(other.folder_, -1);
  folder_path_ = std::move(other.folder_path_);
  folder_id_ = other.folder_id_;
  leaf_ = std::move(other.leaf_);
  must_be_folder_ = other.must_be_folder_;
  through_link_ = other.through_link_;
  existing_ = other.existing_;
  permissions_ = other.permissions_;
  owner_ = other.owner_;
  group_ = other.group_;
  temp_ = std::exchange(other.temp_, {});
  held_ = std::exchange(other.held_, -1);
  lock_ = std::exchange(other.lock_, -1);
  lock_name_ = std::move(other.lock_name_);
  slot_ = std::exchange(other.slot_, -1);
  terminal_ = other.terminal_;
  swapped_ = other.swapped_;
  aside_ = std::move(other.aside_);
  published_ = other.published_;
  file_ = std::move(other.file_);
  error_ = other.error_;
  return *this;
}

Output::~Output() { Abandon(); }

bool Output::Fail(FileError error) {
  error_ = error;
  return false;
}

void Output::WriteInPlace(intptr_t handle) {
  slot_ = native::TakeOutputSlot(folder_, "", "");
  if (native::OutputSlot* slot = SlotOf(slot_)) slot->in_place.store(handle);
  Keep(existing_ ? existing_->size : 0);
}

void Output::Keep(uint64_t length) {
  native::OutputSlot* slot = SlotOf(slot_);
  if (mode_ == Mode::kInPlace && slot != nullptr) slot->length.store(length);
}

bool Output::Close() {
  if (native::OutputSlot* slot = SlotOf(slot_)) slot->in_place.store(-1);
  return file_.Close();
}

bool Output::Empty() {
  if (mode_ != Mode::kInPlace || !file_.is_open()) return true;
  Keep(0);
  // One that is empty already is not truncated: on ext4 a truncation marks
  // the file for writeback at close, which made closing a large merged
  // file wait for the disk.
  return file_.info().size == 0 || file_.Truncate(0);
}

void Output::CutBack() {
  const native::OutputSlot* slot = SlotOf(slot_);
  if (mode_ == Mode::kInPlace && file_.is_open() && slot != nullptr) {
    file_.Truncate(slot->length.load());
  }
}

int Publish(std::span<Output* const> outputs, FileError& error) {
  // Interrupts wait until the last rename is done. One that comes before
  // it puts everything back as it was, and ends the process once let
  // through; the last rename is the point where the run has succeeded.
  struct Held {
    Held() { native::HoldInterrupts(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() { native::LetInterruptsThrough(); }
  } const held;
  size_t done = 0;
  for (; done < outputs.size(); ++done) {
    Output& out = *outputs[done];
    if ((error = native::InterruptWaiting())) break;
#ifdef BLKMERGE_FAULTS
    if (out.mode_ == Output::Mode::kReplace && (error = native::RenameFault(out.file_))) break;
#endif
    if ((error = out.TakePlace())) break;
  }
  if (done == outputs.size()) {
    for (Output* out : outputs) out->Published();
    return -1;
  }
  for (size_t i = done; i-- > 0;) outputs[i]->GiveBackPlace();
  for (Output* out : outputs) out->Abandon();
  return static_cast<int>(done);
}

}  // namespace blkmerge::platform
