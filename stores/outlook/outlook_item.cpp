#include "stores/outlook/outlook_item.h"

#include <optional>
#include <utility>

namespace dialmend {

const std::string& FolderStoreId::Get(OutlookSession& session, const std::string& subject) {
  if (!m_id) {
    OutlookReply reply;
    const auto failure = session.Call(m_folder, kFolder, L"StoreID", DISPATCH_PROPERTYGET, {},
                                      &reply, FailureContext::Read);
    if (failure && failure->fatal) ThrowFailure(*failure, subject, failure->reason);
    const auto text = failure ? std::nullopt : TextOf(reply.value.Get());
    m_id = text ? Utf16ToUtf8Lossy(*text) : std::string();
  }
  return *m_id;
}

namespace {

// The nineteen phone fields of an item read on the Outlook thread in one go.
struct PhoneTexts {
  std::optional<Automation::Failure> failure;
  int failed_field = -1;
  std::array<std::optional<std::wstring>, kPhoneFieldCount> texts;
};

class OutlookItem : public ContactItem {
 public:
  // An item of the Items collection: everything is read from it.
  OutlookItem(OutlookSessionPtr session, OutlookObject item, std::string position,
              std::shared_ptr<FolderStoreId> store_id)
      : m_session(std::move(session)),
        m_item(std::move(item)),
        m_position(std::move(position)),
        m_store_id(std::move(store_id)) {}

  // A contact read from its folder's table; the item itself is opened only to change it.
  OutlookItem(OutlookSessionPtr session, OutlookTableRow row, std::string position)
      : m_session(std::move(session)),
        m_position(std::move(position)),
        m_class(row.item_class),
        m_file_as(std::move(row.file_as)),
        m_inexact(row.inexact),
        m_row(std::move(row)) {}

  OutlookItem(const OutlookItem&) = delete;
  OutlookItem& operator=(const OutlookItem&) = delete;

  // Numbers assigned and never saved leave with the item: Outlook keeps an item in memory, and
  // the next save of it (the user's) would store them. A failure here has no one to tell; the
  // numbers then stay only in Outlook's memory, as after any unsaved edit.
  ~OutlookItem() override {
    if (!m_assigned || !m_item || m_session->lost) return;
    // Not waited for: a destructor has no one to tell, and the next call waits behind it.
    m_session->thread.Post([item = m_item, kind = ClassKind()](OutlookThreadCore& core) {
      Variant discard = Variant::Int(kOutlookDiscard);
      (void)core.Call(item, kind, L"Close", DISPATCH_METHOD, discard.Raw(), 1, nullptr);
    });
  }

  ItemKind Kind() override { return ItemKindOfClass(ClassNumber()); }

