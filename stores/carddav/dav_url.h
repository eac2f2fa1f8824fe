#pragma once

#include <string>
#include <string_view>

#include "platform/result.h"

// The address of a CardDAV server or collection as the user writes it, and the addresses its
// answers hold.

namespace dialmend {

// An address read by ParseDavUrl: where the server is, who logs in, and where to start.
struct DavUrl {
  bool tls = true;
  // Empty when the URL names none.
  std::string user;
  // As written, brackets around an IPv6 address kept.
  std::string host;
  // Empty for the scheme's own.
  std::string port;
  // Starts with "/"; "/" when the URL has no path.
  std::string path;

  // "https://host[:port]", without user or path.
  [[nodiscard]] std::string Origin() const;
  // Origin() followed by `path`, encoded as EncodedPath does.
  [[nodiscard]] std::string With(std::string_view path) const;
};

// Whether `text` is meant as a server address rather than a file ("https://", "http://").
[[nodiscard]] bool LooksLikeUrl(std::string_view text);

// Reads https://[user@]host[:port][/path]. Refuses another scheme, a password written in the
// URL, a query or fragment, and plain http:// to a host that is not this machine's loopback.
[[nodiscard]] Result<DavUrl> ParseDavUrl(std::string_view text);

// Whether `host` is 127.0.0.0/8, ::1 or localhost.
[[nodiscard]] bool IsLoopbackHost(std::string_view host);

// The path an href names, seen from `base_path` (the path of the request it answered); a
// full URL gives its path.
[[nodiscard]] std::string HrefPath(std::string_view href, std::string_view base_path);

// The last segment of `path`, trailing "/" left out and %XX escapes decoded, for a name users
// read.
[[nodiscard]] std::string LastSegment(std::string_view path);

// `path` fit for a URL: each byte a path may not hold as it stands (a space, raw UTF-8, a "%"
// that starts no escape) written as %XX; escapes already there are kept.
[[nodiscard]] std::string EncodedPath(std::string_view path);

// `path` with %XX escapes decoded, so two spellings of one path compare equal.
[[nodiscard]] std::string DecodedPath(std::string_view path);

}  // namespace dialmend
