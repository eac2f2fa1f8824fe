#include "stores/outlook/outlook_store.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "stores/outlook/com_dispatch.h"
#include "stores/outlook/com_ptr.h"
#include "stores/outlook/outlook_names.h"

namespace dialmend {
namespace {

// The kinds of object whose DISPIDs are kept apart. Items of every class share the Class
// member; everything else on an item is looked up per class.
enum Kind {
  kApplication,
  kNamespace,
  kRecipient,
  kFolders,
  kItems,
  kFolder,
  kAnyItem,
  kItemOfClass,  // plus the item's class
};

const std::array<std::wstring, kPhoneFieldCount>& PhoneMembers() {
  static const auto members = [] {
    std::array<std::wstring, kPhoneFieldCount> names;
    for (int i = 0; i < kPhoneFieldCount; ++i) {
      const std::string_view ascii = PhoneFieldProperty(static_cast<PhoneField>(i));
      names[i].assign(ascii.begin(), ascii.end());
    }
    return names;
  }();
  return members;
}

// COM for this thread, the message filter, and the member names found so far. Every folder
// and item holds it, so COM stays up until the last of them is let go.
struct Session {
  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() {
    name_space.Reset();
    application.Reset();
    if (filter_registered) {
      IMessageFilter* ours = nullptr;
      CoRegisterMessageFilter(previous_filter.Get(), &ours);
      if (ours) ours->Release();
    }
    previous_filter.Reset();
    if (com_started) CoUninitialize();
  }

  bool com_started = false;
  bool filter_registered = false;
  ComPtr<IMessageFilter> previous_filter;
  Automation automation;
  ComPtr<IDispatch> application;
  ComPtr<IDispatch> name_space;
};

using SessionPtr = std::shared_ptr<Session>;

// The object a call returned, or empty when it returned none.
ComPtr<IDispatch> DispatchOf(const VARIANT& value) {
  IUnknown* unknown = nullptr;
  if (value.vt == VT_DISPATCH) unknown = value.pdispVal;
  if (value.vt == VT_UNKNOWN) unknown = value.punkVal;
  ComPtr<IDispatch> object;
  if (unknown) (void)unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(object.Put()));
  return object;
}

// The text of a returned value; std::nullopt when it cannot be read exactly.
std::optional<std::wstring> TextOf(const VARIANT& value) {
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) return std::wstring();
  if (value.vt == VT_BSTR) {
    return value.bstrVal ? std::wstring(value.bstrVal, SysStringLen(value.bstrVal))
                         : std::wstring();
  }
  Variant copy;
  if (FAILED(VariantChangeType(copy.Raw(), const_cast<VARIANT*>(&value), 0, VT_BSTR)))
    return std::nullopt;
  return TextOf(copy.Get());
}

std::optional<long> NumberOf(const VARIANT& value) {
  if (value.vt == VT_I4) return value.lVal;
  Variant copy;
  if (FAILED(VariantChangeType(copy.Raw(), const_cast<VARIANT*>(&value), 0, VT_I4)))
    return std::nullopt;
  return copy.Get().lVal;
}

// Reads one member of an object in the walk, or throws StoreError about `subject`.
Variant Read(Session& session, IDispatch* object, int kind, std::wstring_view name,
             const std::string& subject) {
  Variant value;
  if (auto failure = session.automation.Call(object, kind, name, DISPATCH_PROPERTYGET, nullptr, 0,
                                             value.Put())) {
    throw StoreError(subject, "cannot read " + Utf16ToUtf8Lossy(name) + ": " + failure->reason);
  }
  return value;
}

long ReadNumber(Session& session, IDispatch* object, int kind, std::wstring_view name,
                const std::string& subject) {
  const auto number = NumberOf(Read(session, object, kind, name, subject).Get());
  if (!number) throw StoreError(subject, Utf16ToUtf8Lossy(name) + " is not a number");
  return *number;
}

ComPtr<IDispatch> ReadObject(Session& session, IDispatch* object, int kind, std::wstring_view name,
                             const std::string& subject) {
  auto result = DispatchOf(Read(session, object, kind, name, subject).Get());
  if (!result) throw StoreError(subject, Utf16ToUtf8Lossy(name) + " gave no object");
  return result;
}

