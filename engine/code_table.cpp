#include "engine/code_table.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

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

// The bytes of a code of 3 to 6 characters in one number: its first four and its last four
// (three bytes for a code of three), which together hold every byte of it. The row's length is
// compared apart, so "0207" and a longer code sharing those bytes stay apart.
constexpr std::uint32_t Bytes(const char* at, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t k = count; k > 0; --k) {
    value = value << 8 | static_cast<unsigned char>(at[k - 1]);
  }
  return value;
}

constexpr std::uint64_t Key(std::string_view code) {
  if (code.size() == 3) return Bytes(code.data(), 3);
  return std::uint64_t{Bytes(code.data(), 4)} << 32 | Bytes(code.data() + code.size() - 4, 4);
}

// As Key, with two loads instead of a loop where the machine's byte order allows.
std::uint64_t KeyAtRunTime(std::string_view code) {
  if constexpr (std::endian::native != std::endian::little) return Key(code);
  if (code.size() == 3) return Key(code);
  std::uint32_t head, tail;
  std::memcpy(&head, code.data(), sizeof head);
  std::memcpy(&tail, code.data() + code.size() - 4, sizeof tail);
  return std::uint64_t{head} << 32 | tail;
}

constexpr std::array<std::uint64_t, kRows.size()> kKeys = [] {
  std::array<std::uint64_t, kRows.size()> keys{};
  for (std::size_t i = 0; i < kRows.size(); ++i) keys[i] = Key(kRows[i].old_code);
  return keys;
}();

// The lookup is one multiplication and one comparison: the multiplier is chosen here, at
// compile time, so that the 80 keys land in 80 different slots of the table.
constexpr int kSlotBits = 10;

constexpr std::size_t Slot(std::uint64_t key, std::uint64_t multiplier) {
  return static_cast<std::size_t>((key * multiplier) >> (64 - kSlotBits));
}

constexpr bool SpreadsEveryKey(std::uint64_t multiplier) {
  std::array<bool, 1u << kSlotBits> taken{};
  for (std::uint64_t key : kKeys) {
    if (taken[Slot(key, multiplier)]) return false;
    taken[Slot(key, multiplier)] = true;
  }
  return true;
}

constexpr std::uint64_t kMultiplier = [] {
  // The golden ratio; if it ever clashes, odd pseudo-random ones.
  std::uint64_t multiplier = 0x9E3779B97F4A7C15ULL;
  while (!SpreadsEveryKey(multiplier)) {
    multiplier = (multiplier * 6364136223846793005ULL + 1442695040888963407ULL) | 1u;
  }
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
  const std::uint64_t key = KeyAtRunTime(area_code);
  const std::size_t slot = kSlots[Slot(key, kMultiplier)];
  if (slot == 0 || kKeys[slot - 1] != key || kRows[slot - 1].old_code.size() != area_code.size()) {
    return nullptr;
  }
  return &kRows[slot - 1];
}

}  // namespace dialmend
