#include "stores/vcard_file/vcard_file_store.h"

#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/reason.h"
#include "platform/user_name.h"
#include "platform/utf8_path.h"
#include "stores/vcard_file/card_file.h"
#include "stores/vcard_file/found_cards.h"

namespace dialmend {
namespace {

class NoFolders : public FolderCursor {
 public:
  std::unique_ptr<Folder> Next() override { return nullptr; }
};

class FileFolder : public Folder {
 public:
  FileFolder(std::string path, std::string file_name)
      : m_path(std::move(path)), m_file_name(std::move(file_name)) {}

  std::string Name() override {
    std::string name = m_file_name;
    if (name.size() > 4) {
      std::string ext = name.substr(name.size() - 4);
      for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      if (ext == ".vcf") name.resize(name.size() - 4);
    }
    return name;
  }

  FolderKind Kind() override { return FolderKind::Contacts; }

  std::unique_ptr<ItemCursor> Items() override {
    return m_files.Items(m_path, m_file_name, [this](std::size_t cards) {
      if (cards == 0) m_notes.push_back({m_file_name, "holds no card"});
    });
  }

  std::unique_ptr<FolderCursor> Folders() override { return std::make_unique<NoFolders>(); }

  std::vector<StoreNote> TakeNotes() override { return std::exchange(m_notes, {}); }

  std::vector<FlushFailure> Flush() override { return m_files.Flush(); }

 private:
  std::string m_path;
  std::string m_file_name;
  CardFiles m_files;
  std::vector<StoreNote> m_notes;
};

// The one folder, given once.
class OneFolder : public FolderCursor {
 public:
  OneFolder(std::string path, std::string file_name)
      : m_path(std::move(path)), m_file_name(std::move(file_name)) {}

  std::unique_ptr<Folder> Next() override {
    if (m_given) return nullptr;
    m_given = true;
    return std::make_unique<FileFolder>(m_path, m_file_name);
  }

 private:
  std::string m_path;
  std::string m_file_name;
  bool m_given = false;
};

class VCardFileStore : public ContactStore {
 public:
  explicit VCardFileStore(std::string path) : m_path(std::move(path)) {}

  void SetWriting(bool writing) override { m_writing = writing; }

  Status Open() override {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(PathFromUtf8(m_path), error);
    if (error) return Status::Failure("\"" + m_path + "\": " + ErrorText(error));
    if (fs::is_directory(status)) {
      return Status::Failure("\"" + m_path + "\" is a folder, not a file");
    }
    if (!fs::is_regular_file(status)) return Status::Failure("\"" + m_path + "\" is not a file");
    if (!std::ifstream(PathFromUtf8(m_path), std::ios::binary)) {
      return Status::Failure("\"" + m_path + "\" cannot be opened for reading");
    }
    return {};
  }

  std::string CurrentUser() override { return LoggedInUserName(); }

  // No count before the walk: counting the BEGIN lines of a large export costs 7-8% of a
  // simulation, more than progress is worth, so the walk shows how far it is without a total.

  std::unique_ptr<FolderCursor> Folders() override {
    RemoveOurLeftovers();
    return std::make_unique<OneFolder>(m_path, FileName());
  }

  StoreIdentity Identity() override { return {"vCard file", RecordedPath(m_path)}; }

  std::unique_ptr<Folder> FindContactsAsRead(std::unique_ptr<IdentityCursor> identities) override {
    RemoveOurLeftovers();
    // The file is the store: a record that names any other is refused.
    return FoundCardsFolder(
        FileName(), std::move(identities),
        [file = RecordedPath(m_path)](const std::string& path, const std::string& name) {
          if (path != file) throw StoreError(name, "it is not a card of this store");
          return HeldFile();
        },
        nullptr);
  }

  std::vector<StoreNote> TakeNotes() override { return std::exchange(m_notes, {}); }

 private:
  std::string FileName() const { return Utf8FromPath(PathFromUtf8(m_path).filename()); }

  // A run that writes first removes the temporary files a killed run left beside the file, made
  // for this file alone: an export's folder holds other people's files.
  void RemoveOurLeftovers() {
    if (!m_writing) return;
    const std::filesystem::path file = PathFromUtf8(RecordedPath(m_path));
    const LeftoverRemoval removal = RemoveLeftovers(file.parent_path(), FileName());
    for (const auto& [name, reason] : removal.failures) {
      m_notes.push_back(
          {name, "could not remove this temporary file left by an earlier run: " + reason});
    }
    if (removal.removed > 0) {
      m_notes.push_back({{},
                         "Removed " + std::to_string(removal.removed) +
                             (removal.removed == 1 ? " temporary file" : " temporary files") +
                             " left by an earlier run that was stopped"});
    }
  }

  std::string m_path;
  bool m_writing = false;
  std::vector<StoreNote> m_notes;
};

}  // namespace

std::unique_ptr<ContactStore> MakeVCardFileStore(std::string path) {
  return std::make_unique<VCardFileStore>(std::move(path));
}

}  // namespace dialmend
