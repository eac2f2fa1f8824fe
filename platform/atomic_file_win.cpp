#include "platform/atomic_file.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <utility>

#include "platform/atomic_file_common.h"
#include "platform/utf16.h"

namespace dialmend {

std::string PathText(const std::filesystem::path& path) {
  return Utf16ToUtf8Lossy(path.native());
}

namespace {

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
  if (length > 0 && buffer != nullptr) text = Utf16ToUtf8Lossy(std::wstring_view(buffer, length));
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) return "Windows error " + std::to_string(error);
  return AsReason(std::move(text));
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

// Reads and stamps an open handle for ReadOpenFile.
class HandleReader : public OpenFile {
 public:
  explicit HandleReader(HANDLE file) : m_file(file) {}

  std::optional<std::size_t> Read(char* buffer, std::size_t size, std::string& reason) override {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(m_file, buffer, want, &got, nullptr)) {
      reason = ReasonOf(::GetLastError());
      return std::nullopt;
    }
    return got;
  }

  std::optional<FileStamp> Stamp(std::string& reason) override {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(m_file, &info)) {
      reason = ReasonOf(::GetLastError());
      return std::nullopt;
    }
    return StampOf(info);
  }

 private:
  HANDLE m_file;
};

// The hidden temporary file beside `target`, created for writing and named in `temp_path`; or
// INVALID_HANDLE_VALUE with the error in GetLastError.
HANDLE CreateTempBeside(const std::filesystem::path& target, std::wstring& temp_path) {
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = L".";
  // The dot and the suffix keep sync tools from taking the file for a card.
  const std::wstring name = target.filename().native();
  std::wstring temp_stem = L"." + name.substr(0, kTempNameKeep);
  temp_stem.append(kTempMarker.begin(), kTempMarker.end());
  std::random_device seed;
  std::mt19937 random(seed());
  constexpr std::wstring_view kLetters = L"abcdefghijklmnopqrstuvwxyz0123456789";
  HANDLE created = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
    std::wstring temp_name = temp_stem;
    for (std::size_t i = 0; i < kTempRandomLength; ++i) {
      temp_name += kLetters[random() % kLetters.size()];
    }
    temp_name.append(kTempSuffix.begin(), kTempSuffix.end());
    temp_path = (folder / temp_name).native();
    created = ::CreateFileW(temp_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return created;
}

// Writes `bytes` to `temp`, flushes them to disk and closes it: ERROR_SUCCESS or the error.
DWORD WriteFlushClose(Handle& temp, std::string_view bytes) {
  if (const DWORD error = WriteAll(temp.Get(), bytes); error != ERROR_SUCCESS) return error;
  if (!::FlushFileBuffers(temp.Get())) return ::GetLastError();
  if (!temp.Close()) return ::GetLastError();
  return ERROR_SUCCESS;
}

}  // namespace

// Windows holds nothing between reading and saving: the save there checks the stamp and content
// by name, and a handle left open would keep a deleted card's name taken until it closed.
HeldFile::~HeldFile() = default;

FileSnapshot ReadFileSnapshot(const std::filesystem::path& path, std::size_t max_bytes) {
  FileSnapshot snapshot;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    snapshot.status = FileFailure(kCannotRead, path, ReasonOf(::GetLastError()));
    return snapshot;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    snapshot.status = FileFailure(kCannotRead, path, "it is not a regular file");
    return snapshot;
  }
  Handle file(::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.Valid()) {
    snapshot.status = FileFailure(kCannotRead, path, ReasonOf(::GetLastError()));
    return snapshot;
  }
  // A named pipe or a device behind the name would hang or never end.
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
    snapshot.status = FileFailure(kCannotRead, path, "it is not a regular file");
    return snapshot;
  }
  HandleReader reader(file.Get());
  std::string reason;
  const std::optional<FileStamp> before = reader.Stamp(reason);
  if (!before) {
    snapshot.status = FileFailure(kCannotRead, path, std::move(reason));
    return snapshot;
  }
  return ReadOpenFile(reader, path, max_bytes, *before);
}

FileSnapshot ReadFileSnapshot(const std::filesystem::path& path, std::size_t max_bytes, HeldFile) {
  return ReadFileSnapshot(path, max_bytes);
}

