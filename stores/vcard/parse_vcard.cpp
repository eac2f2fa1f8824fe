#include "stores/vcard/vcard.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "stores/vcard/encoding.h"
#include "stores/vcard/lines.h"
#include "stores/vcard/tel_type.h"
#include "stores/vcard/text.h"

namespace dialmend {
namespace {

// Enough phone entries for most cards without growing the list.
constexpr std::size_t kTypicalTelCount = 16;

}  // namespace

class VCardParser {
 public:
  explicit VCardParser(std::string_view bytes) : m_in(bytes), m_lines(bytes) {
    m_tels.reserve(kTypicalTelCount);
  }

  ParsedVCard Run();

 private:
  struct PendingTel {
    Classified classified;
    std::string group;
    PhoneEntry entry;
    VCard::TelSlot slot;
    std::string left_as_is;  // why the value is never rewritten, or empty
  };

  struct Label {
    std::string group;
    Classified classified;
  };

  bool Fail(std::string error);
  bool HandleProperty(const LogicalLine& line, const PropertyView& property);
  bool HandleTel(const LogicalLine& line, const PropertyView& property);
  bool DecodeValue(const LogicalLine& line, const PropertyView& property, const Encoding& encoding,
                   std::string& storage, std::string_view& out);
  bool DecodeText(const LogicalLine& line, const PropertyView& property, std::string& out);
  void Finish();

