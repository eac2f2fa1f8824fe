#include "stores/outlook/outlook_table.h"

#include <optional>
#include <utility>

#include "stores/outlook/outlook_item.h"
#include "stores/outlook/outlook_names.h"

namespace dialmend {
namespace {

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
  OutlookRows(OutlookSessionPtr session, ComPtr<IDispatch> table,
              std::shared_ptr<const Bstr> store_id)
      : m_session(std::move(session)), m_table(std::move(table)), m_store_id(std::move(store_id)) {}

  std::unique_ptr<ContactItem> Next() override {
    if (m_next_row == m_block_rows && !Fetch()) return nullptr;
    const long row = m_next_row++;
    std::string position = "item " + std::to_string(++m_position);
    OutlookTableRow contact;
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
    return MakeOutlookItem(m_session, std::move(contact), std::move(position));
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
      ThrowFailure(*failure, subject,
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

  OutlookSessionPtr m_session;
  ComPtr<IDispatch> m_table;
  std::shared_ptr<const Bstr> m_store_id;
  Variant m_block;  // the rows fetched last
  long m_low = 0;
  long m_block_rows = 0;
  long m_next_row = 0;
  long m_position = 0;
  bool m_done = false;
};

// The name of column `index` of the table.
std::wstring_view ColumnName(int index) {
  if (index == kEntryIdColumn) return L"EntryID";
  if (index == kClassColumn) return L"MessageClass";
  if (index == kFileAsColumn) return L"FileAs";
  return PhoneMembers()[index - kFirstPhoneColumn];
}

// Makes the folder's table of contacts with our columns; the first failure stays in `failure`
// and ends the calls.
ComPtr<IDispatch> MakeTable(OutlookSession& session, IDispatch* folder, Variant& store_id,
                            std::optional<Automation::Failure>& failure) {
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
  call(folder, kFolder, L"StoreID", DISPATCH_PROPERTYGET, nullptr, 0, store_id.Put());
  Variant filter = Variant::Text(std::move(filter_text));
  Variant table_value;
  call(folder, kFolder, L"GetTable", DISPATCH_METHOD, filter.Raw(), 1, table_value.Put());
  auto table = DispatchOf(table_value.Get());
  Variant columns_value;
  if (table) {
    call(table.Get(), kTable, L"Columns", DISPATCH_PROPERTYGET, nullptr, 0, columns_value.Put());
  }
  const auto columns = DispatchOf(columns_value.Get());
  if (!columns) {
    if (!failure) failure = Automation::Failure{E_FAIL, "Outlook gave no table"};
    return {};
  }
  call(columns.Get(), kColumns, L"RemoveAll", DISPATCH_METHOD, nullptr, 0, nullptr);
  for (int i = 0; i < kTableColumns; ++i) {
    Bstr name_text(ColumnName(i));
    if (!name_text.Ok()) failure = Automation::Failure{E_OUTOFMEMORY, "out of memory"};
    Variant name = Variant::Text(std::move(name_text));
    call(columns.Get(), kColumns, L"Add", DISPATCH_METHOD, name.Raw(), 1, nullptr);
  }
  return table;
}

}  // namespace

std::unique_ptr<ItemCursor> ReadFolderTable(const OutlookSessionPtr& session, IDispatch* folder,
                                            const std::string& subject,
                                            std::vector<StoreNote>& notes) {
  if (session->without_tables) return nullptr;
  std::optional<Automation::Failure> failure;
  Variant store_id;
  auto table = MakeTable(*session, folder, store_id, failure);
  const auto store_text = TextOf(store_id.Get());
  auto store = std::make_shared<Bstr>(store_text ? *store_text : std::wstring());
  if (!failure && !store->Ok()) failure = Automation::Failure{E_OUTOFMEMORY, "out of memory"};
  if (!failure && !store_text) failure = Automation::Failure{E_FAIL, "Outlook gave no table"};
  if (!failure) return std::make_unique<OutlookRows>(session, std::move(table), std::move(store));
  if (failure->fatal) ThrowFailure(*failure, subject, failure->reason);
  // An Outlook without tables reads every folder item by item, as it always has: not worth a
  // line per folder.
  if (failure->result == DISP_E_UNKNOWNNAME) {
    session->without_tables = true;
  } else {
    notes.push_back(
        {{}, "read item by item, as its table cannot be read: " + failure->reason, false});
  }
  return nullptr;
}

}  // namespace dialmend
