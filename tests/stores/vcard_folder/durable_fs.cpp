#define FUSE_USE_VERSION 31

#include "tests/stores/vcard_folder/durable_fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <utility>

namespace dialmend {

namespace {

DurableFs& Self() {
  return *static_cast<DurableFs*>(fuse_get_context()->private_data);
}

// The result FUSE expects of a system call: 0, or the negated errno.
int Result(int result) {
  return result < 0 ? -errno : 0;
}

// The whole content of the open file `fd`.
std::string ContentOf(int fd) {
  std::string content;
  char buffer[64 * 1024];
  for (off_t offset = 0;;) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return content;
    content.append(buffer, static_cast<std::size_t>(got));
    offset += got;
  }
}

std::string Child(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

}  // namespace

// The passthrough calls, each on the backing folder.
struct DurableFsOperations {
  static std::string B(const char* path) { return Self().Backing(path); }

  static void* Init(struct fuse_conn_info*, struct fuse_config* config) {
    // Inode numbers as the backing folder has them, and a removed open file gone at once (no
    // .fuse_hidden names), as on a disk. Every change passes through the kernel, so it may keep
    // names and attributes in its caches.
    config->use_ino = 1;
    config->hard_remove = 1;
    return fuse_get_context()->private_data;
  }
  static int GetAttr(const char* path, struct stat* info, struct fuse_file_info* file) {
    if (file != nullptr) return Result(::fstat(static_cast<int>(file->fh), info));
    return Result(::lstat(B(path).c_str(), info));
  }
  static int Access(const char* path, int mask) { return Result(::access(B(path).c_str(), mask)); }
  static int ReadLink(const char* path, char* buffer, size_t size) {
    const ssize_t got = ::readlink(B(path).c_str(), buffer, size - 1);
    if (got < 0) return -errno;
    buffer[got] = '\0';
    return 0;
  }
  static int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t,
                     struct fuse_file_info*, enum fuse_readdir_flags) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(B(path).c_str()), ::closedir);
    if (!dir) return -errno;
    while (const dirent* entry = ::readdir(dir.get())) {
      struct stat info {};
      info.st_ino = entry->d_ino;
      info.st_mode = static_cast<mode_t>(DTTOIF(entry->d_type));
      if (fill(buffer, entry->d_name, &info, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) break;
    }
    return 0;
  }
  static int MakeDir(const char* path, mode_t mode) {
    return Result(::mkdir(B(path).c_str(), mode));
  }
  static int Unlink(const char* path) { return Self().Remove(B(path)); }
  static int RemoveDir(const char* path) { return Result(::rmdir(B(path).c_str())); }
  static int Symlink(const char* to, const char* path) {
    return Result(::symlink(to, B(path).c_str()));
  }
  static int Rename(const char* from, const char* to, unsigned int flags) {
    struct stat replaced {};
    if ((flags & RENAME_EXCHANGE) == 0 && ::lstat(B(to).c_str(), &replaced) == 0 &&
        !S_ISDIR(replaced.st_mode) && ::link(B(to).c_str(), Self().Removed().c_str()) != 0) {
      return -errno;
    }
    return Result(::renameat2(AT_FDCWD, B(from).c_str(), AT_FDCWD, B(to).c_str(), flags));
  }
  static int Link(const char* from, const char* to) {
    return Result(::link(B(from).c_str(), B(to).c_str()));
  }
  static int ChangeMode(const char* path, mode_t mode, struct fuse_file_info* file) {
    if (file != nullptr) return Result(::fchmod(static_cast<int>(file->fh), mode));
    return Result(::chmod(B(path).c_str(), mode));
  }
  static int ChangeOwner(const char* path, uid_t owner, gid_t group, struct fuse_file_info* file) {
    if (file != nullptr) return Result(::fchown(static_cast<int>(file->fh), owner, group));
    return Result(::lchown(B(path).c_str(), owner, group));
  }
  static int Truncate(const char* path, off_t size, struct fuse_file_info* file) {
    if (file != nullptr) return Result(::ftruncate(static_cast<int>(file->fh), size));
    return Result(::truncate(B(path).c_str(), size));
  }
  static int SetTimes(const char* path, const struct timespec times[2],
                      struct fuse_file_info* file) {
    if (file != nullptr) return Result(::futimens(static_cast<int>(file->fh), times));
    return Result(::utimensat(AT_FDCWD, B(path).c_str(), times, AT_SYMLINK_NOFOLLOW));
  }
  static int Create(const char* path, mode_t mode, struct fuse_file_info* file) {
    const int fd = ::open(B(path).c_str(), file->flags, mode);
    if (fd < 0) return -errno;
    file->fh = static_cast<uint64_t>(fd);
    return 0;
  }
  static int Open(const char* path, struct fuse_file_info* file) {
    const int fd = ::open(B(path).c_str(), file->flags);
    if (fd < 0) return -errno;
    file->fh = static_cast<uint64_t>(fd);
    return 0;
  }
  static int Read(const char*, char* buffer, size_t size, off_t offset,
                  struct fuse_file_info* file) {
    const ssize_t got = ::pread(static_cast<int>(file->fh), buffer, size, offset);
    return got < 0 ? -errno : static_cast<int>(got);
  }
  static int Write(const char*, const char* buffer, size_t size, off_t offset,
                   struct fuse_file_info* file) {
    const ssize_t put = ::pwrite(static_cast<int>(file->fh), buffer, size, offset);
    return put < 0 ? -errno : static_cast<int>(put);
  }
  static int StatFs(const char* path, struct statvfs* info) {
    return Result(::statvfs(B(path).c_str(), info));
  }
  static int Release(const char*, struct fuse_file_info* file) {
    ::close(static_cast<int>(file->fh));
    return 0;
  }
};