  std::vector<PhoneValue> Phones() override {
    if (m_row) return m_row->phones;
    PhoneTexts read = OnOutlookThread<PhoneTexts>(
        *m_session, [item = m_item, kind = ClassKind()](OutlookThreadCore& core, PhoneTexts& out) {
          out.failure.reset();
          for (int i = 0; i < kPhoneFieldCount && !out.failure; ++i) {
            OutlookReply reply;
            out.failure = core.Call(item, kind, PhoneMembers()[i], DISPATCH_PROPERTYGET, nullptr, 0,
                                    &reply, FailureContext::Read);
            if (out.failure) out.failed_field = i;
            if (!out.failure) out.texts[i] = TextOf(reply.value.Get());
          }
        });
    if (read.failure) {
      const std::string member =
          read.failed_field < 0 ? "it" : Utf16ToUtf8Lossy(PhoneMembers()[read.failed_field]);
      ThrowFailure(*read.failure, Subject(),
                   read.failure->fatal ? read.failure->reason
                                       : "cannot read " + member + ": " + read.failure->reason);
    }
    std::vector<PhoneValue> phones;
    phones.reserve(kPhoneFieldCount);
    for (int i = 0; i < kPhoneFieldCount; ++i) {
      const auto& text = read.texts[i];
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
    const std::string member = Utf16ToUtf8Lossy(PhoneMembers()[index]);
    Bstr text(*wide);
    if (!text.Ok()) Fail("cannot change " + member + ": out of memory");
    if (!m_assigned) {
      Open();
      // An item open in Outlook is the very item we would save: the user's unsaved typing
      // would be saved with our numbers.
      if (!Saved()) {
        throw StoreError(Subject(),
                         "it is open in Outlook with changes that are not saved, so it is left "
                         "as it is");
      }
      m_assigned = true;
    }
    // The table was read before: a number changed in Outlook since then is not ours to replace.
    if (m_row && !StillAsRead(index)) {
      Fail(member + " was changed in Outlook during the run, so the contact is left as it is");
    }
    std::vector<Variant> value;
    value.push_back(Variant::Text(std::move(text)));
    if (auto failure = m_session->Call(m_item, ClassKind(), PhoneMembers()[index],
                                       DISPATCH_PROPERTYPUT, std::move(value))) {
      Fail("cannot change " + member + ": " + failure->reason, &*failure);
    }
  }

  std::string FileAs() override {
    if (!m_file_as) {
      const Variant value = ReadMember(*m_session, m_item, ClassKind(), L"FileAs", m_position);
      const auto text = TextOf(value.Get());
      m_file_as = text ? Utf16ToUtf8Lossy(*text) : std::string();
    }
    return *m_file_as;
  }

  ContactIdentity Identity() override {
    if (m_row) {
      return {OutlookIdentity(Utf16ToUtf8Lossy(m_row->entry_id.View()),
                              Utf16ToUtf8Lossy(m_row->store_id->View())),
              -1,
              {}};
    }
    const Variant value = ReadMember(*m_session, m_item, ClassKind(), L"EntryID", Subject());
    const auto text = TextOf(value.Get());
    if (!text || text->empty()) throw StoreError(Subject(), "Outlook gave no EntryID");
    const std::string store = m_store_id ? m_store_id->Get(*m_session, Subject()) : std::string();
    return {OutlookIdentity(Utf16ToUtf8Lossy(*text), store), -1, {}};
  }

  void Save() override {
    Open();
    if (auto failure = m_session->Call(m_item, ClassKind(), L"Save", DISPATCH_METHOD, {}, nullptr,
                                       FailureContext::Save)) {
      Fail(failure->reason, &*failure);
    }
    m_assigned = false;
  }

 private:
  // Opens a contact read from the table by its EntryID, once.
  void Open() {
    if (m_item) return;
    Bstr entry_id(m_row->entry_id.View());
    Bstr store_id(m_row->store_id->View());
    if (!entry_id.Ok() || !store_id.Ok())
      throw StoreError(Subject(), "cannot open it: out of memory");
    std::vector<Variant> args;
    args.push_back(Variant::Text(std::move(entry_id)));
    args.push_back(Variant::Text(std::move(store_id)));
    OutlookReply reply;
    if (auto failure =
            m_session->Call(m_session->name_space, kNamespace, L"GetItemFromID", DISPATCH_METHOD,
                            std::move(args), &reply, FailureContext::Read)) {
      ThrowFailure(*failure, Subject(),
                   failure->fatal ? failure->reason : "cannot open it: " + failure->reason);
    }
    m_item = std::move(reply.object);
    if (!m_item) throw StoreError(Subject(), "cannot open it: Outlook gave no object");
  }

  // Whether field `index` of the opened item still holds what the table gave.
  bool StillAsRead(std::size_t index) {
    const Variant value =
        ReadMember(*m_session, m_item, ClassKind(), PhoneMembers()[index], Subject());
    const auto text = TextOf(value.Get());
    if (!text) return false;
    const auto number = Utf16ToUtf8(*text);
    return number && *number == m_row->phones[index].number;
  }

  // Whether Outlook holds the item as saved; false while the user edits it in a window.
  bool Saved() {
    const Variant value = ReadMember(*m_session, m_item, ClassKind(), L"Saved", Subject());
    const auto saved = NumberOf(value.Get());
    if (!saved) throw StoreError(Subject(), "Outlook did not say whether it is saved");
    return *saved != 0;
  }

  // Throws for a failed change or save, first discarding our numbers from the item so that
  // they never reach the contact through a later save (the user's, in an open window).
  [[noreturn]] void Fail(std::string reason, const Automation::Failure* failure = nullptr) {
    const bool lost = failure != nullptr && failure->fatal;
    // A lost Outlook would only fail or keep us waiting again.
    if (m_assigned && !lost) {
      m_assigned = false;
      std::vector<Variant> discard;
      discard.push_back(Variant::Int(kOutlookDiscard));
      if (auto closed =
              m_session->Call(m_item, ClassKind(), L"Close", DISPATCH_METHOD, std::move(discard))) {
        reason += "; its new numbers could not be discarded: " + closed->reason;
      }
    }
    if (lost) throw StoreLostError(Subject(), std::move(reason));
    throw StoreError(Subject(), std::move(reason));
  }

  int ClassNumber() {
    if (!m_class) {
      m_class = static_cast<int>(ReadNumber(*m_session, m_item, kAnyItem, L"Class", m_position));
    }
    return *m_class;
  }

  int ClassKind() { return kItemOfClass + ClassNumber(); }

  // The contact's filing name when it has been read, else its place in the folder.
  std::string Subject() const { return m_file_as ? *m_file_as : m_position; }

  OutlookSessionPtr m_session;
  OutlookObject m_item;  // after m_session, so it goes first
  std::string m_position;
  std::shared_ptr<FolderStoreId> m_store_id;
  std::optional<int> m_class;
  std::optional<std::string> m_file_as;
  std::array<bool, kPhoneFieldCount> m_inexact{};
  bool m_assigned = false;  // the item holds numbers of ours that are not saved
  std::optional<OutlookTableRow> m_row;
};

class OutlookItems : public ItemCursor {
 public:
  OutlookItems(OutlookCollection items, std::shared_ptr<FolderStoreId> store_id)
      : m_items(std::move(items)), m_store_id(std::move(store_id)) {}

  std::unique_ptr<ContactItem> Next() override {
    std::string position;
    auto item = m_items.Next("item", position);
    if (!item) return nullptr;
    return MakeOutlookItem(m_items.SharedSession(), std::move(item), std::move(position),
                           m_store_id);
  }

 private:
  OutlookCollection m_items;
  std::shared_ptr<FolderStoreId> m_store_id;
};

}  // namespace

std::unique_ptr<ContactItem> MakeOutlookItem(OutlookSessionPtr session, OutlookObject item,
                                             std::string position,
                                             std::shared_ptr<FolderStoreId> store_id) {
  return std::make_unique<OutlookItem>(std::move(session), std::move(item), std::move(position),
                                       std::move(store_id));
}

std::unique_ptr<ContactItem> MakeOutlookItem(OutlookSessionPtr session, OutlookTableRow row,
                                             std::string position) {
  return std::make_unique<OutlookItem>(std::move(session), std::move(row), std::move(position));
}

std::unique_ptr<ItemCursor> MakeOutlookItems(OutlookCollection items,
                                             std::shared_ptr<FolderStoreId> store_id) {
  return std::make_unique<OutlookItems>(std::move(items), std::move(store_id));
}

}  // namespace dialmend
