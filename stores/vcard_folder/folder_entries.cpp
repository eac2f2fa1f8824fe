#include "stores/vcard_folder/folder_entries.h"

#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/atomic_file.h"
#include "platform/reason.h"
#include "platform/utf8.h"
#include "platform/utf8_path.h"

namespace dialmend {
namespace {

// Counts a leftover temporary file of ours as removed, or notes why it could not be.
void CountRemoval(std::string name, const std::error_code& error, Walk& walk,
                  std::vector<StoreNote>& notes) {
  if (!error) {
    ++walk.removed;
  } else {
    notes.push_back(
        {std::move(name),
         "could not remove this temporary file left by an earlier run: " + ErrorText(error)});
  }
}

#ifndef _WIN32

std::string IdentityOf(const struct stat& info) {
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

// Removes the hidden entry `listed` when it is a leftover temporary file of ours: only a regular
// file, never what a link of that name leads to.
void RemoveLeftover(int fd, const dirent& listed, Walk& walk, std::vector<StoreNote>& notes) {
  const std::string_view name = listed.d_name;
  if (!walk.writing || !IsAtomicTempName(name)) return;
  if (listed.d_type == DT_UNKNOWN) {
    struct stat info;
    if (::fstatat(fd, listed.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) {
      return;
    }
  } else if (listed.d_type != DT_REG) {
    return;
  }
  const int result = ::unlinkat(fd, listed.d_name, 0) == 0 ? 0 : errno;
  if (result != ENOENT) {
    CountRemoval(std::string(name), std::error_code(result, std::generic_category()), walk, notes);
  }
}

// Looks at what `entry` is through any link, for an entry whose listed type does not tell.
// False when it is gone since the listing.
bool LookAt(int fd, const dirent& listed, FolderEntry& entry) {
  struct stat info;
  if (::fstatat(fd, listed.d_name, &info, 0) == 0) {
    entry.kind = KindOf(info.st_mode);
    if (entry.kind == EntryKind::Folder) entry.detail = IdentityOf(info);
  } else if (errno == ELOOP) {
    entry.kind = EntryKind::LinkLoop;
  } else if (errno == ENOENT) {
    // Gone since the listing, unless a link that leads nowhere is still there.
    if (listed.d_type == DT_DIR) return false;
    if (listed.d_type == DT_UNKNOWN &&
        (::fstatat(fd, listed.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(info.st_mode))) {
      return false;
    }
    entry.kind = EntryKind::DanglingLink;
  } else {
    entry.kind = EntryKind::Unreadable;
    entry.detail = ErrnoText(errno);
  }
  return true;
}

// The entry `listed` names, by its listed type where that tells; std::nullopt when it is gone.
std::optional<FolderEntry> EntryOf(int fd, const dirent& listed) {
  FolderEntry entry{std::string(listed.d_name), EntryKind::Other, {}};
  switch (listed.d_type) {
    case DT_FIFO:
      entry.kind = EntryKind::Fifo;
      break;
    case DT_CHR:
    case DT_BLK:
      entry.kind = EntryKind::Device;
      break;
    case DT_SOCK:
      entry.kind = EntryKind::Socket;
      break;
    default:
      if (!LookAt(fd, listed, entry)) return std::nullopt;
  }
  return entry;
}

#endif

}  // namespace

bool Hidden(std::string_view name) {
  return name.empty() || name[0] == '.';
}

bool Temporary(std::string_view name) {
  return name.ends_with("~") || name.ends_with(".tmp") || name.ends_with(".swp");
}

bool HasExtension(std::string_view name, std::string_view extension) {
  return name.size() > extension.size() &&
         AsciiLower(name.substr(name.size() - extension.size())) == extension;
}

bool IsCardName(std::string_view name, CardNaming naming) {
  if (naming == CardNaming::VcfFiles) return HasExtension(name, ".vcf");
  // KDE's resources write the notice and keep contact groups as .ctg files; a vdir's own files
  // name its book.
  return name != "WARNING_README.txt" && !HasExtension(name, ".ctg") && name != "displayname" &&
         name != "color" && name != "description";
}

std::string KindText(const FolderEntry& entry) {
  switch (entry.kind) {
    case EntryKind::Folder:
      return "it is a folder, not a file";
    case EntryKind::Fifo:
      return "it is a FIFO, not a file";
    case EntryKind::Device:
      return "it is a device, not a file";
    case EntryKind::Socket:
      return "it is a socket, not a file";
    case EntryKind::DanglingLink:
      return "it is a dangling link (what it names does not exist)";
    case EntryKind::LinkLoop:
      return "it is a link that leads round in a circle";
    case EntryKind::Unreadable:
      return "it cannot be looked at: " + entry.detail;
    default:
      return "it is not a file";
  }
}

#ifndef _WIN32

std::string ErrnoText(int error) {
  return ErrorText(std::error_code(error, std::generic_category()));
}

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::File;
  if (S_ISDIR(mode)) return EntryKind::Folder;
  if (S_ISFIFO(mode)) return EntryKind::Fifo;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return EntryKind::Device;
  if (S_ISSOCK(mode)) return EntryKind::Socket;
  return EntryKind::Other;
}

std::string FolderIdentity(const std::string& path, const std::string& subject) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) throw StoreError(subject, ErrnoText(errno));
  return IdentityOf(info);
}

std::vector<FolderEntry> ReadFolder(const std::string& path, const std::string& subject, Walk& walk,
                                    std::vector<StoreNote>& notes, const FileNameSink& files) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
  if (!dir) throw StoreError(subject, ErrnoText(errno));
  const int fd = ::dirfd(dir.get());
  std::vector<FolderEntry> entries;
  for (;;) {
    errno = 0;
    const dirent* listed = ::readdir(dir.get());
    if (listed == nullptr) break;
    const std::string_view name = listed->d_name;
    if (name == "." || name == "..") continue;
    if (Hidden(name)) {
      RemoveLeftover(fd, *listed, walk, notes);
      continue;
    }
    if (Temporary(name)) continue;
    if (listed->d_type == DT_REG) {
      files(name);
      continue;
    }
    std::optional<FolderEntry> entry = EntryOf(fd, *listed);
    if (!entry) continue;
    if (entry->kind == EntryKind::File) {
      files(entry->name);
    } else {
      entries.push_back(std::move(*entry));
    }
  }
  if (errno != 0) throw StoreError(subject, ErrnoText(errno));
  return entries;
}

