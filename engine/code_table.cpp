#include "engine/code_table.h"

#include <array>
#include <cstdint>

namespace dialmend {
namespace {

constexpr std::array<CodeChange, 80> kRows{{
    // London, and numbers already on 020.
    {"020", "020", "XXXX XXXX", '\0'},
    {"0171", "020", "7XXX XXXX", '\0'},
    {"0207", "020", "7XXX XXXX", '\0'},
    {"0181", "020", "8XXX XXXX", '\0'},
    {"0208", "020", "8XXX XXXX", '\0'},
    // Cardiff, Coventry, Portsmouth, Southampton.
    {"01222", "029", "20XX XXXX", '\0'},
    {"01203", "024", "76XX XXXX", '\0'},
    {"01705", "023", "92XX XXXX", '\0'},
    {"01703", "023", "80XX XXXX", '\0'},
    // Northern Ireland.
    {"012657", "028", "207X XXXX", '\0'},
    {"012667", "028", "217X XXXX", '\0'},
    {"01266", "028", "25XX XXXX", '6'},
    {"012656", "028", "276X XXXX", '\0'},
    {"01574", "028", "28XX XXXX", '\0'},
    {"012665", "028", "295X XXXX", '\0'},
    {"01693", "028", "30XX XXXX", '2'},
    {"01861", "028", "37XX XXXX", '\0'},
    {"01762", "028", "38XX XXXX", '\0'},
    {"018206", "028", "406X XXXX", '\0'},
    {"016937", "028", "417X XXXX", '\0'},
    {"012477", "028", "427X XXXX", '\0'},
    {"013967", "028", "437X XXXX", '\0'},
    {"01396", "028", "44XX XXXX", '\0'},
    {"01365", "028", "66XX XXXX", '\0'},
    {"013657", "028", "677X XXXX", '\0'},
    {"013656", "028", "686X XXXX", '\0'},
    {"01265", "028", "70XX XXXX", '3'},
    {"01504", "028", "71XX XXXX", '\0'},
    {"015047", "028", "777X XXXX", '\0'},
    {"01648", "028", "79XX XXXX", '6'},
    {"016627", "028", "807X XXXX", '\0'},
    {"016626", "028", "816X XXXX", '\0'},
    {"01662", "028", "82XX XXXX", '\0'},
    {"016625", "028", "855X XXXX", '\0'},
    {"016487", "028", "867X XXXX", '\0'},
    {"01868", "028", "87XX XXXX", '\0'},
    {"013655", "028", "895X XXXX", '\0'},
    {"01232", "028", "90XX XXXX", '\0'},
    {"01247", "028", "91XX XXXX", '\0'},
    {"01846", "028", "92XX XXXX", '\0'},
    {"01960", "028", "93XX XXXX", '\0'},
    {"01849", "028", "94XX XXXX", '\0'},
    {"01238", "028", "97XX XXXX", '\0'},
    // Pagers.
    {"01399", "07699", "XXXXXX", '\0'},
    {"01459", "07659", "XXXXXX", '\0'},
    {"01523", "07623", "XXXXXX", '\0'},
    {"01426", "07626", "XXXXXX", '\0'},
    {"01893", "07693", "XXXXXX", '\0'},
    {"04325", "07625", "XXXXXX", '\0'},
    {"0941", "07641", "XXXXXX", '\0'},
    // Mobiles.
    {"0370", "07770", "XXXXXX", '\0'},
    {"0374", "07774", "XXXXXX", '\0'},
    {"0378", "07778", "XXXXXX", '\0'},
    {"0385", "07785", "XXXXXX", '\0'},
    {"0390", "07790", "XXXXXX", '\0'},
    {"0401", "07701", "XXXXXX", '\0'},
    {"0402", "07702", "XXXXXX", '\0'},
    {"0403", "07703", "XXXXXX", '\0'},
    {"0410", "07710", "XXXXXX", '\0'},
    {"0411", "07711", "XXXXXX", '\0'},
    {"0421", "07721", "XXXXXX", '\0'},
    {"0441", "07741", "XXXXXX", '\0'},
    {"0467", "07767", "XXXXXX", '\0'},
    {"0468", "07768", "XXXXXX", '\0'},
    {"0498", "07798", "XXXXXX", '\0'},
    {"0585", "07885", "XXXXXX", '\0'},
    {"0589", "07889", "XXXXXX", '\0'},
    {"0802", "07802", "XXXXXX", '\0'},
    {"0850", "07850", "XXXXXX", '\0'},
    {"0860", "07860", "XXXXXX", '\0'},
    {"0831", "07831", "XXXXXX", '\0'},
    {"0836", "07836", "XXXXXX", '\0'},
    // Five placeholders, so a complete old number becomes eleven digits like every other row.
    {"09307", "079307", "XXXXX", '\0'},
    {"0930", "07930", "XXXXXX", '\0'},
    {"0956", "07956", "XXXXXX", '\0'},
    {"0958", "07958", "XXXXXX", '\0'},
    {"0961", "07961", "XXXXXX", '\0'},
    {"0966", "07966", "XXXXXX", '\0'},
    {"0973", "07973", "XXXXXX", '\0'},
    {"0976", "07976", "XXXXXX", '\0'},
}};

// Length and value in one number, so "020" and "0020" stay apart; codes have at most 6 digits.
constexpr std::uint32_t KeyOf(std::size_t length, std::uint32_t value) {
  return static_cast<std::uint32_t>(length) << 20 | value;
}

constexpr std::uint32_t Key(std::string_view digits) {
  std::uint32_t value = 0;
  for (char c : digits) value = value * 10 + static_cast<std::uint32_t>(c - '0');
  return KeyOf(digits.size(), value);
}

constexpr std::array<std::uint32_t, kRows.size()> kKeys = [] {
  std::array<std::uint32_t, kRows.size()> keys{};
  for (std::size_t i = 0; i < kRows.size(); ++i) keys[i] = Key(kRows[i].old_code);
  return keys;
}();

// The lookup is one multiplication and one comparison: the multiplier is chosen here, at
// compile time, so that the 80 keys land in 80 different slots of the table.
constexpr int kSlotBits = 10;

constexpr std::size_t Slot(std::uint32_t key, std::uint32_t multiplier) {
  return (key * multiplier) >> (32 - kSlotBits);
}

constexpr bool SpreadsEveryKey(std::uint32_t multiplier) {
  std::array<bool, 1u << kSlotBits> taken{};
  for (std::uint32_t key : kKeys) {
    if (taken[Slot(key, multiplier)]) return false;
    taken[Slot(key, multiplier)] = true;
  }
  return true;
}

constexpr std::uint32_t kMultiplier = [] {
  std::uint32_t multiplier = 2654435761u;  // Knuth's; if it ever clashes, odd pseudo-random ones
  while (!SpreadsEveryKey(multiplier)) multiplier = (multiplier * 1664525u + 1013904223u) | 1u;
  return multiplier;
}();

// Row index plus one for each slot; 0 marks an empty slot.
constexpr std::array<std::uint8_t, 1u << kSlotBits> kSlots = [] {
  std::array<std::uint8_t, 1u << kSlotBits> slots{};
  for (std::size_t i = 0; i < kKeys.size(); ++i) {
    slots[Slot(kKeys[i], kMultiplier)] = static_cast<std::uint8_t>(i + 1);
  }
  return slots;
}();

}  // namespace

std::span<const CodeChange> CodeChanges() noexcept {
  return kRows;
}

const CodeChange* FindCodeChange(std::string_view area_code) noexcept {
  if (area_code.size() < 3 || area_code.size() > 6 || area_code[0] != '0') return nullptr;
  std::uint32_t value = 0;
  for (char c : area_code) {
    if (c < '0' || c > '9') return nullptr;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  const std::uint32_t key = KeyOf(area_code.size(), value);
  const std::size_t slot = kSlots[Slot(key, kMultiplier)];
  if (slot == 0 || kKeys[slot - 1] != key) return nullptr;
  return &kRows[slot - 1];
}

}  // namespace dialmend
