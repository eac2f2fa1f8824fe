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

bool IsBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
}

// BEGIN:VCARD or END:VCARD in any case, with or without a group ("home.begin:vcard").
bool IsCardBoundary(const PropertyView& property, std::string_view name) {
  return EqualsIgnoreCase(property.name, name) &&
         EqualsIgnoreCase(TrimBlanks(property.value), "VCARD");
}

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
    bool charset_named = false;
  };

  struct Label {
    std::string group;
    Classified classified;
  };

  bool Fail(std::string error);
  bool FailUnreadableCharset(const LogicalLine& line, const Encoding& encoding);
  bool HandleProperty(const LogicalLine& line, const PropertyView& property);
  bool HandleTel(const LogicalLine& line, const PropertyView& property);
  // The number of a TEL whose value reads as `decoded`, and how to write one back.
  static void AssignTelValue(std::string_view decoded, PendingTel& tel);
  void NoteUnreadTel(const PropertyView& property);
  bool DecodeText(const LogicalLine& line, const PropertyView& property, std::string& out);
  void Finish();
  // The checks on the file as a whole, before any line is read.
  bool CheckWholeFile();
  // One line of the card (between its BEGIN and END).
  bool InsideCard(const LogicalLine& line, const PropertyView& property, bool is_property,
                  bool is_begin, bool is_end);

  enum class Where { Before, Inside, After };
  Where m_where = Where::Before;
  // A card nested in this one (a 2.1 AGENT's) is carried as it is: its numbers are the agent's.
  std::size_t m_nested = 0;
  bool m_after_empty_agent = false;
  std::string_view m_in;
  LogicalLineReader m_lines;
  std::string m_error;
  VCard m_card;
  bool m_version_seen = false;
  bool m_fn_seen = false;
  bool m_file_as_seen = false;
  bool m_uid_seen = false;
  std::string m_fn;
  std::vector<PendingTel> m_tels;
  std::vector<Label> m_labels;
  // Some text is not UTF-8 and names no set, so the card's own code page is unknown.
  bool m_undeclared_text = false;
};

bool VCardParser::Fail(std::string error) {
  m_error = std::move(error);
  return false;
}

bool VCardParser::FailUnreadableCharset(const LogicalLine& line, const Encoding& encoding) {
  return Fail("line " + std::to_string(line.line_number) + " uses the character set " +
              Printable(encoding.charset_name) + ", which cannot be read");
}

bool VCardParser::DecodeText(const LogicalLine& line, const PropertyView& property,
                             std::string& out) {
  const Encoding encoding = EncodingOf(property.params);
  std::string storage;
  std::string_view decoded;
  switch (DecodeBytes(property.value, encoding, storage, decoded)) {
    case DecodeError::None:
      break;
    case DecodeError::NotUtf8:
    case DecodeError::NotInCharset:
      // Old phones and Windows exports write their own code page, named or not. The text only
      // names the card in the log, and Windows-1252 reads every byte.
      if (!encoding.charset_named) m_undeclared_text = true;
      storage = DecodeAsWindows1252(property.value, encoding);
      decoded = storage;
      break;
    case DecodeError::UnknownCharset:
      return FailUnreadableCharset(line, encoding);
  }
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
  } else {
    switch (DecodeBytes(property.value, encoding, storage, decoded)) {
      case DecodeError::None:
        break;
      case DecodeError::NotUtf8:
        // Its bytes cannot be written back in a set nobody named; the number stays as it is.
        if (!encoding.charset_named) m_undeclared_text = true;
        tel.left_as_is = encoding.charset_named
                             ? "its value is not UTF-8 text"
                             : "its value is not UTF-8 text and names no character set";
        return true;
      case DecodeError::NotInCharset:
        tel.left_as_is =
            "its value is not text in the character set " + Printable(encoding.charset_name);
        return true;
      case DecodeError::UnknownCharset:
        return FailUnreadableCharset(line, encoding);
    }
  }
  tel.charset_named = encoding.charset_named;

  VCard::TelSlot& slot = tel.slot;
  slot.property_begin = line.begin;
  slot.value_begin = m_lines.RawOffset(line, property.colon) + 1;
  slot.value_end = line.content_end;
  slot.charset = encoding.charset_named && !encoding.charset
                     ? VCardCharset::Other
                     : encoding.charset.value_or(VCardCharset::Utf8);
  if (slot.charset == VCardCharset::Converted) slot.charset_name.assign(encoding.charset_name);
  slot.quoted_printable = encoding.quoted_printable;
  slot.base64 = encoding.base64;

  AssignTelValue(decoded, tel);
  return true;
}

void VCardParser::AssignTelValue(std::string_view decoded, PendingTel& tel) {
  VCard::TelSlot& slot = tel.slot;
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
}

void VCardParser::NoteUnreadTel(const PropertyView& property) {
  // Only a TEL whose parameters run on without end (an unclosed quote) gets here with its name.
  const std::string_view name = property.name;
  if (name.empty() || (!EqualsIgnoreCase(name, "TEL") && !EqualsIgnoreCase(name, "X-MS-TEL"))) {
    return;
  }
  PendingTel& tel = m_tels.emplace_back();
  tel.left_as_is = "its parameters cannot be read";
}

