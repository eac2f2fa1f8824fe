#include "run/undo_record.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/reason.h"
#include "platform/utf8_path.h"
#include "run/run_records.h"
#include "run/undo_record_format.h"

namespace dialmend {

void EscapeField(std::string_view text, std::string& out) {
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
}

std::optional<std::vector<std::string>> SplitRecordLine(std::string_view line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c != '\\') {
      fields.back() += c;
    } else {
      if (++i == line.size()) return std::nullopt;
      switch (line[i]) {
        case '\\':
          fields.back() += '\\';
          break;
        case 't':
          fields.back() += '\t';
          break;
        case 'n':
          fields.back() += '\n';
          break;
        case 'r':
          fields.back() += '\r';
          break;
        default:
          return std::nullopt;
      }
    }
  }
  return fields;
}

void RecordSum::Add(std::string_view bytes) {
  for (const char c : bytes) {
    m_value ^= static_cast<unsigned char>(c);
    m_value *= 1099511628211ull;
  }
}

std::string RecordSum::Hex() const {
  constexpr char kHex[] = "0123456789abcdef";
  std::string hex(16, '0');
  for (int i = 0; i < 16; ++i) hex[15 - i] = kHex[(m_value >> (4 * i)) & 0xF];
  return hex;
}

std::string SelfCheckedLine(std::string_view line) {
  RecordSum sum;
  sum.Add(line);
  return std::string(line) + "\t" + sum.Hex();
}

std::string SumLine(std::string_view lines) {
  RecordSum sum;
  sum.Add(lines);
  return "sum\t" + sum.Hex() + "\n";
}

namespace {

// A record is a few hundred bytes a contact; a file larger than this is not one of ours.
constexpr std::uintmax_t kMaxRecordBytes = 512 * 1024 * 1024;

template <class T>
bool ParseNumber(const std::string& text, T& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::optional<PhoneField> FieldOfLabel(std::string_view label) {
  for (int i = 0; i < kPhoneFieldCount; ++i) {
    if (PhoneFieldLabel(PhoneField(i)) == label) return PhoneField(i);
  }
  return std::nullopt;
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

// Whether `text` holds a control character: a byte below 0x20 or DEL, a C1 control, or the
// Unicode line and paragraph separators.
bool HoldsControl(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (byte < 0x20 || byte == 0x7F || (byte == 0xC2 && next >= 0x80 && next <= 0x9F) ||
        (byte == 0xE2 && next == 0x80 && i + 2 < text.size() &&
         (text[i + 2] == '\xA8' || text[i + 2] == '\xA9'))) {
      return true;
    }
  }
  return false;
}

// The contact a "contact" line names (five fields in version 1, six since), or false when it is
// not one. A version that is sent to a server must not carry a line break into a request.
bool ParseContact(const std::vector<std::string>& f, int version, RecordedContact& contact) {
  if (f.size() != (version == 1 ? 5u : 6u) || f[0] != "contact") return false;
  contact.identity.where = f[1];
  // A name the log shows never holds one: the update wrote it out.
  if (!ParseNumber(f[2], contact.identity.card) || HoldsControl(f[3]) || HoldsControl(f[4])) {
    return false;
  }
  contact.identity.tag = f[3];
  contact.name = f[4];
  if (version > 1) contact.identity.key = f[5];
  return true;
}

// The change a "field" line gives, or false when it is not one.
bool ParseField(const std::vector<std::string>& f, FieldChange& change) {
  if ((f.size() != 5 && f.size() != 6) || f[0] != "field") return false;
  const auto field = FieldOfLabel(f[2]);
  if (!ParseNumber(f[1], change.index) || !field) return false;
  change.field = *field;
  change.old_number = f[3];
  change.new_number = f[4];
  if (f.size() == 6) change.old_form = f[5];
  return true;
}

enum class LineRead { kLine, kEnd, kTorn, kFailed };

// The next line of `in`, without its LF, into `line`. A last line without its LF was torn by a
// crash while it was written: it is kTorn, for the caller to leave out.
LineRead NextLine(std::istream& in, std::string& line) {
  if (!std::getline(in, line)) return in.eof() && !in.bad() ? LineRead::kEnd : LineRead::kFailed;
  return in.eof() ? LineRead::kTorn : LineRead::kLine;
}

std::string DamagedText(std::size_t line_number) {
  return "is damaged: line " + std::to_string(line_number) + " cannot be read";
}

// The fields of a line that checks itself, without its sum; std::nullopt when the sum does
// not match.
std::optional<std::vector<std::string>> SelfChecked(std::string_view line) {
  const std::size_t tab = line.rfind('\t');
  if (tab == std::string_view::npos || SelfCheckedLine(line.substr(0, tab)) != line) {
    return std::nullopt;
  }
  return SplitRecordLine(line.substr(0, tab));
}

}  // namespace

// Reads a record line by line, checks it, and gives its facts and its contacts one by one.
// Shared by ReadUndoRecord, which only counts, and RecordedContactReader.
class RecordParser {
 public:
  explicit RecordParser(std::istream& in) : m_in(in) {}