  std::string_view m_in;
  LineReader m_lines;
  std::string m_error;
  VCard m_card;
  bool m_version_seen = false;
  bool m_fn_seen = false;
  bool m_file_as_seen = false;
  std::string m_fn;
  std::vector<PendingTel> m_tels;
  std::vector<Label> m_labels;
};

bool VCardParser::Fail(std::string error) {
  m_error = std::move(error);
  return false;
}

bool VCardParser::DecodeValue(const LogicalLine& line, const PropertyView& property,
                              const Encoding& encoding, std::string& storage,
                              std::string_view& out) {
  switch (DecodeBytes(property.value, encoding, storage, out)) {
    case DecodeError::None:
      return true;
    case DecodeError::NotUtf8:
      return Fail("line " + std::to_string(line.line_number) + " is not UTF-8 text");
    case DecodeError::UnknownCharset:
      break;
  }
  return Fail("line " + std::to_string(line.line_number) + " uses the character set " +
              Printable(encoding.charset_name) + ", which cannot be read");
}

bool VCardParser::DecodeText(const LogicalLine& line, const PropertyView& property,
                             std::string& out) {
  std::string storage;
  std::string_view decoded;
  if (!DecodeValue(line, property, EncodingOf(property.params), storage, decoded)) return false;
  EscapeHabits habits;
  Unescape(decoded, habits, out);
  return true;
}

bool VCardParser::HandleTel(const LogicalLine& line, const PropertyView& property) {
  PendingTel& tel = m_tels.emplace_back();
  std::uint32_t types = 0;
  const Encoding encoding = ReadParams(property.params, &types);
  tel.classified = Classify(types);
  tel.group.assign(property.group);
  std::string storage;
  std::string_view decoded;
  if (encoding.base64 || !encoding.unhandled.empty()) {
    // An encoded value that cannot be read is no fault of the file: it stays as it is, and only
    // this property is passed over.
    tel.left_as_is = DecodeEncodedTel(property.value, encoding, storage, decoded);
    if (!tel.left_as_is.empty()) return true;
  } else if (!DecodeValue(line, property, encoding, storage, decoded)) {
    return false;
  }

  VCard::TelSlot& slot = tel.slot;
  slot.property_begin = line.begin;
  slot.value_begin = m_lines.RawOffset(line, property.colon) + 1;
  slot.value_end = line.content_end;
  slot.charset = encoding.charset_named && !encoding.charset
                     ? VCardCharset::Other
                     : encoding.charset.value_or(VCardCharset::Utf8);
  slot.quoted_printable = encoding.quoted_printable;
  slot.base64 = encoding.base64;

  if (StartsWithIgnoreCase(decoded, "tel:")) {
    // URI values carry no text escapes; a writer that escaped the parameters' ";" anyway keeps its
    // backslash in the suffix.
    const std::string_view uri = decoded;
    std::size_t cut = uri.find(';', 4);
    if (cut == std::string_view::npos) cut = uri.size();
    if (cut > 4 && cut < uri.size() && uri[cut - 1] == '\\') --cut;
    slot.uri_scheme.assign(uri.substr(0, 4));
    slot.uri_suffix.assign(uri.substr(cut));
    tel.entry.number.assign(uri.substr(4, cut - 4));
    tel.entry.is_tel_uri = true;
  } else if (slot.base64) {
    // Encoded bytes are the value itself; text escapes belong to the unencoded form only.
    tel.entry.number.assign(decoded);
  } else {
    EscapeHabits habits;
    Unescape(decoded, habits, tel.entry.number);
    slot.escaped_commas = habits.commas;
    slot.escaped_semicolons = habits.semicolons;
  }
  return true;
}

bool VCardParser::HandleProperty(const LogicalLine& line, const PropertyView& property) {
  const std::string_view name = property.name;
  // Most properties are none of those below; their first letter tells so at once.
  switch (AsciiLower(name[0])) {
    case 't':
    case 'x':
    case 'b':
    case 'v':
    case 'f':
    case 'k':
      break;
    default:
      return true;
  }
  const std::string_view value = TrimBlanks(property.value);
  if (EqualsIgnoreCase(name, "TEL") || EqualsIgnoreCase(name, "X-MS-TEL")) {
    return HandleTel(line, property);
  }
  if (EqualsIgnoreCase(name, "BEGIN") && EqualsIgnoreCase(value, "VCARD")) {
    return Fail("line " + std::to_string(line.line_number) + " begins a card inside the card");
  }
  if (EqualsIgnoreCase(name, "VERSION") && !m_version_seen) {
    m_version_seen = true;
    if (value == "2.1") {
      m_card.m_version = VCardVersion::V21;
    } else if (value == "3.0") {
      m_card.m_version = VCardVersion::V30;
    } else if (value == "4.0") {
      m_card.m_version = VCardVersion::V40;
    } else {
      return Fail("line " + std::to_string(line.line_number) + " names vCard version " +
                  Printable(value) + ", which is not supported");
    }
  } else if (EqualsIgnoreCase(name, "FN") && !m_fn_seen) {
    m_fn_seen = true;
    return DecodeText(line, property, m_fn);
  } else if (EqualsIgnoreCase(name, "X-EVOLUTION-FILE-AS") && !m_file_as_seen) {
    m_file_as_seen = true;
    return DecodeText(line, property, m_card.m_file_as);
  } else if (EqualsIgnoreCase(name, "KIND") || EqualsIgnoreCase(name, "X-ADDRESSBOOKSERVER-KIND")) {
    if (EqualsIgnoreCase(value, "group")) m_card.m_kind = CardKind::Group;
  } else if (EqualsIgnoreCase(name, "X-EVOLUTION-LIST")) {
    if (EqualsIgnoreCase(value, "TRUE")) m_card.m_kind = CardKind::Group;
  } else if (EqualsIgnoreCase(name, "X-ABLABEL") && !property.group.empty()) {
    std::string label;
    if (!DecodeText(line, property, label)) return false;
    if (const auto classified = ClassifyLabel(label)) {
      m_labels.push_back({std::string(property.group), *classified});
    }
  }
  return true;
}

void VCardParser::Finish() {
  if (!m_file_as_seen) m_card.m_file_as = std::move(m_fn);
  // Sorted by group, so finding a TEL's label stays cheap however many items a hostile file has;
  // the stable sort keeps a group's first label first.
  const auto group_less = [](const Label& a, const Label& b) {
    return LessIgnoreCase(a.group, b.group);
  };
  std::stable_sort(m_labels.begin(), m_labels.end(), group_less);
  bool home_seen = false;
  bool work_seen = false;
  std::array<std::size_t, kPhoneFieldCount> per_field{};
  for (PendingTel& tel : m_tels) {
    Classified classified = tel.classified;
    if (classified.label_may_decide && !tel.group.empty()) {
      const Label key{tel.group, {}};
      const auto found = std::lower_bound(m_labels.begin(), m_labels.end(), key, group_less);
      if (found != m_labels.end() && EqualsIgnoreCase(found->group, tel.group)) {
        classified = found->classified;
      }
    }
    PhoneField field = classified.field;
    if (classified.placement == Placement::HomePair) {
      field = home_seen ? PhoneField::Home2 : PhoneField::Home;
      home_seen = true;
    } else if (classified.placement == Placement::WorkPair) {
      field = work_seen ? PhoneField::Business2 : PhoneField::Business;
      work_seen = true;
    }
    tel.entry.field = field;
    if (tel.left_as_is.empty()) {
      ++per_field[static_cast<std::size_t>(field)];
    } else {
      m_card.m_left_as_is.push_back({field, tel.left_as_is});
    }
  }
  // A counting sort keeps file order within each field.
  std::array<std::size_t, kPhoneFieldCount> next{};
  std::size_t total = 0;
  for (std::size_t f = 0; f < per_field.size(); ++f) {
    next[f] = total;
    total += per_field[f];
  }
  m_card.m_phones.resize(total);
  m_card.m_slots.resize(total);
  for (PendingTel& tel : m_tels) {
    if (!tel.left_as_is.empty()) continue;
    const std::size_t at = next[static_cast<std::size_t>(tel.entry.field)]++;
    m_card.m_phones[at] = std::move(tel.entry);
    m_card.m_slots[at] = std::move(tel.slot);
  }
}

ParsedVCard VCardParser::Run() {
  ParsedVCard result;
  const auto fail = [&result](std::string error) {
    result.error = std::move(error);
    return std::move(result);
  };
  if (m_in.size() > kMaxVCardBytes) return fail("the file is larger than 4 MiB");
  if (m_in.size() >= 2 &&
      ((m_in[0] == '\xFF' && m_in[1] == '\xFE') || (m_in[0] == '\xFE' && m_in[1] == '\xFF'))) {
    return fail("the file is UTF-16 text, not UTF-8");
  }
  if (const void* nul = std::memchr(m_in.data(), '\0', m_in.size())) {
    const auto offset = static_cast<std::size_t>(static_cast<const char*>(nul) - m_in.data());
    const auto lines =
        std::count(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(offset), '\n');
    return fail("line " + std::to_string(lines + 1) + " holds a NUL byte");
  }

  enum class Where { Before, Inside, After };
  Where where = Where::Before;
  std::size_t pos = m_in.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  LogicalLine line;
  PropertyView property;
  while (pos < m_in.size()) {
    m_lines.Read(pos, line);
    pos = line.end;
    if (line.text.empty()) continue;
    const auto at_line = [&line](std::string_view what) {
      return "line " + std::to_string(line.line_number) + std::string(what);
    };
    property = PropertyView{};
    const bool is_property = SplitProperty(line.text, property);
    const bool is_begin = is_property && property.group.empty() && property.params.empty() &&
                          EqualsIgnoreCase(property.name, "BEGIN") &&
                          EqualsIgnoreCase(TrimBlanks(property.value), "VCARD");
    switch (where) {
      case Where::Before:
        if (!is_begin) return fail("no BEGIN:VCARD line");
        m_card.m_crlf = line.first_crlf;
        where = Where::Inside;
        break;
      case Where::Inside:
        if (!is_property) return fail(at_line(" is not a property"));
        if (!IsUtf8(line.text)) {
          const Encoding encoding = EncodingOf(property.params);
          if (!encoding.charset_named || encoding.charset == VCardCharset::Utf8) {
            return fail(at_line(" is not UTF-8 text"));
          }
        }
        if (EqualsIgnoreCase(property.name, "END") &&
            EqualsIgnoreCase(TrimBlanks(property.value), "VCARD")) {
          where = Where::After;
          break;
        }
        if (!HandleProperty(line, property)) return fail(std::move(m_error));
        break;
      case Where::After:
        if (is_begin) return fail("the file holds more than one card");
        return fail(at_line(" follows END:VCARD"));
    }
  }
  if (where == Where::Before) return fail("the file holds no card");
  if (where == Where::Inside) return fail("no END:VCARD line");
  Finish();
  m_card.m_bytes.assign(m_in);
  result.card = std::move(m_card);
  return result;
}

ParsedVCard ParseVCard(std::string_view bytes) {
  return VCardParser(bytes).Run();
}

}  // namespace dialmend
