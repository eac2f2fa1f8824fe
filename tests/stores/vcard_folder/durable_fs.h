#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>

struct fuse;
struct fuse_file_info;

// A FUSE file system for power-cut tests: it passes every call through to a backing folder, but
// remembers only what was made durable, as a disk after a power cut would: a file's content at
// its fsync, a folder's names at the folder's fsync, everything at a sync of the whole file
// system. At a chosen durability call the power goes: from that call on nothing more becomes
// durable, though the program goes on unaware.

namespace dialmend {

class DurableFs {
 public:
  // Mounts a view of `backing` at `mount`, all of it durable so far. Mounted() tells whether
  // that worked, and Error() why not.
  DurableFs(std::filesystem::path backing, std::filesystem::path mount);
  ~DurableFs();
  DurableFs(const DurableFs&) = delete;
  DurableFs& operator=(const DurableFs&) = delete;

  [[nodiscard]] bool Mounted() const { return m_fuse != nullptr; }
  [[nodiscard]] const std::string& Error() const { return m_error; }
  // The device the mounted files report.
  [[nodiscard]] dev_t Device() const { return m_device; }

  // The power goes at the `call`th durability call, which itself is lost; 0: never.
  void CutAt(std::size_t call);
  // How many durability calls have been made so far.
  [[nodiscard]] std::size_t Calls() const;

  // A sync of the whole file system. The kernel does not pass syncfs to a FUSE file system, so
  // the test's seam below the writer reports it here.
  void SyncAll();

  // Writes into the empty folder `into` the tree as it would be found after the power cut: the
  // durable names of each folder, each file with its durable content (empty if it has none).
  void WriteDurableTree(const std::filesystem::path& into) const;

 private:
  struct Entry {
    ino_t inode = 0;
    bool folder = false;
  };

  static int FsyncFile(const char* path, int datasync, ::fuse_file_info* info);
  static int FsyncFolder(const char* path, int datasync, ::fuse_file_info* info);

  // Whether this durability call counts: false from the cut on. Called with m_mutex held.
  bool Durable();
  // The backing path of the mounted `path`.
  [[nodiscard]] std::string Backing(const char* path) const;
  // A new name outside the backing folder for a file removed from it. Removed files are kept
  // there so that no inode number, which keys the durable contents, is used twice.
  [[nodiscard]] std::string Removed();
  // Removes the file `backing` by moving it to Removed(): 0 or the negated errno.
  int Remove(const std::string& backing);
  // Records the names of the folder `path` (mounted form) as durable.
  void KeepNames(const std::string& path);
  // Records the content of the open backing file `fd` as durable.
  void KeepContent(int fd);
  void KeepTree(const std::string& path);
  void WriteFolder(const std::string& path, const std::filesystem::path& into) const;

  std::filesystem::path m_backing;
  std::filesystem::path m_mount;
  std::filesystem::path m_removed;
  std::size_t m_removals = 0;
  std::string m_error;
  struct fuse* m_fuse = nullptr;
  std::thread m_loop;
  dev_t m_device = 0;

  mutable std::mutex m_mutex;
  std::size_t m_calls = 0;
  std::size_t m_cut = 0;
  // Each folder's durable names, by mounted path ("/", "/book").
  std::map<std::string, std::map<std::string, Entry>> m_names;
  // Each file's durable content, by backing inode.
  std::map<ino_t, std::string> m_content;

  friend struct DurableFsOperations;
};

}  // namespace dialmend
