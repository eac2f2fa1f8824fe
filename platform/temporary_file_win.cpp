#include "platform/temporary_file.h"

#include <windows.h>

#include <algorithm>
#include <system_error>

#include "platform/reason.h"
#include "platform/utf16.h"

namespace dialmend {
namespace {

std::string Reason(DWORD error) {
  return ErrorText(std::error_code(static_cast<int>(error), std::system_category()));
}

HANDLE Handle(void* handle) {
  return static_cast<HANDLE>(handle);
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

}  // namespace

Status TemporaryFile::Open() {
  Close();
  wchar_t folder[MAX_PATH + 1] = {};
  if (GetTempPathW(MAX_PATH + 1, folder) == 0) {
    return Status::Failure("in the temporary folder: " + Reason(GetLastError()));
  }
  wchar_t path[MAX_PATH] = {};
  if (GetTempFileNameW(folder, L"dmd", 0, path) == 0) {
    return Status::Failure("in \"" + Utf16ToUtf8Lossy(folder) + "\": " + Reason(GetLastError()));
  }
  // Deleted on close by the system, also when the process dies; shared with nobody.
  HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    DeleteFileW(path);
    return Status::Failure("in \"" + Utf16ToUtf8Lossy(folder) + "\": " + Reason(error));
  }
  m_handle = file;
  return {};
}

bool TemporaryFile::IsOpen() const {
  return m_handle != nullptr;
}

void TemporaryFile::Close() {
  if (m_handle != nullptr) CloseHandle(Handle(m_handle));
  m_handle = nullptr;
}

Status TemporaryFile::Write(std::uint64_t offset, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    OVERLAPPED at = At(offset + done);
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 30));
    if (!WriteFile(Handle(m_handle), bytes.data() + done, chunk, &wrote, &at)) {
      return Status::Failure(Reason(GetLastError()));
    }
    if (wrote == 0) return Status::Failure("the file system took nothing more");
    done += wrote;
  }
  return {};
}

Result<std::string> TemporaryFile::Read(std::uint64_t offset, std::size_t length) const {
  std::string bytes(length, '\0');
  std::size_t done = 0;
  while (done < length) {
    OVERLAPPED at = At(offset + done);
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - done, 1 << 30));
    if (!ReadFile(Handle(m_handle), bytes.data() + done, chunk, &got, &at)) {
      const DWORD error = GetLastError();
      if (error != ERROR_HANDLE_EOF) return Result<std::string>::Failure(Reason(error));
    }
    if (got == 0) return Result<std::string>::Failure("it is shorter than written");
    done += got;
  }
  return bytes;
}

Status TemporaryFile::Truncate() {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(Handle(m_handle), start, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(Handle(m_handle))) {
    return Status::Failure(Reason(GetLastError()));
  }
  return {};
}

}  // namespace dialmend
