#include "stores/outlook/outlook_store.h"

#include <string>
#include <utility>
#include <vector>

#include "stores/outlook/com_dispatch.h"
#include "stores/outlook/com_ptr.h"
#include "stores/outlook/outlook_item.h"
#include "stores/outlook/outlook_session.h"
#include "stores/outlook/outlook_table.h"

namespace dialmend {
namespace {

class OutlookFolder : public Folder {
 public:
  OutlookFolder(OutlookSessionPtr session, ComPtr<IDispatch> folder, std::string position)
      : m_session(std::move(session)),
        m_folder(std::move(folder)),
        m_position(std::move(position)) {}

  std::string Name() override {
    if (!m_name) {
      const Variant value = ReadMember(*m_session, m_folder.Get(), kFolder, L"Name", m_position);
      const auto text = TextOf(value.Get());
      m_name = text ? Utf16ToUtf8Lossy(*text) : std::string();
    }
    return *m_name;
  }

  FolderKind Kind() override {
    return FolderKindOfItemType(static_cast<int>(
        ReadNumber(*m_session, m_folder.Get(), kFolder, L"DefaultItemType", Subject())));
  }

  std::unique_ptr<ItemCursor> Items() override {
    if (auto rows = ReadFolderTable(m_session, m_folder.Get(), Subject(), m_notes)) return rows;
    auto items = ReadObject(*m_session, m_folder.Get(), kFolder, L"Items", Subject());
    return MakeOutlookItems(OutlookCollection(m_session, std::move(items), kItems, Subject()));
  }

  std::unique_ptr<FolderCursor> Folders() override;

  std::vector<StoreNote> TakeNotes() override { return std::move(m_notes); }

 private:
  std::string Subject() const { return m_name ? *m_name : m_position; }

  OutlookSessionPtr m_session;
  ComPtr<IDispatch> m_folder;
  std::string m_position;
  std::optional<std::string> m_name;
  std::vector<StoreNote> m_notes;
};

class OutlookFolders : public FolderCursor {
 public:
  explicit OutlookFolders(OutlookCollection folders) : m_folders(std::move(folders)) {}

  std::unique_ptr<Folder> Next() override {
    std::string position;
    auto folder = m_folders.Next("folder", position);
    if (!folder) return nullptr;
    return std::make_unique<OutlookFolder>(m_folders.SharedSession(), std::move(folder),
                                           std::move(position));
  }

 private:
  OutlookCollection m_folders;
};

class NoFolders : public FolderCursor {
 public:
  std::unique_ptr<Folder> Next() override { return nullptr; }
};

// The items an undo asks for, each found by its EntryID in the profile's namespace.
class FoundOutlookItems : public ItemCursor {
 public:
  FoundOutlookItems(OutlookSessionPtr session, std::unique_ptr<IdentityCursor> identities)
      : m_session(std::move(session)), m_identities(std::move(identities)) {}

  std::unique_ptr<ContactItem> Next() override {
    const std::unique_ptr<ContactIdentity> identity = m_identities->Next();
    if (!identity) return nullptr;
    const std::string& entry_id = identity->where;
    const std::string subject = "the item " + entry_id;
    const auto wide = Utf8ToUtf16(entry_id);
    if (!wide || wide->empty()) throw StoreError(subject, "its EntryID is not one");
    Variant argument = Variant::Text(Bstr(*wide));
    Variant value;
    if (auto failure =
            m_session->automation.Call(m_session->name_space.Get(), kNamespace, L"GetItemFromID",
                                       DISPATCH_METHOD, argument.Raw(), 1, value.Put())) {
      // Outlook gone ends the undo as it ends a walk, not one line per contact left.
      ThrowFailure(*failure, subject, "Outlook cannot find it: " + failure->reason);
    }
    auto item = DispatchOf(value.Get());
    if (!item) throw StoreError(subject, "Outlook gave no object");
    return MakeOutlookItem(m_session, std::move(item), subject);
  }

 private:
  OutlookSessionPtr m_session;
  std::unique_ptr<IdentityCursor> m_identities;
};

class FoundOutlookFolder : public Folder {
 public:
  FoundOutlookFolder(OutlookSessionPtr session, std::unique_ptr<IdentityCursor> identities)
      : m_session(std::move(session)), m_identities(std::move(identities)) {}

  std::string Name() override { return "the profile"; }
  FolderKind Kind() override { return FolderKind::Contacts; }
  std::unique_ptr<ItemCursor> Items() override {
    return std::make_unique<FoundOutlookItems>(m_session, std::move(m_identities));
  }
  std::unique_ptr<FolderCursor> Folders() override { return std::make_unique<NoFolders>(); }

