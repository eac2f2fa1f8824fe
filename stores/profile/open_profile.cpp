#include "stores/profile/open_profile.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/environment.h"
#include "platform/reason.h"
#include "platform/utf8_path.h"
#include "stores/profile/default_search.h"
#include "stores/profile/desktop_books.h"
#include "stores/thunderbird/thunderbird_store.h"
#include "stores/vcard_file/vcard_file_store.h"
#include "stores/vcard_folder/vcard_folder_store.h"
#ifdef _WIN32
#include "stores/outlook/outlook_store.h"
#else
#include "stores/carddav/carddav_store.h"
#include "stores/carddav/dav_url.h"
#endif
#ifdef DIALMEND_HAVE_EDS
#include "stores/eds/eds_store.h"
#endif

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// How a profile names GNOME's address books, in every build.
constexpr std::string_view kEdsProfilePrefixText = "eds:";
#ifndef DIALMEND_HAVE_EDS
constexpr const char* kNoEds =
    "GNOME's address books (Evolution Data Server) are not in this build";
#endif

// A configuration file larger than this is not one.
constexpr std::uintmax_t kMaxConfigBytes = 1 << 20;

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

ProfileChoice Chosen(std::unique_ptr<ContactStore> store) {
  return store;
}
ProfileChoice Problem(std::string problem) {
  return ProfileChoice::Failure(std::move(problem));
}

bool EndsWithVcf(std::string_view path) {
  if (path.size() < 4) return false;
  std::string end(path.substr(path.size() - 4));
  for (char& c : end) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return end == ".vcf";
}

// An address rather than a path: http:// and https:// in any case.
bool IsAddress(std::string_view named) {
  std::string scheme(named.substr(0, 8));
  for (char& c : scheme) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return scheme.starts_with("https://") || scheme.starts_with("http://");
}

// What follows `prefix` ("thunderbird:") at the start of `named`, in any case; std::nullopt when
// `named` does not begin with it.
std::optional<std::string_view> After(std::string_view named, std::string_view prefix) {
  if (named.size() < prefix.size()) return std::nullopt;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = named[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return std::nullopt;
  }
  return named.substr(prefix.size());
}

constexpr std::string_view kThunderbird = "thunderbird:";
constexpr std::string_view kKde = "kde:";

// A desktop program's books named as `thunderbird:[PROFILE]` or `kde:`; std::nullopt for any
// other name.
std::optional<ProfileChoice> DesktopProfile(std::string_view named, const Environment& env) {
  if (const std::optional<std::string_view> wanted = After(named, kThunderbird)) {
    Result<ThunderbirdPlace> place = FindThunderbirdProfile(env, *wanted);
    if (!place.Ok()) return Problem(place.Message());
    return Chosen(MakeThunderbirdStore(place.Value().path, place.Value().name));
  }
#ifndef _WIN32
  if (After(named, kKde) && named.size() == kKde.size()) {
    std::string agents;
    std::vector<KdeBook> books = FindKdeBooks(env, &agents);
    if (books.empty()) {
      return Problem("KDE's address book has no vCard folders here" +
                     (agents.empty() ? std::string() : " (none in " + Quoted(agents) + ")"));
    }
    return Chosen(MakeKdeStore(std::move(books)));
  }
#endif
  return std::nullopt;
}

// Where a desktop program's books named so are, as the user should see it.
std::optional<Result<std::string>> DesktopPlace(std::string_view named, const Environment& env) {
  if (const std::optional<std::string_view> wanted = After(named, kThunderbird)) {
    Result<ThunderbirdPlace> place = FindThunderbirdProfile(env, *wanted);
    if (!place.Ok()) return Result<std::string>::Failure(place.Message());
    return place.Value().path;
  }
#ifndef _WIN32
  if (After(named, kKde) && named.size() == kKde.size()) {
    std::string text;
    for (const KdeBook& book : FindKdeBooks(env)) {
      text += (text.empty() ? "" : "; ") + book.book.path;
    }
    if (text.empty())
      return Result<std::string>::Failure("KDE's address book has no vCard folders");
    return text;
  }
#endif
  return std::nullopt;
}

// GNOME's address books: "eds:", and the name of one book or account after it.
bool IsEds(std::string_view named) {
  return named.starts_with(kEdsProfilePrefixText);
}

#ifndef _WIN32

