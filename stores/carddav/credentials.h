#pragma once

#include <optional>
#include <string>

#include "platform/result.h"

// Where a CardDAV password comes from besides ~/.netrc (which curl reads itself): the desktop's
// secret store and the terminal. A password found here goes only to the HTTP client.

namespace dialmend {

// What the secret store holds for `user` at `server` ("https://host:port"): the password, or
// none with `problem` saying why when the store itself could not be asked.
struct SecretLookup {
  std::optional<std::string> password;
  std::string problem;
};

// Looks the password up in the desktop's secret store (libsecret); never throws.
[[nodiscard]] SecretLookup LookUpSecret(const std::string& server, const std::string& user);

// Keeps the password in the desktop's secret store, replacing what it held for them.
[[nodiscard]] Status StoreSecret(const std::string& server, const std::string& user,
                                 const std::string& password);

// Shows `prompt` on standard error and reads a line from standard input without echo; only
// when standard input is a terminal, else std::nullopt at once.
[[nodiscard]] std::optional<std::string> AskPasswordOnTerminal(const std::string& prompt);

}  // namespace dialmend
