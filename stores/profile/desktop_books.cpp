#include "stores/profile/desktop_books.h"

#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/utf8_path.h"
#include "stores/profile/chosen_store.h"
#include "stores/profile/ini_file.h"
#ifndef _WIN32
#include "stores/kde/akonadi_reload.h"
#endif

namespace dialmend {
namespace {

namespace fs = std::filesystem;

bool IsFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(PathFromUtf8(path), error);
}

std::string Joined(const std::string& folder, const std::string& below) {
  return Utf8FromPath(PathFromUtf8(folder) / PathFromUtf8(below));
}

// The profile named `wanted` among `profiles`, by name.
std::optional<ThunderbirdPlace> Named(const std::vector<ThunderbirdPlace>& profiles,
                                      std::string_view wanted) {
  for (const ThunderbirdPlace& profile : profiles) {
    if (profile.name == wanted) return profile;
  }
  return std::nullopt;
}

}  // namespace

std::string ThunderbirdFolder(const Environment& env) {
#ifdef _WIN32
  const std::optional<std::string> base = env.variable("APPDATA");
  return base && !base->empty() ? Joined(*base, "Thunderbird") : std::string();
#else
  const std::optional<std::string> home = env.variable("HOME");
  return home && !home->empty() ? *home + "/.thunderbird" : std::string();
#endif
}

Result<ThunderbirdPlace> ChooseThunderbirdProfile(std::string_view ini, const std::string& root,
                                                  std::string_view wanted) {
  // Each [ProfileN]'s fields, in file order, and each installation's default.
  std::map<std::string, std::map<std::string, std::string>> sections;
  std::vector<std::string> order;
  std::optional<std::string> install_default;
  for (IniEntry& entry : ParseIni(ini, IniDialect::Plain)) {
    const std::size_t slash = entry.key.find('/');
    if (slash == std::string::npos) continue;
    const std::string section = entry.key.substr(0, slash);
    const std::string field = entry.key.substr(slash + 1);
    if (section.starts_with("Install") && field == "Default" && !install_default) {
      install_default = entry.value;
    } else if (section.starts_with("Profile")) {
      if (!sections.contains(section)) order.push_back(section);
      sections[section][field] = std::move(entry.value);
    }
  }
  std::vector<ThunderbirdPlace> profiles;
  std::optional<std::size_t> marked;
  for (const std::string& section : order) {
    std::map<std::string, std::string>& fields = sections[section];
    if (fields["Path"].empty()) continue;
    const bool relative = fields["IsRelative"] != "0";
    std::string path = relative ? Joined(root, fields["Path"]) : fields["Path"];
    if (install_default && *install_default == fields["Path"]) marked = profiles.size();
    if (!marked && fields["Default"] == "1") marked = profiles.size();
    profiles.push_back({fields["Name"].empty() ? fields["Path"] : fields["Name"], std::move(path)});
  }
  if (!wanted.empty()) {
    if (std::optional<ThunderbirdPlace> named = Named(profiles, wanted)) return *named;
    std::string names;
    for (const ThunderbirdPlace& profile : profiles) {
      names += (names.empty() ? "" : ", ") + ("\"" + profile.name + "\"");
    }
    return Result<ThunderbirdPlace>::Failure(
        "Thunderbird has no profile \"" + std::string(wanted) + "\"" +
        (names.empty() ? std::string() : " (its profiles: " + names + ")"));
  }
  if (profiles.empty()) return Result<ThunderbirdPlace>::Failure("it names no profile");
  return profiles[marked.value_or(0)];
}

Result<ThunderbirdPlace> FindThunderbirdProfile(const Environment& env, std::string_view wanted) {
  // A profile folder named outright, as `thunderbird --profile` takes it.
  if (!wanted.empty() && IsFolder(std::string(wanted))) {
    const std::string path(wanted);
    return ThunderbirdPlace{Utf8FromPath(PathFromUtf8(path).filename()), path};
  }
  const std::string root = ThunderbirdFolder(env);
  if (root.empty()) {
    return Result<ThunderbirdPlace>::Failure(
        "Thunderbird's profiles cannot be found: its folder's variable is not set");
  }
  const std::string ini = Joined(root, "profiles.ini");
  const FileText file = env.read_file(ini);
  if (!file.exists) {
    return Result<ThunderbirdPlace>::Failure("Thunderbird has no profiles here (\"" + ini +
                                             "\" is not there)");
  }
  if (!file.error.empty()) {
    return Result<ThunderbirdPlace>::Failure("cannot read \"" + ini + "\": " + file.error);
  }
  Result<ThunderbirdPlace> chosen = ChooseThunderbirdProfile(file.text, root, wanted);
  if (!chosen.Ok() && wanted.empty()) {
    return Result<ThunderbirdPlace>::Failure("\"" + ini + "\": " + chosen.Message());
  }
  return chosen;
}

#ifndef _WIN32

