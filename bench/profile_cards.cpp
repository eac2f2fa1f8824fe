#include "bench/profile_cards.h"

#include <string_view>

namespace dialmend {

std::uint64_t Random::Bits() {
  std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::uint32_t Random::Below(std::uint32_t bound) {
  return static_cast<std::uint32_t>(Bits() % bound);
}

bool Random::Percent(std::uint32_t percent) {
  return Below(100) < percent;
}

std::string Random::Digits(std::size_t count) {
  std::string s;
  for (std::size_t i = 0; i < count; ++i) s.push_back(static_cast<char>('0' + Below(10)));
  return s;
}

std::string Random::Hex(std::size_t count, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < count; ++i) s.push_back(digits[Below(16)]);
  return s;
}

std::string Random::Uuid(bool upper) {
  std::string s = Hex(8, upper) + "-" + Hex(4, upper) + "-4" + Hex(3, upper) + "-";
  s.push_back((upper ? "89AB" : "89ab")[Below(4)]);
  return s + Hex(3, upper) + "-" + Hex(12, upper);
}

namespace {

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

// What one contact holds, drawn before its writer lays the card out.
struct Draw {
  const Folder& folder;
  const Person p;
  const Place& place;
  const std::uint32_t tel_count;
  const bool has_note;
  const bool has_address;
  const bool has_title;
  const bool has_birthday;
  const std::string work_email;
  const std::string n_value;
};

void WriteApple(Card& card, const Draw& d, Random& random, Written& w) {
  w.uid = random.Uuid(true);
  w.file_name = w.uid + ".vcf";
  w.uuid = true;
  card.Line("VERSION:3.0");
  card.Line("PRODID:-//Apple Inc.//macOS 13.6.1//EN");
  card.Line("N", d.n_value);
  card.Line("FN", d.p.full);
  if (!d.p.org.empty()) card.Line("ORG", d.p.org + ";");
  if (d.has_title) card.Line("TITLE", random.Pick(kTitles));
  if (d.p.is_firm) card.Line("X-ABShowAs:COMPANY");
  int item = 0;
  LabelledTels(card, kAppleTel, d.tel_count, d.folder.region, random, item);
  card.Line("EMAIL;type=INTERNET;type=HOME;type=pref", d.p.email);
  if (!d.work_email.empty()) card.Line("EMAIL;type=INTERNET;type=WORK", d.work_email);
  if (d.has_address) {
    const std::string group = "item" + std::to_string(++item);
    card.Line(group + ".ADR;type=HOME;type=pref", Address(random, d.place));
    card.Line(group + ".X-ABADR:gb");
  }
  if (d.has_birthday) card.Line("BDAY", Birthday(random));
  if (d.has_note) card.Line("NOTE", random.Pick(kNotes));
  card.Line("REV", Revision(random, false));
  card.Line("UID", w.uid);
  card.Line("X-ABUID", w.uid + ":ABPerson");
}

void WriteGoogle(Card& card, const Draw& d, Random& random, Written& w) {
  w.uid = random.Hex(16, false);
  w.file_name = w.uid + ".vcf";
  card.Line("VERSION:3.0");
  card.Line("N", d.n_value);
  card.Line("FN", d.p.full);
  if (!d.p.org.empty()) card.Line("ORG", d.p.org);
  if (d.has_title) card.Line("TITLE", random.Pick(kTitles));
  card.Line("EMAIL;TYPE=INTERNET;TYPE=HOME", d.p.email);
  if (!d.work_email.empty()) card.Line("EMAIL;TYPE=INTERNET;TYPE=WORK", d.work_email);
  int item = 0;
  LabelledTels(card, kGoogleTel, d.tel_count, d.folder.region, random, item);
  if (d.has_address) card.Line("ADR;TYPE=HOME", Address(random, d.place));
  if (d.has_birthday) card.Line("BDAY", Birthday(random));
  if (d.has_note) card.Line("NOTE", random.Pick(kNotes));
  card.Line("CATEGORIES:myContacts");
  card.Line("UID", w.uid);
  card.Line("REV", Revision(random, false));
}

void WriteEvolution(Card& card, const Draw& d, Random& random, Written& w) {
  w.uid = "pas-id-" + random.Hex(8, true) + "0000" + random.Hex(4, true);
  w.file_name = w.uid + ".vcf";
  card.Line("VERSION:3.0");
  card.Line("URL:");
  card.Line("TITLE", d.p.is_firm ? "" : std::string(random.Pick(kTitles)));
  card.Line("ROLE:");
  card.Line("X-EVOLUTION-MANAGER:");
  card.Line("X-EVOLUTION-ASSISTANT:");
  card.Line("NICKNAME:");
  card.Line("X-EVOLUTION-SPOUSE:");
  card.Line("NOTE", d.has_note ? random.Pick(kNotes) : "");
  // Some Evolution cards carry only FILE-AS, which readers must fall back to.
  if (random.Percent(80)) card.Line("FN", d.p.full);
  card.Line("N", d.n_value);
  card.Line("X-EVOLUTION-FILE-AS", d.p.is_firm ? d.p.full : d.p.last + "\\, " + d.p.first);
  card.Line("CATEGORIES:");
  card.Line("X-EVOLUTION-BLOG-URL:");
  card.Line("CALURI:");
  card.Line("FBURL:");
  card.Line("X-EVOLUTION-VIDEO-URL:");
  card.Line("X-MOZILLA-HTML:FALSE");
  if (!d.p.org.empty()) card.Line("ORG", d.p.org + ";");
  for (std::uint32_t i = 0; i < d.tel_count; ++i) {
    const TelKind& kind = PickTel(kEvolutionTel, random);
    const Number number = MakeNumber(d.folder.region, random);
    card.Line("TEL;X-EVOLUTION-UI-SLOT=" + std::to_string(i + 1) + ";" + std::string(kind.head),
              number.text);
  }
  card.Line("EMAIL;X-EVOLUTION-UI-SLOT=1;TYPE=WORK", d.p.email);
  if (!d.work_email.empty()) card.Line("EMAIL;X-EVOLUTION-UI-SLOT=2;TYPE=OTHER", d.work_email);
  if (d.has_address) card.Line("ADR;TYPE=WORK", Address(random, d.place));
  if (d.has_birthday) card.Line("BDAY", Birthday(random));
  card.Line("UID", w.uid);
  card.Line("REV", Revision(random, false));
}

void WriteExchange(Card& card, const Draw& d, Random& random, Written& w) {
  w.uid = random.Uuid(false);
  w.file_name = w.uid + ".vcf";
  w.uuid = true;
  card.Line("VERSION:3.0");
  card.Line("PRODID:-//Microsoft Corporation//Outlook 16.0 MIMEDIR//EN");
  card.Line("N", d.p.is_firm ? d.n_value : d.p.last + ";" + d.p.first + ";;;");
  card.Line("FN", d.p.full);
  if (!d.p.org.empty()) card.Line("ORG", d.p.org);
  if (!d.p.is_firm) card.Line("TITLE", random.Pick(kTitles));
  for (std::uint32_t i = 0; i < d.tel_count; ++i) {
    card.Line(PickTel(kExchangeTel, random).head, MakeNumber(d.folder.region, random).text);
  }
  if (d.has_address) {
    const std::string address = Address(random, d.place);
    card.Line("ADR;TYPE=WORK,PREF", address);
    card.Line("LABEL;TYPE=WORK,PREF", Label(address));
  }
  card.Line("EMAIL;TYPE=PREF,INTERNET", d.p.email);
  if (!d.work_email.empty()) card.Line("EMAIL;TYPE=INTERNET", d.work_email);
  if (d.has_birthday) card.Line("BDAY", Birthday(random));
  card.Line("X-MS-OL-DEFAULT-POSTAL-ADDRESS:2");
  if (d.has_note) card.Line("NOTE", random.Pick(kNotes));
  card.Line("REV", Revision(random, true));
  card.Line("UID", w.uid);
}

void WriteNextcloud(Card& card, const Draw& d, Random& random, Written& w) {
  const std::string uuid = random.Uuid(false);
  w.uid = "urn:uuid:" + uuid;
  w.file_name = uuid + ".vcf";
  w.uuid = true;
  card.Line("VERSION:4.0");
  card.Line("PRODID:-//Sabre//Sabre VObject 4.5.4//EN");
  card.Line("UID", w.uid);
  if (d.p.is_firm) card.Line("KIND:org");
  card.Line("FN", d.p.full);
  if (!d.p.is_firm) card.Line("N", d.n_value);
  if (!d.p.org.empty()) card.Line("ORG", d.p.org);
  if (d.has_title) card.Line("TITLE", random.Pick(kTitles));
  if (d.p.is_firm) {
    card.Line("URL", "https://www." + d.p.email.substr(d.p.email.find('@') + 1) + "/");
  }
  for (std::uint32_t i = 0; i < d.tel_count; ++i) {
    const TelKind& kind = PickTel(kNextcloudTel, random);
    const Number number = MakeNumber(d.folder.region, random);
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
  card.Line("EMAIL;TYPE=work", d.p.email);
  if (!d.work_email.empty()) card.Line("EMAIL;TYPE=work", d.work_email);
  if (d.has_address) {
    const std::string address = Address(random, d.place);
    card.Line("ADR;TYPE=work;LABEL=\"" + Label(address) + "\"", address);
  }
  if (d.has_birthday) card.Line("BDAY", Birthday(random));
  if (d.has_note) card.Line("NOTE", random.Pick(kNotes));
  card.Line("REV", Revision(random, true));
}

}  // namespace

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
  const Draw d{folder,      p,         place,        tel_count,  has_note,
               has_address, has_title, has_birthday, work_email, n_value};
  Written w;
  card.Line("BEGIN:VCARD");
  switch (writer) {
    case Writer::Apple:
      WriteApple(card, d, random, w);
      break;
    case Writer::Google:
      WriteGoogle(card, d, random, w);
      break;
    case Writer::Evolution:
      WriteEvolution(card, d, random, w);
      break;
    case Writer::Exchange:
      WriteExchange(card, d, random, w);
      break;
    case Writer::Nextcloud:
      WriteNextcloud(card, d, random, w);
      break;
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
}  // namespace dialmend
