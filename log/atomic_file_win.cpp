#include "log/atomic_file.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <utility>

namespace dialmend {
namespace {

constexpr std::wstring_view kTempMarker = L".dialmend-";
constexpr std::wstring_view kTempSuffix = L".tmp";

// Room left in a 255-character file name for the dot, the marker, six letters and the suffix.
constexpr std::size_t kTempNameKeep = 200;

std::string Utf8Of(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

// The system's words for a Windows error, in lower case to sit after a colon. The common ones
// read as on other systems, so log lines look the same everywhere.
std::string ReasonOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "no such file or directory";
    case ERROR_ACCESS_DENIED:
      return "permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "another program has it open";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "no space left on device";
    case ERROR_WRITE_PROTECT:
      return "read-only file system";
    case ERROR_FILENAME_EXCED_RANGE:
      return "file name too long";
    case ERROR_INVALID_NAME:
      return "invalid file name";
    default:
      break;
  }
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (length > 0 && buffer != nullptr) text = Utf8Of(std::wstring_view(buffer, length));
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                           text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) return "Windows error " + std::to_string(error);
  if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && !(text[1] >= 'A' && text[1] <= 'Z')) {
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  }
  return text;
}

FileStatus Failure(std::string_view doing, const std::filesystem::path& path, std::string reason) {
  FileStatus status;
  status.ok = false;
  status.message = std::string(doing) + " \"" + Utf8Of(path.native()) + "\": " + reason + ".";
  status.reason = std::move(reason);
  return status;
}

std::string SizeText(std::size_t bytes) {
  constexpr std::size_t kMiB = 1024 * 1024;
  if (bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes % 1024 == 0) return std::to_string(bytes / 1024) + " KiB";
  return std::to_string(bytes) + " bytes";
}

FileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileStamp stamp;
  stamp.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  // 100 ns ticks since 1601, moved to the Unix epoch so nanoseconds fit in 64 bits.
  constexpr std::int64_t kTicksTo1970 = 116'444'736'000'000'000;
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
      info.ftLastWriteTime.dwLowDateTime;
  stamp.mtime_ns = (static_cast<std::int64_t>(ticks) - kTicksTo1970) * 100;
  stamp.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp.device = info.dwVolumeSerialNumber;
  return stamp;
}

// Closes the handle on every path out of a function.
class Handle {
 public:
  explicit Handle(HANDLE handle) : m_handle(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (Valid()) ::CloseHandle(m_handle);
  }

  bool Valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
  HANDLE Get() const { return m_handle; }

  // Closes now, so the caller sees the error a late write-back may report.
  bool Close() {
    const bool closed = ::CloseHandle(m_handle) != 0;
    m_handle = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE m_handle;
};

// Removes the temporary file unless it was renamed into place.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::wstring path) : m_path(std::move(path)) {}
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  ~TempFileGuard() {
    if (!m_kept) ::DeleteFileW(m_path.c_str());
  }

  void Keep() { m_kept = true; }

 private:
  std::wstring m_path;
  bool m_kept = false;
};

// Others may read, write or rename the file while it is open, as they may on other systems.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Returns ERROR_SUCCESS, or the error of the failed write.
DWORD WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) return ::GetLastError();
    bytes.remove_prefix(written);
  }
  return ERROR_SUCCESS;
}

// The stamp of the file at `path` now; the error when it cannot be opened.
DWORD CurrentStamp(const std::wstring& path, FileStamp& stamp) {
  Handle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return ::GetLastError();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.Get(), &info)) return ::GetLastError();
  stamp = StampOf(info);
  return ERROR_SUCCESS;
}

}  // namespace

FileSnapshot ReadFileSnapshot(const std::filesystem::path& path, std::size_t max_bytes) {
  constexpr std::string_view kDoing = "Cannot read";
  FileSnapshot snapshot;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    snapshot.status = Failure(kDoing, path, ReasonOf(::GetLastError()));
    return snapshot;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    snapshot.status = Failure(kDoing, path, "it is not a regular file");
    return snapshot;
  }
  Handle file(::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.Valid()) {
    snapshot.status = Failure(kDoing, path, ReasonOf(::GetLastError()));
    return snapshot;
  }
  // A named pipe or a device behind the name would hang or never end.
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
    snapshot.status = Failure(kDoing, path, "it is not a regular file");
    return snapshot;
  }
  BY_HANDLE_FILE_INFORMATION before{};
  if (!::GetFileInformationByHandle(file.Get(), &before)) {
    snapshot.status = Failure(kDoing, path, ReasonOf(::GetLastError()));
    return snapshot;
  }
  const FileStamp before_stamp = StampOf(before);
  const std::string too_large = "it is larger than " + SizeText(max_bytes);
  if (before_stamp.size > max_bytes) {
    snapshot.status = Failure(kDoing, path, too_large);
    return snapshot;
  }
  std::string& bytes = snapshot.bytes;
  bytes.resize(static_cast<std::size_t>(before_stamp.size) + 1);
  std::size_t total = 0;
  for (;;) {
    if (total == bytes.size()) {
      if (total > max_bytes) break;
      bytes.resize(std::min(bytes.size() * 2 + 4096, max_bytes + 1));
    }
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - total, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(file.Get(), bytes.data() + total, want, &got, nullptr)) {
      snapshot.status = Failure(kDoing, path, ReasonOf(::GetLastError()));
      bytes.clear();
      return snapshot;
    }
    if (got == 0) break;
    total += got;
  }
  bytes.resize(total);
  if (total > max_bytes) {
    snapshot.status = Failure(kDoing, path, too_large);
    bytes.clear();
    return snapshot;
  }
  BY_HANDLE_FILE_INFORMATION after{};
  if (!::GetFileInformationByHandle(file.Get(), &after)) {
    snapshot.status = Failure(kDoing, path, ReasonOf(::GetLastError()));
    bytes.clear();
    return snapshot;
  }
  snapshot.stamp = StampOf(after);
  if (before_stamp != snapshot.stamp || total != snapshot.stamp.size) {
    snapshot.status = Failure(kDoing, path, "another program changed it while it was being read");
    bytes.clear();
    return snapshot;
  }
  return snapshot;
}

