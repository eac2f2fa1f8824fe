// Writes a large vdir contact store for benchmarks: the same bytes for the same N on every
// machine, so timings from different runs compare like for like.

#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace dialmend {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kProgram = "dialmend-make-profile";
constexpr std::uint64_t kSeed = 20000422;
// Ten million cards is several gigabytes; a larger count is far more likely a typo.
constexpr std::uint64_t kMostContacts = 10'000'000;
constexpr std::size_t kMostGroupMembers = 12;

constexpr std::string_view kHelp =
    "Usage: dialmend-make-profile N DIR\n"
    "\n"
    "Writes N invented contacts into DIR as a vdir store: nested folders of one .vcf file per\n"
    "contact (vCard 3.0 and 4.0 as iCloud, Google, Evolution, Exchange and Nextcloud write\n"
    "them), a few group cards and a calendar folder. The same N always gives the same files.\n"
    "DIR must not exist or must be empty, so a real store is never touched.\n"
    "\n"
    "  --help   show this text\n"
    "\n"
    "Exit status: 0 done, 1 a file could not be written, 2 bad usage.\n";

class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// SplitMix64 of our own: std's distributions differ between library versions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : m_state(seed) {}

  std::uint64_t Bits() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>(Bits() % bound); }
  bool Percent(std::uint32_t percent) { return Below(100) < percent; }

  template <typename T, std::size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[Below(static_cast<std::uint32_t>(N))];
  }

  std::string Digits(std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i) s.push_back(static_cast<char>('0' + Below(10)));
    return s;
  }

  std::string Hex(std::size_t count, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < count; ++i) s.push_back(digits[Below(16)]);
    return s;
  }

  // A version-4 UUID, as address-book programs make them.
  std::string Uuid(bool upper) {
    std::string s = Hex(8, upper) + "-" + Hex(4, upper) + "-4" + Hex(3, upper) + "-";
    s.push_back((upper ? "89AB" : "89ab")[Below(4)]);
    return s + Hex(3, upper) + "-" + Hex(12, upper);
  }

 private:
  std::uint64_t m_state;
};

// Which program wrote a card decides its version, its TEL types, its UID and its file name.
enum class Writer { Apple, Google, Evolution, Exchange, Nextcloud };

// Table row ranges, for folders whose contacts mostly live in one region.
enum class Region { Anywhere, London, NorthernIreland, South };

struct Folder {
  std::string_view path;
  std::string_view display_name;  // empty: no displayname file, the directory name shows
  std::uint32_t weight;           // share of the contacts
  Writer writer;
  Region region;
};

constexpr std::array<Folder, 25> kFolders{{
    {"personal", "Personal", 4, Writer::Apple, Region::Anywhere},
    {"personal/friends", "Friends", 4, Writer::Apple, Region::London},
    {"personal/neighbours", "Neighbours", 1, Writer::Apple, Region::London},
    {"family", "", 2, Writer::Google, Region::NorthernIreland},
    {"family/in-laws", "In-laws", 1, Writer::Google, Region::South},
    {"work", "Work", 4, Writer::Evolution, Region::London},
    {"work/colleagues", "Colleagues", 4, Writer::Evolution, Region::London},
    {"work/clients", "Clients", 4, Writer::Nextcloud, Region::Anywhere},
    {"work/clients/before-2000", "Clients before 2000", 3, Writer::Exchange, Region::Anywhere},
    {"work/suppliers", "Suppliers", 2, Writer::Exchange, Region::South},
    {"sales", "Sales leads", 2, Writer::Google, Region::Anywhere},
    {"sales/north", "North", 3, Writer::Google, Region::Anywhere},
    {"sales/south", "South", 3, Writer::Google, Region::South},
    {"sales/northern-ireland", "Northern Ireland", 3, Writer::Google, Region::NorthernIreland},
    {"sailing-club", "Sailing club", 1, Writer::Nextcloud, Region::South},
    {"sailing-club/members", "Members", 3, Writer::Nextcloud, Region::South},
    {"school", "School", 1, Writer::Apple, Region::Anywhere},
    {"school/parents", "Parents", 3, Writer::Apple, Region::Anywhere},
    {"school/staff", "Staff", 1, Writer::Apple, Region::Anywhere},
    {"trades", "Trades & services", 2, Writer::Google, Region::Anywhere},
    {"medical", "Doctors & dentists", 1, Writer::Nextcloud, Region::Anywhere},
    {"phone-backup", "Phone backup 2001", 3, Writer::Exchange, Region::Anywhere},
    {"phone-backup/sim", "SIM card", 1, Writer::Exchange, Region::NorthernIreland},
    {"shared", "Shared with Anna", 2, Writer::Nextcloud, Region::Anywhere},
    {"shared/holiday-lets", "Holiday lets", 1, Writer::Nextcloud, Region::South},
}};

struct OldCode {
  std::string_view code;
  std::size_t local_digits;
};

