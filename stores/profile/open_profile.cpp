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

#include "platform/reason.h"
#include "platform/utf8_path.h"
#include "stores/profile/profile_config.h"
#include "stores/vcard_file/vcard_file_store.h"
#include "stores/vcard_folder/vcard_folder_store.h"
#ifdef _WIN32
#include "stores/outlook/outlook_store.h"
#else
#include <sys/stat.h>

#include <cstdio>

#include "stores/carddav/carddav_store.h"
#include "stores/carddav/credentials.h"
#include "stores/carddav/dav_url.h"
#endif

namespace dialmend {
namespace {

namespace fs = std::filesystem;

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

#ifndef _WIN32

// Tells `warn` when `netrc` holds the login for the server at `url` but other users may read
// or change it. It is used all the same, as curl, git and vdirsyncer use it: the password has
// been open to them already, and a login that worked yesterday keeps working.
void WarnOfOpenNetrc(const std::string& netrc, std::string_view url, const Environment& env,
                     const std::function<void(const std::string&)>& warn) {
  struct stat info {};
  if (::stat(netrc.c_str(), &info) != 0 || (info.st_mode & (S_IRWXG | S_IRWXO)) == 0) return;
  const Result<DavUrl> parsed = ParseDavUrl(url);
  const FileText file = env.read_file(netrc);
  if (!parsed.Ok() || !file.error.empty() ||
      !NetrcLogin(file.text, parsed.Value().host, parsed.Value().user)) {
    return;
  }
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  warn("warning: " + netrc + " (mode " + mode + ") can be read by other users; its login for " +
       parsed.Value().host + " is used all the same: make it private with chmod 600 " + netrc);
}

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
    if (server.warn) WarnOfOpenNetrc(settings.netrc_file, named, env, server.warn);
  }
  Result<std::unique_ptr<ContactStore>> store = MakeCardDavStore(named, std::move(settings));
  if (!store.Ok()) return Problem(store.Message());
  return Chosen(std::move(store.Value()));
}

// Why `path` is not a folder the store can start from, or std::nullopt when it is one.
std::optional<std::string> NotAFolder(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(PathFromUtf8(path), error);
  if (status.type() == fs::file_type::not_found) return "it does not exist";
  if (error) return ErrorText(error);
  if (!fs::is_directory(status)) return "it is not a folder";
  return std::nullopt;
}

// What a configuration file says, or the problem with it; `found` false when it is not there.
struct ReadConfig {
  bool found = false;
  ConfiguredBooks books;
  std::string problem;
};

ReadConfig Read(const Environment& env, const std::string& path,
                ConfiguredBooks (*parse)(std::string_view)) {
  const FileText file = env.read_file(path);
  if (!file.exists) return {};
  if (!file.error.empty()) return {true, {}, "cannot read " + Quoted(path) + ": " + file.error};
  ConfiguredBooks books = parse(file.text);
  if (books.problem) {
    return {true,
            {},
            Quoted(path) + ", line " + std::to_string(books.problem->line) + ": " +
                books.problem->reason};
  }
  return {true, std::move(books), {}};
}

// Each configured path with `~` expanded, or the problem naming the one that is not a folder.
Status CheckBooks(std::vector<ConfiguredBook>& books, const std::string& home,
                  const std::string& config, std::string_view kind) {
  for (ConfiguredBook& book : books) {
    book.path = ExpandHome(book.path, home);
    if (auto why = NotAFolder(book.path)) {
      return Status::Failure(std::string(kind) + " \"" + book.name + "\" (" + Quoted(config) +
                             ", line " + std::to_string(book.line) + ") is at " +
                             Quoted(book.path) + ", but " + *why);
    }
  }
  return {};
}

// One folder per collection under each storage path: the store's address books.
std::vector<std::string> Collections(const std::vector<std::string>& storages) {
  std::vector<std::string> books;
  for (const std::string& storage : storages) {
    std::vector<std::string> found;
    std::error_code error;
    for (fs::directory_iterator it(PathFromUtf8(storage), error), end; !error && it != end;
         it.increment(error)) {
      const std::string name = Utf8FromPath(it->path().filename());
      std::error_code type_error;
      if (!name.starts_with(".") && it->is_directory(type_error)) {
        found.push_back(storage + "/" + name);
      }
    }
    // A storage that cannot be listed is still named, so its walk reports why.
    if (error) found = {storage};
    std::sort(found.begin(), found.end());
    std::move(found.begin(), found.end(), std::back_inserter(books));
  }
  return books;
}

std::string Joined(const std::vector<std::string>& paths) {
  std::string text;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (i > 0) text += i + 1 == paths.size() ? " and " : ", ";
    text += Quoted(paths[i]);
  }
  return text;
}

