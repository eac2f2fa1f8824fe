#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "stores/carddav/http_client.h"

// HttpClient over libcurl: HTTPS verified against the system's certificates, redirects handed
// back to the caller, Basic and Digest authentication. Once the server has named the method
// it takes, the login goes with each request instead of after a refusal, and Digest's state is
// kept from request to request. A PUT is never sent twice unless the server answered the first
// (a login challenge).

namespace dialmend {

// What the libcurl client is told once, for every request it sends.
struct CurlSettings {
  // A file of certificates trusted besides the system's (a private CA); empty for none.
  std::string ca_file;
  // False leaves only Digest, which never sends the password itself.
  bool basic_allowed = true;
  // Gives up on a server that moves less than 1 KiB in this long (low-speed limit).
  long stall_seconds = 30;
  long connect_seconds = 10;
  // Gives up on a request that takes longer than this in all.
  long total_seconds = 600;
  // The most an answer may bring, headers and body, counted as unpacked.
  std::size_t most_bytes = std::size_t{64} << 20;
  // Asked about every twentieth of a second while a request waits, so the caller's window and
  // signals are answered: true ends the request. Time spent inside it (a pause) counts against
  // neither limit. Unset: a request runs until it ends or a limit is passed.
  std::function<bool()> stop;
};

// A client ready for its first request; the connection opens with that request.
[[nodiscard]] std::unique_ptr<HttpClient> MakeCurlClient(CurlSettings settings);

}  // namespace dialmend
