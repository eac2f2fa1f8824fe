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
#include "stores/carddav/carddav_store.h"
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

ProfileChoice ServerProfile(std::string_view named, const Environment& env,
                            const ServerAccess& server) {
  CardDavSettings settings;
  settings.ca_file = server.ca_file;
  settings.ask_password = server.ask_password;
  settings.stop = server.stop_waiting;
  // curl would read HOME's .netrc too; naming it here lets the environment given decide.
  if (auto home = env.variable("HOME"); home && !home->empty()) {
    settings.netrc_file = *home + "/.netrc";
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
std::vector<std::string> Collections(const std::vector<ConfiguredBook>& storages) {
  std::vector<std::string> books;
  for (const ConfiguredBook& storage : storages) {
    std::vector<std::string> found;
    std::error_code error;
    for (fs::directory_iterator it(PathFromUtf8(storage.path), error), end; !error && it != end;
         it.increment(error)) {
      const std::string name = Utf8FromPath(it->path().filename());
      std::error_code type_error;
      if (!name.starts_with(".") && it->is_directory(type_error)) {
        found.push_back(storage.path + "/" + name);
      }
    }
    // A storage that cannot be listed is still named, so its walk reports why.
    if (error) found = {storage.path};
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

ProfileChoice DefaultProfile(const Environment& env) {
  const std::string home = env.variable("HOME").value_or("");
  std::string config_home = env.variable("XDG_CONFIG_HOME").value_or("");
  // A relative XDG_CONFIG_HOME is invalid and ignored.
  if (!config_home.starts_with("/")) config_home = home.empty() ? "" : home + "/.config";
  std::vector<std::string> tried;

  if (!config_home.empty()) {
    const std::string khard = config_home + "/khard/khard.conf";
    ReadConfig read = Read(env, khard, ParseKhardConfig);
    if (!read.problem.empty()) return Problem(std::move(read.problem));
    if (read.found && !read.books.books.empty()) {
      if (Status checked = CheckBooks(read.books.books, home, khard, "khard's address book");
          !checked.Ok()) {
        return Problem(checked.Message());
      }
      std::vector<std::string> paths;
      for (ConfiguredBook& book : read.books.books) paths.push_back(std::move(book.path));
      return Chosen(MakeVCardBooksStore(std::move(paths)));
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
    if (!read.problem.empty()) return Problem(std::move(read.problem));
    tried.push_back(path);
    if (!read.found) continue;
    std::vector<ConfiguredBook>& storages = read.books.books;
    if (storages.empty()) break;
    if (Status checked = CheckBooks(storages, home, path, "vdirsyncer's storage"); !checked.Ok()) {
      return Problem(checked.Message());
    }
    if (storages.size() == 1) return Chosen(MakeVCardStore(std::move(storages.front().path)));
    return Chosen(MakeVCardBooksStore(Collections(storages)));
  }

  if (!home.empty()) {
    const std::string contacts = home + "/.contacts";
    if (!NotAFolder(contacts)) return Chosen(MakeVCardStore(contacts));
    tried.push_back(contacts);
  }
  std::string problem = "no address books found";
  if (home.empty()) problem += " (HOME is not set)";
  if (!tried.empty()) problem += "; tried " + Joined(tried);
  return Problem(problem + "; name the store with --profile");
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
    return Chosen(MakeOutlookStore());
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

}  // namespace dialmend
