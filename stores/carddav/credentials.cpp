#include "stores/carddav/credentials.h"

#include <libsecret/secret.h>

#include <utility>
#include <vector>

#include "platform/reason.h"
#include "platform/utf8.h"

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

// One word of a .netrc as it stands in the text: a run of non-space, or the inside of "quotes"
// with backslash escapes. Kept as a view so the password is copied only into a SecretText.
struct Word {
  std::string_view raw;
  bool quoted = false;

  bool Is(std::string_view keyword) const { return !quoted && raw == keyword; }
  // Appends the word's text to `out`, its escapes undone; gives the end of what was written.
  char* CopyTo(char* out) const {
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (quoted && raw[i] == '\\' && i + 1 < raw.size()) ++i;
      *out++ = raw[i];
    }
    return out;
  }
  std::string Text() const {
    std::string text(raw.size(), '\0');
    text.resize(static_cast<std::size_t>(CopyTo(text.data()) - text.data()));
    return text;
  }
  SecretText Secret() const {
    SecretText secret = SecretText::WithRoom(raw.size());
    if (secret.Data() != nullptr) {
      secret.Shorten(static_cast<std::size_t>(CopyTo(secret.Data()) - secret.Data()));
    }
    return secret;
  }
};

// The words of a .netrc; a macdef's body (up to an empty line) is left out, as it holds no login.
std::vector<Word> NetrcWords(std::string_view text) {
  std::vector<Word> words;
  std::size_t at = 0;
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (at < text.size()) {
    if (space(text[at])) {
      ++at;
      continue;
    }
    Word word;
    if (text[at] == '"') {
      const std::size_t begin = ++at;
      for (; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\' && at + 1 < text.size()) ++at;
      }
      word = {text.substr(begin, at - begin), true};
      ++at;
    } else {
      const std::size_t begin = at;
      while (at < text.size() && !space(text[at])) ++at;
      word = {text.substr(begin, at - begin), false};
    }
    if (!words.empty() && words.back().Is("macdef")) {
      words.pop_back();
      const std::size_t end = text.find("\n\n", at);
      at = end == std::string_view::npos ? text.size() : end + 2;
      continue;
    }
    words.push_back(word);
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
  const std::string wanted_host = AsciiLower(host);
  const std::vector<Word> words = NetrcWords(netrc);
  // The entry that fits, as the words of its login and password.
  std::optional<std::pair<const Word*, const Word*>> fallback;
  for (std::size_t i = 0; i < words.size();) {
    const bool is_default = words[i].Is("default");
    if (!is_default && !words[i].Is("machine")) {
      ++i;
      continue;
    }
    std::string machine;
    if (!is_default && i + 1 < words.size()) machine = AsciiLower(words[i + 1].Text());
    i += is_default ? 1 : 2;
    const Word* login = nullptr;
    const Word* password = nullptr;
    while (i + 1 < words.size() && !words[i].Is("machine") && !words[i].Is("default")) {
      if (words[i].Is("login")) login = &words[i + 1];
      if (words[i].Is("password")) password = &words[i + 1];
      i += 2;
    }
    if (password == nullptr ||
        (!user.empty() && login != nullptr && !login->raw.empty() && login->Text() != user)) {
      continue;
    }
    if (is_default) {
      if (!fallback) fallback.emplace(login, password);
    } else if (machine == wanted_host) {
      fallback.emplace(login, password);
      break;
    }
  }
  if (!fallback) return std::nullopt;
  const auto [login, password] = *fallback;
  return Login{login != nullptr && !login->raw.empty() ? login->Text() : std::string(user),
               password->Secret()};
}

SecretLookup LookUpSecret(const std::string& server, const std::string& user) {
  SecretLookup lookup;
  GError* error = nullptr;
  gchar* password = secret_password_lookup_sync(Schema(), nullptr, &error, "server", server.c_str(),
                                                "user", user.c_str(), nullptr);
  if (error != nullptr) {
    lookup.problem = TakeMessage(error);
  } else if (password != nullptr) {
    // libsecret keeps it in memory of its own, and wipes it when freed.
    lookup.password.emplace(password);
  }
  if (password != nullptr) secret_password_free(password);
  return lookup;
}

Status StoreSecret(const std::string& server, const std::string& user, const SecretText& password) {
  GError* error = nullptr;
  const std::string label = "Dialmend: " + user + " at " + server;
  const gboolean stored = secret_password_store_sync(
      Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.CStr(), nullptr, &error,
      "server", server.c_str(), "user", user.c_str(), nullptr);
  if (!stored || error != nullptr) {
    const std::string why = TakeMessage(error);
    return Status::Failure("Cannot keep the password in the secret store: " + why, why);
  }
  return {};
}

}  // namespace dialmend
