#include "stores/outlook/outlook_folders.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "stores/outlook/outlook_item.h"
#include "stores/outlook/outlook_names.h"
#include "stores/outlook/outlook_table.h"

namespace dialmend {
namespace {

class OutlookFolder : public Folder {
 public:
  OutlookFolder(OutlookSessionPtr session, OutlookObject folder, std::string name, FolderKind kind)
      : m_session(std::move(session)),
        m_folder(std::move(folder)),
        m_name(std::move(name)),
        m_kind(kind) {}

  std::string Name() override { return m_name; }
  FolderKind Kind() override { return m_kind; }

  std::unique_ptr<ItemCursor> Items() override {
    if (auto rows = ReadFolderTable(m_session, m_folder, m_name, m_notes)) return rows;
    auto items = ReadObject(*m_session, m_folder, kFolder, L"Items", m_name);
    return MakeOutlookItems(OutlookCollection(m_session, std::move(items), kItems, m_name),
                            std::make_shared<FolderStoreId>(m_folder));
  }

  std::unique_ptr<FolderCursor> Folders() override {
    auto folders = ReadObject(*m_session, m_folder, kFolder, L"Folders", m_name);
    return MakeOutlookFolders(OutlookCollection(m_session, std::move(folders), kFolders, m_name),
                              /*top_level=*/false);
  }

  std::vector<StoreNote> TakeNotes() override { return std::move(m_notes); }

 private:
  OutlookSessionPtr m_session;
  OutlookObject m_folder;
  std::string m_name;
  FolderKind m_kind;
  std::vector<StoreNote> m_notes;
};

// What the walk needs to know of one folder, read on the Outlook thread in one go.
struct FolderFacts {
  std::optional<Automation::Failure> failure;
  std::wstring_view member;  // the one that failed
  OutlookObject folder;
  std::optional<std::wstring> name;
  std::optional<long> item_type;
  bool hidden = false;
  bool without_property_accessor = false;
};

// On the Outlook thread: element `index` of `folders`, its name, its item type and, when
// `check_hidden`, whether Outlook hides it. A folder without the property is not hidden.
void ReadFacts(OutlookThreadCore& core, const OutlookObject& folders, long index, bool check_hidden,
               FolderFacts& out) {
  const auto read = [&](const OutlookObject& object, int kind, std::wstring_view member, WORD flags,
                        VARIANT* args, unsigned count, OutlookReply& reply) {
    out.member = member;
    out.failure = core.Call(object, kind, member, flags, args, count, &reply, FailureContext::Read);
    return !out.failure;
  };
  Variant position = Variant::Int(index);
  OutlookReply item, name, type, accessor, hidden;
  if (!read(folders, kFolders, L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, position.Raw(), 1,
            item)) {
    return;
  }
  out.folder = std::move(item.object);
  if (!out.folder || !read(out.folder, kFolder, L"Name", DISPATCH_PROPERTYGET, nullptr, 0, name)) {
    return;
  }
  out.name = TextOf(name.value.Get());
  if (!read(out.folder, kFolder, L"DefaultItemType", DISPATCH_PROPERTYGET, nullptr, 0, type)) {
    return;
  }
  out.item_type = NumberOf(type.value.Get());
  if (!check_hidden) return;
  Variant property = Variant::Text(Bstr(kOutlookHiddenProperty));
  if (read(out.folder, kFolder, L"PropertyAccessor", DISPATCH_PROPERTYGET, nullptr, 0, accessor) &&
      read(accessor.object, kPropertyAccessor, L"GetProperty", DISPATCH_METHOD, property.Raw(), 1,
           hidden)) {
    out.hidden = NumberOf(hidden.value.Get()).value_or(0) != 0;
  }
  if (out.failure && !out.failure->fatal) {
    // Most folders do not carry the property at all; Outlook 2003 has no PropertyAccessor.
    out.without_property_accessor = out.failure->result == DISP_E_UNKNOWNNAME;
    out.failure.reset();
  }
}

class OutlookFolders : public FolderCursor {
 public:
  OutlookFolders(OutlookCollection folders, bool top_level) : m_top_level(top_level) {
    m_levels.push_back({std::move(folders), {}});
  }

  std::unique_ptr<Folder> Next() override {
    while (!m_levels.empty()) {
      Level& level = m_levels.back();
      const long index = level.folders.Skip();
      if (index == 0) {
        m_levels.pop_back();
        continue;
      }
      const OutlookSessionPtr session = level.folders.SharedSession();
      FolderFacts facts = Read(level, index);
      const std::string position = level.path + "folder " + std::to_string(index);
      if (facts.failure) {
        ThrowFailure(*facts.failure, position,
                     facts.failure->fatal ? facts.failure->reason
                                          : "cannot read " + Utf16ToUtf8Lossy(facts.member) + ": " +
                                                facts.failure->reason);
      }
      if (!facts.folder) throw StoreError(position, "Outlook gave no object");
      if (!facts.item_type) throw StoreError(position, "DefaultItemType is not a number");
      if (facts.without_property_accessor) session->without_property_accessor = true;
      if (facts.hidden) continue;
      const std::string name = level.path + (facts.name ? Utf16ToUtf8Lossy(*facts.name) : "");
      const FolderKind kind = FolderKindOfItemType(static_cast<int>(*facts.item_type));
      if (kind == FolderKind::Contacts || m_top_level) {
        return std::make_unique<OutlookFolder>(session, std::move(facts.folder), name, kind);
      }
      // Contacts may lie below a folder of another kind; it is looked through, not walked.
      auto below = ReadObject(*session, facts.folder, kFolder, L"Folders", name);
      m_levels.push_back(
          {OutlookCollection(session, std::move(below), kFolders, name), name + "\\"});
    }
    return nullptr;
  }

 private:
  struct Level {
    OutlookCollection folders;
    std::string path;  // of the folder these are in, from this cursor's own folder
  };

  static FolderFacts Read(const Level& level, long index) {
    OutlookSession& session = *level.folders.SharedSession();
    return OnOutlookThread<FolderFacts>(
        session, [folders = level.folders.Object(), index,
                  check_hidden = !session.without_property_accessor](OutlookThreadCore& core,
                                                                     FolderFacts& out) {
          out.failure.reset();
          ReadFacts(core, folders, index, check_hidden, out);
        });
  }

  bool m_top_level;
  std::vector<Level> m_levels;
};

}  // namespace

std::unique_ptr<FolderCursor> MakeOutlookFolders(OutlookCollection folders, bool top_level) {
  return std::make_unique<OutlookFolders>(std::move(folders), top_level);
}

}  // namespace dialmend