// The old codes of April 2000 with the local number length each had, in table order.
constexpr std::array<OldCode, 80> kOldCodes{{
    {"020", 8},    {"0171", 7},   {"0207", 7},   {"0181", 7},   {"0208", 7},   {"01222", 6},
    {"01203", 6},  {"01705", 6},  {"01703", 6},  {"012657", 5}, {"012667", 5}, {"01266", 5},
    {"012656", 5}, {"01574", 6},  {"012665", 5}, {"01693", 5},  {"01861", 6},  {"01762", 6},
    {"018206", 5}, {"016937", 5}, {"012477", 5}, {"013967", 5}, {"01396", 6},  {"01365", 6},
    {"013657", 5}, {"013656", 5}, {"01265", 5},  {"01504", 6},  {"015047", 5}, {"01648", 5},
    {"016627", 5}, {"016626", 5}, {"01662", 6},  {"016625", 5}, {"016487", 5}, {"01868", 6},
    {"013655", 5}, {"01232", 6},  {"01247", 6},  {"01846", 6},  {"01960", 6},  {"01849", 6},
    {"01238", 6},  {"01399", 6},  {"01459", 6},  {"01523", 6},  {"01426", 6},  {"01893", 6},
    {"04325", 6},  {"0941", 6},   {"0370", 6},   {"0374", 6},   {"0378", 6},   {"0385", 6},
    {"0390", 6},   {"0401", 6},   {"0402", 6},   {"0403", 6},   {"0410", 6},   {"0411", 6},
    {"0421", 6},   {"0441", 6},   {"0467", 6},   {"0468", 6},   {"0498", 6},   {"0585", 6},
    {"0589", 6},   {"0802", 6},   {"0850", 6},   {"0860", 6},   {"0831", 6},   {"0836", 6},
    {"09307", 5},  {"0930", 6},   {"0956", 6},   {"0958", 6},   {"0961", 6},   {"0966", 6},
    {"0973", 6},   {"0976", 6},
}};

struct Name {
  std::string_view text;
  std::string_view ascii;  // for e-mail addresses
};

constexpr std::array<Name, 48> kFirstNames{{
    {"Alan", "alan"},
    {"Alison", "alison"},
    {"Amira", "amira"},
    {"Aoife", "aoife"},
    {"Ben", "ben"},
    {"Bríd", "brid"},
    {"Catherine", "catherine"},
    {"Chloé", "chloe"},
    {"Ciarán", "ciaran"},
    {"Colin", "colin"},
    {"Dafydd", "dafydd"},
    {"David", "david"},
    {"Declan", "declan"},
    {"Eleanor", "eleanor"},
    {"Emma", "emma"},
    {"Eoin", "eoin"},
    {"Fiona", "fiona"},
    {"Gareth", "gareth"},
    {"Gemma", "gemma"},
    {"Gráinne", "grainne"},
    {"Hannah", "hannah"},
    {"Helen", "helen"},
    {"Ian", "ian"},
    {"James", "james"},
    {"Joanne", "joanne"},
    {"Kate", "kate"},
    {"Kwame", "kwame"},
    {"Liam", "liam"},
    {"Lucy", "lucy"},
    {"Margaret", "margaret"},
    {"Mark", "mark"},
    {"Nadia", "nadia"},
    {"Niamh", "niamh"},
    {"Oliver", "oliver"},
    {"Olivia", "olivia"},
    {"Pádraig", "padraig"},
    {"Priya", "priya"},
    {"Rajesh", "rajesh"},
    {"Rhiannon", "rhiannon"},
    {"Rhys", "rhys"},
    {"Seán", "sean"},
    {"Siân", "sian"},
    {"Siobhan", "siobhan"},
    {"Susan", "susan"},
    {"Thomas", "thomas"},
    {"Wei", "wei"},
    {"Yusuf", "yusuf"},
    {"Zoë", "zoe"},
}};

constexpr std::array<Name, 40> kLastNames{{
    {"Ashworth", "ashworth"},
    {"Baxter", "baxter"},
    {"Bell", "bell"},
    {"Brooke", "brooke"},
    {"Campbell", "campbell"},
    {"Carter", "carter"},
    {"Chen", "chen"},
    {"Croft", "croft"},
    {"Davies", "davies"},
    {"Devlin", "devlin"},
    {"Doherty", "doherty"},
    {"Evans", "evans"},
    {"Fairclough", "fairclough"},
    {"Greenwood", "greenwood"},
    {"Hughes", "hughes"},
    {"Hussain", "hussain"},
    {"Jones", "jones"},
    {"Kennedy", "kennedy"},
    {"Lowther", "lowther"},
    {"Magennis", "magennis"},
    {"McCann", "mccann"},
    {"McVeigh", "mcveigh"},
    {"Morgan", "morgan"},
    {"Mwangi", "mwangi"},
    {"Ó Briain", "obriain"},
    {"O'Neill", "oneill"},
    {"Okafor", "okafor"},
    {"Patel", "patel"},
    {"Price", "price"},
    {"Pritchard", "pritchard"},
    {"Quinn", "quinn"},
    {"Raman", "raman"},
    {"Roberts", "roberts"},
    {"Shah", "shah"},
    {"Smith", "smith"},
    {"Sullivan", "sullivan"},
    {"Taylor", "taylor"},
    {"Walsh", "walsh"},
    {"Whitfield", "whitfield"},
    {"Williams", "williams"},
}};

constexpr std::array<std::string_view, 16> kFirmWords = {
    "Riverside", "Harbour",     "Quayside",   "Lagan Valley", "Foyle",      "Mourne",
    "Thames",    "Bute Street", "Kenilworth", "Itchen",       "Strangford", "Erne",
    "Castle",    "Millbrook",   "Westgate",   "Abbey"};
constexpr std::array<std::string_view, 16> kFirmTrades = {"Dental",
                                                          "Joinery",
                                                          "Printers",
                                                          "Freight",
                                                          "Holiday Cottages",
                                                          "Shipping Ltd",
                                                          "Architects",
                                                          "Motors",
                                                          "Chandlery",
                                                          "Marine",
                                                          "Boat Hire",
                                                          "Opticians",
                                                          "Plumbing & Heating",
                                                          "Surveyors",
                                                          "Insurance Brokers",
                                                          "Veterinary Surgery"};
constexpr std::array<std::string_view, 10> kTitles = {
    "Director",        "Office Manager", "Senior Partner", "Accountant", "Practice Manager",
    "Sales Executive", "Head of Year 9", "Site Foreman",   "Consultant", "Receptionist"};

struct Place {
  std::string_view town;
  std::string_view county;
  std::string_view postcode_area;
};