// Walks an Outlook collection by Count and 1-based Item, first to last.
class Collection {
 public:
  Collection(SessionPtr session, ComPtr<IDispatch> collection, int kind, const std::string& subject)
      : m_session(std::move(session)), m_collection(std::move(collection)), m_kind(kind) {
    m_count = ReadNumber(*m_session, m_collection.Get(), m_kind, L"Count", subject);
  }

  // The next element, or empty at the end; throws StoreError naming `what` and its position,
  // having moved past it.
  ComPtr<IDispatch> Next(std::string_view what, std::string& subject) {
    if (m_next > m_count) return {};
    const long index = m_next++;
    subject = std::string(what) + " " + std::to_string(index);
    Variant argument = Variant::Int(index);
    Variant value;
    if (auto failure = m_session->automation.Call(m_collection.Get(), m_kind, L"Item",
                                                  DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                                  argument.Raw(), 1, value.Put())) {
      throw StoreError(subject, failure->reason);
    }
    auto element = DispatchOf(value.Get());
    if (!element) throw StoreError(subject, "Outlook gave no object");
    return element;
  }

  const SessionPtr& SharedSession() const { return m_session; }

 private:
  SessionPtr m_session;
  ComPtr<IDispatch> m_collection;
  int m_kind;
  long m_count = 0;
  long m_next = 1;
};

class OutlookItem : public ContactItem {
 public:
  OutlookItem(SessionPtr session, ComPtr<IDispatch> item, std::string position)
      : m_session(std::move(session)), m_item(std::move(item)), m_position(std::move(position)) {}

  ItemKind Kind() override { return ItemKindOfClass(ClassNumber()); }

  std::vector<PhoneValue> Phones() override {
    const int kind = ClassKind();
    std::vector<PhoneValue> phones;
    phones.reserve(kPhoneFieldCount);
    for (int i = 0; i < kPhoneFieldCount; ++i) {
      const Variant value = Read(*m_session, m_item.Get(), kind, PhoneMembers()[i], Subject());
      const auto text = TextOf(value.Get());
      if (!text) {
        throw StoreError(Subject(),
                         "cannot read " + Utf16ToUtf8Lossy(PhoneMembers()[i]) + ": it is not text");
      }
      auto number = Utf16ToUtf8(*text);
      m_inexact[i] = !number;
      phones.push_back(
          {static_cast<PhoneField>(i), number ? std::move(*number) : Utf16ToUtf8Lossy(*text)});
    }
    return phones;
  }

  StoredNumber PrepareNumber(std::size_t index, std::string number) override {
    if (index < m_inexact.size() && m_inexact[index]) {
      return {{}, "its text holds a character that is not valid Unicode, so it is left as it is"};
    }
    if (!Utf8ToUtf16(number)) return {{}, "the new number is not valid text"};
    return {std::move(number), {}};
  }

  void SetPhone(std::size_t index, std::string number) override {
    if (index >= PhoneMembers().size()) throw StoreError(Subject(), "no such telephone field");
    const auto wide = Utf8ToUtf16(number);
    if (!wide) throw StoreError(Subject(), "the new number is not valid text");
    Variant value = Variant::Text(Bstr(*wide));
    if (auto failure = m_session->automation.Call(m_item.Get(), ClassKind(), PhoneMembers()[index],
                                                  DISPATCH_PROPERTYPUT, value.Raw(), 1, nullptr)) {
      throw StoreError(Subject(), "cannot change " + Utf16ToUtf8Lossy(PhoneMembers()[index]) +
                                      ": " + failure->reason);
    }
  }

  std::string FileAs() override {
    if (!m_file_as) {
      const Variant value = Read(*m_session, m_item.Get(), ClassKind(), L"FileAs", m_position);
      const auto text = TextOf(value.Get());
      m_file_as = text ? Utf16ToUtf8Lossy(*text) : std::string();
    }
    return *m_file_as;
  }

