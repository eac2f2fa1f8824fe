#include "run/change_list.h"

namespace dialmend {

std::string CsvField(std::string_view text) {
  // Spaces at either end are kept by every reader only inside quotes.
  const bool quoted = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                      text.starts_with(' ') || text.ends_with(' ');
  if (!quoted) return std::string(text);
  std::string field = "\"";
  for (const char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  field += '"';
  return field;
}

std::string ChangeRecords(const ListedContact& contact) {
  std::string head = CsvField(contact.location) + ",";
  if (contact.card >= 0) head += std::to_string(contact.card + 1);
  head += "," + CsvField(contact.uid) + "," + CsvField(contact.contact) + ",";
  std::string records;
  for (const ListedChange& change : contact.changes) {
    records += head + CsvField(change.field) + "," + CsvField(change.old_number) + "," +
               CsvField(change.new_number) + "\r\n";
  }
  return records;
}

}  // namespace dialmend