constexpr std::array<Place, 14> kPlaces{{
    {"London", "", "SW1A"},
    {"London", "", "NW2"},
    {"Belfast", "Co. Antrim", "BT9"},
    {"Cardiff", "South Glamorgan", "CF11"},
    {"Coventry", "West Midlands", "CV5"},
    {"Portsmouth", "Hampshire", "PO1"},
    {"Southampton", "Hampshire", "SO14"},
    {"Londonderry", "Co. Londonderry", "BT47"},
    {"Newry", "Co. Down", "BT34"},
    {"Ballymena", "Co. Antrim", "BT42"},
    {"Leeds", "West Yorkshire", "LS6"},
    {"Manchester", "", "M20"},
    {"Edinburgh", "", "EH3"},
    {"Bangor", "Co. Down", "BT20"},
}};
constexpr std::array<std::string_view, 16> kStreets = {
    "Cathedral Road",        "Malone Avenue", "Lordship Lane",   "Mapesbury Road",
    "Earlsdon Avenue North", "Canute Road",   "Camber Quay",     "Shore Road",
    "Honor Oak Park",        "Cyprus Avenue", "Kenilworth Road", "Romilly Crescent",
    "Ellerton Road",         "Arthur Street", "High Street",     "Church Lane"};

constexpr std::array<std::string_view, 12> kNotes = {
    "Prefers texts to calls during the day.",
    "Old direct line still on the letterhead\\, so check before posting anything.",
    "Met at the Christmas party – ask about the allotment.",
    "Out of hours: leave a message with the switchboard and someone will call back the same "
    "evening.",
    "Invoices to the practice manager\\, not to this address. Payment terms 30 days from the "
    "end of the month.",
    "Moved in 1999; the home number below is the new one\\, the old one rings out.",
    "Speaks French and Welsh. Café on the corner is the best place to meet.",
    "Spare key with no. 12.",
    "Closed Thursday afternoons and bank holidays.",
    "Second yard at the marina\\, ask for the foreman.",
    "Ring after 6pm; works nights at the hospital.",
    "Birthday cards to the holiday address from June to September."};

constexpr std::array<std::string_view, 8> kLabels = {
    "(Home) ", "Fax: ", "(Work) ", "Mobile: ", "(Old) ", "Tel. ", "(Text)", "Main: "};
constexpr std::array<std::string_view, 10> kCustomLabels = {
    "Studio",  "Holiday home", "Boat",        "Office (old)", "Caravan",
    "Surgery", "Reception",    "Direct line", "Weekends",     "Workshop"};
constexpr std::array<std::string_view, 8> kOddities = {
    "ex-directory", "ask at reception", "*123#",     "192",
    "n/a",          "see e-mail",       "Ext. 4410", "0800 REPAIRS"};

struct CurrentRange {
  std::string_view code;   // the area code, with its zero
  std::string_view start;  // the first local digits, in Ofcom's range for drama
  std::size_t rest;        // digits after `start`
};

constexpr std::array<CurrentRange, 9> kCurrent{{
    {"020", "79460", 3},
    {"029", "20180", 3},
    {"028", "96496", 3},
    {"0113", "4960", 3},
    {"0161", "4960", 3},
    {"0131", "4960", 3},
    {"0121", "4960", 3},
    {"07700", "900", 3},
    {"01632", "960", 3},
}};

// Local digits in the groups people write them in.
std::string Group(std::string_view local, char separator) {
  std::size_t first = 3;
  if (local.size() == 8) first = 4;
  if (local.size() <= 5) return std::string(local);
  std::string s(local.substr(0, first));
  s.push_back(separator);
  s.append(local.substr(first));
  return s;
}

std::string Plain(const std::string& code, const std::string& local, Random& random) {
  switch (random.Below(10)) {
    case 0:
      return "(" + code + ") " + Group(local, '-');
    case 1:
      return code + "-" + Group(local, '-');
    case 2:
      return "+44 " + code.substr(1) + " " + Group(local, ' ');
    case 3:
      return "+44 (0)" + code.substr(1) + " " + Group(local, ' ');
    case 4:
      return code + " " + Group(local, ' ') + " ext " + random.Digits(2 + random.Below(2));
    case 5:
      return code + local;
    case 6:
      return "+44 " + code + " " + local;
    default:
      return code + " " + Group(local, ' ');
  }
}

struct Number {
  std::string text;  // the value as typed
  std::string uri;   // a tel: URI for the same number; empty when there is none
};

std::string Uri(std::string_view country, const std::string& code, const std::string& local) {
  // Only '-' may separate digits in a tel: URI that others can dial; spaces are not allowed.
  std::string s = "tel:+" + std::string(country) + "-" + code + "-";
  const std::string grouped = Group(local, '-');
  return s + grouped;
}

