#include "stores/profile/default_search.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/reason.h"
#include "platform/utf8_path.h"
#include "stores/profile/chosen_store.h"
#include "stores/profile/profile_config.h"
#include "stores/thunderbird/thunderbird_store.h"
#include "stores/vcard_folder/vcard_folder_store.h"
#ifdef DIALMEND_HAVE_EDS
#include "stores/eds/eds_store.h"
#endif

namespace dialmend {

#ifndef _WIN32

namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
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

std::string Joined(const std::vector<std::string>& paths) {
  std::string text;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (i > 0) text += i + 1 == paths.size() ? " and " : ", ";
    text += Quoted(paths[i]);
  }
  return text;
}

// Where the default search found the contacts: the folders, and how they make one store.

Result<DefaultPlace> Problem(std::string text) {
  return Result<DefaultPlace>::Failure(std::move(text));
}

// khard's address books, each named in its configuration.
std::optional<Result<DefaultPlace>> Khard(const Environment& env, const std::string& home,
                                          const std::string& config_home,
                                          std::vector<std::string>& tried) {
  if (config_home.empty()) return std::nullopt;
  const std::string khard = config_home + "/khard/khard.conf";
  ReadConfig read = Read(env, khard, ParseKhardConfig);
  if (!read.problem.empty()) return Problem(std::move(read.problem));
  if (read.found && !read.books.books.empty()) {
    if (Status checked = CheckBooks(read.books.books, home, khard, "khard's address book");
        !checked.Ok()) {
      return Problem(checked.Message());
    }
    std::vector<std::string> paths;
    std::vector<std::string> names;
    for (ConfiguredBook& book : read.books.books) {
      paths.push_back(std::move(book.path));
      names.push_back(std::move(book.name));
    }
    std::string found = "The default search found khard's address books: " + Joined(paths);
    return DefaultPlace{
        DefaultPlace::Layout::Books, std::move(paths), std::move(names), {}, {}, std::move(found)};
  }
  tried.push_back(khard);
  return std::nullopt;
}

// vdirsyncer's local storages, in its own order of configuration files: the first there is the one.
std::optional<Result<DefaultPlace>> Vdirsyncer(const Environment& env, const std::string& home,
                                               const std::string& config_home,
                                               std::vector<std::string>& tried) {
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
    std::vector<std::string> paths;
    for (ConfiguredBook& storage : storages) paths.push_back(std::move(storage.path));
    std::string found = "The default search found vdirsyncer's storage " + Joined(paths);
    const auto layout =
        paths.size() == 1 ? DefaultPlace::Layout::OneStore : DefaultPlace::Layout::Storages;
    return DefaultPlace{layout, std::move(paths), {}, {}, {}, std::move(found)};
  }
  return std::nullopt;
}

// GNOME's address books. EDS makes its address-book folders when a program first opens a book
// (GNOME Contacts, an online account's books): with neither there is nothing of it to update.
std::optional<DefaultPlace> Eds(const Environment& env, const std::string& home,
                                std::vector<std::string>& tried) {
#ifdef DIALMEND_HAVE_EDS
  for (const auto& [variable, fallback] :
       {std::pair{"XDG_DATA_HOME", "/.local/share"}, std::pair{"XDG_CACHE_HOME", "/.cache"}}) {
    std::string base = env.variable(variable).value_or("");
    if (!base.starts_with("/")) base = home.empty() ? "" : home + fallback;
    if (base.empty()) continue;
    const std::string books = base + "/evolution/addressbook";
    if (!NotAFolder(books)) {
      return DefaultPlace{DefaultPlace::Layout::Eds,
                          {"eds:"},
                          {},
                          {},
                          {},
                          "The default search found GNOME's address books (" + Quoted(books) + ")"};
    }
    tried.push_back(books);
  }
#else
  (void)env;
  (void)home;
  (void)tried;
#endif
  return std::nullopt;
}