#else

// Windows has no FIFOs or devices in a folder, and no inode numbers in the standard library:
// a folder is known by its path with every link resolved.
std::string FolderIdentity(const std::string& path, const std::string& subject) {
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::canonical(PathFromUtf8(path), error);
  if (error) throw StoreError(subject, ErrorText(error));
  return Utf8FromPath(resolved);
}

std::vector<FolderEntry> ReadFolder(const std::string& path, const std::string& subject, Walk& walk,
                                    std::vector<StoreNote>& notes, const FileNameSink& files) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::directory_iterator it(PathFromUtf8(path), error);
  if (error) throw StoreError(subject, ErrorText(error));
  std::vector<FolderEntry> entries;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    std::string name = Utf8FromPath(it->path().filename());
    std::error_code type_error;
    if (Hidden(name)) {
      if (walk.writing && IsAtomicTempName(name) && it->is_regular_file(type_error) &&
          !it->is_symlink(type_error)) {
        std::error_code removal;
        fs::remove(it->path(), removal);
        CountRemoval(name, removal, walk, notes);
      }
      continue;
    }
    if (Temporary(name)) continue;
    FolderEntry entry{std::move(name), EntryKind::Other, {}};
    const fs::file_status status = it->status(type_error);
    if (type_error || !fs::exists(status)) {
      // Gone since the listing, unless a link that leads nowhere is still there.
      if (!it->is_symlink(type_error)) continue;
      entry.kind = EntryKind::DanglingLink;
    } else if (fs::is_directory(status)) {
      const fs::path resolved = fs::canonical(it->path(), type_error);
      entry.kind = type_error ? EntryKind::Unreadable : EntryKind::Folder;
      entry.detail = type_error ? ErrorText(type_error) : Utf8FromPath(resolved);
    } else if (fs::is_regular_file(status)) {
      files(entry.name);
      continue;
    }
    entries.push_back(std::move(entry));
  }
  if (error) throw StoreError(subject, ErrorText(error));
  return entries;
}

#endif

}  // namespace dialmend
