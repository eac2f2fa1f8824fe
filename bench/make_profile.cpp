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

#include "bench/profile_cards.h"

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
