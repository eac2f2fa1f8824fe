#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"
#include "platform/secret_text.h"

// Where a CardDAV login comes from: a .netrc file and the desktop's secret store. A password
// found here stays in a SecretText and goes only to the HTTP client.

namespace dialmend {

// A user name and its password.
struct Login {
  std::string user;
  SecretText password;
};

// The login a .netrc file's text gives for `host` (any case, without IPv6 brackets): the entry
// for that machine and `user`, or with `user` empty its first entry for the machine; else the
// "default" entry. std::nullopt when none fits or the entry has no password.
[[nodiscard]] std::optional<Login> NetrcLogin(std::string_view netrc, std::string_view host,
                                              std::string_view user);

// What the secret store holds for `user` at `server` ("https://host:port"): the password, or
// none with `problem` saying why when the store itself could not be asked.
struct SecretLookup {
  std::optional<SecretText> password;
  std::string problem;
};

// Looks the password up in the desktop's secret store (libsecret); never throws.
[[nodiscard]] SecretLookup LookUpSecret(const std::string& server, const std::string& user);

// Keeps the password in the desktop's secret store, replacing what it held for them.
[[nodiscard]] Status StoreSecret(const std::string& server, const std::string& user,
                                 const SecretText& password);

}  // namespace dialmend
