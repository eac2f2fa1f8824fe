#include "stores/vcard/tel_type.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "stores/vcard/text.h"
#include "stores/vcard/vcard.h"

namespace dialmend {

namespace {

struct TypeName {
  std::string_view name;
  std::uint32_t bit;
};

// Every TYPE word that decides a field, lower case, with the bit it sets.
constexpr TypeName kTypeNames[] = {
    {"home", kTypeHome},           {"home2", kTypeHome},
    {"work", kTypeWork},           {"business", kTypeWork},
    {"business2", kTypeWork},      {"fax", kTypeFax},
    {"cell", kTypeCell},           {"mobile", kTypeCell},
    {"iphone", kTypeCell},         {"pcs", kTypeCell},
    {"pager", kTypePager},         {"car", kTypeCar},
    {"isdn", kTypeIsdn},           {"tty", kTypeTty},
    {"ttytdd", kTypeTty},          {"tty-tdd", kTypeTty},
    {"textphone", kTypeTty},       {"assistant", kTypeAssistant},
    {"callback", kTypeCallback},   {"company", kTypeCompany},
    {"companymain", kTypeCompany}, {"company-main", kTypeCompany},
    {"radio", kTypeRadio},         {"telex", kTypeTelex},
    {"tlx", kTypeTelex},           {"pref", kTypePref},
    {"main", kTypePrimary},        {"primary", kTypePrimary},
    {"other", kTypeOther},         {"voice", kTypeVoice},
};

}  // namespace

std::uint32_t TypeBitOf(std::string_view token) {
  // Producers write the same type bare, as X-NAME and as X-EVOLUTION-NAME.
  if (token.size() > 2 && (token[0] == 'x' || token[0] == 'X') && token[1] == '-') {
    token.remove_prefix(StartsWithIgnoreCase(token, "x-evolution-") ? 12 : 2);
  }
  std::array<char, 16> lower{};
  if (token.size() > lower.size()) return 0;
  for (std::size_t i = 0; i < token.size(); ++i) lower[i] = AsciiLower(token[i]);
  const std::string_view key(lower.data(), token.size());
  const auto found = std::find_if(std::begin(kTypeNames), std::end(kTypeNames),
                                  [key](const TypeName& type) { return type.name == key; });
  return found == std::end(kTypeNames) ? 0 : found->bit;
}

Classified Classify(std::uint32_t types) {
  const auto field = [](PhoneField f) { return Classified{Placement::Field, f, false}; };
  // The named extra types come first: they are written only for their own field.
  if (types & kTypeAssistant) return field(PhoneField::Assistant);
  if (types & kTypeCallback) return field(PhoneField::Callback);
  if (types & kTypeCompany) return field(PhoneField::CompanyMain);
  if (types & kTypeRadio) return field(PhoneField::Radio);
  if (types & kTypeTelex) return field(PhoneField::Telex);
  if (types & kTypeTty) return field(PhoneField::TtyTdd);
  if (types & kTypeFax) {
    if (types & kTypeHome) return field(PhoneField::HomeFax);
    if (types & kTypeWork) return field(PhoneField::BusinessFax);
    return field(PhoneField::OtherFax);
  }
  if (types & kTypeCell) return field(PhoneField::Mobile);
  if (types & kTypePager) return field(PhoneField::Pager);
  if (types & kTypeCar) return field(PhoneField::Car);
  if (types & kTypeIsdn) return field(PhoneField::Isdn);
  if (types & kTypePrimary) return field(PhoneField::Primary);
  if (types & kTypeWork) return {Placement::WorkPair, PhoneField::Business, false};
  if (types & kTypeHome) return {Placement::HomePair, PhoneField::Home, false};
  // PREF alone marks the contact's main number (Evolution's Primary); next to a kind, as in
  // WORK,PREF, it only orders numbers of that kind, handled above.
  if ((types & kTypePref) && !(types & kTypeOther)) {
    return {Placement::Field, PhoneField::Primary, true};
  }
  return {Placement::Field, PhoneField::Other, true};
}

std::optional<Classified> ClassifyLabel(std::string_view label) {
  if (label.size() > 8 && label.substr(0, 4) == "_$!<" &&
      label.substr(label.size() - 4) == ">!$_") {
    label = label.substr(4, label.size() - 8);
  }
  std::array<char, 24> squeezed{};
  std::size_t length = 0;
  for (const char c : label) {
    if (c == ' ' || c == '_' || c == '-') continue;
    if (length == squeezed.size()) return std::nullopt;
    squeezed[length++] = AsciiLower(c);
  }
  const std::string_view key(squeezed.data(), length);
  const auto field = [](PhoneField f) { return Classified{Placement::Field, f, false}; };
  static constexpr std::array<std::pair<std::string_view, PhoneField>, 22> kFields{{
      {"assistant", PhoneField::Assistant},
      {"businessfax", PhoneField::BusinessFax},
      {"workfax", PhoneField::BusinessFax},
      {"callback", PhoneField::Callback},
      {"car", PhoneField::Car},
      {"company", PhoneField::CompanyMain},
      {"companymain", PhoneField::CompanyMain},
      {"homefax", PhoneField::HomeFax},
      {"isdn", PhoneField::Isdn},
      {"mobile", PhoneField::Mobile},
      {"cell", PhoneField::Mobile},
      {"iphone", PhoneField::Mobile},
      {"other", PhoneField::Other},
      {"otherfax", PhoneField::OtherFax},
      {"fax", PhoneField::OtherFax},
      {"pager", PhoneField::Pager},
      {"primary", PhoneField::Primary},
      {"main", PhoneField::Primary},
      {"radio", PhoneField::Radio},
      {"telex", PhoneField::Telex},
      {"tty/ttdd", PhoneField::TtyTdd},
      {"tty/tdd", PhoneField::TtyTdd},
  }};
  for (const auto& [name, f] : kFields) {
    if (key == name) return field(f);
  }
  if (key == "tty" || key == "ttytdd" || key == "textphone") return field(PhoneField::TtyTdd);
  if (key == "home" || key == "home2") {
    return Classified{Placement::HomePair, PhoneField::Home, false};
  }
  if (key == "work" || key == "business" || key == "business2") {
    return Classified{Placement::WorkPair, PhoneField::Business, false};
  }
  return std::nullopt;
}

TelUriNumber TelUriFromNumber(std::string_view number) {
  TelUriNumber result;
  std::string out;
  out.reserve(number.size());
  bool in_spaces = false;
  for (const char c : number) {
    if (c == '(' || c == ')') continue;
    if (c == ' ') {
      if (!in_spaces) out += '-';
      in_spaces = true;
      continue;
    }
    in_spaces = false;
    out += c;
  }
  if (out.empty()) {
    result.error = "a tel: URI cannot carry an empty number";
    return result;
  }
  // A global number is "+" and digits; a local one may also hold the hex digits A to F, "*" and
  // "#". Either may hold "-" and "." as visual separators.
  const bool global = out[0] == '+';
  bool has_digit = false;
  for (std::size_t i = global ? 1 : 0; i < out.size();) {
    const char c = out[i];
    const bool digit = c >= '0' && c <= '9';
    const bool local_digit =
        !global && ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f') || c == '*' || c == '#');
    if (digit || local_digit) {
      has_digit = true;
    } else if (c != '-' && c != '.') {
      const std::size_t length = std::max<std::size_t>(Utf8Length(out, i), 1);
      result.error =
          "a tel: URI cannot carry " + DescribeCharacter(std::string_view(out).substr(i, length));
      return result;
    }
    ++i;
  }
  if (!has_digit) {
    result.error = "a tel: URI cannot carry a number without digits";
    return result;
  }
  result.number = std::move(out);
  return result;
}

}  // namespace dialmend