Number MakeNumber(Region region, Random& random) {
  const std::uint32_t kind = random.Below(100);
  if (kind < 58) {
    std::size_t row = random.Below(kOldCodes.size());
    if (random.Percent(70)) {
      if (region == Region::London) row = random.Below(5);
      if (region == Region::NorthernIreland) row = 9 + random.Below(34);
      if (region == Region::South) row = 5 + random.Below(4);
    }
    const OldCode& old = kOldCodes[row];
    const std::string code(old.code);
    const std::string local = random.Digits(old.local_digits);
    std::string text = Plain(code, local, random);
    if (random.Percent(6)) text = std::string(random.Pick(kLabels)) + text;
    return {text, Uri("44", code.substr(1), local)};
  }
  if (kind < 84) {
    const CurrentRange& range = random.Pick(kCurrent);
    const std::string code(range.code);
    const std::string local = std::string(range.start) + random.Digits(range.rest);
    std::string text;
    // Numbers already written as the converter writes them must come back byte for byte.
    if (random.Percent(40)) {
      text = "(" + code + ") " + Group(local, ' ');
    } else {
      text = Plain(code, local, random);
    }
    return {text, Uri("44", code.substr(1), local)};
  }
  if (kind < 95) {
    const std::string line = random.Digits(4);
    switch (random.Below(5)) {
      case 0:
        return {"+1 212 555 01" + line.substr(2), "tel:+1-212-555-01" + line.substr(2)};
      case 1:
        return {"(00 1 212) 555 01" + line.substr(2), "tel:+1-212-555-01" + line.substr(2)};
      case 2:
        return {"+33 1 42 68 " + line.substr(0, 2) + " " + line.substr(2),
                "tel:+33-1-42-68-" + line.substr(0, 2) + "-" + line.substr(2)};
      case 3:
        return {"+353 (0)1 668 " + line, "tel:+353-1-668-" + line};
      default:
        return {"00 49 30 " + random.Digits(3) + line, ""};
    }
  }
  if (kind < 98) return {"0800 731 " + random.Digits(4), ""};
  return {std::string(random.Pick(kOddities)), ""};
}

struct TelKind {
  std::string_view head;  // the property name and parameters, up to the colon
  bool custom_label;      // Apple and Google put a custom label on a grouped itemN.X-ABLabel
};

// Per writer, the TEL forms it produces; the first few are the common ones and come up most.
constexpr std::array<TelKind, 10> kAppleTel{{
    {"TEL;type=CELL;type=VOICE;type=pref", false},
    {"TEL;type=HOME;type=VOICE", false},
    {"TEL;type=WORK;type=VOICE", false},
    {"TEL;type=CELL;type=VOICE", false},
    {"TEL;type=MAIN", false},
    {"TEL;type=WORK;type=FAX", false},
    {"TEL;type=HOME;type=FAX", false},
    {"TEL;type=OTHER;type=FAX", false},
    {"TEL;type=PAGER", false},
    {"TEL", true},
}};
constexpr std::array<TelKind, 8> kGoogleTel{{
    {"TEL;TYPE=CELL", false},
    {"TEL;TYPE=HOME", false},
    {"TEL;TYPE=WORK", false},
    {"TEL;TYPE=HOME", false},
    {"TEL;TYPE=WORK;TYPE=FAX", false},
    {"TEL;TYPE=HOME;TYPE=FAX", false},
    {"TEL;TYPE=PAGER", false},
    {"TEL", true},
}};
constexpr std::array<TelKind, 18> kEvolutionTel{{
    {"TYPE=WORK,VOICE", false},
    {"TYPE=CELL", false},
    {"TYPE=HOME,VOICE", false},
    {"TYPE=WORK,VOICE", false},
    {"TYPE=WORK,FAX", false},
    {"TYPE=X-EVOLUTION-ASSISTANT", false},
    {"TYPE=X-EVOLUTION-CALLBACK", false},
    {"TYPE=X-EVOLUTION-COMPANY", false},
    {"TYPE=X-EVOLUTION-RADIO", false},
    {"TYPE=X-EVOLUTION-TELEX", false},
    {"TYPE=X-EVOLUTION-TTYTDD", false},
    {"TYPE=X-EVOLUTION-PRIMARY", false},
    {"TYPE=CAR", false},
    {"TYPE=ISDN", false},
    {"TYPE=PAGER", false},
    {"TYPE=HOME,FAX", false},
    {"TYPE=FAX", false},
    {"TYPE=VOICE", false},
}};
constexpr std::array<TelKind, 14> kExchangeTel{{
    {"TEL;TYPE=WORK,VOICE", false},
    {"TEL;TYPE=CELL,VOICE", false},
    {"TEL;TYPE=HOME,VOICE", false},
    {"TEL;TYPE=WORK,FAX", false},
    {"X-MS-TEL;TYPE=ASSISTANT", false},
    {"X-MS-TEL;TYPE=CALLBACK", false},
    {"X-MS-TEL;TYPE=COMPANY", false},
    {"X-MS-TEL;TYPE=RADIO", false},
    {"X-MS-TEL;TYPE=TTYTDD", false},
    {"TEL;TYPE=CAR,VOICE", false},
    {"TEL;TYPE=ISDN", false},
    {"TEL;TYPE=PAGER", false},
    {"TEL;TYPE=HOME,FAX", false},
    {"TEL;TYPE=VOICE", false},
}};
constexpr std::array<TelKind, 10> kNextcloudTel{{
    {"TYPE=\"work,voice\"", false},
    {"TYPE=cell", false},
    {"TYPE=home", false},
    {"TYPE=\"work,voice\"", false},
    {"TYPE=\"home,voice\";PREF=1", false},
    {"TYPE=\"work,fax\"", false},
    {"TYPE=\"home,fax\"", false},
    {"TYPE=fax", false},
    {"TYPE=pager", false},
    {"TYPE=textphone", false},
}};

// Seven picks in ten come from the first four, common kinds, so rare fields stay rare as in
// real address books.
template <std::size_t N>
const TelKind& PickTel(const std::array<TelKind, N>& kinds, Random& random) {
  const std::uint32_t common = N < 4 ? static_cast<std::uint32_t>(N) : 4;
  if (random.Percent(70)) return kinds[random.Below(common)];
  return kinds[random.Below(static_cast<std::uint32_t>(N))];
}

// One card's text, folded at 75 octets and never inside a UTF-8 sequence.
class Card {
 public:
  Card(std::string& text, std::string_view line_end) : m_text(text), m_end(line_end) {}

  void Line(std::string_view line) {
    std::size_t limit = 75;
    while (line.size() > limit) {
      std::size_t cut = limit;
      while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
      m_text.append(line.substr(0, cut));
      m_text.append(m_end);
      m_text.push_back(' ');
      line.remove_prefix(cut);
      limit = 74;
    }
    m_text.append(line);
    m_text.append(m_end);
  }

