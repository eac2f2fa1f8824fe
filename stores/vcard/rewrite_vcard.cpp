#include "stores/vcard/vcard.h"

#include <algorithm>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "stores/vcard/charset.h"
#include "stores/vcard/encoding.h"
#include "stores/vcard/lines.h"
#include "stores/vcard/text.h"

namespace dialmend {
namespace {

struct Edit {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string text;
};

// How a property's value was written, so a new value reads back the same way.
struct ValueForm {
  VCardCharset charset = VCardCharset::Utf8;
  std::string_view charset_name;
  bool quoted_printable = false;
  bool base64 = false;
  bool uri = false;
  bool escape_commas = false;
  bool escape_semicolons = false;
};

// Why a new text number cannot go into the value, or empty text when it can.
std::string ProblemWithTextNumber(std::string_view number, const ValueForm& form) {
  if (!IsUtf8(number)) return "the new number is not UTF-8 text";
  if (StartsWithIgnoreCase(number, "tel:")) return "the new number would read as a tel: URI";
  if (form.base64) {
    // The reader leaves an encoded value holding one as it is, so it would never convert again.
    if (const std::string_view control = FirstControl(number); !control.empty()) {
      return "the new number holds " + DescribeCharacter(control) + ", a control character";
    }
  }
  if (number.find('\0') != std::string_view::npos) return "the new number holds a NUL character";
  if (!form.quoted_printable && number.find('\r') != std::string_view::npos) {
    return "the new number holds a carriage return, which the card cannot carry";
  }
  return {};
}

// How a base64 value was laid out over its lines, so a new value is laid out the same way.
struct Base64Layout {
  bool padded = true;
  bool on_next_line = false;  // the property's first line holds no data
  std::string_view indent = " ";
  std::string_view line_end;
  std::size_t width = kFoldLimit;  // longest line, line end not counted
};

// Reads the layout of the value `raw` (from just after the colon, at `column`, to its last line
// end). The width is that of the longest line holding data before the last; a value on one data
// line keeps to it, or to 75 octets if that is longer. Padding counts as left off only where the
// value's length shows it.
Base64Layout LayoutOf(std::string_view raw, std::size_t column, std::string_view line_end) {
  Base64Layout layout;
  layout.line_end = line_end;
  std::size_t data = 0;
  std::size_t widest = 0;
  for (std::size_t begin = 0, index = 0;; ++index) {
    const std::size_t newline = raw.find('\n', begin);
    std::string_view line = raw.substr(
        begin, newline == std::string_view::npos ? std::string_view::npos : newline - begin);
    std::size_t carriage_returns = 0;
    while (newline != std::string_view::npos && carriage_returns < 2 && line.ends_with('\r')) {
      line.remove_suffix(1);
      ++carriage_returns;
    }
    const std::size_t length = (index == 0 ? column : 0) + line.size();
    const std::size_t line_data = static_cast<std::size_t>(
        std::count_if(line.begin(), line.end(), [](char c) { return c != ' ' && c != '\t'; }));
    data += line_data;
    if (index == 1) layout.indent = line.substr(0, line.find_first_not_of(" \t"));
    if (newline == std::string_view::npos) {
      if (widest == 0) layout.width = std::max(kFoldLimit, length);
      break;
    }
    if (index == 0) {
      layout.line_end = LineEndWith(carriage_returns);
      layout.on_next_line = line_data == 0;
    }
    if (line_data > 0) layout.width = widest = std::max(widest, length);
    begin = newline + 1;
  }
  layout.padded = data % 4 == 0;
  return layout;
}

// Appends `bytes` in base64 laid out as `layout` says, from `column` on.
void AppendBase64Value(std::string_view bytes, const Base64Layout& layout, std::size_t column,
                       std::string& out) {
  std::string encoded;
  encoded.reserve(bytes.size() / 3 * 4 + 4);
  AppendBase64(encoded, bytes, layout.padded);
  if (encoded.empty()) return;
  bool line_start = false;
  const auto new_line = [&] {
    out += layout.line_end;
    out += layout.indent;
    column = layout.indent.size();
    line_start = true;
  };
  if (layout.on_next_line) new_line();
  for (std::size_t at = 0; at < encoded.size();) {
    std::size_t room = layout.width > column ? layout.width - column : 0;
    if (room == 0 && !line_start) {
      new_line();
      continue;
    }
    // Each line carries some data, however deep its indent.
    room = std::min(std::max<std::size_t>(room, 1), encoded.size() - at);
    out.append(encoded, at, room);
    at += room;
    column += room;
    line_start = false;
  }
}

// Appends `value` written in `form` and folded from `column` on; returns why it cannot be written,
// or empty text when it was.
std::string EncodeValue(std::string_view value, const ValueForm& form, std::size_t column,
                        std::string_view line_end, std::string& out) {
  FoldingWriter writer(out, column, line_end, form.quoted_printable);
  std::string unit;
  std::string in_charset;
  for (std::size_t at = 0; at < value.size();) {
    const std::size_t length = std::max<std::size_t>(Utf8Length(value, at), 1);
    const std::string_view character = value.substr(at, length);
    at += length;
    std::string_view bytes = character;
    const char c = character[0];
    if (!form.uri && c == '\\') {
      bytes = "\\\\";
    } else if (!form.uri && c == ',' && form.escape_commas) {
      bytes = "\\,";
    } else if (!form.uri && c == ';' && form.escape_semicolons) {
      bytes = "\\;";
    } else if (!form.uri && c == '\n' && !form.quoted_printable) {
      bytes = "\\n";
    }
    if (length > 1 && form.charset != VCardCharset::Utf8) {
      std::string problem = InCharset(character, form.charset, form.charset_name, in_charset);
      if (!problem.empty()) return problem;
      bytes = in_charset;
    }
    unit.clear();
    if (form.quoted_printable) {
      AppendQuotedPrintable(unit, bytes, at >= value.size());
    } else {
      unit.assign(bytes);
    }
    writer.Put(unit);
  }
  return {};
}

// The number asked for each phone entry, or null for an entry left alone; a change naming no
// entry is rejected.
std::vector<const std::string*> WantedNumbers(std::size_t count,
                                              std::span<const PhoneChange> changes,
                                              std::vector<RejectedChange>& rejected) {
  std::vector<const std::string*> wanted(count, nullptr);
  for (const PhoneChange& change : changes) {
    if (change.index >= count) {
      rejected.push_back(
          {change.index, "the card has no phone entry " + std::to_string(change.index)});
      continue;
    }
    wanted[change.index] = &change.number;
  }
  return wanted;
}

// The helpers below take a VCard::TelSlot as `auto`, since only RewriteVCard may name that type.
ValueForm FormOf(const auto& slot, VCardVersion version) {
  ValueForm form;
  form.charset = slot.charset;
  form.charset_name = slot.charset_name;
  form.quoted_printable = slot.quoted_printable;
  form.base64 = slot.base64;
  form.uri = !slot.uri_scheme.empty();
  // Version 4.0 asks for every comma in a text value to be escaped; older cards escape them only
  // where their writer already did.
  form.escape_commas = slot.escaped_commas || version == VCardVersion::V40;
  form.escape_semicolons = slot.escaped_semicolons;
  return form;
}

// Sets `value` to what the property's value says once it holds `number`, before encoding;
// returns why it cannot, or empty text when it can.
std::string ValueFor(std::string_view number, const auto& slot, const ValueForm& form,
                     std::string& value) {
  if (form.uri) {
    TelUriNumber converted = TelUriFromNumber(number);
    if (!converted.number) return std::move(converted.error);
    value = slot.uri_scheme + *converted.number + slot.uri_suffix;
    return {};
  }
  std::string problem = ProblemWithTextNumber(number, form);
  if (problem.empty()) value = number;
  return problem;
}

// Where the value starts on its line, so folding carries on from there.
std::size_t ValueColumn(std::string_view bytes, const auto& slot) {
  const std::string_view prefix(bytes.data() + slot.property_begin,
                                slot.value_begin - slot.property_begin);
  const std::size_t last_newline = prefix.rfind('\n');
  return last_newline == std::string_view::npos ? prefix.size() : prefix.size() - last_newline - 1;
}

// Sets `edit` to replace the slot's value with `value` written in `form`; returns why it cannot,
// or empty text when it can.
std::string EditFor(std::string_view bytes, std::string_view line_end, const auto& slot,
                    const ValueForm& form, std::string_view value, Edit& edit) {
  const std::size_t column = ValueColumn(bytes, slot);
  edit = Edit{slot.value_begin, slot.value_end, {}};
  if (!form.base64) return EncodeValue(value, form, column, line_end, edit.text);
  std::string bytes_in_charset;
  std::string problem = InCharset(value, form.charset, form.charset_name, bytes_in_charset);
  if (!problem.empty()) return problem;
  const std::string_view raw(bytes.data() + slot.value_begin, slot.value_end - slot.value_begin);
  AppendBase64Value(bytes_in_charset, LayoutOf(raw, column, line_end), column, edit.text);
  return {};
}

// The card's bytes with each edit's span replaced by its text; every other byte is kept.
std::string ApplyEdits(const std::string& bytes, std::vector<Edit>& edits) {
  std::sort(edits.begin(), edits.end(),
            [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
  std::size_t extra = 0;
  for (const Edit& edit : edits) extra += edit.text.size();
  std::string out;
  out.reserve(bytes.size() + extra);
  std::size_t copied = 0;
  for (const Edit& edit : edits) {
    out.append(bytes, copied, edit.begin - copied);
    out += edit.text;
    copied = edit.end;
  }
  out.append(bytes, copied, std::string::npos);
  return out;
}

}  // namespace

std::string_view VCard::RawValue(std::size_t index) const {
  const TelSlot& slot = m_slots.at(index);
  return std::string_view(m_bytes).substr(slot.value_begin, slot.value_end - slot.value_begin);
}

VCardRewrite RewriteVCard(const VCard& card, std::span<const PhoneChange> changes,
                          std::span<const KeptValue> kept) {
  VCardRewrite result;
  const std::vector<const std::string*> wanted =
      WantedNumbers(card.m_phones.size(), changes, result.rejected);
  std::vector<const std::string*> kept_bytes(card.m_phones.size(), nullptr);
  for (const KeptValue& value : kept) {
    if (value.index < kept_bytes.size()) {
      kept_bytes[value.index] = &value.bytes;
    } else {
      result.rejected.push_back(
          {value.index, "the card has no phone entry " + std::to_string(value.index)});
    }
  }
  std::vector<Edit> edits;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    const VCard::TelSlot& slot = card.m_slots[i];
    if (kept_bytes[i] != nullptr) {
      if (*kept_bytes[i] != card.RawValue(i)) {
        edits.push_back(Edit{slot.value_begin, slot.value_end, *kept_bytes[i]});
      }
      continue;
    }
    if (wanted[i] == nullptr || *wanted[i] == card.m_phones[i].number) continue;
    const ValueForm form = FormOf(slot, card.m_version);
    std::string value;
    std::string problem = ValueFor(*wanted[i], slot, form, value);
    Edit edit;
    if (problem.empty()) problem = EditFor(card.m_bytes, card.LineEnd(), slot, form, value, edit);
    if (!problem.empty()) {
      result.rejected.push_back({i, std::move(problem)});
      continue;
    }
    edits.push_back(std::move(edit));
  }
  result.bytes = ApplyEdits(card.m_bytes, edits);
  std::sort(result.rejected.begin(), result.rejected.end(),
            [](const RejectedChange& a, const RejectedChange& b) { return a.index < b.index; });
  return result;
}

}  // namespace dialmend