  ContactIdentity Identity() override {
    const Variant value = Read(*m_session, m_item.Get(), ClassKind(), L"EntryID", Subject());
    const auto text = TextOf(value.Get());
    if (!text || text->empty()) throw StoreError(Subject(), "Outlook gave no EntryID");
    return {Utf16ToUtf8Lossy(*text), -1, {}};
  }

  void Save() override {
    if (auto failure =
            m_session->automation.Call(m_item.Get(), ClassKind(), L"Save", DISPATCH_METHOD, nullptr,
                                       0, nullptr, FailureContext::Save)) {
      throw StoreError(Subject(), failure->reason);
    }
  }

 private:
  int ClassNumber() {
    if (!m_class) {
      m_class =
          static_cast<int>(ReadNumber(*m_session, m_item.Get(), kAnyItem, L"Class", m_position));
    }
    return *m_class;
  }

  int ClassKind() { return kItemOfClass + ClassNumber(); }

  // The contact's filing name when it has been read, else its place in the folder.
  std::string Subject() const { return m_file_as ? *m_file_as : m_position; }

  SessionPtr m_session;
  ComPtr<IDispatch> m_item;  // after m_session, so it goes first
  std::string m_position;
  std::optional<int> m_class;
  std::optional<std::string> m_file_as;
  std::array<bool, kPhoneFieldCount> m_inexact{};
};

class OutlookItems : public ItemCursor {
 public:
  explicit OutlookItems(Collection items) : m_items(std::move(items)) {}

  std::unique_ptr<ContactItem> Next() override {
    std::string position;
    auto item = m_items.Next("item", position);
    if (!item) return nullptr;
    return std::make_unique<OutlookItem>(m_items.SharedSession(), std::move(item),
                                         std::move(position));
  }

 private:
  Collection m_items;
};

class OutlookFolder : public Folder {
 public:
  OutlookFolder(SessionPtr session, ComPtr<IDispatch> folder, std::string position)
      : m_session(std::move(session)),
        m_folder(std::move(folder)),
        m_position(std::move(position)) {}

  std::string Name() override {
    if (!m_name) {
      const Variant value = Read(*m_session, m_folder.Get(), kFolder, L"Name", m_position);
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
    auto items = ReadObject(*m_session, m_folder.Get(), kFolder, L"Items", Subject());
    return std::make_unique<OutlookItems>(
        Collection(m_session, std::move(items), kItems, Subject()));
  }

  std::unique_ptr<FolderCursor> Folders() override;

 private:
  std::string Subject() const { return m_name ? *m_name : m_position; }

  SessionPtr m_session;
  ComPtr<IDispatch> m_folder;
  std::string m_position;
  std::optional<std::string> m_name;
};

class OutlookFolders : public FolderCursor {
 public:
  explicit OutlookFolders(Collection folders) : m_folders(std::move(folders)) {}

  std::unique_ptr<Folder> Next() override {
    std::string position;
    auto folder = m_folders.Next("folder", position);
    if (!folder) return nullptr;
    return std::make_unique<OutlookFolder>(m_folders.SharedSession(), std::move(folder),
                                           std::move(position));
  }

 private:
  Collection m_folders;
};

class NoFolders : public FolderCursor {
 public:
  std::unique_ptr<Folder> Next() override { return nullptr; }
};

// The items an undo asks for, each found by its EntryID in the profile's namespace.
class FoundOutlookItems : public ItemCursor {
 public:
  FoundOutlookItems(SessionPtr session, std::vector<ContactIdentity> identities)
      : m_session(std::move(session)), m_identities(std::move(identities)) {}

  std::unique_ptr<ContactItem> Next() override {
    if (m_next >= m_identities.size()) return nullptr;
    const std::string& entry_id = m_identities[m_next++].where;
    const std::string subject = "the item " + entry_id;
    const auto wide = Utf8ToUtf16(entry_id);
    if (!wide || wide->empty()) throw StoreError(subject, "its EntryID is not one");
    Variant argument = Variant::Text(Bstr(*wide));
    Variant value;
    if (auto failure =
            m_session->automation.Call(m_session->name_space.Get(), kNamespace, L"GetItemFromID",
                                       DISPATCH_METHOD, argument.Raw(), 1, value.Put())) {
      throw StoreError(subject, "Outlook cannot find it: " + failure->reason);
    }
    auto item = DispatchOf(value.Get());
    if (!item) throw StoreError(subject, "Outlook gave no object");
    return std::make_unique<OutlookItem>(m_session, std::move(item), subject);
  }

