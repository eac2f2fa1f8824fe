#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/phone_field.h"

// One .vcf file holding one card. Nothing here throws on file content: ParseVCard reports a bad
// file in its result and RewriteVCard each change it cannot make, for the caller to log.

namespace dialmend {

// Files larger than this are refused unread; no real contact card comes near it.
inline constexpr std::size_t kMaxVCardBytes = 4 * 1024 * 1024;

// The VERSION a card declares; a card without VERSION is read as 3.0.
enum class VCardVersion { V21, V30, V40 };

// The character sets a CHARSET parameter may name that are decoded: four known here, and any
// Converted by the C library's iconv (not on Windows), which writes ASCII as ASCII. A value in any
// Other set is read, and written, only as plain ASCII.
enum class VCardCharset : std::uint8_t { Utf8, Latin1, Windows1252, Latin9, Converted, Other };

// Groups (distribution lists) hold no telephone fields of their own, so the walk passes them over.
enum class CardKind { Contact, Group };

// One telephone property of a card: a TEL, or an X-MS-TEL line written by Exchange.
struct PhoneEntry {
  PhoneField field = PhoneField::Other;
  // Decoded UTF-8 text; for a tel: URI, the text between "tel:" and the URI's first ";".
  std::string number;
  bool is_tel_uri = false;
};

// A telephone property whose value the reader cannot convert: in an encoding not handled, encoded
// text that does not decode to a number, text in no character set it names or can write back, or
// a line whose parameters cannot be read. It is never rewritten.
struct LeftPhone {
  PhoneField field = PhoneField::Other;
  // Why, in words fit for the activity log ("its base64 value cannot be decoded").
  std::string reason;
};

// A new number for the phone entry at `index` in VCard::Phones().
struct PhoneChange {
  std::size_t index = 0;
  std::string number;
};

// Bytes for the value of the phone entry at `index`, written as they are: a RawValue kept from
// an earlier version of the card.
struct KeptValue {
  std::size_t index = 0;
  std::string bytes;
};

// A change RewriteVCard left out, and why, in words fit for the activity log.
struct RejectedChange {
  std::size_t index = 0;
  std::string reason;
};

// The new file content, and the changes that could not be written into it.
struct VCardRewrite {
  std::string bytes;
  std::vector<RejectedChange> rejected;
};

// A parsed card. It keeps the file's bytes, so a rewrite can leave every untouched byte as it was.
class VCard {
 public:
  // The file content exactly as it was parsed.
  const std::string& Bytes() const { return m_bytes; }

  // Decides how a rewritten value is escaped.
  VCardVersion Version() const { return m_version; }

  // Group for KIND:group, X-ADDRESSBOOKSERVER-KIND:group and X-EVOLUTION-LIST:TRUE.
  CardKind Kind() const { return m_kind; }

  // X-EVOLUTION-FILE-AS when present, else FN, else empty; decoded UTF-8 text.
  const std::string& FileAs() const { return m_file_as; }

  // The first UID's value as written (a UID is plain ASCII in practice); empty without one.
  const std::string& Uid() const { return m_uid; }

  // Every TEL and X-MS-TEL property but those in LeftAsIs(), in PhoneField order; properties that
  // map to the same field keep their file order.
  const std::vector<PhoneEntry>& Phones() const { return m_phones; }

  // The telephone properties kept out of Phones() and left byte for byte, in file order.
  const std::vector<LeftPhone>& LeftAsIs() const { return m_left_as_is; }

  // The line end of the card's BEGIN line ("\n", "\r\n" or "\r\r\n"), used for the folds of
  // rewritten values.
  std::string_view LineEnd() const { return m_line_end; }

  // The bytes of phone entry `index`'s value as the file holds them, from just after the colon
  // to the property's last line end: folds, encoding and URI parameters included.
  std::string_view RawValue(std::size_t index) const;

 private:
  friend class VCardParser;
  friend VCardRewrite RewriteVCard(const VCard& card, std::span<const PhoneChange> changes,
                                   std::span<const KeptValue> kept);

  // Where a phone entry sits in m_bytes and how its value was encoded.
  struct TelSlot {
    std::size_t property_begin = 0;
    std::size_t value_begin = 0;  // just after the colon
    std::size_t value_end = 0;    // where the property's last line end starts
    VCardCharset charset = VCardCharset::Utf8;
    std::string charset_name;  // as the CHARSET parameter gives it, for a Converted set
    bool quoted_printable = false;
    bool base64 = false;
    bool escaped_commas = false;
    bool escaped_semicolons = false;
    std::string uri_scheme;  // "tel:" as written, empty for a text value
    std::string uri_suffix;  // the URI's ";..." parameters as written
  };

  VCard() = default;

  std::string m_bytes;
  VCardVersion m_version = VCardVersion::V30;
  CardKind m_kind = CardKind::Contact;
  std::string_view m_line_end = "\r\n";  // one of three string literals
  std::string m_file_as;
  std::string m_uid;
  std::vector<PhoneEntry> m_phones;
  std::vector<TelSlot> m_slots;  // m_slots[i] belongs to m_phones[i]
  std::vector<LeftPhone> m_left_as_is;
};

// Either a card, or the reason the file is not one ("line 12 is not a property").
struct ParsedVCard {
  std::optional<VCard> card;
  std::string error;

  explicit operator bool() const { return card.has_value(); }
};

// Reads one card from a whole file's bytes. Never throws on content and takes time linear in its
// size. Lines that are no property, comments, blank lines, an AGENT's nested card and whatever
// follows END:VCARD are carried as they are. A file in which no card is found, or more than one,
// or whose card cannot be read (a VERSION not supported, a character set that cannot be read)
// gives an error text instead.
[[nodiscard]] ParsedVCard ParseVCard(std::string_view bytes);

// The card's bytes with the numbers of the changed phone entries replaced, and nothing else
// touched. A change whose number equals the entry's present number is no change. A later change for
// the same index overrides an earlier one. Values are re-encoded the way the property was written
// and folded at 75 octets; quoted-printable values stay quoted-printable, which leaves a plain
// ASCII number unchanged in form. A base64 value is written in base64 again, folded and padded
// as it was.
// `kept` values go in as they are, over any change of the same entry.
[[nodiscard]] VCardRewrite RewriteVCard(const VCard& card, std::span<const PhoneChange> changes,
                                        std::span<const KeptValue> kept = {});

// A number as a tel: URI may carry it, or the reason it cannot.
struct TelUriNumber {
  std::optional<std::string> number;
  std::string error;
};

// Drops "(" and ")" and turns each run of spaces into "-", so that a number written for people
// becomes the number part of a tel: URI; fails when a character is left that the URI cannot carry.
[[nodiscard]] TelUriNumber TelUriFromNumber(std::string_view number);

}  // namespace dialmend
