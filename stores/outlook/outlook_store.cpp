#include "stores/outlook/outlook_store.h"

#include <string>
#include <utility>
#include <vector>

#include "platform/user_name.h"
#include "stores/outlook/call_watch.h"
#include "stores/outlook/com_dispatch.h"
#include "stores/outlook/outlook_folders.h"
#include "stores/outlook/outlook_item.h"
#include "stores/outlook/outlook_names.h"
#include "stores/outlook/outlook_session.h"

namespace dialmend {
namespace {

// Why no Outlook could be reached when none is registered for automation: the new Outlook,
// which may be all there is, has no automation interface.
constexpr char kNoClassicOutlook[] =
    "classic Outlook is not installed, and the new Outlook cannot be automated: switch to classic "
    "Outlook, or open a vCard export of the contacts instead (--profile FILE.vcf), or the "
    "account's CardDAV address from Dialmend on Linux";

class NoFolders : public FolderCursor {
 public:
  std::unique_ptr<Folder> Next() override { return nullptr; }
};

// The items an undo asks for, each found by its EntryID, in its own store when the identity
// names one.
class FoundOutlookItems : public ItemCursor {
 public:
  FoundOutlookItems(OutlookSessionPtr session, std::unique_ptr<IdentityCursor> identities)
      : m_session(std::move(session)), m_identities(std::move(identities)) {}

  std::unique_ptr<ContactItem> Next() override {
    const std::unique_ptr<ContactIdentity> identity = m_identities->Next();
    if (!identity) return nullptr;
    const auto [entry_id, store_id] = SplitOutlookIdentity(identity->where);
    const std::string subject = "the item " + std::string(entry_id);
    std::vector<Variant> args;
    for (const std::string_view id : {entry_id, store_id}) {
      if (id.empty()) continue;
      const auto wide = Utf8ToUtf16(id);
      if (!wide) throw StoreError(subject, "its EntryID is not one");
      args.push_back(Variant::Text(Bstr(*wide)));
    }
    if (args.empty()) throw StoreError(subject, "its EntryID is not one");
    OutlookReply reply;
    if (auto failure = m_session->Call(m_session->name_space, kNamespace, L"GetItemFromID",
                                       DISPATCH_METHOD, std::move(args), &reply)) {
      // Outlook gone or stuck stops the undo, as it stops a run.
      ThrowFailure(*failure, subject,
                   failure->fatal ? failure->reason : "Outlook cannot find it: " + failure->reason);
    }
    if (!reply.object) throw StoreError(subject, "Outlook gave no object");
    return MakeOutlookItem(m_session, std::move(reply.object), subject);
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

// On the Outlook thread: attaches to the Outlook the user has open, else starts one; returns
// why neither works, or empty text.
std::string ConnectToOutlook(OutlookThreadCore& core, const std::wstring& prog_id,
                             OutlookObject& application) {
  CLSID id;
  HRESULT result = CLSIDFromProgID(prog_id.c_str(), &id);
  if (result == CO_E_CLASSSTRING || result == REGDB_E_CLASSNOTREG) return kNoClassicOutlook;
  if (FAILED(result)) return FailureText(result);
  ComPtr<IUnknown> running;
  IDispatch* raw = nullptr;
  if (SUCCEEDED(GetActiveObject(id, nullptr, running.Put())) && running &&
      SUCCEEDED(running->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&raw)))) {
    application = core.Adopt(raw);
    return {};
  }
  result = CoCreateInstance(id, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(&raw));
  if (result == REGDB_E_CLASSNOTREG) return kNoClassicOutlook;
  if (FAILED(result)) return FailureText(result);
  application = core.Adopt(raw);
  // Outlook's security prompt about our access then comes to the front instead of opening
  // behind the console or window that started the run. Without the right (wine) the prompt
  // only stays behind, as before.
  (void)CoAllowSetForegroundWindow(raw, nullptr);
  return {};
}

// What opening the profile gave.
struct OpenOutcome {
  std::optional<Automation::Failure> failure;
  std::string problem;
  OutlookObject application;
  OutlookObject name_space;
};

// On the Outlook thread: Outlook (`given`, a stand-in in this process, else the one `prog_id`
// names) and its MAPI namespace.
void OpenProfile(OutlookThreadCore& core, IDispatch* given, const std::wstring& prog_id,
                 OpenOutcome& out) {
  out.failure.reset();
  if (FAILED(core.ComStarted())) {
    if (given) given->Release();
    out.problem = "COM cannot be started: " + FailureText(core.ComStarted());
    return;
  }
  if (given) {
    out.application = core.Adopt(given);
  } else if (out.problem = ConnectToOutlook(core, prog_id, out.application); !out.problem.empty()) {
    return;
  }
  Bstr mapi_text(L"MAPI");
  if (!mapi_text.Ok()) {
    out.problem = "Outlook cannot open the profile: out of memory";
    return;
  }
  Variant mapi = Variant::Text(std::move(mapi_text));
  OutlookReply name_space;
  out.failure = core.Call(out.application, kApplication, L"GetNamespace", DISPATCH_METHOD,
                          mapi.Raw(), 1, &name_space);
  if (out.failure) {
    out.problem = "Outlook cannot open the profile: " + out.failure->reason;
  } else if (!(out.name_space = std::move(name_space.object))) {
    out.problem = "Outlook cannot open the profile";
  }
}

// What CurrentUser gave.
struct UserOutcome {
  std::optional<Automation::Failure> failure;
  std::optional<std::wstring> name;
};

class OutlookStore : public ContactStore {
 public:
  explicit OutlookStore(OutlookStoreOptions options)
      : m_given_application(ComPtr<IDispatch>::Share(options.application)),
        m_prog_id(std::move(options.prog_id)),
        m_busy_wait_ms(options.busy_wait_ms.value_or(kRetryLimitMs)),
        m_hooks{std::move(options.stop_waiting), std::move(options.waiting)} {}