  void Line(std::string_view name, std::string_view value) {
    m_scratch.assign(name);
    m_scratch.push_back(':');
    m_scratch.append(value);
    Line(m_scratch);
  }

 private:
  std::string& m_text;
  std::string_view m_end;
  std::string m_scratch;
};

// Apple and Google group a custom-labelled TEL with its itemN.X-ABLabel; item numbers run on
// across the card, so the caller's counter is shared with its other grouped lines.
template <std::size_t N>
void LabelledTels(Card& card, const std::array<TelKind, N>& kinds, std::uint32_t tel_count,
                  Region region, Random& random, int& item) {
  for (std::uint32_t i = 0; i < tel_count; ++i) {
    const TelKind& kind = PickTel(kinds, random);
    const Number number = MakeNumber(region, random);
    if (kind.custom_label) {
      const std::string group = "item" + std::to_string(++item);
      card.Line(group + "." + std::string(kind.head), number.text);
      card.Line(group + ".X-ABLabel", random.Pick(kCustomLabels));
    } else {
      card.Line(kind.head, number.text);
    }
  }
}

struct Person {
  std::string first;
  std::string last;
  std::string full;
  std::string email;
  std::string org;
  bool is_firm = false;
};

// A firm's name as an invented e-mail domain: "Bute Street Architects" gives
// "butestreetarchitects.example".
std::string Domain(std::string_view firm) {
  std::string domain;
  for (char c : firm) {
    if (c >= 'A' && c <= 'Z') {
      domain.push_back(static_cast<char>(c - 'A' + 'a'));
    } else if (c >= 'a' && c <= 'z') {
      domain.push_back(c);
    }
  }
  return domain + ".example";
}

Person MakePerson(bool firm, Random& random) {
  Person p;
  if (firm) {
    p.is_firm = true;
    p.org = std::string(random.Pick(kFirmWords)) + " " + std::string(random.Pick(kFirmTrades));
    p.full = p.org;
    p.email = "office@" + Domain(p.org);
    return p;
  }
  const Name& first = random.Pick(kFirstNames);
  const Name& last = random.Pick(kLastNames);
  p.first = first.text;
  p.last = last.text;
  p.full = p.first + " " + p.last;
  p.email = std::string(first.ascii) + "." + std::string(last.ascii) + random.Digits(2) + "@" +
            (random.Percent(50) ? "mail.example" : "btinternet.example");
  if (random.Percent(35)) {
    p.org = std::string(random.Pick(kFirmWords)) + " " + std::string(random.Pick(kFirmTrades));
  }
  return p;
}

std::string Revision(Random& random, bool basic) {
  char buffer[32];
  const unsigned year = 1998 + random.Below(27);
  const unsigned month = 1 + random.Below(12);
  const unsigned day = 1 + random.Below(28);
  const unsigned hour = random.Below(24);
  const unsigned minute = random.Below(60);
  const unsigned second = random.Below(60);
  std::snprintf(buffer, sizeof buffer,
                basic ? "%04u%02u%02uT%02u%02u%02uZ" : "%04u-%02u-%02uT%02u:%02u:%02uZ", year,
                month, day, hour, minute, second);
  return buffer;
}

std::string Address(Random& random, const Place& place) {
  std::string street =
      std::to_string(1 + random.Below(180)) + " " + std::string(random.Pick(kStreets));
  if (random.Percent(20)) street = "Flat " + std::to_string(1 + random.Below(9)) + "\\, " + street;
  const std::string postcode =
      std::string(place.postcode_area) + " " + std::to_string(random.Below(10)) +
      static_cast<char>('A' + random.Below(26)) + static_cast<char>('A' + random.Below(26));
  return ";;" + street + ";" + std::string(place.town) + ";" + std::string(place.county) + ";" +
         postcode + ";United Kingdom";
}

std::string Birthday(Random& random) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u", 1930 + random.Below(75),
                1 + random.Below(12), 1 + random.Below(28));
  return buffer;
}

std::string WorkEmail(const Person& p, Random& random) {
  const std::size_t dot = p.email.find('.');
  return p.email.substr(0, dot) + "@" + Domain(random.Pick(kFirmWords));
}

// The printed form of an ADR value: its parts, one a line, as a vCard text value.
std::string Label(std::string_view address) {
  std::string label;
  std::size_t part = 0;
  for (std::size_t i = 0; i < address.size(); ++i) {
    if (address[i] == ';') {
      if (++part > 2 && !label.empty() && !label.ends_with("\\n")) label.append("\\n");
      continue;
    }
    label.push_back(address[i]);
  }
  return label;
}

struct Written {
  std::string uid;  // as the card states it
  std::string file_name;
  bool uuid = false;  // the UID is a UUID, so a group can name it
};

