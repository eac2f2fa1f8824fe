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
  kTable,
  kColumns,
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
  // Outlook has no Table object (2003 and older): every folder is read item by item.
  bool without_tables = false;
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

// Throws the error for a failed call about `subject`: StoreLostError when Outlook is gone or
// stays busy, so the walk stops at once instead of failing every contact after it.
[[noreturn]] void Throw(const Automation::Failure& failure, const std::string& subject,
                        std::string reason) {
  if (failure.fatal) throw StoreLostError(subject, std::move(reason));
  throw StoreError(subject, std::move(reason));
}

// Reads one member of an object in the walk, or throws about `subject`.
Variant Read(Session& session, IDispatch* object, int kind, std::wstring_view name,
             const std::string& subject) {
  Variant value;
  if (auto failure = session.automation.Call(object, kind, name, DISPATCH_PROPERTYGET, nullptr, 0,
                                             value.Put(), FailureContext::Read)) {
    // Outlook gone is said alone: the member it was asked for means nothing to the user.
    Throw(*failure, subject,
          failure->fatal ? failure->reason
                         : "cannot read " + Utf16ToUtf8Lossy(name) + ": " + failure->reason);
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
    if (auto failure = m_session->automation.Call(
            m_collection.Get(), m_kind, L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
            argument.Raw(), 1, value.Put(), FailureContext::Read)) {
      Throw(*failure, subject, failure->reason);
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

// A contact as its folder's table gave it: read without opening the item.
struct TableRow {
  int item_class = kOutlookContactClass;
  Bstr entry_id;
  std::shared_ptr<const Bstr> store_id;  // the folder's store, shared by its rows
  std::string file_as;
  std::vector<PhoneValue> phones;
  std::array<bool, kPhoneFieldCount> inexact{};
};

class OutlookItem : public ContactItem {
 public:
  // An item of the Items collection: everything is read from it.
  OutlookItem(SessionPtr session, ComPtr<IDispatch> item, std::string position)
      : m_session(std::move(session)), m_item(std::move(item)), m_position(std::move(position)) {}

  // A contact read from its folder's table; the item itself is opened only to change it.
  OutlookItem(SessionPtr session, TableRow row, std::string position)
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
    if (!m_assigned || !m_item) return;
    Variant discard = Variant::Int(kOutlookDiscard);
    (void)m_session->automation.Call(m_item.Get(), ClassKind(), L"Close", DISPATCH_METHOD,
                                     discard.Raw(), 1, nullptr);
  }

  ItemKind Kind() override { return ItemKindOfClass(ClassNumber()); }

  std::vector<PhoneValue> Phones() override {
    if (m_row) return m_row->phones;
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
    Variant value = Variant::Text(std::move(text));
    if (auto failure = m_session->automation.Call(m_item.Get(), ClassKind(), PhoneMembers()[index],
                                                  DISPATCH_PROPERTYPUT, value.Raw(), 1, nullptr)) {
      Fail("cannot change " + member + ": " + failure->reason, &*failure);
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
    Open();
    if (auto failure =
            m_session->automation.Call(m_item.Get(), ClassKind(), L"Save", DISPATCH_METHOD, nullptr,
                                       0, nullptr, FailureContext::Save)) {
      Fail(failure->reason, &*failure);
    }
    m_assigned = false;
  }

 private:
  // Opens a contact read from the table by its EntryID, once.
  void Open() {
    if (m_item) return;
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    Bstr entry_id(m_row->entry_id.View());
    Bstr store_id(m_row->store_id->View());
    if (!entry_id.Ok() || !store_id.Ok())
      throw StoreError(Subject(), "cannot open it: out of memory");
    args[0].vt = VT_BSTR;
    args[0].bstrVal = entry_id.Detach();
    args[1].vt = VT_BSTR;
    args[1].bstrVal = store_id.Detach();
    Variant value;
    auto failure =
        m_session->automation.Call(m_session->name_space.Get(), kNamespace, L"GetItemFromID",
                                   DISPATCH_METHOD, args, 2, value.Put(), FailureContext::Read);
    VariantClear(&args[0]);
    VariantClear(&args[1]);
    if (failure)
      Throw(*failure, Subject(),
            failure->fatal ? failure->reason : "cannot open it: " + failure->reason);
    m_item = DispatchOf(value.Get());
    if (!m_item) throw StoreError(Subject(), "cannot open it: Outlook gave no object");
  }

  // Whether field `index` of the opened item still holds what the table gave.
  bool StillAsRead(std::size_t index) {
    const Variant value =
        Read(*m_session, m_item.Get(), ClassKind(), PhoneMembers()[index], Subject());
    const auto text = TextOf(value.Get());
    if (!text) return false;
    const auto number = Utf16ToUtf8(*text);
    return number && *number == m_row->phones[index].number;
  }

  // Whether Outlook holds the item as saved; false while the user edits it in a window.
  bool Saved() {
    const Variant value = Read(*m_session, m_item.Get(), ClassKind(), L"Saved", Subject());
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
      Variant discard = Variant::Int(kOutlookDiscard);
      if (auto closed = m_session->automation.Call(m_item.Get(), ClassKind(), L"Close",
                                                   DISPATCH_METHOD, discard.Raw(), 1, nullptr)) {
        reason += "; its new numbers could not be discarded: " + closed->reason;
      }
    }
    if (lost) throw StoreLostError(Subject(), std::move(reason));
    throw StoreError(Subject(), std::move(reason));
  }

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
  bool m_assigned = false;  // the item holds numbers of ours that are not saved
  std::optional<TableRow> m_row;
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

// The columns asked of a folder's table: EntryID, MessageClass, FileAs, then the phone fields
// in order.
constexpr int kEntryIdColumn = 0;
constexpr int kClassColumn = 1;
constexpr int kFileAsColumn = 2;
constexpr int kFirstPhoneColumn = 3;
constexpr int kTableColumns = kFirstPhoneColumn + kPhoneFieldCount;
// Rows fetched by one GetArray call: one call for many contacts.
constexpr long kRowsPerCall = 200;

// A folder's contacts through its table, a block of rows per call. The table holds the rows
// as they were when it was made, so contacts that sync adds or moves meanwhile are neither
// skipped nor read twice, as they may be by index in the live Items collection.
class OutlookRows : public ItemCursor {
 public:
  OutlookRows(SessionPtr session, ComPtr<IDispatch> table, std::shared_ptr<const Bstr> store_id)
      : m_session(std::move(session)), m_table(std::move(table)), m_store_id(std::move(store_id)) {}

  std::unique_ptr<ContactItem> Next() override {
    if (m_next_row == m_block_rows && !Fetch()) return nullptr;
    const long row = m_next_row++;
    std::string position = "item " + std::to_string(++m_position);
    TableRow contact;
    contact.store_id = m_store_id;
    const auto entry_id = TextOf(Cell(row, kEntryIdColumn));
    if (!entry_id || entry_id->empty()) throw StoreError(position, "Outlook gave no EntryID");
    contact.entry_id = Bstr(*entry_id);
    if (!contact.entry_id.Ok()) throw StoreError(position, "out of memory");
    const auto message_class = TextOf(Cell(row, kClassColumn));
    contact.item_class = message_class && message_class->starts_with(L"IPM.DistList")
                             ? kOutlookDistributionListClass
                             : kOutlookContactClass;
    const auto file_as = TextOf(Cell(row, kFileAsColumn));
    contact.file_as = file_as ? Utf16ToUtf8Lossy(*file_as) : std::string();
    contact.phones.reserve(kPhoneFieldCount);
    for (int i = 0; i < kPhoneFieldCount; ++i) {
      const auto text = TextOf(Cell(row, kFirstPhoneColumn + i));
      if (!text) {
        throw StoreError(contact.file_as.empty() ? position : contact.file_as,
                         "cannot read " + Utf16ToUtf8Lossy(PhoneMembers()[i]) + ": it is not text");
      }
      auto number = Utf16ToUtf8(*text);
      contact.inexact[i] = !number;
      contact.phones.push_back(
          {static_cast<PhoneField>(i), number ? std::move(*number) : Utf16ToUtf8Lossy(*text)});
    }
    return std::make_unique<OutlookItem>(m_session, std::move(contact), std::move(position));
  }

 private:
  // Reads the next block of rows; false at the end of the table. A failure ends the cursor
  // and is thrown once.
  bool Fetch() {
    if (m_done) return false;
    m_done = true;
    m_block = Variant();
    m_block_rows = m_next_row = 0;
    const std::string subject =
        m_position == 0 ? "its items" : "the items after item " + std::to_string(m_position);
    if (ReadNumber(*m_session, m_table.Get(), kTable, L"EndOfTable", subject) != 0) return false;
    Variant count = Variant::Int(kRowsPerCall);
    if (auto failure =
            m_session->automation.Call(m_table.Get(), kTable, L"GetArray", DISPATCH_METHOD,
                                       count.Raw(), 1, m_block.Put(), FailureContext::Read)) {
      Throw(*failure, subject,
            failure->fatal ? failure->reason : "cannot read them: " + failure->reason);
    }
    const VARIANT& block = m_block.Get();
    SAFEARRAY* rows = block.vt == (VT_ARRAY | VT_VARIANT) ? block.parray : nullptr;
    LONG low = 0;
    LONG high = -1;
    if (!rows || SafeArrayGetDim(rows) != 2 || FAILED(SafeArrayGetLBound(rows, 1, &low)) ||
        FAILED(SafeArrayGetUBound(rows, 1, &high)) || !HasAllColumns(rows)) {
      throw StoreError(subject, "cannot read them: Outlook gave no rows of contacts");
    }
    m_low = low;
    m_block_rows = high - low + 1;
    if (m_block_rows <= 0) return false;
    m_done = false;
    return true;
  }

  static bool HasAllColumns(SAFEARRAY* rows) {
    LONG low = 0;
    LONG high = -1;
    return SUCCEEDED(SafeArrayGetLBound(rows, 2, &low)) &&
           SUCCEEDED(SafeArrayGetUBound(rows, 2, &high)) && low == 0 && high >= kTableColumns - 1;
  }

  // The value at (row, column) of the block, without a copy.
  const VARIANT& Cell(long row, int column) const {
    static const VARIANT empty{};
    LONG indexes[2] = {m_low + row, column};
    void* cell = nullptr;
    if (FAILED(SafeArrayPtrOfIndex(m_block.Get().parray, indexes, &cell)) || !cell) return empty;
    return *static_cast<const VARIANT*>(cell);
  }

  SessionPtr m_session;
  ComPtr<IDispatch> m_table;
  std::shared_ptr<const Bstr> m_store_id;
  Variant m_block;  // the rows fetched last
  long m_low = 0;
  long m_block_rows = 0;
  long m_next_row = 0;
  long m_position = 0;
  bool m_done = false;
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
    if (auto rows = TableRows()) return rows;
    auto items = ReadObject(*m_session, m_folder.Get(), kFolder, L"Items", Subject());
    return std::make_unique<OutlookItems>(
        Collection(m_session, std::move(items), kItems, Subject()));
  }

  std::unique_ptr<FolderCursor> Folders() override;

  std::vector<StoreNote> TakeNotes() override { return std::move(m_notes); }

 private:
  std::string Subject() const { return m_name ? *m_name : m_position; }

  // The folder's contacts through its table, or nullptr when Outlook has no tables or refuses
  // this one (the caller then reads the folder item by item). Throws only when Outlook is lost.
  std::unique_ptr<ItemCursor> TableRows() {
    Session& session = *m_session;
    if (session.without_tables) return nullptr;
    std::optional<Automation::Failure> failure;
    const auto call = [&](IDispatch* object, int kind, std::wstring_view name, WORD flags,
                          VARIANT* args, unsigned arg_count, VARIANT* result) {
      if (!failure) {
        failure = session.automation.Call(object, kind, name, flags, args, arg_count, result,
                                          FailureContext::Read);
      }
    };
    // Without its filter the table would list every item, not contacts alone.
    Bstr filter_text(kOutlookContactFilter);
    if (!filter_text.Ok()) failure = Automation::Failure{E_OUTOFMEMORY, "out of memory"};
    Variant store_id;
    call(m_folder.Get(), kFolder, L"StoreID", DISPATCH_PROPERTYGET, nullptr, 0, store_id.Put());
    Variant filter = Variant::Text(std::move(filter_text));
    Variant table_value;
    call(m_folder.Get(), kFolder, L"GetTable", DISPATCH_METHOD, filter.Raw(), 1, table_value.Put());
    const auto table = DispatchOf(table_value.Get());
    Variant columns_value;
    if (table) {
      call(table.Get(), kTable, L"Columns", DISPATCH_PROPERTYGET, nullptr, 0, columns_value.Put());
    }
    const auto columns = DispatchOf(columns_value.Get());
    if (columns) {
      call(columns.Get(), kColumns, L"RemoveAll", DISPATCH_METHOD, nullptr, 0, nullptr);
      for (int i = 0; i < kTableColumns; ++i) {
        Bstr name_text(i == kEntryIdColumn ? std::wstring_view(L"EntryID")
                       : i == kClassColumn ? std::wstring_view(L"MessageClass")
                       : i == kFileAsColumn
                           ? std::wstring_view(L"FileAs")
                           : std::wstring_view(PhoneMembers()[i - kFirstPhoneColumn]));
        if (!name_text.Ok()) failure = Automation::Failure{E_OUTOFMEMORY, "out of memory"};
        Variant name = Variant::Text(std::move(name_text));
        call(columns.Get(), kColumns, L"Add", DISPATCH_METHOD, name.Raw(), 1, nullptr);
      }
    }
    const auto store_text = TextOf(store_id.Get());
    auto store = std::make_shared<Bstr>(store_text ? *store_text : std::wstring());
    if (!failure && !store->Ok()) {
      failure = Automation::Failure{E_OUTOFMEMORY, "out of memory"};
    }
    if (!failure && (!columns || !store_text)) {
      failure = Automation::Failure{E_FAIL, "Outlook gave no table"};
    }
    if (failure) {
      if (failure->fatal) Throw(*failure, Subject(), failure->reason);
      // An Outlook without tables reads every folder item by item, as it always has: not
      // worth a line per folder.
      if (failure->result == DISP_E_UNKNOWNNAME) {
        session.without_tables = true;
      } else {
        m_notes.push_back(
            {{}, "read item by item, as its table cannot be read: " + failure->reason, false});
      }
      return nullptr;
    }
    return std::make_unique<OutlookRows>(m_session, table, std::move(store));
  }

  SessionPtr m_session;
  ComPtr<IDispatch> m_folder;
  std::string m_position;
  std::optional<std::string> m_name;
  std::vector<StoreNote> m_notes;
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
  OutlookStore(IDispatch* application, unsigned long busy_wait_ms)
      : m_given_application(ComPtr<IDispatch>::Share(application)), m_busy_wait_ms(busy_wait_ms) {}

  Status Open() override {
    m_session.reset();
    auto session = std::make_shared<Session>();
    session->automation.SetRetryLimit(m_busy_wait_ms);
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
    Session& session = Opened();
    Variant user;
    if (auto failure = session.automation.Call(session.name_space.Get(), kNamespace, L"CurrentUser",
                                               DISPATCH_PROPERTYGET, nullptr, 0, user.Put())) {
      if (IsLogonFailure(failure->result)) {
        throw StoreError("the current user", "Outlook could not log on to the profile");
      }
      Throw(*failure, "the current user", "Outlook refused to name it: " + failure->reason);
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
  unsigned long m_busy_wait_ms;
  SessionPtr m_session;
};

}  // namespace

std::unique_ptr<ContactStore> MakeOutlookStore(IDispatch* application,
                                               std::optional<unsigned long> busy_wait_ms) {
  return std::make_unique<OutlookStore>(application, busy_wait_ms.value_or(kRetryLimitMs));
}

}  // namespace dialmend