  // The next whole contact into `contact`: true. At the end of the record, false with `why`
  // empty; at a failure, false with `why` saying it ("is damaged: line 7 cannot be read").
  bool Next(RecordedContact& contact, std::string& why) {
    while (m_ready.empty()) {
      if (m_done) return false;
      why = Step();
      if (!why.empty()) {
        m_done = true;
        return false;
      }
    }
    contact = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
  }

  // What the lines read so far say of the record.
  [[nodiscard]] UndoRecord& Facts() { return m_facts; }
  [[nodiscard]] std::size_t Lines() const { return m_line_number; }

 private:
  // Reads one line; the failure's words, else empty.
  std::string Step() {
    const LineRead read = NextLine(m_in, m_line);
    if (read == LineRead::kFailed) return "cannot be read";
    if (read != LineRead::kLine) {
      m_facts.torn = read == LineRead::kTorn;
      EndOfLines();
      return {};
    }
    if (++m_line_number == 1) return FirstLine();
    return m_facts.version == 1 ? TakeOldLine() : TakeLine();
  }

  std::string FirstLine() {
    const auto fields = SplitRecordLine(m_line);
    int version = 0;
    if (!fields || fields->size() != 2 || (*fields)[0] != kRecordMagic ||
        !ParseNumber((*fields)[1], version) || version < 1) {
      return "is not an undo record of Dialmend";
    }
    if (version > kUndoRecordVersion) return "was made by a newer version of Dialmend";
    m_facts.version = version;
    if (version > 1) AddToBlock();
    return {};
  }

  void AddToBlock() {
    if (m_block.empty()) m_block_first = m_line_number;
    m_block_sum.Add(m_line);
    m_block_sum.Add("\n");
    m_block.push_back(m_line);
  }

  void Ready() {
    if (!m_pending) return;
    if (m_pending->damaged.empty()) {
      ++m_facts.contacts;
      m_facts.numbers += m_pending->changes.size();
    } else if (m_facts.damaged++ == 0) {
      m_facts.first_damaged_line = m_pending->line;
    }
    m_ready.push_back(std::move(*m_pending));
    m_pending.reset();
  }

  void EndOfLines() {
    m_done = true;
    // Lines of a contact without their sum: cut short where the record ends.
    if (m_facts.version > 1 && m_header_done && !m_block.empty()) {
      Ready();
      m_pending = BlockContact(false);
      m_pending->damaged = "its lines end before their sum: the record was cut short";
    }
    Ready();
  }

  // The contact the block's lines give, or one marked damaged.
  RecordedContact BlockContact(bool summed) {
    RecordedContact contact;
    contact.line = m_block_first;
    const auto first = SplitRecordLine(m_block.front());
    if (!first || !ParseContact(*first, m_facts.version, contact)) {
      contact = RecordedContact{};
      contact.line = m_block_first;
      contact.damaged = "its lines cannot be read";
      // Its name, for the log, as far as it can be read.
      if (first && first->size() >= 5 && (*first)[0] == "contact" && !HoldsControl((*first)[4])) {
        contact.name = (*first)[4];
      }
    }
    for (std::size_t i = 1; i < m_block.size() && contact.damaged.empty(); ++i) {
      FieldChange change;
      const auto fields = SplitRecordLine(m_block[i]);
      if (!fields || !ParseField(*fields, change)) {
        contact.damaged = "its lines cannot be read";
      } else {
        contact.changes.push_back(std::move(change));
      }
    }
    if (summed && contact.damaged.empty() && contact.changes.empty()) {
      contact.damaged = "it has no field";
    }
    m_block.clear();
    m_block_sum = {};
    return contact;
  }

  std::string TakeLine() {
    const std::string_view tag = std::string_view(m_line).substr(0, m_line.find('\t'));
    if (tag == "sum") return TakeSum();
    if (m_header_done && m_block.empty() &&
        (tag == "saved" || tag == "end" || tag == "partly" || tag == "undone")) {
      return TakeCheckedLine(tag);
    }
    AddToBlock();
    return {};
  }

