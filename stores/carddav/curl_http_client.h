#pragma once

#include <memory>
#include <string>

#include "stores/carddav/http_client.h"

// HttpClient over libcurl: HTTPS verified against the system's certificates, redirects handed
// back to the caller, Basic and Digest authentication. Once the server has named
// the method it takes, the login goes with each request instead of after a refusal.

namespace dialmend {

// What the libcurl client is told once, for every request it sends.
struct CurlSettings {
  // A file of certificates trusted besides the system's (a private CA); empty for none.
  std::string ca_file;
  // False leaves only Digest, which never sends the password itself.
  bool basic_allowed = true;
  // Gives up on a server that sends nothing for this long.
  long stall_seconds = 30;
  long connect_seconds = 10;
};

// A client ready for its first request; the connection opens with that request.
[[nodiscard]] std::unique_ptr<HttpClient> MakeCurlClient(CurlSettings settings);

}  // namespace dialmend