  Status Open() override {
    m_session.reset();
    ForgetOutlookCancel();
    auto session = std::make_shared<OutlookSession>(m_hooks, m_busy_wait_ms);
    IDispatch* given = m_given_application.Get();
    if (given) given->AddRef();
    OpenOutcome opened = OnOutlookThread<OpenOutcome>(
        *session, [given, prog_id = m_prog_id](OutlookThreadCore& core, OpenOutcome& out) {
          OpenProfile(core, given, prog_id, out);
        });
    if (!opened.problem.empty()) return Status::Failure(std::move(opened.problem));
    if (opened.failure)
      return Status::Failure("Outlook cannot open the profile: " + opened.failure->reason);
    session->application = std::move(opened.application);
    session->name_space = std::move(opened.name_space);
    m_session = std::move(session);
    return {};
  }

  // The name only heads the log: a refusal (a security prompt the user denied) gives the
  // login name instead of ending the run.
  std::string CurrentUser() override {
    OutlookSession& session = Opened();
    const UserOutcome user = OnOutlookThread<UserOutcome>(
        session, [name_space = session.name_space](OutlookThreadCore& core, UserOutcome& out) {
          OutlookReply reply;
          out.failure = core.Call(name_space, kNamespace, L"CurrentUser", DISPATCH_PROPERTYGET,
                                  nullptr, 0, &reply);
          if (!out.failure && reply.object) {
            const OutlookObject recipient = std::move(reply.object);
            out.failure =
                core.Call(recipient, kRecipient, L"Name", DISPATCH_PROPERTYGET, nullptr, 0, &reply);
          }
          if (!out.failure) out.name = TextOf(reply.value.Get());
        });
    if (user.failure && IsLogonFailure(user.failure->result)) {
      throw StoreError("the current user", "Outlook could not log on to the profile");
    }
    if (user.failure && user.failure->fatal) {
      ThrowFailure(*user.failure, "the current user", user.failure->reason);
    }
    if (user.failure || !user.name || user.name->empty()) return LoggedInUserName();
    return Utf16ToUtf8Lossy(*user.name);
  }

  std::unique_ptr<FolderCursor> Folders() override {
    OutlookSession& session = Opened();
    auto folders = ReadObject(session, session.name_space, kNamespace, L"Folders", "the profile");
    return MakeOutlookFolders(
        OutlookCollection(m_session, std::move(folders), kFolders, "the profile"),
        /*top_level=*/true);
  }

  // The profile by its name; a profile Outlook will not name is "" (the one Outlook opens).
  StoreIdentity Identity() override {
    if (!m_session) return {};
    OutlookReply name;
    std::string profile;
    if (!m_session->Call(m_session->name_space, kNamespace, L"CurrentProfileName",
                         DISPATCH_PROPERTYGET, {}, &name)) {
      if (const auto text = TextOf(name.value.Get())) profile = Utf16ToUtf8Lossy(*text);
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
  OutlookWaitHooks m_hooks;
  OutlookSessionPtr m_session;
};

}  // namespace

std::unique_ptr<ContactStore> MakeOutlookStore(OutlookStoreOptions options) {
  return std::make_unique<OutlookStore>(std::move(options));
}

}  // namespace dialmend