 private:
  SessionPtr m_session;
  std::vector<ContactIdentity> m_identities;
  std::size_t m_next = 0;
};

class FoundOutlookFolder : public Folder {
 public:
  FoundOutlookFolder(SessionPtr session, std::vector<ContactIdentity> identities)
      : m_session(std::move(session)), m_identities(std::move(identities)) {}

  std::string Name() override { return "the profile"; }
  FolderKind Kind() override { return FolderKind::Contacts; }
  std::unique_ptr<ItemCursor> Items() override {
    return std::make_unique<FoundOutlookItems>(m_session, std::move(m_identities));
  }
  std::unique_ptr<FolderCursor> Folders() override { return std::make_unique<NoFolders>(); }

 private:
  SessionPtr m_session;
  std::vector<ContactIdentity> m_identities;
};

std::unique_ptr<FolderCursor> OutlookFolder::Folders() {
  auto folders = ReadObject(*m_session, m_folder.Get(), kFolder, L"Folders", Subject());
  return std::make_unique<OutlookFolders>(
      Collection(m_session, std::move(folders), kFolders, Subject()));
}

// Attaches to the Outlook the user has open, else starts one; returns why neither works.
Status ConnectToOutlook(ComPtr<IDispatch>& application) {
  CLSID id;
  HRESULT result = CLSIDFromProgID(L"Outlook.Application", &id);
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
  explicit OutlookStore(IDispatch* application)
      : m_given_application(ComPtr<IDispatch>::Share(application)) {}

  Status Open() override {
    m_session.reset();
    auto session = std::make_shared<Session>();
    const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(started)) {
      session->com_started = true;
    } else if (started != RPC_E_CHANGED_MODE) {
      return Status::Failure("COM cannot be started: " + FailureText(started));
    }
    // A thread already in the multithreaded apartment cannot have a message filter; calls
    // there are retried by Automation alone.
    auto* filter = new BusyServerFilter;
    if (SUCCEEDED(CoRegisterMessageFilter(filter, session->previous_filter.Put()))) {
      session->filter_registered = true;
    }
    filter->Release();

    if (m_given_application) {
      session->application = m_given_application;
    } else if (Status connected = ConnectToOutlook(session->application); !connected.Ok()) {
      return connected;
    }

    Variant mapi = Variant::Text(Bstr(L"MAPI"));
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
    Session& session = Opened();
    Variant user;
    if (auto failure = session.automation.Call(session.name_space.Get(), kNamespace, L"CurrentUser",
                                               DISPATCH_PROPERTYGET, nullptr, 0, user.Put())) {
      throw StoreError("the current user", "Outlook refused to name it: " + failure->reason);
    }
    if (auto recipient = DispatchOf(user.Get())) {
      user = Read(session, recipient.Get(), kRecipient, L"Name", "the current user");
    }
    const auto text = TextOf(user.Get());
    if (!text) throw StoreError("the current user", "Outlook gave no name");
    return Utf16ToUtf8Lossy(*text);
  }

  std::unique_ptr<FolderCursor> Folders() override {
    Session& session = Opened();
    auto folders =
        ReadObject(session, session.name_space.Get(), kNamespace, L"Folders", "the profile");
    return std::make_unique<OutlookFolders>(
        Collection(m_session, std::move(folders), kFolders, "the profile"));
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

  std::unique_ptr<Folder> FindContacts(std::vector<ContactIdentity> identities) override {
    Opened();
    return std::make_unique<FoundOutlookFolder>(m_session, std::move(identities));
  }

 private:
  Session& Opened() {
    if (!m_session) throw StoreError("the profile", "it is not open");
    return *m_session;
  }

  ComPtr<IDispatch> m_given_application;
  SessionPtr m_session;
};

}  // namespace

std::unique_ptr<ContactStore> MakeOutlookStore(IDispatch* application) {
  return std::make_unique<OutlookStore>(application);
}

}  // namespace dialmend
