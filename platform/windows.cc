// The platform layer on Windows: names are UTF-8 turned into UTF-16 for the
// wide file API.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <string>

#include "platform/file.h"
#include "platform/native.h"
#include "platform/process.h"

namespace blkmerge::platform {
namespace {

// The most one ReadFile or WriteFile call is given.
constexpr size_t kMaxTransfer = size_t{1} << 30;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// File keeps a HANDLE as an integer, in a header that knows no Windows.
HANDLE ToHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace

std::optional<std::wstring> native::Wide(std::string_view utf8) {
  if (utf8.empty()) return std::wstring();
  const auto size = static_cast<int>(std::min<size_t>(utf8.size(), INT_MAX));
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n);
  return wide;
}

std::string native::Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const auto size = static_cast<int>(std::min<size_t>(wide.size(), INT_MAX));
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

std::optional<FileInfo> native::InfoOfHandle(HANDLE handle) {
  FileInfo info;
  switch (GetFileType(handle)) {
    case FILE_TYPE_DISK: {
      BY_HANDLE_FILE_INFORMATION by_handle{};
      if (GetFileInformationByHandle(handle, &by_handle) == FALSE) return std::nullopt;
      const bool directory = (by_handle.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      info.kind = directory ? FileKind::kDirectory : FileKind::kRegular;
      info.id = FileId{by_handle.dwVolumeSerialNumber,
                       (uint64_t{by_handle.nFileIndexHigh} << 32) | by_handle.nFileIndexLow};
      if (!directory)
        info.size = (uint64_t{by_handle.nFileSizeHigh} << 32) | by_handle.nFileSizeLow;
      return info;
    }
    case FILE_TYPE_PIPE: info.kind = FileKind::kPipe; return info;
    case FILE_TYPE_CHAR: info.kind = FileKind::kDevice; return info;
    default: return std::nullopt;
  }
}

namespace {

using native::InfoOfHandle;
using native::Utf8;
using native::Wide;

FileError LastError() { return FileError::System(GetLastError()); }

// Opens `name` and looks at what it is. Returns INVALID_HANDLE_VALUE, with
// nothing open and `error` set, when either fails.
HANDLE OpenHandle(std::string_view name, DWORD access, DWORD disposition, DWORD flags,
                  FileInfo& info, FileError& error) {
  const auto wide = Wide(name);
  if (!wide) {
    error = {FileError::Kind::kBadName};
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE handle =
      CreateFileW(wide->c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = LastError();
    return INVALID_HANDLE_VALUE;
  }
  const auto found = InfoOfHandle(handle);
  if (!found) {
    error = LastError();
    CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
  }
  info = *found;
  return handle;
}

FileError WriteStandard(DWORD which, std::span<const uint8_t> bytes) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return FileError::System(ERROR_INVALID_HANDLE);
  }
  return native::WriteAll(reinterpret_cast<intptr_t>(handle), bytes);
}

}  // namespace

std::string SystemErrorText(uint32_t code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string utf8 = n > 0 ? Utf8({text, n}) : std::string();
  LocalFree(text);
  // The system's texts end in a line end, and a few have more lines.
  while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ')) {
    utf8.pop_back();
  }
  std::ranges::replace_if(
      utf8, [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return utf8.empty() ? "error " + std::to_string(code) : utf8;
}

std::optional<std::filesystem::path> PathOf(std::string_view name) {
  auto wide = Wide(name);
  if (!wide) return std::nullopt;
  return std::filesystem::path(std::move(*wide));
}

std::optional<FileInfo> InfoOf(const std::filesystem::path& path) {
  // Backup semantics, so that a directory opens as well.
  const HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  auto info = InfoOfHandle(handle);
  CloseHandle(handle);
  return info;
}

bool SamePathName(const std::filesystem::path& a, const std::filesystem::path& b) {
  const auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; };
  return std::ranges::equal(a.native(), b.native(),
                            [&fold](wchar_t x, wchar_t y) { return fold(x) == fold(y); });
}

File File::NativeOpenAny(std::string_view name) {
  // Backup semantics, so that a directory opens and is told apart. Opening
  // a pipe never waits on Windows.
  FileInfo info;
  FileError error;
  const HANDLE handle =
      OpenHandle(name, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, info, error);
  if (handle == INVALID_HANDLE_VALUE) return Refused(error);
  return {reinterpret_cast<intptr_t>(handle), info};
}

File File::NativeOpenToEnd(std::string_view name) { return NativeOpenAny(name); }

ReadResult File::NativeReadAt(uint64_t offset, std::span<uint8_t> out) const {
  ReadResult result;
  while (result.bytes < out.size()) {
    const uint64_t at = offset + result.bytes;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const auto want = static_cast<DWORD>(std::min(out.size() - result.bytes, kMaxTransfer));
    DWORD got = 0;
    if (ReadFile(ToHandle(handle_), out.data() + result.bytes, want, &got, &where) == FALSE) {
      if (GetLastError() != ERROR_HANDLE_EOF) result.error = LastError();
      break;
    }
    if (got == 0) break;
    result.bytes += got;
  }
  return result;
}

// Windows has no hint for a stretch of a file opened for plain reads: its
// cache reads ahead on its own, sequential stretches only.
void File::WillRead(uint64_t /*offset*/, uint64_t /*length*/) const {}

std::optional<bool> File::InMemory(uint64_t /*offset*/) const { return std::nullopt; }

bool CanHintReads() { return false; }

// Not const: it moves the file's position.
ReadResult File::NativeRead(  // NOLINT(readability-make-member-function-const)
    std::span<uint8_t> out) {
  DWORD got = 0;
  const auto want = static_cast<DWORD>(std::min(out.size(), kMaxTransfer));
  if (ReadFile(ToHandle(handle_), out.data(), want, &got, nullptr) == FALSE) {
    // A pipe whose writer has gone has ended.
    const DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return {};
    return {.bytes = 0, .error = FileError::System(error)};
  }
  return {.bytes = got, .error = {}};
}

// Not const: it changes the file.
bool File::Truncate(uint64_t length) {  // NOLINT(readability-make-member-function-const)
  if (!is_open()) return false;
  if (info_.kind != FileKind::kRegular) return true;
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
  if (SetFileInformationByHandle(ToHandle(handle_), FileEndOfFileInfo, &end, sizeof end) != 0) {
    return true;
  }
  error_ = LastError();
  return false;
}

CommandLine::CommandLine(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr) {
    for (int i = 0; i < count; ++i) words_.push_back(Utf8(wide[i]));
    LocalFree(wide);
  } else {
    words_.assign(argv, argv + argc);
  }
  for (const std::string& word : words_) pointers_.push_back(word.c_str());
  pointers_.push_back(nullptr);
}

