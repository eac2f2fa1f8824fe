// The words, codes and TEL forms the store generator draws its cards from.

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dialmend {

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

}  // namespace dialmend