namespace {

// The resources whose books are vCard folders, with the name KDE gives a new one.
const std::map<std::string, std::string, std::less<>>& FolderResources() {
  static const std::map<std::string, std::string, std::less<>> kinds = {
      {"akonadi_contacts_resource", "Personal Contacts"},
      {"akonadi_vcarddir_resource", "vCard Directory"}};
  return kinds;
}

// `value` with each $NAME and ${NAME} put in, as KConfig does for a "[$e]" key.
std::string Expanded(const std::string& value, const Environment& env) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '$' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    const bool braced = value[i + 1] == '{';
    std::size_t end = braced ? value.find('}', i + 2) : i + 1;
    if (braced && end == std::string::npos) {
      out += value.substr(i);
      break;
    }
    if (!braced) {
      while (end < value.size() &&
             (std::isalnum(static_cast<unsigned char>(value[end])) || value[end] == '_')) {
        ++end;
      }
    }
    const std::string name = value.substr(i + (braced ? 2 : 1), end - i - (braced ? 2 : 1));
    out += env.variable(name.c_str()).value_or("");
    i = braced ? end : end - 1;
  }
  return out;
}

// Whether `path` is `folder` or lies in it.
bool Within(const std::string& path, const std::string& folder) {
  const std::string normal = fs::path(path).lexically_normal().string();
  return normal.starts_with(folder) &&
         (normal.size() == folder.size() || normal[folder.size()] == '/');
}

std::string XdgFolder(const Environment& env, const char* variable, const char* below_home) {
  const std::string set = env.variable(variable).value_or("");
  // A relative path in an XDG variable is invalid and ignored.
  if (set.starts_with("/")) return set;
  const std::string home = env.variable("HOME").value_or("");
  return home.empty() ? std::string() : home + "/" + below_home;
}

// The folder the resource's own configuration names, or std::nullopt when it names none.
std::optional<std::string> ResourcePath(const Environment& env, const std::string& config_home,
                                        const std::string& resource) {
  const FileText file = env.read_file(config_home + "/" + resource + "rc");
  if (!file.exists || !file.error.empty()) return std::nullopt;
  for (const IniEntry& entry : ParseIni(file.text, IniDialect::Kde)) {
    if (entry.key == "General/Path" && !entry.value.empty()) {
      return entry.expand ? Expanded(entry.value, env) : entry.value;
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<KdeBook> FindKdeBooks(const Environment& env, std::string* config) {
  const std::string config_home = XdgFolder(env, "XDG_CONFIG_HOME", ".config");
  const std::string data_home = XdgFolder(env, "XDG_DATA_HOME", ".local/share");
  if (config_home.empty()) return {};
  const std::string agents = config_home + "/akonadi/agentsrc";
  if (config != nullptr) *config = agents;
  const FileText file = env.read_file(agents);
  if (!file.exists || !file.error.empty()) return {};
  std::vector<KdeBook> books;
  std::map<std::string, int> named;
  for (const IniEntry& entry : ParseIni(file.text, IniDialect::Kde)) {
    constexpr std::string_view kInstances = "Instances/";
    constexpr std::string_view kType = "/AgentType";
    if (!entry.key.starts_with(kInstances) || !entry.key.ends_with(kType)) continue;
    const auto kind = FolderResources().find(entry.value);
    if (kind == FolderResources().end()) continue;
    const std::string resource =
        entry.key.substr(kInstances.size(), entry.key.size() - kInstances.size() - kType.size());
    std::optional<std::string> path = ResourcePath(env, config_home, resource);
    if (!path && kind->first == "akonadi_contacts_resource" && !data_home.empty()) {
      path = data_home + "/contacts";
    }
    if (!path || !IsFolder(*path) || Within(*path, data_home + "/kpeoplevcard")) continue;
    std::string name = kind->second;
    if (const int seen = named[name]++; seen > 0) name += " " + std::to_string(seen + 1);
    const CardNaming naming =
        kind->first == "akonadi_vcarddir_resource" ? CardNaming::AnyFile : CardNaming::VcfFiles;
    books.push_back({resource, {std::move(*path), std::move(name), naming}});
  }
  return books;
}

std::unique_ptr<ContactStore> MakeKdeStore(std::vector<KdeBook> books, std::string found) {
  std::vector<VCardBook> folders;
  for (const KdeBook& book : books) folders.push_back(book.book);
  StoreExtras extras;
  extras.found = std::move(found);
  extras.after_update = [books = std::move(books)] {
    std::vector<StoreNote> notes;
    for (const KdeBook& book : books) {
      const Status reloaded = ReloadAkonadiResource(book.resource);
      notes.push_back({book.book.name,
                       reloaded.Ok() ? "KDE's address book was asked to read its cards again"
                                     : "KDE's address book must be restarted to see the changes "
                                       "(akonadictl restart): " +
                                           reloaded.Message()});
    }
    return notes;
  };
  return WithExtras(MakeVCardBooksStore(std::move(folders)), std::move(extras));
}

#endif

}  // namespace dialmend
