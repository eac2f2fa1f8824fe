#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <filesystem>
#endif

#include "platform/result.h"

// Listing a folder entry by entry. An entry is looked at only where the listing does not say
// what it is, so a plain file in a folder of a hundred thousand costs no call and no allocation
// of its own. Nothing here throws.

namespace dialmend {

// What an entry is once a link is followed.
enum class EntryKind {
  File,
  Folder,
  Fifo,
  Device,
  Socket,
  DanglingLink,
  LinkLoop,
  Unreadable,
  Other
};

// An entry looked at: what it is, and in `detail` the folder's identity (as FolderIdentity gives
// it) for a folder, or why it cannot be looked at for Unreadable.
struct EntryLook {
  EntryKind kind = EntryKind::Other;
  std::string detail;
};

// What an entry that is not a file is, in words to sit after a colon ("it is a FIFO, not a
// file"); `detail` is Unreadable's reason.
[[nodiscard]] std::string KindText(EntryKind kind, std::string_view detail = {});

#ifndef _WIN32
// What a file whose st_mode is `mode` is; never a link, Unreadable or DanglingLink.
[[nodiscard]] EntryKind KindOfMode(unsigned int mode);
#endif

// The folder's identity: device and inode, or on Windows its path with every link resolved.
// A failure gives the system's words for why.
[[nodiscard]] Result<std::string> FolderIdentity(const std::string& path);

// One pass over a folder's entries, "." and ".." left out.
class FolderReader {
 public:
  // Opens `path` for listing; a failure gives the system's words for why.
  [[nodiscard]] static Result<FolderReader> Open(const std::string& path);

  FolderReader(FolderReader&& other) noexcept;
  FolderReader& operator=(FolderReader&&) = delete;
  ~FolderReader();

  // Steps to the next entry; false at the end, or when the listing fails (Finished says which).
  [[nodiscard]] bool Next();

  // The entry's name; valid until the next step.
  [[nodiscard]] std::string_view Name() const { return m_name; }

  // What the entry is through any link, looked at only when the listing does not say; for a
  // folder with its identity. std::nullopt when the entry is gone since the listing.
  [[nodiscard]] std::optional<EntryLook> Look();

  // What the entry itself is, a link not followed: File, Folder, Other, or Unreadable when it
  // cannot be looked at. Looked at only when the listing does not say.
  [[nodiscard]] EntryKind KindItself();

  // Removes the entry, a file; the system's error when it cannot.
  [[nodiscard]] std::error_code Remove();

  // Whether the listing ran to its end; a failure gives the system's words for why not.
  [[nodiscard]] Status Finished() const;

 private:
  FolderReader() = default;

#ifdef _WIN32
  std::filesystem::directory_iterator m_it;
  bool m_started = false;
  std::string m_name;
#else
  // The open DIR, opaque so that no system header reaches the callers.
  void* m_dir = nullptr;
  int m_fd = -1;
  // The listed type (a dirent's d_type) of the entry named m_name, which lives in the dirent.
  unsigned char m_type = 0;
  std::string_view m_name;
#endif
  std::error_code m_error;
};

}  // namespace dialmend