// Writes one contact card's text into `text` and returns its UID and file name.
Written MakeCard(const Folder& folder, Random& random, std::string& text) {
  text.clear();
  Writer writer = folder.writer;
  // A fifth of each book came from somewhere else, as books do after a few migrations.
  if (random.Percent(20)) writer = static_cast<Writer>(random.Below(5));
  const bool crlf = writer != Writer::Evolution ? random.Percent(94) : random.Percent(30);
  if (random.Below(500) == 0) text.append("\xEF\xBB\xBF");
  Card card(text, crlf ? "\r\n" : "\n");
  const Person p = MakePerson(random.Percent(folder.writer == Writer::Nextcloud ? 35 : 10), random);
  const Place& place = random.Pick(kPlaces);
  const std::uint32_t tel_count =
      std::array<std::uint32_t, 10>{1, 1, 2, 2, 2, 3, 3, 3, 4, 5}[random.Below(10)];
  const bool has_note = random.Percent(55);
  const bool has_address = random.Percent(85);
  const bool has_title = !p.is_firm && !p.org.empty();
  const bool has_birthday = !p.is_firm && random.Percent(25);
  const std::string work_email = p.is_firm || random.Percent(60) ? "" : WorkEmail(p, random);
  const std::string n_value = p.is_firm ? ";;;;" : p.last + ";" + p.first + ";;;";

  Written w;
  card.Line("BEGIN:VCARD");
  switch (writer) {
    case Writer::Apple: {
      w.uid = random.Uuid(true);
      w.file_name = w.uid + ".vcf";
      w.uuid = true;
      card.Line("VERSION:3.0");
      card.Line("PRODID:-//Apple Inc.//macOS 13.6.1//EN");
      card.Line("N", n_value);
      card.Line("FN", p.full);
      if (!p.org.empty()) card.Line("ORG", p.org + ";");
      if (has_title) card.Line("TITLE", random.Pick(kTitles));
      if (p.is_firm) card.Line("X-ABShowAs:COMPANY");
      int item = 0;
      LabelledTels(card, kAppleTel, tel_count, folder.region, random, item);
      card.Line("EMAIL;type=INTERNET;type=HOME;type=pref", p.email);
      if (!work_email.empty()) card.Line("EMAIL;type=INTERNET;type=WORK", work_email);
      if (has_address) {
        const std::string group = "item" + std::to_string(++item);
        card.Line(group + ".ADR;type=HOME;type=pref", Address(random, place));
        card.Line(group + ".X-ABADR:gb");
      }
      if (has_birthday) card.Line("BDAY", Birthday(random));
      if (has_note) card.Line("NOTE", random.Pick(kNotes));
      card.Line("REV", Revision(random, false));
      card.Line("UID", w.uid);
      card.Line("X-ABUID", w.uid + ":ABPerson");
      break;
    }
    case Writer::Google: {
      w.uid = random.Hex(16, false);
      w.file_name = w.uid + ".vcf";
      card.Line("VERSION:3.0");
      card.Line("N", n_value);
      card.Line("FN", p.full);
      if (!p.org.empty()) card.Line("ORG", p.org);
      if (has_title) card.Line("TITLE", random.Pick(kTitles));
      card.Line("EMAIL;TYPE=INTERNET;TYPE=HOME", p.email);
      if (!work_email.empty()) card.Line("EMAIL;TYPE=INTERNET;TYPE=WORK", work_email);
      int item = 0;
      LabelledTels(card, kGoogleTel, tel_count, folder.region, random, item);
      if (has_address) card.Line("ADR;TYPE=HOME", Address(random, place));
      if (has_birthday) card.Line("BDAY", Birthday(random));
      if (has_note) card.Line("NOTE", random.Pick(kNotes));
      card.Line("CATEGORIES:myContacts");
      card.Line("UID", w.uid);
      card.Line("REV", Revision(random, false));
      break;
    }
    case Writer::Evolution: {
      w.uid = "pas-id-" + random.Hex(8, true) + "0000" + random.Hex(4, true);
      w.file_name = w.uid + ".vcf";
      card.Line("VERSION:3.0");
      card.Line("URL:");
      card.Line("TITLE", p.is_firm ? "" : std::string(random.Pick(kTitles)));
      card.Line("ROLE:");
      card.Line("X-EVOLUTION-MANAGER:");
      card.Line("X-EVOLUTION-ASSISTANT:");
      card.Line("NICKNAME:");
      card.Line("X-EVOLUTION-SPOUSE:");
      card.Line("NOTE", has_note ? random.Pick(kNotes) : "");
      // Some Evolution cards carry only FILE-AS, which readers must fall back to.
      if (random.Percent(80)) card.Line("FN", p.full);
      card.Line("N", n_value);
      card.Line("X-EVOLUTION-FILE-AS", p.is_firm ? p.full : p.last + "\\, " + p.first);
      card.Line("CATEGORIES:");
      card.Line("X-EVOLUTION-BLOG-URL:");
      card.Line("CALURI:");
      card.Line("FBURL:");
      card.Line("X-EVOLUTION-VIDEO-URL:");
      card.Line("X-MOZILLA-HTML:FALSE");
      if (!p.org.empty()) card.Line("ORG", p.org + ";");
      for (std::uint32_t i = 0; i < tel_count; ++i) {
        const TelKind& kind = PickTel(kEvolutionTel, random);
        const Number number = MakeNumber(folder.region, random);
        card.Line("TEL;X-EVOLUTION-UI-SLOT=" + std::to_string(i + 1) + ";" + std::string(kind.head),
                  number.text);
      }
      card.Line("EMAIL;X-EVOLUTION-UI-SLOT=1;TYPE=WORK", p.email);
      if (!work_email.empty()) card.Line("EMAIL;X-EVOLUTION-UI-SLOT=2;TYPE=OTHER", work_email);
      if (has_address) card.Line("ADR;TYPE=WORK", Address(random, place));
      if (has_birthday) card.Line("BDAY", Birthday(random));
      card.Line("UID", w.uid);
      card.Line("REV", Revision(random, false));
      break;
    }
    case Writer::Exchange: {
      w.uid = random.Uuid(false);
      w.file_name = w.uid + ".vcf";
      w.uuid = true;
      card.Line("VERSION:3.0");
      card.Line("PRODID:-//Microsoft Corporation//Outlook 16.0 MIMEDIR//EN");
      card.Line("N", p.is_firm ? n_value : p.last + ";" + p.first + ";;;");
      card.Line("FN", p.full);
      if (!p.org.empty()) card.Line("ORG", p.org);
      if (!p.is_firm) card.Line("TITLE", random.Pick(kTitles));
      for (std::uint32_t i = 0; i < tel_count; ++i) {
        card.Line(PickTel(kExchangeTel, random).head, MakeNumber(folder.region, random).text);
      }
      if (has_address) {
        const std::string address = Address(random, place);
        card.Line("ADR;TYPE=WORK,PREF", address);
        card.Line("LABEL;TYPE=WORK,PREF", Label(address));
      }
      card.Line("EMAIL;TYPE=PREF,INTERNET", p.email);
      if (!work_email.empty()) card.Line("EMAIL;TYPE=INTERNET", work_email);
      if (has_birthday) card.Line("BDAY", Birthday(random));
      card.Line("X-MS-OL-DEFAULT-POSTAL-ADDRESS:2");
      if (has_note) card.Line("NOTE", random.Pick(kNotes));
      card.Line("REV", Revision(random, true));
      card.Line("UID", w.uid);
      break;
    }
    case Writer::Nextcloud: {
      const std::string uuid = random.Uuid(false);
      w.uid = "urn:uuid:" + uuid;
      w.file_name = uuid + ".vcf";
      w.uuid = true;
      card.Line("VERSION:4.0");
      card.Line("PRODID:-//Sabre//Sabre VObject 4.5.4//EN");
      card.Line("UID", w.uid);
      if (p.is_firm) card.Line("KIND:org");
      card.Line("FN", p.full);
      if (!p.is_firm) card.Line("N", n_value);
      if (!p.org.empty()) card.Line("ORG", p.org);
      if (has_title) card.Line("TITLE", random.Pick(kTitles));
      if (p.is_firm) card.Line("URL", "https://www." + p.email.substr(p.email.find('@') + 1) + "/");
      for (std::uint32_t i = 0; i < tel_count; ++i) {
        const TelKind& kind = PickTel(kNextcloudTel, random);
        const Number number = MakeNumber(folder.region, random);
        const std::string head = "TEL;" + std::string(kind.head);
        if (!number.uri.empty() && random.Percent(45)) {
          std::string uri = number.uri;
          if (random.Percent(10)) uri += ";ext=" + random.Digits(3);
          card.Line("TEL;VALUE=uri;" + std::string(kind.head), uri);
        } else if (random.Percent(50)) {
          card.Line("TEL;VALUE=text;" + std::string(kind.head), number.text);
        } else {
          card.Line(head, number.text);
        }
      }
      card.Line("EMAIL;TYPE=work", p.email);
      if (!work_email.empty()) card.Line("EMAIL;TYPE=work", work_email);
      if (has_address) {
        const std::string address = Address(random, place);
        card.Line("ADR;TYPE=work;LABEL=\"" + Label(address) + "\"", address);
      }
      if (has_birthday) card.Line("BDAY", Birthday(random));
      if (has_note) card.Line("NOTE", random.Pick(kNotes));
      card.Line("REV", Revision(random, true));
      break;
    }
  }
  card.Line("END:VCARD");
  return w;
}