ProfileChoice ServerProfile(std::string_view named, const Environment& env,
                            const ServerAccess& server) {
  CardDavSettings settings;
  settings.ca_file = server.ca_file;
  settings.ask_password = server.ask_password;
  settings.remember_given = server.remember_given;
  settings.stop = server.stop_waiting;
  // curl would read HOME's .netrc too; naming it here lets the environment given decide.
  if (auto home = env.variable("HOME"); home && !home->empty()) {
    settings.netrc_file = *home + "/.netrc";
  }
  Result<std::unique_ptr<ContactStore>> store = MakeCardDavStore(named, std::move(settings));
  if (!store.Ok()) return Problem(store.Message());
  return Chosen(std::move(store.Value()));
}

#endif

}  // namespace

Environment SystemEnvironment() {
  return {EnvironmentVariable, [](const std::string& path) {
            FileText file;
            std::error_code error;
            const fs::path where = PathFromUtf8(path);
            const fs::file_status status = fs::status(where, error);
            if (status.type() == fs::file_type::not_found) return file;
            file.exists = true;
            if (error) {
              file.error = ErrorText(error);
            } else if (!fs::is_regular_file(status)) {
              file.error = "it is not a file";
            } else if (fs::file_size(where, error) > kMaxConfigBytes && !error) {
              file.error = "it is larger than 1 MiB, which is not a configuration";
            } else {
              std::ifstream in(where, std::ios::binary);
              file.text.assign(std::istreambuf_iterator<char>(in), {});
              if (!in && !in.eof()) file.error = "it cannot be read";
            }
            return file;
          }};
}

ProfileChoice OpenProfile(std::string_view named, const Environment& env,
                          const ServerAccess& server) {
  if (IsEds(named)) {
#ifdef DIALMEND_HAVE_EDS
    EdsSettings settings;
    settings.book = named.substr(std::string_view(kEdsProfilePrefixText).size());
    return Chosen(MakeEdsStore(std::move(settings)));
#else
    return Problem(Quoted(std::string(named)) + ": " + kNoEds);
#endif
  }
  if (IsAddress(named)) {
#ifdef _WIN32
    (void)server;
    return Problem(Quoted(std::string(named)) +
                   ": address books on a server are not supported on Windows yet");
#else
    return ServerProfile(named, env, server);
#endif
  }
  if (std::optional<ProfileChoice> desktop = DesktopProfile(named, env)) return std::move(*desktop);
  if (named.empty()) {
#ifdef _WIN32
    (void)env;
    OutlookStoreOptions options;
    options.waiting = server.waiting;
    options.stop_waiting = server.stop_waiting;
    return Chosen(MakeOutlookStore(std::move(options)));
#else
    Result<DefaultPlace> found = FindDefault(env);
    if (!found.Ok()) return Problem(found.Message());
    return OpenDefault(std::move(found.Value()));
#endif
  }
  const std::string path(named);
  std::error_code error;
  const fs::file_status status = fs::status(PathFromUtf8(path), error);
  if (status.type() == fs::file_type::not_found)
    return Problem(Quoted(path) + ": there is no such file or folder");
  if (error) return Problem(Quoted(path) + ": " + ErrorText(error));
  // The folder's one listing, made by the store as its walk begins, tells its cards from its
  // address-book folders.
  if (fs::is_directory(status)) return Chosen(MakeVCardStore(path));
  if (fs::is_regular_file(status) && EndsWithVcf(path)) return Chosen(MakeVCardFileStore(path));
  return Problem(Quoted(path) + " is neither a folder nor a .vcf file");
}

Result<std::string> ProfilePlace(std::string_view named, const Environment& env) {
  if (std::optional<Result<std::string>> desktop = DesktopPlace(named, env)) {
    return std::move(*desktop);
  }
  if (!named.empty()) return std::string(named);
#ifdef _WIN32
  (void)env;
  return std::string("Outlook");
#else
  Result<DefaultPlace> found = FindDefault(env);
  if (!found.Ok()) return Result<std::string>::Failure(found.Message());
  std::string text;
  for (const std::string& path : found.Value().paths) {
    if (!text.empty()) text += "; ";
    text += path;
  }
  return text;
#endif
}

namespace {

// A folder of cards is rarely deeper than its address books' own folders; a folder chosen by
// mistake (the home folder, say) must not be searched to its end.
constexpr int kCardSearchDepth = 3;
constexpr int kCardSearchEntries = 20'000;

bool BeginsAsVCard(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char head[512] = {};
  in.read(head, sizeof head);
  std::string_view text(head, static_cast<std::size_t>(in.gcount()));
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' ||
                           text.front() == '\n')) {
    text.remove_prefix(1);
  }
  constexpr std::string_view kBegin = "begin:vcard";
  if (text.size() < kBegin.size()) return false;
  for (std::size_t i = 0; i < kBegin.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kBegin[i]) return false;
  }
  return true;
}

