#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "contacts/phone_field.h"

// Which phone field a TEL property stands for, from its types or its item label. Internal to the
// vcard library; TelUriFromNumber, the other half of this file, is public in vcard.h.

namespace dialmend {

// The TEL types that decide a field; a property's types are the OR of their bits.
enum TypeBit : std::uint32_t {
  kTypeHome = 1U << 0,
  kTypeWork = 1U << 1,
  kTypeFax = 1U << 2,
  kTypeCell = 1U << 3,
  kTypePager = 1U << 4,
  kTypeCar = 1U << 5,
  kTypeIsdn = 1U << 6,
  kTypeTty = 1U << 7,
  kTypeAssistant = 1U << 8,
  kTypeCallback = 1U << 9,
  kTypeCompany = 1U << 10,
  kTypeRadio = 1U << 11,
  kTypeTelex = 1U << 12,
  kTypePref = 1U << 13,
  kTypePrimary = 1U << 14,
  kTypeOther = 1U << 15,
  kTypeVoice = 1U << 16,
};

// The TypeBit of one TYPE value or bare 2.1 parameter, or 0 for a type that decides nothing.
std::uint32_t TypeBitOf(std::string_view token);

// How a property's types place it: in a field outright, or in the home or work pair, whose first
// property is Home (Business) and every later one Home 2 (Business 2).
enum class Placement { Field, HomePair, WorkPair };

struct Classified {
  Placement placement = Placement::Field;
  PhoneField field = PhoneField::Other;
  // The types said nothing specific, so an item label may name the field instead.
  bool label_may_decide = false;
};

// Where a property with these types goes.
Classified Classify(std::uint32_t types);

// Apple writes numbers without a standard type as itemN.TEL with the name in itemN.X-ABLabel,
// either as "_$!<Name>!$_" or as the user's own words; gives nothing for words it does not know.
std::optional<Classified> ClassifyLabel(std::string_view label);

}  // namespace dialmend