  std::string TakeSum() {
    const bool matches = m_line == "sum\t" + m_block_sum.Hex() && !m_block.empty();
    if (!m_header_done) {
      m_header_done = true;
      if (!matches) return "is damaged: its first lines do not match their sum";
      for (std::size_t i = 1; i < m_block.size(); ++i) {
        const auto f = SplitRecordLine(m_block[i]);
        if (f && f->size() == 3 && (*f)[0] == "store") {
          m_facts.store = {(*f)[1], (*f)[2]};
        } else if (f && f->size() == 3 && (*f)[0] == "started") {
          m_facts.started = (*f)[1];
          m_facts.started_text = (*f)[2];
        } else {
          return DamagedText(m_block_first + i);
        }
      }
      m_block.clear();
      m_block_sum = {};
      return {};
    }
    Ready();
    if (m_block.empty()) {
      // A sum with no line before it: nothing to restore, but the record is not as written.
      m_pending = RecordedContact{};
      m_pending->line = m_line_number;
      m_pending->damaged = "its lines cannot be read";
      return {};
    }
    m_pending = BlockContact(true);
    if (!matches) m_pending->damaged = "its lines do not match their sum";
    return {};
  }

  std::string TakeCheckedLine(std::string_view tag) {
    const auto f = SelfChecked(m_line);
    if (tag == "saved") {
      if (!m_pending) return DamagedText(m_line_number);
      if (!f || f->size() != 2 || HoldsControl((*f)[1])) {
        if (m_pending->damaged.empty()) m_pending->damaged = "its \"saved\" line is damaged";
      } else {
        m_pending->identity.tag = (*f)[1];
      }
      return {};
    }
    Ready();
    if (!f || f->size() != (tag == "end" ? 3u : 2u)) return DamagedText(m_line_number);
    if (tag == "end") return TakeEnd(*f);
    if (tag == "partly") {
      m_facts.partly = (*f)[1];
    } else {
      m_facts.undone = (*f)[1];
    }
    return {};
  }

  std::string TakeEnd(const std::vector<std::string>& f) {
    std::size_t contacts = 0;
    std::size_t numbers = 0;
    if (!ParseNumber(f[1], contacts) || !ParseNumber(f[2], numbers)) {
      return DamagedText(m_line_number);
    }
    if (contacts != m_facts.contacts + m_facts.damaged ||
        (m_facts.damaged == 0 && numbers != m_facts.numbers)) {
      return "is damaged: its closing line counts " + f[1] + " contacts and " + f[2] +
             " numbers, but " + std::to_string(m_facts.contacts + m_facts.damaged) +
             " contacts are recorded";
    }
    m_facts.closed = true;
    return {};
  }

  // A version 1 line: no sums, no closing line.
  std::string TakeOldLine() {
    const auto fields = SplitRecordLine(m_line);
    if (!fields) return DamagedText(m_line_number);
    const std::vector<std::string>& f = *fields;
    RecordedContact contact;
    FieldChange change;
    if (f[0] == "contact" && ParseContact(f, 1, contact)) {
      Ready();
      contact.line = m_line_number;
      m_pending = std::move(contact);
    } else if (m_pending && ParseField(f, change)) {
      m_pending->changes.push_back(std::move(change));
    } else if (m_pending && f[0] == "saved" && f.size() == 2 && !HoldsControl(f[1])) {
      m_pending->identity.tag = f[1];
    } else if (f[0] == "store" && f.size() == 3) {
      m_facts.store = {f[1], f[2]};
    } else if (f[0] == "started" && f.size() == 3) {
      m_facts.started = f[1];
      m_facts.started_text = f[2];
    } else if ((f[0] == "undone" || f[0] == "partly") && f.size() == 2) {
      Ready();
      (f[0] == "undone" ? m_facts.undone : m_facts.partly) = f[1];
    } else {
      return DamagedText(m_line_number);
    }
    return {};
  }

