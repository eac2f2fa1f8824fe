#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The change list of a run, for scripts and review: CSV (RFC 4180) with a header, one record
// per changed field, each naming the contact as its store knows it. It lists what the log
// lists: in an update the changes saved, in a simulation the changes a run would make.

namespace dialmend {

// The header record, with its CR LF.
inline constexpr std::string_view kChangeListHeader = "location,card,uid,contact,field,old,new\r\n";

// One changed field.
struct ListedChange {
  std::string_view field;  // the field's label, as the log shows it ("Home")
  std::string old_number;
  std::string new_number;
};

// A contact's changes and how its store knows it.
struct ListedContact {
  std::string location;  // the card's file path, a resource's href, an Outlook EntryID
  // The card's place in a file of many cards, from 0; -1 when the file holds one card.
  std::int64_t card = -1;
  std::string uid;      // the card's UID; empty where there is none
  std::string contact;  // as the log names it (\Work\Clients\Riverside Dental)
  std::vector<ListedChange> changes;
};

// The contact's records, one per change, each ending in CR LF; the card's place is counted
// from 1 and empty for a file of one card.
[[nodiscard]] std::string ChangeRecords(const ListedContact& contact);

// `text` as one CSV field: as it is, or in double quotes, each quote doubled, when it holds a
// comma, a quote, a CR or an LF, or begins or ends with a space.
[[nodiscard]] std::string CsvField(std::string_view text);

}  // namespace dialmend