namespace {

// `expected` null: no check, and the file may be new.
FileStatus WriteAtomically(const std::filesystem::path& path, std::string_view bytes,
                           const FileStamp* expected,
                           std::optional<std::string_view> expected_content) {
  constexpr std::string_view kDoing = "Cannot save";
  std::filesystem::path target = path;
  std::error_code link_error;
  if (std::filesystem::is_symlink(path, link_error)) {
    // Replacing the link would turn it into a plain file and leave the linked file stale.
    std::error_code error;
    target = std::filesystem::canonical(path, error);
    if (error) return Failure(kDoing, path, error.message());
  }
  const std::wstring target_name = target.native();

  const auto still_as_read = [&](std::string_view changed_reason) -> FileStatus {
    if (expected == nullptr) return FileStatus{};
    FileStamp now;
    if (const DWORD error = CurrentStamp(target_name, now); error != ERROR_SUCCESS) {
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return Failure(kDoing, path, "it was removed after it was read");
      }
      return Failure(kDoing, path, ReasonOf(error));
    }
    if (now != *expected) return Failure(kDoing, path, std::string(changed_reason));
    // A write within the clock's last tick can keep size and time: the content tells.
    if (expected_content) {
      FileSnapshot current = ReadFileSnapshot(target, expected_content->size());
      if (!current.status || current.bytes != *expected_content) {
        return Failure(kDoing, path, std::string(changed_reason));
      }
    }
    return FileStatus{};
  };
  if (FileStatus status = still_as_read("another program changed it after it was read"); !status) {
    return status;
  }
  const DWORD attributes = ::GetFileAttributesW(target_name.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!exists) {
    const DWORD error = ::GetLastError();
    if (expected != nullptr || error != ERROR_FILE_NOT_FOUND) {
      return Failure(kDoing, path, ReasonOf(error));
    }
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Failure(kDoing, path, "is a directory");
  }

  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = L".";
  // The dot and the suffix keep sync tools from taking the file for a card.
  const std::wstring name = target.filename().native();
  std::wstring temp_stem = L"." + name.substr(0, kTempNameKeep);
  temp_stem += kTempMarker;
  std::random_device seed;
  std::mt19937 random(seed());
  constexpr std::wstring_view kLetters = L"abcdefghijklmnopqrstuvwxyz0123456789";
  std::wstring temp_path;
  HANDLE created = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
    std::wstring temp_name = temp_stem;
    for (int i = 0; i < 6; ++i) temp_name += kLetters[random() % kLetters.size()];
    temp_name += kTempSuffix;
    temp_path = (folder / temp_name).native();
    created = ::CreateFileW(temp_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  Handle temp(created);
  if (!temp.Valid()) return Failure(kDoing, path, ReasonOf(::GetLastError()));
  TempFileGuard guard(temp_path);

  if (const DWORD error = WriteAll(temp.Get(), bytes); error != ERROR_SUCCESS) {
    return Failure(kDoing, path, ReasonOf(error));
  }
  if (!::FlushFileBuffers(temp.Get())) return Failure(kDoing, path, ReasonOf(::GetLastError()));
  if (!temp.Close()) return Failure(kDoing, path, ReasonOf(::GetLastError()));

  // Checked again just before the replace, to keep the window for a lost update small.
  if (FileStatus status = still_as_read("another program changed it while it was being saved");
      !status) {
    return status;
  }
  // A plain rename over the file, not ReplaceFileW: wine's ReplaceFileW leaves a file of its own
  // behind when it fails. The attributes the user set (hidden, archive) go over by hand.
  if (exists) {
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD kept = attributes & kKept;
    ::SetFileAttributesW(temp_path.c_str(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
  }
  const bool replaced = ::MoveFileExW(temp_path.c_str(), target_name.c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!replaced) return Failure(kDoing, path, ReasonOf(::GetLastError()));
  guard.Keep();
  return FileStatus{};
}

}  // namespace

FileStatus WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                               const FileStamp& expected,
                               std::optional<std::string_view> expected_content) {
  return WriteAtomically(path, bytes, &expected, expected_content);
}

FileStatus WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
  return WriteAtomically(path, bytes, nullptr, std::nullopt);
}

}  // namespace dialmend