 private:
  OutlookSessionPtr m_session;
  std::unique_ptr<IdentityCursor> m_identities;
};

std::unique_ptr<FolderCursor> OutlookFolder::Folders() {
  auto folders = ReadObject(*m_session, m_folder.Get(), kFolder, L"Folders", Subject());
  return std::make_unique<OutlookFolders>(
      OutlookCollection(m_session, std::move(folders), kFolders, Subject()));
}

// Attaches to the Outlook the user has open, else starts one; returns why neither works.
Status ConnectToOutlook(const std::wstring& prog_id, ComPtr<IDispatch>& application) {
  CLSID id;
  HRESULT result = CLSIDFromProgID(prog_id.c_str(), &id);
  if (FAILED(result)) return Status::Failure(FailureText(result));
  ComPtr<IUnknown> running;
  if (SUCCEEDED(GetActiveObject(id, nullptr, running.Put())) && running &&
      SUCCEEDED(
          running->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(application.Put())))) {
    return {};
  }
  result = CoCreateInstance(id, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(application.Put()));
  if (FAILED(result)) return Status::Failure(FailureText(result));
  return {};
}

class OutlookStore : public ContactStore {
 public:
  explicit OutlookStore(OutlookStoreOptions options)
      : m_given_application(ComPtr<IDispatch>::Share(options.application)),
        m_prog_id(std::move(options.prog_id)),
        m_busy_wait_ms(options.busy_wait_ms.value_or(kRetryLimitMs)),
        m_waiting(std::move(options.waiting)) {}

  Status Open() override {
    m_session.reset();
    auto session = std::make_shared<OutlookSession>();
    session->automation.SetRetryLimit(m_busy_wait_ms);
    const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(started)) {
      session->com_started = true;
    } else if (started != RPC_E_CHANGED_MODE) {
      return Status::Failure("COM cannot be started: " + FailureText(started));
    }
    session->watch = std::make_unique<CallWatch>(m_waiting);
    session->automation.SetWatch(session->watch.get());
    // A thread already in the multithreaded apartment cannot have a message filter; calls
    // there are retried by Automation alone.
    auto* filter = new BusyServerFilter(m_busy_wait_ms, session->watch.get());
    if (SUCCEEDED(CoRegisterMessageFilter(filter, session->previous_filter.Put()))) {
      session->filter_registered = true;
    }
    filter->Release();

    if (m_given_application) {
      session->application = m_given_application;
    } else if (Status connected = ConnectToOutlook(m_prog_id, session->application);
               !connected.Ok()) {
      return connected;
    } else {
      // Outlook's security prompt about our access then comes to the front instead of opening
      // behind the console or window that started the run. Without the right (wine, an
      // in-process object) the prompt only stays behind, as before.
      (void)CoAllowSetForegroundWindow(session->application.Get(), nullptr);
    }

    Bstr mapi_text(L"MAPI");
    if (!mapi_text.Ok()) return Status::Failure("Outlook cannot open the profile: out of memory");
    Variant mapi = Variant::Text(std::move(mapi_text));
    Variant name_space;
    if (auto failure =
            session->automation.Call(session->application.Get(), kApplication, L"GetNamespace",
                                     DISPATCH_METHOD, mapi.Raw(), 1, name_space.Put())) {
      return Status::Failure("Outlook cannot open the profile: " + failure->reason);
    }
    session->name_space = DispatchOf(name_space.Get());
    if (!session->name_space) return Status::Failure("Outlook cannot open the profile");
    m_session = std::move(session);
    return {};
  }

  std::string CurrentUser() override {
    OutlookSession& session = Opened();
    Variant user;
    if (auto failure = session.automation.Call(session.name_space.Get(), kNamespace, L"CurrentUser",
                                               DISPATCH_PROPERTYGET, nullptr, 0, user.Put())) {
      if (IsLogonFailure(failure->result)) {
        throw StoreError("the current user", "Outlook could not log on to the profile");
      }
      ThrowFailure(*failure, "the current user", "Outlook refused to name it: " + failure->reason);
    }
    if (auto recipient = DispatchOf(user.Get())) {
      user = ReadMember(session, recipient.Get(), kRecipient, L"Name", "the current user");
    }
    const auto text = TextOf(user.Get());
    if (!text) throw StoreError("the current user", "Outlook gave no name");
    return Utf16ToUtf8Lossy(*text);
  }

  std::unique_ptr<FolderCursor> Folders() override {
    OutlookSession& session = Opened();
    auto folders =
        ReadObject(session, session.name_space.Get(), kNamespace, L"Folders", "the profile");
    return std::make_unique<OutlookFolders>(
        OutlookCollection(m_session, std::move(folders), kFolders, "the profile"));
  }

  // The profile by its name; a profile Outlook will not name is "" (the one Outlook opens).
  StoreIdentity Identity() override {
    if (!m_session) return {};
    Variant name;
    std::string profile;
    if (!m_session->automation.Call(m_session->name_space.Get(), kNamespace, L"CurrentProfileName",
                                    DISPATCH_PROPERTYGET, nullptr, 0, name.Put())) {
      if (const auto text = TextOf(name.Get())) profile = Utf16ToUtf8Lossy(*text);
    }
    return {"Outlook", profile};
  }

  std::unique_ptr<Folder> FindContactsAsRead(std::unique_ptr<IdentityCursor> identities) override {
    Opened();
    return std::make_unique<FoundOutlookFolder>(m_session, std::move(identities));
  }

 private:
  OutlookSession& Opened() {
    if (!m_session) throw StoreError("the profile", "it is not open");
    return *m_session;
  }

  ComPtr<IDispatch> m_given_application;
  std::wstring m_prog_id;
  unsigned long m_busy_wait_ms;
  std::function<void(const std::string&)> m_waiting;
  OutlookSessionPtr m_session;
};

}  // namespace

std::unique_ptr<ContactStore> MakeOutlookStore(OutlookStoreOptions options) {
  return std::make_unique<OutlookStore>(std::move(options));
}

}  // namespace dialmend
