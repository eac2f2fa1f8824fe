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

// A number put on an item, after a look at what it holds now.
struct PutOutcome {
  std::optional<Automation::Failure> failure;
  bool changed_since = false;
};

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
              std::shared_ptr<FolderStoreId> store_id, std::optional<int> item_class)
      : m_session(std::move(session)),
        m_item(std::move(item)),
        m_position(std::move(position)),
        m_store_id(std::move(store_id)),
        m_class(item_class) {}

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
    auto text = std::make_shared<Bstr>(*wide);
    if (!text->Ok()) Fail("cannot change " + member + ": out of memory");
    if (!m_assigned) {
      OpenUnedited();
      m_assigned = true;
    }
    // The table was read before: a number changed in Outlook since then is not ours to replace.
    std::optional<std::wstring> as_read;
    if (m_row) as_read = Utf8ToUtf16(m_row->phones[index].number);
    const PutOutcome put = OnOutlookThread<PutOutcome>(
        *m_session,
        [item = m_item, kind = ClassKind(), name = std::wstring_view(PhoneMembers()[index]), text,
         as_read](OutlookThreadCore& core, PutOutcome& out) {
          out.failure.reset();
          if (as_read) {
            OutlookReply now;
            out.failure = core.Call(item, kind, name, DISPATCH_PROPERTYGET, nullptr, 0, &now,
                                    FailureContext::Read);
            const auto held = out.failure ? std::nullopt : TextOf(now.value.Get());
            out.changed_since = !out.failure && held != as_read;
            if (out.failure || out.changed_since) return;
          }
          Variant value = Variant::Text(Bstr(text->View()));
          out.failure = core.Call(item, kind, name, DISPATCH_PROPERTYPUT, value.Raw(), 1, nullptr);
        });
    if (put.changed_since) {
      Fail(member + " was changed in Outlook during the run, so the contact is left as it is");
    }
    if (put.failure) {
      // Outlook gone is said alone, as for any call.
      Fail(put.failure->fatal ? put.failure->reason
                              : "cannot change " + member + ": " + put.failure->reason,
           &*put.failure);
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

  // Opens the item as Open() does and makes sure Outlook holds it as saved, in one wait for the
  // Outlook thread: an item the user edits in an open window is the very item we would save,
  // and their unsaved typing would be saved with our numbers.
  void OpenUnedited() {
    struct Opened {
      std::optional<Automation::Failure> failure;
      bool opening = false;
      OutlookObject item;
      std::optional<long> saved;
    };
    auto ids = std::make_shared<std::vector<Variant>>();
    if (!m_item) {
      Bstr entry_id(m_row->entry_id.View());
      Bstr store_id(m_row->store_id->View());
      if (!entry_id.Ok() || !store_id.Ok())
        throw StoreError(Subject(), "cannot open it: out of memory");
      ids->push_back(Variant::Text(std::move(entry_id)));
      ids->push_back(Variant::Text(std::move(store_id)));
    }
    Opened opened = OnOutlookThread<Opened>(
        *m_session, [item = m_item, name_space = m_session->name_space, ids, kind = ClassKind()](
                        OutlookThreadCore& core, Opened& out) {
          out.failure.reset();
          out.item = item;
          if (!out.item) {
            out.opening = true;
            VARIANT args[2] = {*(*ids)[0].Raw(), *(*ids)[1].Raw()};
            OutlookReply found;
            out.failure = core.Call(name_space, kNamespace, L"GetItemFromID", DISPATCH_METHOD, args,
                                    2, &found, FailureContext::Read);
            out.item = std::move(found.object);
            if (out.failure || !out.item) return;
            out.opening = false;
          }
          OutlookReply saved;
          out.failure = core.Call(out.item, kind, L"Saved", DISPATCH_PROPERTYGET, nullptr, 0,
                                  &saved, FailureContext::Read);
          if (!out.failure) out.saved = NumberOf(saved.value.Get());
        });
    if (opened.failure) {
      const std::string what = opened.opening ? "cannot open it: " : "cannot read Saved: ";
      ThrowFailure(*opened.failure, Subject(),
                   opened.failure->fatal ? opened.failure->reason : what + opened.failure->reason);
    }
    if (!opened.item) throw StoreError(Subject(), "cannot open it: Outlook gave no object");
    m_item = std::move(opened.item);
    if (!opened.saved) throw StoreError(Subject(), "Outlook did not say whether it is saved");
    if (*opened.saved == 0) {
      throw StoreError(Subject(),
                       "it is open in Outlook with changes that are not saved, so it is left as "
                       "it is");
    }
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

  // The item and its class in one wait for the Outlook thread: most items are asked nothing
  // else before their numbers.
  std::unique_ptr<ContactItem> Next() override {
    const long index = m_items.Skip();
    if (index == 0) return nullptr;
    std::string position = "item " + std::to_string(index);
    struct Found {
      std::optional<Automation::Failure> failure;
      OutlookObject item;
      std::optional<long> item_class;
    };
    Found found = OnOutlookThread<Found>(
        *m_items.SharedSession(),
        [items = m_items.Object(), index](OutlookThreadCore& core, Found& out) {
          Variant argument = Variant::Int(index);
          OutlookReply item;
          OutlookReply item_class;
          out.failure = core.Call(items, kItems, L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                  argument.Raw(), 1, &item, FailureContext::Read);
          out.item = std::move(item.object);
          // A class that cannot be read is asked again, and its failure told, by Kind().
          if (!out.failure && out.item &&
              !core.Call(out.item, kAnyItem, L"Class", DISPATCH_PROPERTYGET, nullptr, 0,
                         &item_class, FailureContext::Read)) {
            out.item_class = NumberOf(item_class.value.Get());
          }
        });
    if (found.failure) ThrowFailure(*found.failure, position, found.failure->reason);
    if (!found.item) throw StoreError(position, "Outlook gave no object");
    return std::make_unique<OutlookItem>(
        m_items.SharedSession(), std::move(found.item), std::move(position), m_store_id,
        found.item_class ? std::optional<int>(*found.item_class) : std::nullopt);
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
                                       std::move(store_id), std::nullopt);
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