Status WriteAtomically(const std::filesystem::path& path, std::string_view bytes,
                       const FileStamp* expected, const ContentCheck& check, const HeldFile*) {
  std::filesystem::path target = path;
  std::error_code link_error;
  if (std::filesystem::is_symlink(path, link_error)) {
    // Replacing the link would turn it into a plain file and leave the linked file stale.
    std::error_code error;
    target = std::filesystem::canonical(path, error);
    if (error) return FileFailure(kCannotSave, path, error.message());
  }
  const std::wstring target_name = target.native();

  const auto still_as_read = [&](std::string_view changed_reason) -> Status {
    if (expected == nullptr) return Status{};
    FileStamp now;
    if (const DWORD error = CurrentStamp(target_name, now); error != ERROR_SUCCESS) {
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return FileFailure(kCannotSave, path, "it was removed after it was read");
      }
      return FileFailure(kCannotSave, path, ReasonOf(error));
    }
    return CheckStillAsRead(path, target, now, *expected, check, changed_reason);
  };
  if (Status status = still_as_read("another program changed it after it was read"); !status.Ok()) {
    return status;
  }
  const DWORD attributes = ::GetFileAttributesW(target_name.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!exists) {
    const DWORD error = ::GetLastError();
    if (expected != nullptr || error != ERROR_FILE_NOT_FOUND) {
      return FileFailure(kCannotSave, path, ReasonOf(error));
    }
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return FileFailure(kCannotSave, path, "is a directory");
  }

  std::wstring temp_path;
  Handle temp(CreateTempBeside(target, temp_path));
  if (!temp.Valid()) return FileFailure(kCannotSave, path, ReasonOf(::GetLastError()));
  TempFileGuard guard(temp_path);

  if (const DWORD error = WriteFlushClose(temp, bytes); error != ERROR_SUCCESS) {
    return FileFailure(kCannotSave, path, ReasonOf(error));
  }

  // Checked again just before the replace, to keep the window for a lost update small.
  if (Status status = still_as_read("another program changed it while it was being saved");
      !status.Ok()) {
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
  if (!replaced) return FileFailure(kCannotSave, path, ReasonOf(::GetLastError()));
  guard.Keep();
  return Status{};
}

// Windows holds nothing between reading and saving (see HeldFile): a file open anywhere cannot
// be renamed over, so each read opens the file by name, and the save's checks of its stamp and
// content tell whether it is still the file read.
struct OpenedFile::Reader {
  std::filesystem::path path;
};

OpenedFile::OpenedFile() = default;
OpenedFile::~OpenedFile() = default;

Status OpenedFile::Open(const std::filesystem::path& path) {
  Handle file(::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return FileFailure(kCannotRead, path, ReasonOf(::GetLastError()));
  // A named pipe or a device behind the name would hang or never end.
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
    return FileFailure(kCannotRead, path, "it is not a regular file");
  }
  HandleReader stamper(file.Get());
  std::string reason;
  const std::optional<FileStamp> stamp = stamper.Stamp(reason);
  if (!stamp) return FileFailure(kCannotRead, path, std::move(reason));
  m_stamp = *stamp;
  m_reader = std::make_unique<Reader>(Reader{path});
  return Status{};
}

Status OpenedFile::Open(const std::filesystem::path& path, HeldFile) {
  return Open(path);
}

std::optional<std::size_t> OpenedFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size,
                                              std::string& reason) {
  Handle file(::CreateFileW(m_reader->path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    reason = ReasonOf(::GetLastError());
    return std::nullopt;
  }
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  DWORD got = 0;
  if (!::ReadFile(file.Get(), buffer, want, &got, &at)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF) return 0;
    reason = ReasonOf(error);
    return std::nullopt;
  }
  return got;
}

// Windows replaces by a plain rename after writing the whole temporary file at once, so the new
// content is gathered first.
struct StreamedReplace::Replace {
  std::filesystem::path path;
  AsRead as_read;
  const HeldFile* read = nullptr;
  std::string bytes;
};

StreamedReplace::StreamedReplace(std::filesystem::path path, AsRead as_read, const HeldFile* read)
    : m_replace(std::make_unique<Replace>(Replace{std::move(path), as_read, read, {}})) {}

StreamedReplace::~StreamedReplace() = default;

Status StreamedReplace::Begin() {
  return Status{};
}

bool StreamedReplace::Append(std::string_view bytes) {
  m_replace->bytes += bytes;
  return true;
}

Status StreamedReplace::Commit(std::optional<std::uint64_t> content_hash) {
  const Replace& r = *m_replace;
  if (!content_hash) content_hash = r.as_read.content_hash;
  return WriteAtomically(r.path, r.bytes, &r.as_read.stamp,
                         ContentCheck{std::nullopt, content_hash, std::nullopt}, r.read);
}

// Windows flushes each file as it writes it (MoveFileExW's write-through), so a batch is the
// replaces one by one.
std::vector<Status> SaveBatch::Commit() {
  std::vector<Entry> entries = std::exchange(m_entries, {});
  std::vector<Status> results;
  results.reserve(entries.size());
  for (const Entry& entry : entries) {
    results.push_back(WriteAtomically(
        entry.path, entry.bytes, &entry.as_read.stamp,
        ContentCheck{std::nullopt, entry.as_read.content_hash, std::nullopt}, &entry.read));
  }
  return results;
}

}  // namespace dialmend