// Whether a .vcf file lies in `folder` or below it, breadth first, hidden entries passed over.
bool HoldsCards(const fs::path& folder) {
  std::vector<fs::path> level{folder};
  int entries = 0;
  for (int depth = 0; depth <= kCardSearchDepth && !level.empty(); ++depth) {
    std::vector<fs::path> next;
    for (const fs::path& dir : level) {
      std::error_code error;
      for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        if (++entries > kCardSearchEntries) return false;
        const std::string name = Utf8FromPath(it->path().filename());
        if (name.starts_with(".")) continue;
        std::error_code type_error;
        if (it->is_directory(type_error)) {
          next.push_back(it->path());
        } else if (EndsWithVcf(name) && it->is_regular_file(type_error)) {
          return true;
        }
      }
    }
    level = std::move(next);
  }
  return false;
}

}  // namespace

Status CheckProfile(std::string_view named) {
  if (IsEds(named)) {
#ifdef DIALMEND_HAVE_EDS
    return {};
#else
    return Status::Failure(kNoEds);
#endif
  }
  if (std::optional<Result<std::string>> desktop = DesktopPlace(named, SystemEnvironment())) {
    return desktop->Ok() ? Status() : Status::Failure(desktop->Message());
  }
  if (IsAddress(named)) {
#ifdef _WIN32
    return Status::Failure("address books on a server are not supported on Windows yet");
#else
    Result<DavUrl> parsed = ParseDavUrl(named);
    if (!parsed.Ok()) return Status::Failure(parsed.Message());
    return {};
#endif
  }
  const fs::path path = PathFromUtf8(std::string(named));
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::not_found) {
    return Status::Failure("there is no such file or folder");
  }
  if (error) return Status::Failure(ErrorText(error));
  if (fs::is_directory(status)) {
    fs::directory_iterator listing(path, error);
    if (error) return Status::Failure(ErrorText(error));
    if (!HoldsCards(path)) return Status::Failure("it holds no contact cards (.vcf files)");
    return {};
  }
  if (!fs::is_regular_file(status) || !EndsWithVcf(named)) {
    return Status::Failure("it is neither a folder nor a .vcf file");
  }
  if (!std::ifstream(path, std::ios::binary)) return Status::Failure("it cannot be opened");
  if (!BeginsAsVCard(path)) return Status::Failure("it is not a vCard file (no BEGIN:VCARD)");
  return {};
}

namespace {

// A profile that is not there: its Open() says why, and nothing else is asked of it.
class MissingStore : public ContactStore {
 public:
  explicit MissingStore(std::string problem) : m_problem(std::move(problem)) {}
  Status Open() override { return Status::Failure(m_problem); }
  std::string CurrentUser() override { throw StoreError("profile", m_problem); }
  std::unique_ptr<FolderCursor> Folders() override { throw StoreError("profile", m_problem); }

 private:
  std::string m_problem;
};

}  // namespace

std::unique_ptr<ContactStore> StoreOrProblem(ProfileChoice choice) {
  if (choice.Ok()) return std::move(choice.Value());
  return std::make_unique<MissingStore>(choice.Message());
}

std::optional<Result<FolderProfile>> FindFolderProfile(std::string_view named,
                                                       const Environment& env) {
  if (IsAddress(named)) return std::nullopt;
  if (!named.empty()) {
    std::error_code error;
    if (!fs::is_directory(PathFromUtf8(std::string(named)), error)) return std::nullopt;
    return FolderProfile{true, {std::string(named)}, {}};
  }
#ifdef _WIN32
  (void)env;
  return std::nullopt;
#else
  Result<DefaultPlace> found = FindDefault(env);
  if (!found.Ok()) return Result<FolderProfile>::Failure(found.Message());
  DefaultPlace& place = found.Value();
  switch (place.layout) {
    case DefaultPlace::Layout::OneStore:
      return FolderProfile{true, std::move(place.paths), {}};
    case DefaultPlace::Layout::Books:
      return FolderProfile{false, std::move(place.paths), std::move(place.names)};
    case DefaultPlace::Layout::Storages:
      return FolderProfile{false, Collections(place.paths), {}};
    case DefaultPlace::Layout::Eds:
    case DefaultPlace::Layout::Thunderbird:
    case DefaultPlace::Layout::Kde:
      break;
  }
  return std::nullopt;
#endif
}

}  // namespace dialmend
