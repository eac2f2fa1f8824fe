#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "contacts/phone_field.h"
#include "stores/vcard/vcard.h"

// Helpers the vcard library's test files share.

namespace dialmend {

// Every table row has a name, which names its test and stands for it in messages.
template <typename Row>
concept NamedRow = std::is_same_v<decltype(Row::name), std::string_view>;

template <NamedRow Row>
std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << row.name;
}

constexpr auto kRowName = [](const auto& info) { return std::string(info.param.name); };

// A row's card: the fixture named by a source ending in ".vcf", else the source itself.
inline std::string BytesOf(const std::string& source) {
  if (!source.ends_with(".vcf")) return source;
  const std::string path = std::string(DIALMEND_VCARD_DATA_DIR) + "/" + source;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "missing fixture " << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One "Field: number" line per entry; a tel: URI's number shows behind "tel:".
inline std::string PhonesOf(const std::vector<PhoneEntry>& phones) {
  std::string text;
  for (const PhoneEntry& entry : phones) {
    text += std::string(PhoneFieldLabel(entry.field)) + (entry.is_tel_uri ? ": tel:" : ": ") +
            entry.number + "\n";
  }
  return text;
}

inline VCard MustParse(std::string_view bytes) {
  ParsedVCard parsed = ParseVCard(bytes);
  EXPECT_TRUE(parsed) << "did not parse: " << parsed.error;
  return parsed ? std::move(*parsed.card) : *ParseVCard("BEGIN:VCARD\r\nEND:VCARD\r\n").card;
}

// A card with CRLF line ends and the filing name "Test Person" around the given lines.
inline std::string Card(std::string_view body, std::string_view version = "3.0") {
  return "BEGIN:VCARD\r\nVERSION:" + std::string(version) + "\r\nFN:Test Person\r\n" +
         std::string(body) + "END:VCARD\r\n";
}

inline std::string Replaced(std::string text, std::string_view from, std::string_view to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << "no \"" << from << "\" in the text";
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

}  // namespace dialmend
