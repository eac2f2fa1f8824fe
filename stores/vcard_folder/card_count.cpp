#include "stores/vcard_folder/card_count.h"

#include <string_view>
#include <utility>
#include <vector>

#include "platform/folder_reader.h"
#include "stores/vcard_folder/folder_entries.h"

namespace dialmend {

bool CountCardFiles(const std::string& path, std::int64_t& count, CardNaming naming) {
  std::vector<std::string> folders{path};
  for (bool top = true; !folders.empty(); top = false) {
    const std::string folder = std::move(folders.back());
    folders.pop_back();
    Result<FolderReader> opened = FolderReader::Open(folder);
    if (!opened.Ok()) {
      if (top) return false;
      continue;
    }
    FolderReader& reader = opened.Value();
    while (reader.Next()) {
      const std::string_view name = reader.Name();
      if (Hidden(name)) continue;
      if (reader.KindItself() == EntryKind::Folder) {
        std::string below = folder + "/";
        below += name;
        folders.push_back(std::move(below));
      } else if (!Temporary(name) && IsCardName(name, naming)) {
        ++count;
      }
    }
    if (top && !reader.Finished().Ok()) return false;
  }
  return true;
}

}  // namespace dialmend