constexpr std::array<std::string_view, 6> kGroupNames = {
    "Christmas cards", "Book club", "Five-a-side", "Key holders", "Newsletter", "Emergency"};

// A group card naming some of the folder's contacts; members are URIs, so only UUIDs qualify.
std::string MakeGroup(const Folder& folder, std::span<const Written> members, Random& random,
                      std::string& file_name) {
  std::string text;
  Card card(text, "\r\n");
  const bool apple = folder.writer == Writer::Apple || folder.writer == Writer::Google;
  const std::string uuid = random.Uuid(apple);
  file_name = uuid + ".vcf";
  const std::string name(random.Pick(kGroupNames));
  card.Line("BEGIN:VCARD");
  if (apple) {
    card.Line("VERSION:3.0");
    card.Line("PRODID:-//Apple Inc.//macOS 13.6.1//EN");
    card.Line("N", name);
    card.Line("FN", name);
    card.Line("X-ADDRESSBOOKSERVER-KIND:group");
    for (const Written& m : members) {
      card.Line("X-ADDRESSBOOKSERVER-MEMBER",
                m.uid.starts_with("urn:uuid:") ? m.uid : "urn:uuid:" + m.uid);
    }
    card.Line("REV", Revision(random, false));
    card.Line("UID", uuid);
  } else {
    card.Line("VERSION:4.0");
    card.Line("PRODID:-//Sabre//Sabre VObject 4.5.4//EN");
    card.Line("UID", "urn:uuid:" + uuid);
    card.Line("KIND:group");
    card.Line("FN", name);
    for (const Written& m : members) {
      card.Line("MEMBER", m.uid.starts_with("urn:uuid:") ? m.uid : "urn:uuid:" + m.uid);
    }
    card.Line("REV", Revision(random, true));
  }
  card.Line("END:VCARD");
  return text;
}

constexpr std::array<std::string_view, 3> kCalendarItems = {
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Sabre//Sabre VObject 4.5.4//EN\r\n"
    "BEGIN:VEVENT\r\nUID:bench-event-1\r\nDTSTAMP:20240304T090000Z\r\n"
    "DTSTART:20240312T100000Z\r\nDTEND:20240312T110000Z\r\nSUMMARY:Dentist\r\n"
    "DESCRIPTION:Call 01703 221904 to rearrange.\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Sabre//Sabre VObject 4.5.4//EN\r\n"
    "BEGIN:VTODO\r\nUID:bench-todo-1\r\nDTSTAMP:20240305T181200Z\r\n"
    "SUMMARY:Ring Gran (01265 44556)\r\nSTATUS:NEEDS-ACTION\r\nEND:VTODO\r\nEND:VCALENDAR\r\n",
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Sabre//Sabre VObject 4.5.4//EN\r\n"
    "BEGIN:VEVENT\r\nUID:bench-event-2\r\nDTSTAMP:20240306T080000Z\r\n"
    "DTSTART;VALUE=DATE:20240401\r\nSUMMARY:Sailing club AGM\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
};

