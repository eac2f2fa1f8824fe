#include "stores/vcard_folder/folder_entries.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/atomic_file.h"
#include "platform/reason.h"
#include "platform/utf8.h"

namespace dialmend {
namespace {

// Removes the hidden entry `reader` is at when it is a leftover temporary file of ours: only a
// regular file, never what a link of that name leads to.
void RemoveLeftover(FolderReader& reader, Walk& walk, std::vector<StoreNote>& notes) {
  if (!walk.writing || !IsAtomicTempName(reader.Name())) return;
  if (reader.KindItself() != EntryKind::File) return;
  const std::error_code error = reader.Remove();
  // Gone already: nothing was ours to remove.
  if (error == std::errc::no_such_file_or_directory) return;
  if (!error) {
    ++walk.removed;
  } else {
    notes.push_back(
        {std::string(reader.Name()),
         "could not remove this temporary file left by an earlier run: " + ErrorText(error)});
  }
}

}  // namespace

bool Hidden(std::string_view name) {
  return name.empty() || name[0] == '.';
}

bool Temporary(std::string_view name) {
  return name.ends_with("~") || name.ends_with(".tmp") || name.ends_with(".swp");
}

bool HasExtension(std::string_view name, std::string_view extension) {
  if (name.size() <= extension.size()) return false;
  // Compared in place: every name of a folder of cards comes through here.
  const std::string_view end = name.substr(name.size() - extension.size());
  return std::equal(end.begin(), end.end(), extension.begin(),
                    [](char c, char lower) { return AsciiLower(c) == lower; });
}

bool IsCardName(std::string_view name, CardNaming naming) {
  if (naming == CardNaming::VcfFiles) return HasExtension(name, ".vcf");
  // KDE's resources write the notice and keep contact groups as .ctg files; a vdir's own files
  // name its book.
  return name != "WARNING_README.txt" && !HasExtension(name, ".ctg") && name != "displayname" &&
         name != "color" && name != "description";
}

std::vector<FolderEntry> ReadFolder(const std::string& path, const std::string& subject, Walk& walk,
                                    std::vector<StoreNote>& notes, const FileNameSink& files) {
  Result<FolderReader> opened = FolderReader::Open(path);
  if (!opened.Ok()) throw StoreError(subject, opened.Message());
  FolderReader& reader = opened.Value();
  std::vector<FolderEntry> entries;
  while (reader.Next()) {
    const std::string_view name = reader.Name();
    if (Hidden(name)) {
      RemoveLeftover(reader, walk, notes);
      continue;
    }
    if (Temporary(name)) continue;
    std::optional<EntryLook> look = reader.Look();
    if (!look) continue;
    if (look->kind == EntryKind::File) {
      files(name);
    } else {
      entries.push_back({std::string(name), look->kind, std::move(look->detail)});
    }
  }
  if (const Status end = reader.Finished(); !end.Ok()) throw StoreError(subject, end.Message());
  return entries;
}

}  // namespace dialmend
