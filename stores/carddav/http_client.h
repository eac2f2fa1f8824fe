#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "platform/secret_text.h"

// The little of HTTP the CardDAV store needs, behind an interface so each system can bring its
// own library. Nothing here throws: a request either gets the server's answer or says why none
// came.

namespace dialmend {

// One header line, its name in the case it was written.
struct HttpHeader {
  std::string name;
  std::string value;
};

// One request as sent: the body goes as it is, with no encoding added.
struct HttpRequest {
  std::string method;
  // The whole URL, scheme and host included.
  std::string url;
  std::vector<HttpHeader> headers;
  std::string body;
};

// The answer to a request, after any login challenge; a redirect is an answer like any other.
struct HttpResponse {
  long status = 0;
  // The status line's words ("Precondition Failed"); the standard ones when the server sent none.
  std::string reason;
  std::vector<HttpHeader> headers;
  std::string body;
  // The URL the request went to.
  std::string url;

  // The first header of that name, any case, or nullptr.
  [[nodiscard]] const std::string* Header(std::string_view name) const;
};

// Why a request got no answer.
enum class HttpFailure {
  // None came (refused, cut off, too slow, not trusted): the server may or may not have acted
  // on the request.
  NoAnswer,
  // The run stopped the wait.
  Stopped,
  // The answer was larger than a request may bring back.
  TooLarge,
};

// One connection to one server, kept alive from request to request.
class HttpClient {
 public:
  virtual ~HttpClient() = default;

  // The server's answer, whatever its status, or why there is none in words (the connection
  // was refused, it timed out, the certificate is not trusted). Never throws.
  [[nodiscard]] virtual Result<HttpResponse> Send(const HttpRequest& request) = 0;

  // Why the last Send() that failed got no answer.
  [[nodiscard]] virtual HttpFailure LastFailure() const = 0;

  // The user name and password sent from now on, to whatever URL a request names; never
  // written anywhere. An empty user sends no login at all.
  virtual void SetLogin(const std::string& user, SecretText password) = 0;
};

// The standard words for an HTTP status ("Not Found"), or empty text for one not known.
[[nodiscard]] std::string_view HttpStatusText(long status);

}  // namespace dialmend