// Where the default search found the contacts: the folders, and how they make one store.
struct DefaultPlace {
  enum class Layout { OneStore, Books, Storages };
  Layout layout = Layout::OneStore;
  // One folder for OneStore; each an address book for Books; each a vdirsyncer storage of
  // address-book folders for Storages.
  std::vector<std::string> paths;
  // For Books, khard's name for each of `paths`.
  std::vector<std::string> names;
};

Result<DefaultPlace> FindDefault(const Environment& env) {
  using Layout = DefaultPlace::Layout;
  const auto problem = [](std::string text) {
    return Result<DefaultPlace>::Failure(std::move(text));
  };
  const std::string home = env.variable("HOME").value_or("");
  std::string config_home = env.variable("XDG_CONFIG_HOME").value_or("");
  // A relative XDG_CONFIG_HOME is invalid and ignored.
  if (!config_home.starts_with("/")) config_home = home.empty() ? "" : home + "/.config";
  std::vector<std::string> tried;

  if (!config_home.empty()) {
    const std::string khard = config_home + "/khard/khard.conf";
    ReadConfig read = Read(env, khard, ParseKhardConfig);
    if (!read.problem.empty()) return problem(std::move(read.problem));
    if (read.found && !read.books.books.empty()) {
      if (Status checked = CheckBooks(read.books.books, home, khard, "khard's address book");
          !checked.Ok()) {
        return problem(checked.Message());
      }
      std::vector<std::string> paths;
      std::vector<std::string> names;
      for (ConfiguredBook& book : read.books.books) {
        paths.push_back(std::move(book.path));
        names.push_back(std::move(book.name));
      }
      return DefaultPlace{Layout::Books, std::move(paths), std::move(names)};
    }
    tried.push_back(khard);
  }

  // vdirsyncer's own order; the first file that is there is the configuration.
  std::vector<std::string> vdirsyncer;
  if (auto named = env.variable("VDIRSYNCER_CONFIG"); named && !named->empty()) {
    vdirsyncer.push_back(*named);
  }
  if (!home.empty()) vdirsyncer.push_back(home + "/.vdirsyncer/config");
  if (!config_home.empty()) vdirsyncer.push_back(config_home + "/vdirsyncer/config");
  for (const std::string& path : vdirsyncer) {
    ReadConfig read = Read(env, path, ParseVdirsyncerConfig);
    if (!read.problem.empty()) return problem(std::move(read.problem));
    tried.push_back(path);
    if (!read.found) continue;
    std::vector<ConfiguredBook>& storages = read.books.books;
    if (storages.empty()) break;
    if (Status checked = CheckBooks(storages, home, path, "vdirsyncer's storage"); !checked.Ok()) {
      return problem(checked.Message());
    }
    std::vector<std::string> paths;
    for (ConfiguredBook& storage : storages) paths.push_back(std::move(storage.path));
    return DefaultPlace{
        paths.size() == 1 ? Layout::OneStore : Layout::Storages, std::move(paths), {}};
  }

  if (!home.empty()) {
    const std::string contacts = home + "/.contacts";
    if (!NotAFolder(contacts)) return DefaultPlace{Layout::OneStore, {contacts}, {}};
    tried.push_back(contacts);
  }
  std::string why = "no address books found";
  if (home.empty()) why += " (HOME is not set)";
  if (!tried.empty()) why += "; tried " + Joined(tried);
  return problem(why + "; name the store with --profile");
}

ProfileChoice DefaultProfile(const Environment& env) {
  Result<DefaultPlace> found = FindDefault(env);
  if (!found.Ok()) return Problem(found.Message());
  DefaultPlace& place = found.Value();
  switch (place.layout) {
    case DefaultPlace::Layout::OneStore:
      return Chosen(MakeVCardStore(std::move(place.paths.front())));
    case DefaultPlace::Layout::Books:
      return Chosen(MakeVCardBooksStore(std::move(place.paths)));
    case DefaultPlace::Layout::Storages:
      break;
  }
  return Chosen(MakeVCardBooksStore(Collections(place.paths)));
}

#endif

}  // namespace

Environment SystemEnvironment() {
  return {[](const char* name) -> std::optional<std::string> {
            const char* value = std::getenv(name);
            if (value == nullptr) return std::nullopt;
            return std::string(value);
          },
          [](const std::string& path) {
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
  if (IsAddress(named)) {
#ifdef _WIN32
    (void)server;
    return Problem(Quoted(std::string(named)) +
                   ": address books on a server are not supported on Windows yet");
#else
    return ServerProfile(named, env, server);
#endif
  }
  if (named.empty()) {
#ifdef _WIN32
    (void)env;
    OutlookStoreOptions options;
    options.waiting = server.waiting;
    return Chosen(MakeOutlookStore(std::move(options)));
#else
    return DefaultProfile(env);
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
  }
  return std::nullopt;
#endif
}

}  // namespace dialmend
