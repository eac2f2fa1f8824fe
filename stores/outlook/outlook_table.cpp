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

// How a block of rows is laid out. Microsoft's reference has GetArray's first index name the
// column, while add-in code reads it as the row: the bounds against the number of columns
// asked for tell which, and a row's own values (Row.GetValues) have one index, the column.
struct RowBlock {
  Variant array;
  long rows = 0;
  bool columns_first = false;
  bool one_row = false;
  LONG row_low = 0;
  LONG column_low = 0;

  // The value at (row, column) of the block, without a copy.
  const VARIANT& Cell(long row, int column) const {
    static const VARIANT empty{};
    LONG indexes[2] = {row_low + row, column_low + column};
    if (one_row) indexes[0] = column_low + column;
    if (columns_first) std::swap(indexes[0], indexes[1]);
    void* cell = nullptr;
    if (FAILED(SafeArrayPtrOfIndex(array.Get().parray, indexes, &cell)) || !cell) return empty;
    return *static_cast<const VARIANT*>(cell);
  }
};

// The first index and the number of elements of dimension `dimension` of `array`.
bool Extent(SAFEARRAY* array, UINT dimension, LONG& low, long& count) {
  LONG high = -1;
  if (FAILED(SafeArrayGetLBound(array, dimension, &low)) ||
      FAILED(SafeArrayGetUBound(array, dimension, &high))) {
    return false;
  }
  count = high - low + 1;
  return true;
}

// Reads how `block.array` is laid out; false when it holds no rows of our columns.
bool Shape(RowBlock& block) {
  const VARIANT& value = block.array.Get();
  SAFEARRAY* array = value.vt == (VT_ARRAY | VT_VARIANT) ? value.parray : nullptr;
  if (!array) return false;
  LONG low[2] = {0, 0};
  long count[2] = {0, 0};
  const UINT dimensions = SafeArrayGetDim(array);
  for (UINT d = 0; d < dimensions && d < 2; ++d) {
    if (!Extent(array, d + 1, low[d], count[d])) return false;
  }
  if (dimensions == 1) {
    block.one_row = true;
    block.rows = 1;
    block.column_low = low[0];
    return count[0] == kTableColumns;
  }
  if (dimensions != 2) return false;
  const bool rows_first = count[1] == kTableColumns;
  block.columns_first = count[0] == kTableColumns;
  if (!rows_first && !block.columns_first) return false;
  if (rows_first && block.columns_first) {
    // As many rows as columns: the first row's message class stands where the columns are.
    block.columns_first = false;
    block.row_low = low[0];
    block.column_low = low[1];
    const auto message_class = TextOf(block.Cell(0, kClassColumn));
    block.columns_first = !message_class || !message_class->starts_with(L"IPM.");
  }
  block.rows = block.columns_first ? count[1] : count[0];
  block.row_low = block.columns_first ? low[1] : low[0];
  block.column_low = block.columns_first ? low[0] : low[1];
  return true;
}

// What one read of the table gave.
struct FetchOutcome {
  std::optional<Automation::Failure> failure;
  bool end = false;
  RowBlock block;
};

// A folder's contacts through its table, a block of rows per call. The table holds the rows
// as they were when it was made, so contacts that sync adds or moves meanwhile are neither
// skipped nor read twice, as they may be by index in the live Items collection. Where a block
// cannot be read (Outlook 2007 fails GetArray past the last row), the rest of the table is read
// row by row.
class OutlookRows : public ItemCursor {
 public:
  OutlookRows(OutlookSessionPtr session, OutlookObject table, std::shared_ptr<const Bstr> store_id)
      : m_session(std::move(session)), m_table(std::move(table)), m_store_id(std::move(store_id)) {}