DurableFs::DurableFs(std::filesystem::path backing, std::filesystem::path mount)
    : m_backing(std::move(backing)),
      m_mount(std::move(mount)),
      m_removed(m_backing.string() + ".removed") {
  std::filesystem::create_directories(m_removed);
  KeepTree("/");
  static const struct fuse_operations operations = [] {
    struct fuse_operations o {};
    o.init = DurableFsOperations::Init;
    o.getattr = DurableFsOperations::GetAttr;
    o.access = DurableFsOperations::Access;
    o.readlink = DurableFsOperations::ReadLink;
    o.readdir = DurableFsOperations::ReadDir;
    o.mkdir = DurableFsOperations::MakeDir;
    o.unlink = DurableFsOperations::Unlink;
    o.rmdir = DurableFsOperations::RemoveDir;
    o.symlink = DurableFsOperations::Symlink;
    o.rename = DurableFsOperations::Rename;
    o.link = DurableFsOperations::Link;
    o.chmod = DurableFsOperations::ChangeMode;
    o.chown = DurableFsOperations::ChangeOwner;
    o.truncate = DurableFsOperations::Truncate;
    o.utimens = DurableFsOperations::SetTimes;
    o.create = DurableFsOperations::Create;
    o.open = DurableFsOperations::Open;
    o.read = DurableFsOperations::Read;
    o.write = DurableFsOperations::Write;
    o.statfs = DurableFsOperations::StatFs;
    o.release = DurableFsOperations::Release;
    o.fsync = DurableFs::FsyncFile;
    o.fsyncdir = DurableFs::FsyncFolder;
    return o;
  }();
  char program[] = "durable_fs";
  char* argv[] = {program, nullptr};
  struct fuse_args args = FUSE_ARGS_INIT(1, argv);
  m_fuse = fuse_new(&args, &operations, sizeof operations, this);
  // fuse_new copies the arguments it adds to; they are ours to free.
  fuse_opt_free_args(&args);
  if (m_fuse == nullptr) {
    m_error = "fuse_new failed";
    return;
  }
  if (fuse_mount(m_fuse, m_mount.c_str()) != 0) {
    m_error = "cannot mount a FUSE file system on " + m_mount.string();
    fuse_destroy(m_fuse);
    m_fuse = nullptr;
    return;
  }
  m_loop = std::thread([this] { fuse_loop(m_fuse); });
  struct stat info {};
  if (::stat(m_mount.c_str(), &info) == 0) m_device = info.st_dev;
}

DurableFs::~DurableFs() {
  if (m_fuse == nullptr) return;
  // Unmounting ends the loop: its next read of the device finds the file system gone.
  fuse_exit(m_fuse);
  fuse_unmount(m_fuse);
  m_loop.join();
  fuse_destroy(m_fuse);
}

void DurableFs::CutAt(std::size_t call) {
  const std::lock_guard<std::mutex> lock(m_mutex);
  m_cut = call;
}

std::size_t DurableFs::Calls() const {
  const std::lock_guard<std::mutex> lock(m_mutex);
  return m_calls;
}

bool DurableFs::Durable() {
  ++m_calls;
  return m_cut == 0 || m_calls < m_cut;
}

std::string DurableFs::Backing(const char* path) const {
  return m_backing.string() + path;
}

std::string DurableFs::Removed() {
  const std::lock_guard<std::mutex> lock(m_mutex);
  return (m_removed / std::to_string(++m_removals)).string();
}

int DurableFs::Remove(const std::string& backing) {
  return Result(::rename(backing.c_str(), Removed().c_str()));
}

void DurableFs::SyncAll() {
  const std::lock_guard<std::mutex> lock(m_mutex);
  if (Durable()) KeepTree("/");
}

int DurableFs::FsyncFile(const char*, int, struct fuse_file_info* info) {
  DurableFs& self = Self();
  const std::lock_guard<std::mutex> lock(self.m_mutex);
  if (self.Durable()) self.KeepContent(static_cast<int>(info->fh));
  return 0;
}

int DurableFs::FsyncFolder(const char* path, int, struct fuse_file_info*) {
  DurableFs& self = Self();
  const std::lock_guard<std::mutex> lock(self.m_mutex);
  if (self.Durable()) self.KeepNames(path);
  return 0;
}

void DurableFs::KeepNames(const std::string& path) {
  std::map<std::string, Entry>& names = m_names[path];
  names.clear();
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(Backing(path.c_str()).c_str()), ::closedir);
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    names[name] = Entry{entry->d_ino, entry->d_type == DT_DIR};
  }
}

void DurableFs::KeepContent(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) == 0) m_content[info.st_ino] = ContentOf(fd);
}

void DurableFs::KeepTree(const std::string& path) {
  KeepNames(path);
  for (const auto& [name, entry] : m_names[path]) {
    const std::string child = Child(path, name);
    if (entry.folder) {
      KeepTree(child);
      continue;
    }
    const int fd = ::open(Backing(child.c_str()).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    KeepContent(fd);
    ::close(fd);
  }
}

void DurableFs::WriteDurableTree(const std::filesystem::path& into) const {
  const std::lock_guard<std::mutex> lock(m_mutex);
  WriteFolder("/", into);
}

void DurableFs::WriteFolder(const std::string& path, const std::filesystem::path& into) const {
  std::filesystem::create_directories(into);
  const auto names = m_names.find(path);
  if (names == m_names.end()) return;
  for (const auto& [name, entry] : names->second) {
    if (entry.folder) {
      WriteFolder(Child(path, name), into / name);
      continue;
    }
    const auto content = m_content.find(entry.inode);
    std::ofstream(into / name, std::ios::binary)
        << (content == m_content.end() ? std::string() : content->second);
  }
}

}  // namespace dialmend
