#pragma once

#include <memory>
#include <string>

#include "stores/carddav/http_client.h"

// HttpClient over libcurl: HTTPS verified against the system's certificates, redirects followed
// only within the scheme asked for, Basic and Digest authentication.

namespace dialmend {

struct CurlSettings {
  // A file of certificates trusted besides the system's (a private CA); empty for none.
  std::string ca_file;
  // The .netrc file to read logins from; empty for curl's own choice (~/.netrc).
  std::string netrc_file;
  // The user the URL names, for .netrc to find its password; may be empty.
  std::string user;
  // False leaves only Digest, which never sends the password itself.
  bool basic_allowed = true;
  // Gives up on a server that sends nothing for this long.
  long stall_seconds = 30;
  long connect_seconds = 10;
};

// A client ready for its first request; the connection opens with that request.
[[nodiscard]] std::unique_ptr<HttpClient> MakeCurlClient(CurlSettings settings);

}  // namespace dialmend
