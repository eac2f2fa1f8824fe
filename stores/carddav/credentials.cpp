#include "stores/carddav/credentials.h"

#include <libsecret/secret.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

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

std::string TakeMessage(GError* error) {
  std::string message =
      error != nullptr && error->message != nullptr ? error->message : "it gave no reason";
  if (error != nullptr) g_error_free(error);
  return AsReason(message);
}

}  // namespace

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

std::optional<std::string> AskPasswordOnTerminal(const std::string& prompt) {
  if (::isatty(STDIN_FILENO) == 0) return std::nullopt;
  termios saved{};
  if (::tcgetattr(STDIN_FILENO, &saved) != 0) return std::nullopt;
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) return std::nullopt;
  std::string password;
  const bool read = static_cast<bool>(std::getline(std::cin, password));
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  if (!read) return std::nullopt;
  return password;
}

}  // namespace dialmend