bool VCardParser::HandleProperty(const LogicalLine& line, const PropertyView& property) {
  const std::string_view name = property.name;
  // Most properties are none of those below; their first letter tells so at once.
  switch (AsciiLower(name[0])) {
    case 't':
    case 'x':
    case 'v':
    case 'f':
    case 'k':
    case 'u':
      break;
    default:
      return true;
  }
  const std::string_view value = TrimBlanks(property.value);
  if (EqualsIgnoreCase(name, "TEL") || EqualsIgnoreCase(name, "X-MS-TEL")) {
    return HandleTel(line, property);
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
  } else if (EqualsIgnoreCase(name, "UID") && !m_uid_seen) {
    // Only a store that finds cards by UID asks for it, so a UID never makes a card unreadable:
    // it is taken as its bytes, whatever their encoding.
    m_uid_seen = true;
    EscapeHabits habits;
    Unescape(value, habits, m_card.m_uid);
  } else if (EqualsIgnoreCase(name, "X-EVOLUTION-FILE-AS") && !m_file_as_seen) {
    m_file_as_seen = true;
    return DecodeText(line, property, m_card.m_file_as);
  } else if (EqualsIgnoreCase(name, "UID") && m_card.m_uid.empty()) {
    m_card.m_uid = value;
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
  if (m_undeclared_text) {
    // A new number goes into such a card only as ASCII, which every code page writes alike.
    for (PendingTel& tel : m_tels) {
      if (!tel.charset_named) tel.slot.charset = VCardCharset::Other;
    }
  }
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

bool VCardParser::CheckWholeFile() {
  if (m_in.size() > kMaxVCardBytes) return Fail("the file is larger than 4 MiB");
  if (m_in.size() >= 2 &&
      ((m_in[0] == '\xFF' && m_in[1] == '\xFE') || (m_in[0] == '\xFE' && m_in[1] == '\xFF'))) {
    return Fail("the file is UTF-16 text, not UTF-8");
  }
  if (const void* nul = std::memchr(m_in.data(), '\0', m_in.size())) {
    const auto offset = static_cast<std::size_t>(static_cast<const char*>(nul) - m_in.data());
    const auto lines =
        std::count(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(offset), '\n');
    return Fail("line " + std::to_string(lines + 1) + " holds a NUL byte");
  }
  return true;
}

bool VCardParser::InsideCard(const LogicalLine& line, const PropertyView& property,
                             bool is_property, bool is_begin, bool is_end) {
  if (m_nested > 0) {
    if (is_begin) ++m_nested;
    if (is_end) --m_nested;
    return true;
  }
  if (is_begin) {
    if (!m_after_empty_agent) {
      return Fail("line " + std::to_string(line.line_number) + " begins a card inside the card");
    }
    m_nested = 1;
    m_after_empty_agent = false;
    return true;
  }
  if (is_end) {
    m_where = Where::After;
    return true;
  }
  // Lines that are no property (a bare name, a name with a slash, a comment, a line a writer
  // forgot to fold) are kept as they are.
  if (!is_property) {
    NoteUnreadTel(property);
    m_after_empty_agent = false;
    return true;
  }
  if (EqualsIgnoreCase(property.name, "AGENT")) {
    const std::string_view value = TrimBlanks(property.value);
    m_after_empty_agent = value.empty();
    // Some writers start the agent's card on the AGENT line itself.
    if (EqualsIgnoreCase(value, "BEGIN:VCARD")) m_nested = 1;
    return true;
  }
  m_after_empty_agent = false;
  if (!m_undeclared_text && !IsUtf8(line.text) && !EncodingOf(property.params).charset_named) {
    m_undeclared_text = true;
  }
  return HandleProperty(line, property);
}

ParsedVCard VCardParser::Run() {
  ParsedVCard result;
  const auto fail = [&result](std::string error) {
    result.error = std::move(error);
    return std::move(result);
  };
  if (!CheckWholeFile()) return fail(std::move(m_error));
  std::size_t pos = m_in.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  LogicalLine line;
  PropertyView property;
  while (pos < m_in.size()) {
    m_lines.Read(pos, line);
    pos = line.end;
    // Blank and whitespace-only lines are kept wherever they stand.
    if (IsBlank(line.text)) continue;
    property = PropertyView{};
    const bool is_property = SplitProperty(line.text, property);
    const bool is_begin = is_property && IsCardBoundary(property, "BEGIN");
    const bool is_end = is_property && IsCardBoundary(property, "END");
    switch (m_where) {
      case Where::Before:
        if (is_begin) {
          m_card.m_line_end = LineEndWith(line.first_carriage_returns);
          m_where = Where::Inside;
        } else if (line.text[0] != '#') {
          // Comment lines, which some phones write, may stand before the card; nothing else may.
          return fail("no BEGIN:VCARD line");
        }
        break;
      case Where::Inside:
        if (!InsideCard(line, property, is_property, is_begin, is_end)) {
          return fail(std::move(m_error));
        }
        break;
      case Where::After:
        // Whatever follows the card is kept as it is, but a second card is not read here.
        if (is_begin) return fail("the file holds more than one card");
        break;
    }
  }
  if (m_where == Where::Before) return fail("the file holds no card");
  if (m_where == Where::Inside) return fail("no END:VCARD line");
  Finish();
  m_card.m_bytes.assign(m_in);
  result.card = std::move(m_card);
  return result;
}

ParsedVCard ParseVCard(std::string_view bytes) {
  return VCardParser(bytes).Run();
}

}  // namespace dialmend