  std::unique_ptr<ContactItem> Next() override {
    if (m_next_row == m_block.rows && !Fetch()) return nullptr;
    const long row = m_next_row++;
    std::string position = "item " + std::to_string(++m_position);
    OutlookTableRow contact;
    contact.store_id = m_store_id;
    const auto entry_id = TextOf(m_block.Cell(row, kEntryIdColumn));
    if (!entry_id || entry_id->empty()) throw StoreError(position, "Outlook gave no EntryID");
    contact.entry_id = Bstr(*entry_id);
    if (!contact.entry_id.Ok()) throw StoreError(position, "out of memory");
    const auto message_class = TextOf(m_block.Cell(row, kClassColumn));
    contact.item_class = message_class && message_class->starts_with(L"IPM.DistList")
                             ? kOutlookDistributionListClass
                             : kOutlookContactClass;
    const auto file_as = TextOf(m_block.Cell(row, kFileAsColumn));
    contact.file_as = file_as ? Utf16ToUtf8Lossy(*file_as) : std::string();
    contact.phones.reserve(kPhoneFieldCount);
    for (int i = 0; i < kPhoneFieldCount; ++i) {
      const auto text = TextOf(m_block.Cell(row, kFirstPhoneColumn + i));
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
    m_block = RowBlock();
    m_next_row = 0;
    const std::string subject =
        m_position == 0 ? "its items" : "the items after item " + std::to_string(m_position);
    FetchOutcome read = Read(m_row_by_row);
    if (read.failure && !read.failure->fatal && !m_row_by_row) {
      m_row_by_row = true;
      read = Read(true);
    }
    if (read.failure) {
      ThrowFailure(
          *read.failure, subject,
          read.failure->fatal ? read.failure->reason : "cannot read them: " + read.failure->reason);
    }
    if (read.end) return false;
    m_block = std::move(read.block);
    if (!Shape(m_block)) {
      m_block = RowBlock();
      throw StoreError(subject, "cannot read them: Outlook gave no rows of contacts");
    }
    if (m_block.rows <= 0) return false;
    m_done = false;
    return true;
  }

  // One read on the Outlook thread: the end of the table, else a block of rows or one row.
  FetchOutcome Read(bool one_row) {
    return OnOutlookThread<FetchOutcome>(
        *m_session, [table = m_table, one_row](OutlookThreadCore& core, FetchOutcome& out) {
          OutlookReply reply;
          out.failure = core.Call(table, kTable, L"EndOfTable", DISPATCH_PROPERTYGET, nullptr, 0,
                                  &reply, FailureContext::Read);
          if (out.failure) return;
          const auto end = NumberOf(reply.value.Get());
          out.end = end && *end != 0;
          if (out.end) return;
          if (one_row) {
            OutlookReply row;
            out.failure = core.Call(table, kTable, L"GetNextRow", DISPATCH_METHOD, nullptr, 0, &row,
                                    FailureContext::Read);
            if (!out.failure) {
              out.failure = core.Call(row.object, kRow, L"GetValues", DISPATCH_METHOD, nullptr, 0,
                                      &reply, FailureContext::Read);
            }
          } else {
            Variant count = Variant::Int(kRowsPerCall);
            out.failure = core.Call(table, kTable, L"GetArray", DISPATCH_METHOD, count.Raw(), 1,
                                    &reply, FailureContext::Read);
          }
          if (!out.failure) out.block.array = std::move(reply.value);
        });
  }

  OutlookSessionPtr m_session;
  OutlookObject m_table;
  std::shared_ptr<const Bstr> m_store_id;
  RowBlock m_block;  // the rows fetched last
  long m_next_row = 0;
  long m_position = 0;
  bool m_done = false;
  bool m_row_by_row = false;
};

// The name of column `index` of the table.
std::wstring_view ColumnName(int index) {
  if (index == kEntryIdColumn) return L"EntryID";
  if (index == kClassColumn) return L"MessageClass";
  if (index == kFileAsColumn) return L"FileAs";
  return PhoneMembers()[index - kFirstPhoneColumn];
}

// What making a folder's table gave.
struct TableOutcome {
  std::optional<Automation::Failure> failure;
  OutlookObject table;
  std::optional<std::wstring> store_id;
};

// On the Outlook thread: makes the folder's table of contacts with our columns; the first
// failure ends the calls.
void MakeTable(OutlookThreadCore& core, const OutlookObject& folder, TableOutcome& out) {
  out.failure.reset();
  const auto call = [&](const OutlookObject& object, int kind, std::wstring_view name, WORD flags,
                        VARIANT* args, unsigned arg_count, OutlookReply* reply) {
    if (!out.failure) {
      out.failure =
          core.Call(object, kind, name, flags, args, arg_count, reply, FailureContext::Read);
    }
  };
  // Without its filter the table would list every item, not contacts alone.
  Bstr filter_text(kOutlookContactFilter);
  if (!filter_text.Ok()) out.failure = Automation::Failure{E_OUTOFMEMORY, "out of memory"};
  OutlookReply store;
  call(folder, kFolder, L"StoreID", DISPATCH_PROPERTYGET, nullptr, 0, &store);
  out.store_id = TextOf(store.value.Get());
  Variant filter = Variant::Text(std::move(filter_text));
  OutlookReply table;
  call(folder, kFolder, L"GetTable", DISPATCH_METHOD, filter.Raw(), 1, &table);
  OutlookReply columns;
  if (table.object) {
    call(table.object, kTable, L"Columns", DISPATCH_PROPERTYGET, nullptr, 0, &columns);
  }
  if (!columns.object) {
    if (!out.failure) out.failure = Automation::Failure{E_FAIL, "Outlook gave no table"};
    return;
  }
  call(columns.object, kColumns, L"RemoveAll", DISPATCH_METHOD, nullptr, 0, nullptr);
  for (int i = 0; i < kTableColumns; ++i) {
    Bstr name_text(ColumnName(i));
    if (!name_text.Ok()) out.failure = Automation::Failure{E_OUTOFMEMORY, "out of memory"};
    Variant name = Variant::Text(std::move(name_text));
    call(columns.object, kColumns, L"Add", DISPATCH_METHOD, name.Raw(), 1, nullptr);
  }
  if (!out.failure && !out.store_id)
    out.failure = Automation::Failure{E_FAIL, "Outlook gave no table"};
  out.table = std::move(table.object);
}

}  // namespace

std::unique_ptr<ItemCursor> ReadFolderTable(const OutlookSessionPtr& session,
                                            const OutlookObject& folder, const std::string& subject,
                                            std::vector<StoreNote>& notes) {
  if (session->without_tables) return nullptr;
  TableOutcome made = OnOutlookThread<TableOutcome>(
      *session,
      [folder](OutlookThreadCore& core, TableOutcome& out) { MakeTable(core, folder, out); });
  std::optional<Automation::Failure> failure = std::move(made.failure);
  auto store = std::make_shared<Bstr>(made.store_id ? *made.store_id : std::wstring());
  if (!failure && !store->Ok()) failure = Automation::Failure{E_OUTOFMEMORY, "out of memory"};
  if (!failure)
    return std::make_unique<OutlookRows>(session, std::move(made.table), std::move(store));
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