  std::istream& m_in;
  std::string m_line;
  std::size_t m_line_number = 0;
  UndoRecord m_facts;
  bool m_done = false;
  bool m_header_done = false;
  // The lines since the last sum, and their sum so far.
  std::vector<std::string> m_block;
  std::size_t m_block_first = 0;
  RecordSum m_block_sum;
  // The last contact read, which a "saved" line may still follow, and those ready to give.
  std::optional<RecordedContact> m_pending;
  std::deque<RecordedContact> m_ready;
};

Result<UndoRecord> ReadUndoRecord(const std::string& path) {
  namespace fs = std::filesystem;
  const auto failure = [&path](const std::string& why) {
    return Result<UndoRecord>::Failure("The undo record " + Quoted(path) + " " + why + ".");
  };
  std::error_code error;
  const fs::path where = PathFromUtf8(path);
  const fs::file_status status = fs::status(where, error);
  if (status.type() == fs::file_type::not_found) return failure("does not exist");
  if (error) return failure("cannot be read: " + ErrorText(error));
  if (!fs::is_regular_file(status)) return failure("is not a file");
  const std::uintmax_t size = fs::file_size(where, error);
  if (error) return failure("cannot be read: " + ErrorText(error));
  if (size > kMaxRecordBytes) return failure("is too large to be one");
  std::ifstream in(where, std::ios::binary);
  if (!in) return failure("cannot be read");

  RecordParser parser(in);
  RecordedContact contact;
  std::string why;
  while (parser.Next(contact, why)) {
  }
  if (!why.empty()) return failure(why);
  UndoRecord record = std::move(parser.Facts());
  record.path = path;
  record.name = Utf8FromPath(where.filename());
  if (record.name.ends_with(kRecordSuffix)) record.name.resize(record.name.size() - 5);
  if (parser.Lines() == 0) return failure("is empty or not an undo record of Dialmend");
  if (record.store.kind.empty() || record.started.empty()) {
    return failure("is incomplete: it does not say which store or when");
  }
  return record;
}

RecordedContactReader::RecordedContactReader(std::string path) : m_path(std::move(path)) {}

RecordedContactReader::~RecordedContactReader() = default;

Status RecordedContactReader::ReadChunk(std::size_t most, std::vector<RecordedContact>& chunk) {
  chunk.clear();
  if (m_failure) return *m_failure;
  const auto failed = [this, &chunk](const std::string& why) {
    chunk.clear();
    m_failure = Status::Failure("The undo record " + Quoted(m_path) + " " + why + ".", why);
    return *m_failure;
  };
  if (!m_parser) {
    m_in = std::make_unique<std::ifstream>(PathFromUtf8(m_path), std::ios::binary);
    if (!*m_in) return failed("cannot be read");
    m_parser = std::make_unique<RecordParser>(*m_in);
  }
  most = std::max<std::size_t>(most, 1);
  RecordedContact contact;
  std::string why;
  while (chunk.size() < most && m_parser->Next(contact, why)) chunk.push_back(std::move(contact));
  if (!why.empty()) return failed(why);
  return {};
}

std::string RecordedContactText(const RecordedContact& contact) {
  std::string text = "contact\t";
  EscapeField(contact.identity.where, text);
  text += '\t';
  text += std::to_string(contact.identity.card);
  text += '\t';
  EscapeField(contact.identity.tag, text);
  text += '\t';
  EscapeField(contact.name, text);
  text += '\t';
  EscapeField(contact.identity.key, text);
  text += '\n';
  for (const FieldChange& change : contact.changes) {
    text += "field\t";
    text += std::to_string(change.index);
    text += '\t';
    text += PhoneFieldLabel(change.field);
    text += '\t';
    EscapeField(change.old_number, text);
    text += '\t';
    EscapeField(change.new_number, text);
    if (!change.old_form.empty()) {
      text += '\t';
      EscapeField(change.old_form, text);
    }
    text += '\n';
  }
  text += SumLine(text);
  return text;
}

bool IsWritableNumber(std::string_view number) {
  return !HoldsControl(number);
}

bool IsWritableForm(std::string_view form) {
  for (std::size_t i = 0; i < form.size();) {
    const std::size_t end = form.find_first_of("\r\n", i);
    if (HoldsControl(form.substr(i, end == std::string_view::npos ? end : end - i))) return false;
    if (end == std::string_view::npos) return true;
    // A fold: one line end (CR LF, LF, CR, or CR CR LF) and then a space or a tab.
    std::size_t after = end;
    while (after < form.size() && (form[after] == '\r' || form[after] == '\n')) ++after;
    const std::string_view ending = form.substr(end, after - end);
    if ((ending != "\r\n" && ending != "\n" && ending != "\r" && ending != "\r\r\n") ||
        after == form.size() || (form[after] != ' ' && form[after] != '\t')) {
      return false;
    }
    i = after + 1;
  }
  return true;
}

}  // namespace dialmend
