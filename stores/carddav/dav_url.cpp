#include "stores/carddav/dav_url.h"
#include "platform/utf8.h"

#include <charconv>

namespace dialmend {
namespace {}  // namespace

std::string DavUrl::Origin() const {
  return std::string(tls ? "https://" : "http://") + host + (port.empty() ? "" : ":" + port);
}

std::string DavUrl::With(std::string_view other_path) const {
  return Origin() + EncodedPath(other_path);
}

bool LooksLikeUrl(std::string_view text) {
  const std::string lower = AsciiLower(text.substr(0, 8));
  return lower.starts_with("https://") || lower.starts_with("http://");
}

bool IsLoopbackHost(std::string_view host) {
  const std::string lower = AsciiLower(host);
  if (lower == "localhost" || lower == "[::1]" || lower == "::1") return true;
  // 127.0.0.0/8 written as four decimal numbers.
  if (!lower.starts_with("127.")) return false;
  int parts = 0;
  const char* at = lower.data();
  const char* end = lower.data() + lower.size();
  while (at < end) {
    unsigned value = 0;
    auto [next, error] = std::from_chars(at, end, value);
    if (error != std::errc() || value > 255) return false;
    ++parts;
    at = next;
    if (at == end) break;
    if (*at != '.') return false;
    ++at;
    if (at == end) return false;
  }
  return parts == 4;
}

Result<DavUrl> ParseDavUrl(std::string_view text) {
  using Parsed = Result<DavUrl>;
  const std::string quoted = "\"" + std::string(text) + "\"";
  DavUrl url;
  const std::string lower = AsciiLower(text.substr(0, 8));
  if (lower.starts_with("https://")) {
    text.remove_prefix(8);
  } else if (lower.starts_with("http://")) {
    url.tls = false;
    text.remove_prefix(7);
  } else {
    return Parsed::Failure(quoted + " is not an https:// address");
  }
  if (text.find_first_of("?#") != std::string_view::npos) {
    return Parsed::Failure(quoted + ": an address book's address has no \"?\" or \"#\" part");
  }
  const std::size_t slash = text.find('/');
  std::string_view authority = text.substr(0, slash);
  // Typed as users type it (a space, a "ü"): kept as the URL that names it.
  url.path = slash == std::string_view::npos ? "/" : EncodedPath(text.substr(slash));
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view login = authority.substr(0, at);
    if (login.find(':') != std::string_view::npos) {
      // The command line is seen by every user of the machine and kept in shell histories.
      return Parsed::Failure(
          "the address names a password; leave it out and give it in ~/.netrc, the desktop's "
          "secret store or when asked");
    }
    url.user = std::string(login);
    authority.remove_prefix(at + 1);
  }
  std::size_t port_colon = std::string_view::npos;
  if (authority.starts_with("[")) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return Parsed::Failure(quoted + ": the host has no \"]\"");
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return Parsed::Failure(quoted + ": the host cannot be read");
      port_colon = close + 1;
    }
  } else {
    port_colon = authority.find(':');
  }
  url.host = std::string(authority.substr(0, port_colon));
  if (port_colon != std::string_view::npos) {
    url.port = std::string(authority.substr(port_colon + 1));
    unsigned port = 0;
    auto [end, error] = std::from_chars(url.port.data(), url.port.data() + url.port.size(), port);
    if (url.port.empty() || error != std::errc() || end != url.port.data() + url.port.size() ||
        port == 0 || port > 65535) {
      return Parsed::Failure(quoted + ": \"" + url.port + "\" is not a port");
    }
  }
  if (url.host.empty()) return Parsed::Failure(quoted + " names no host");
  if (!url.tls && !IsLoopbackHost(url.host)) {
    return Parsed::Failure(quoted +
                           ": plain http:// would send the password and the contacts "
                           "unencrypted; use https:// (http:// is allowed only on this "
                           "machine's loopback address)");
  }
  return url;
}

std::string HrefPath(std::string_view href, std::string_view base_path) {
  const std::string lower = AsciiLower(href.substr(0, 8));
  if (lower.starts_with("https://") || lower.starts_with("http://")) {
    const std::size_t after_scheme = href.find("//") + 2;
    const std::size_t slash = href.find('/', after_scheme);
    return slash == std::string_view::npos ? "/" : std::string(href.substr(slash));
  }
  if (href.starts_with("/")) return std::string(href);
  const std::size_t last = base_path.rfind('/');
  return std::string(base_path.substr(0, last == std::string_view::npos ? 0 : last + 1)) +
         std::string(href);
}

std::string EncodedPath(std::string_view path) {
  static constexpr std::string_view kKept = "-._~!$&'()*+,;=:@/";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    const bool escape = c == '%' && i + 2 < path.size() && HexDigitValue(path[i + 1]) >= 0 &&
                        HexDigitValue(path[i + 2]) >= 0;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        kKept.find(c) != std::string_view::npos || escape) {
      encoded.push_back(c);
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    encoded += {'%', kHex[byte >> 4], kHex[byte & 15]};
  }
  return encoded;
}

std::string DecodedPath(std::string_view path) {
  std::string decoded;
  decoded.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '%' && i + 2 < path.size()) {
      const int high = HexDigitValue(path[i + 1]);
      const int low = HexDigitValue(path[i + 2]);
      if (high >= 0 && low >= 0) {
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    decoded.push_back(path[i]);
  }
  return decoded;
}

std::string LastSegment(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  if (slash != std::string_view::npos && slash + 1 < path.size()) path.remove_prefix(slash + 1);
  return DecodedPath(path);
}

}  // namespace dialmend
