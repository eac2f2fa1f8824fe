#include "stores/carddav/credentials.h"

#include <libsecret/secret.h>

#include <vector>

#include "platform/reason.h"

namespace dialmend {
namespace {

const SecretSchema* Schema() {
  static const SecretSchema schema = {"org.dialmend.CardDAV",
                                      SECRET_SCHEMA_NONE,
                                      {{"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                      0,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr};
  return &schema;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// The words of a .netrc: runs of non-space, or "quoted" with backslash escapes; a macdef's
// body (up to an empty line) is left out, as it holds no login.
std::vector<std::string> NetrcWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (at < text.size()) {
    if (space(text[at])) {
      ++at;
      continue;
    }
    std::string word;
    if (text[at] == '"') {
      for (++at; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\' && at + 1 < text.size()) ++at;
        word.push_back(text[at]);
      }
      ++at;
    } else {
      while (at < text.size() && !space(text[at])) word.push_back(text[at++]);
    }
    if (!words.empty() && words.back() == "macdef") {
      words.pop_back();
      const std::size_t end = text.find("\n\n", at);
      at = end == std::string_view::npos ? text.size() : end + 2;
      continue;
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::string TakeMessage(GError* error) {
  std::string message =
      error != nullptr && error->message != nullptr ? error->message : "it gave no reason";
  if (error != nullptr) g_error_free(error);
  return AsReason(message);
}

}  // namespace

std::optional<Login> NetrcLogin(std::string_view netrc, std::string_view host,
                                std::string_view user) {
  if (host.starts_with("[") && host.ends_with("]")) host = host.substr(1, host.size() - 2);
  const std::string wanted_host = Lower(host);
  const std::vector<std::string> words = NetrcWords(netrc);
  std::optional<Login> fallback;
  for (std::size_t i = 0; i < words.size();) {
    const bool is_default = words[i] == "default";
    if (!is_default && words[i] != "machine") {
      ++i;
      continue;
    }
    std::string machine;
    if (!is_default && i + 1 < words.size()) machine = Lower(words[i + 1]);
    i += is_default ? 1 : 2;
    Login login;
    bool has_password = false;
    while (i + 1 < words.size() && words[i] != "machine" && words[i] != "default") {
      if (words[i] == "login") login.user = words[i + 1];
      if (words[i] == "password") {
        login.password = words[i + 1];
        has_password = true;
      }
      i += 2;
    }
    if (!has_password || (!user.empty() && !login.user.empty() && login.user != user)) continue;
    if (login.user.empty()) login.user = std::string(user);
    if (is_default) {
      if (!fallback) fallback = std::move(login);
    } else if (machine == wanted_host) {
      return login;
    }
  }
  return fallback;
}

SecretLookup LookUpSecret(const std::string& server, const std::string& user) {
  SecretLookup lookup;
  GError* error = nullptr;
  gchar* password = secret_password_lookup_sync(Schema(), nullptr, &error, "server", server.c_str(),
                                                "user", user.c_str(), nullptr);
  if (error != nullptr) {
    lookup.problem = TakeMessage(error);
  } else if (password != nullptr) {
    lookup.password = std::string(password);
  }
  if (password != nullptr) secret_password_free(password);
  return lookup;
}

Status StoreSecret(const std::string& server, const std::string& user,
                   const std::string& password) {
  GError* error = nullptr;
  const std::string label = "Dialmend: " + user + " at " + server;
  const gboolean stored = secret_password_store_sync(
      Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(), nullptr, &error,
      "server", server.c_str(), "user", user.c_str(), nullptr);
  if (!stored || error != nullptr) {
    const std::string why = TakeMessage(error);
    return Status::Failure("Cannot keep the password in the secret store: " + why, why);
  }
  return {};
}

}  // namespace dialmend
