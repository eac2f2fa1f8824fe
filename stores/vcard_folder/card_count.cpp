#include "stores/vcard_folder/card_count.h"

#include <cerrno>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#else
#include <filesystem>
#include <system_error>
#endif

#include "platform/utf8_path.h"
#include "stores/vcard_folder/folder_entries.h"

namespace dialmend {

#ifndef _WIN32
bool CountCardFiles(const std::string& path, std::int64_t& count, CardNaming naming) {
  std::vector<std::string> folders{path};
  for (bool top = true; !folders.empty(); top = false) {
    const std::string folder = std::move(folders.back());
    folders.pop_back();
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
      if (top) return false;
      continue;
    }
    const int fd = ::dirfd(dir.get());
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir.get());
      if (entry == nullptr) break;
      const std::string_view name = entry->d_name;
      // "." and ".." are hidden too.
      if (Hidden(name)) continue;
      bool is_folder = entry->d_type == DT_DIR;
      if (entry->d_type == DT_UNKNOWN) {
        struct stat info;
        is_folder =
            ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
      }
      if (is_folder) {
        folders.push_back(folder + "/" + entry->d_name);
      } else if (!Temporary(name) && IsCardName(name, naming)) {
        ++count;
      }
    }
    if (errno != 0 && top) return false;
  }
  return true;
}
#else
bool CountCardFiles(const std::string& path, std::int64_t& count, CardNaming naming) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::recursive_directory_iterator it(PathFromUtf8(path),
                                      fs::directory_options::skip_permission_denied, error);
  if (error) return false;
  for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string name = Utf8FromPath(it->path().filename());
    if (Hidden(name)) {
      it.disable_recursion_pending();
    } else if (!Temporary(name) && IsCardName(name, naming)) {
      ++count;
    }
  }
  return !error;
}
#endif

}  // namespace dialmend