class Store {
 public:
  explicit Store(fs::path root) : m_root(std::move(root)), m_root_text(m_root.generic_string()) {}

  void MakeFolder(std::string_view path) {
    const fs::path dir = path.empty() ? m_root : m_root / path;
    std::error_code error;
    fs::create_directories(dir, error);
    if (error) {
      throw Failure("Cannot create the folder \"" + dir.string() + "\": " + error.message() + ".");
    }
  }

  // No flush or sync per file: the page cache is enough for a benchmark store.
  void Write(std::string_view folder, std::string_view name, std::string_view text) {
    // Plain string joins: a filesystem::path per file costs more than the write on a big store.
    m_path.assign(m_root_text);
    m_path.push_back('/');
    m_path.append(folder);
    m_path.push_back('/');
    m_path.append(name);
    std::FILE* file = std::fopen(m_path.c_str(), "wb");
    if (file == nullptr) Fail(std::strerror(errno));
    // Each card goes out in one write; a stdio buffer would only add a stat and a copy.
    std::setvbuf(file, nullptr, _IONBF, 0);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int saved = errno;
    if (std::fclose(file) != 0 || !written) Fail(std::strerror(written ? errno : saved));
    m_bytes += text.size();
  }

  std::uint64_t Bytes() const { return m_bytes; }

 private:
  [[noreturn]] void Fail(const char* reason) {
    throw Failure("Cannot write \"" + m_path + "\": " + reason + ".");
  }

  fs::path m_root;
  std::string m_root_text;
  std::string m_path;
  std::uint64_t m_bytes = 0;
};

struct Totals {
  std::uint64_t contacts = 0;
  std::uint64_t groups = 0;
  std::uint64_t bytes = 0;
};

Totals MakeProfile(std::uint64_t count, const fs::path& root) {
  Store store(root);
  store.MakeFolder({});
  Random random(kSeed);
  Totals totals;
  std::uint64_t weights = 0;
  for (const Folder& f : kFolders) weights += f.weight;

  std::string text;
  std::vector<Written> members;
  std::uint64_t given = 0;
  for (std::size_t i = 0; i < kFolders.size(); ++i) {
    const Folder& folder = kFolders[i];
    store.MakeFolder(folder.path);
    if (!folder.display_name.empty()) store.Write(folder.path, "displayname", folder.display_name);
    // The last folder takes the rounding remainder so the total is exactly `count`.
    const std::uint64_t share =
        i + 1 == kFolders.size() ? count - given : count * folder.weight / weights;
    given += share;
    members.clear();
    for (std::uint64_t c = 0; c < share; ++c) {
      const Written w = MakeCard(folder, random, text);
      store.Write(folder.path, w.file_name, text);
      if (w.uuid && members.size() < kMostGroupMembers) members.push_back(w);
    }
    totals.contacts += share;
    // One group in every top-level folder that has contacts to put in it.
    if (folder.path.find('/') == std::string_view::npos && !members.empty()) {
      std::string file_name;
      const std::string group = MakeGroup(folder, members, random, file_name);
      store.Write(folder.path, file_name, group);
      ++totals.groups;
    }
  }

  store.MakeFolder("calendar");
  store.Write("calendar", "displayname", "Calendar");
  for (std::size_t i = 0; i < kCalendarItems.size(); ++i) {
    store.Write("calendar", "bench-item-" + std::to_string(i + 1) + ".ics", kCalendarItems[i]);
  }
  totals.bytes = store.Bytes();
  return totals;
}

std::string Count(std::uint64_t n, std::string_view noun) {
  return std::to_string(n) + " " + std::string(noun) + (n == 1 ? "" : "s");
}

int Usage(std::string_view message) {
  std::fprintf(stderr, "%.*s: %.*s (see --help)\n", static_cast<int>(kProgram.size()),
               kProgram.data(), static_cast<int>(message.size()), message.data());
  return 2;
}

int Run(std::span<const std::string_view> args) {
  std::vector<std::string_view> operands;
  for (std::string_view arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
      return 0;
    }
    if (arg.size() > 1 && arg[0] == '-') return Usage("unknown option " + std::string(arg));
    operands.push_back(arg);
  }
  if (operands.size() != 2) return Usage("needs two arguments, N and DIR");

  std::uint64_t count = 0;
  const std::string_view n = operands[0];
  const auto [end, error] = std::from_chars(n.data(), n.data() + n.size(), count);
  if (error != std::errc() || end != n.data() + n.size() || count < 1 || count > kMostContacts) {
    return Usage("N must be a whole number from 1 to " + std::to_string(kMostContacts) +
                 ", not \"" + std::string(n) + "\"");
  }

  const fs::path root(operands[1]);
  std::error_code fs_error;
  const fs::file_status status = fs::status(root, fs_error);
  if (fs::exists(status)) {
    if (!fs::is_directory(status)) {
      return Usage("\"" + root.string() + "\" exists and is not a folder");
    }
    // Writing into a folder that already has files could mix invented cards into a real store.
    if (!fs::is_empty(root, fs_error) || fs_error) {
      return Usage("\"" + root.string() + "\" is not empty; give a new or empty folder");
    }
  }

  try {
    const auto start = std::chrono::steady_clock::now();
    const Totals totals = MakeProfile(count, root);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("Wrote %s and %s in %zu folders to \"%s\" (%.1f MB) in %.2f s.\n",
                Count(totals.contacts, "contact").c_str(), Count(totals.groups, "group").c_str(),
                kFolders.size(), root.string().c_str(), static_cast<double>(totals.bytes) / 1e6,
                took.count());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(kProgram.size()), kProgram.data(),
                 e.what());
    return 1;
  }
}

}  // namespace
}  // namespace dialmend

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  return dialmend::Run(args);
}