// Thunderbird's default profile, when Thunderbird has made its personal address book there.
std::optional<DefaultPlace> Thunderbird(const Environment& env, std::vector<std::string>& tried) {
  const std::string root = ThunderbirdFolder(env);
  if (root.empty()) return std::nullopt;
  const std::string ini = root + "/profiles.ini";
  const FileText file = env.read_file(ini);
  tried.push_back(ini);
  if (!file.exists || !file.error.empty()) return std::nullopt;
  Result<ThunderbirdPlace> chosen = ChooseThunderbirdProfile(file.text, root, "");
  std::error_code error;
  if (!chosen.Ok() || !fs::exists(PathFromUtf8(chosen.Value().path) / "abook.sqlite", error)) {
    return std::nullopt;
  }
  tried.pop_back();
  ThunderbirdPlace& place = chosen.Value();
  std::string found = "The default search found Thunderbird's profile \"" + place.name + "\" (" +
                      Quoted(place.path) + ")";
  return DefaultPlace{
      DefaultPlace::Layout::Thunderbird, {place.path}, {}, place.name, {}, std::move(found)};
}

// KDE's vCard folders.
std::optional<DefaultPlace> Kde(const Environment& env, std::vector<std::string>& tried) {
  std::string agents;
  std::vector<KdeBook> books = FindKdeBooks(env, &agents);
  if (books.empty()) {
    if (!agents.empty()) tried.push_back(agents);
    return std::nullopt;
  }
  std::vector<std::string> paths;
  std::string found = "The default search found KDE's address books: ";
  for (const KdeBook& book : books) {
    found +=
        (paths.empty() ? "\"" : ", \"") + book.book.name + "\" (" + Quoted(book.book.path) + ")";
    paths.push_back(book.book.path);
  }
  return DefaultPlace{DefaultPlace::Layout::Kde, std::move(paths), {}, {},
                      std::move(books),          std::move(found)};
}

}  // namespace

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

Result<DefaultPlace> FindDefault(const Environment& env) {
  const std::string home = env.variable("HOME").value_or("");
  std::string config_home = env.variable("XDG_CONFIG_HOME").value_or("");
  // A relative XDG_CONFIG_HOME is invalid and ignored.
  if (!config_home.starts_with("/")) config_home = home.empty() ? "" : home + "/.config";
  std::vector<std::string> tried;
  if (auto khard = Khard(env, home, config_home, tried)) return std::move(*khard);
  if (auto vdirsyncer = Vdirsyncer(env, home, config_home, tried)) return std::move(*vdirsyncer);
  if (auto eds = Eds(env, home, tried)) return std::move(*eds);
  if (auto thunderbird = Thunderbird(env, tried)) return std::move(*thunderbird);
  if (auto kde = Kde(env, tried)) return std::move(*kde);
  if (!home.empty()) {
    const std::string contacts = home + "/.contacts";
    if (!NotAFolder(contacts)) {
      return DefaultPlace{DefaultPlace::Layout::OneStore,
                          {contacts},
                          {},
                          {},
                          {},
                          "The default search found " + Quoted(contacts)};
    }
    tried.push_back(contacts);
  }
  std::string why = "no address books found";
  if (home.empty()) why += " (HOME is not set)";
  if (!tried.empty()) why += "; tried " + Joined(tried);
  return Problem(why + "; name the store with --profile");
}

ProfileChoice OpenDefault(DefaultPlace place) {
  using Layout = DefaultPlace::Layout;
  std::unique_ptr<ContactStore> store;
  switch (place.layout) {
    case Layout::OneStore:
      store = MakeVCardStore(std::move(place.paths.front()));
      break;
    case Layout::Books:
    case Layout::Storages: {
      std::vector<VCardBook> books;
      for (std::string& path :
           place.layout == Layout::Books ? place.paths : Collections(place.paths)) {
        books.push_back({std::move(path), {}, CardNaming::VcfFiles});
      }
      store = MakeVCardBooksStore(std::move(books));
      break;
    }
    case Layout::Thunderbird:
      store = MakeThunderbirdStore(std::move(place.paths.front()), std::move(place.name));
      break;
    case Layout::Kde:
      return ProfileChoice(MakeKdeStore(std::move(place.kde), std::move(place.found)));
    case Layout::Eds:
#ifdef DIALMEND_HAVE_EDS
      store = MakeEdsStore();
      break;
#else
      return ProfileChoice::Failure(
          "GNOME's address books (Evolution Data Server) are not in this build");
#endif
  }
  return ProfileChoice(WithExtras(std::move(store), {std::move(place.found), {}}));
}

#endif

}  // namespace dialmend