Console::Console() {
  // A drive without a disk fails an open instead of asking in a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) {
    ok_ = false;
    error_ = FileError::System(ERROR_INVALID_HANDLE);
  }
}

namespace native {

FileError Close(intptr_t handle) {
  return CloseHandle(ToHandle(handle)) != 0 ? FileError{} : LastError();
}

uint64_t CopyRange(intptr_t /*from*/, uint64_t /*offset*/, uint64_t /*length*/, intptr_t /*to*/,
                   bool& unsupported) {
  unsupported = true;
  return 0;
}

FileError WriteAll(intptr_t handle, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const auto want = static_cast<DWORD>(std::min(bytes.size(), kMaxTransfer));
    if (WriteFile(ToHandle(handle), bytes.data(), want, &written, nullptr) == FALSE) {
      return LastError();
    }
    if (written == 0) {
      // A pipe in no-wait mode (the mode is shared with whoever set it)
      // takes nothing while it is full: wait a little and go on. A reader
      // that went away fails the next write.
      if (GetFileType(ToHandle(handle)) == FILE_TYPE_PIPE) {
        Sleep(1);
        continue;
      }
      return FileError::System(ERROR_DISK_FULL);
    }
    bytes = bytes.subspan(written);
  }
  return {};
}

FileError WriteStandardOutput(std::span<const uint8_t> bytes) {
  return WriteStandard(STD_OUTPUT_HANDLE, bytes);
}
FileError WriteStandardError(std::span<const uint8_t> bytes) {
  return WriteStandard(STD_ERROR_HANDLE, bytes);
}

}  // namespace native

const std::optional<FileInfo>& Console::OutputInfo() {
  if (!looked_up_) {
    for (const auto& [which, info] :
         {std::pair{STD_OUTPUT_HANDLE, &output_info_}, std::pair{STD_ERROR_HANDLE, &error_info_}}) {
      const HANDLE handle = GetStdHandle(which);
      if (handle != nullptr && handle != INVALID_HANDLE_VALUE) *info = InfoOfHandle(handle);
    }
    looked_up_ = true;
  }
  return output_info_;
}

const std::optional<FileInfo>& Console::ErrorInfo() {
  OutputInfo();
  return error_info_;
}

}  // namespace blkmerge::platform
