#include "stores/carddav/curl_http_client.h"

#include <curl/curl.h>

#include <mutex>
#include <string_view>
#include <utility>

#include "platform/reason.h"

namespace dialmend {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

std::string Seconds(long count) {
  return std::to_string(count) + (count == 1 ? " second" : " seconds");
}

// OpenSSL's text without its code ("error:0A00010B:SSL routines::wrong version number" is
// "wrong version number"), curl's without its "SSL certificate problem: ".
std::string TlsWords(std::string_view detail) {
  if (const std::size_t at = detail.rfind("::"); at != std::string_view::npos) {
    detail.remove_prefix(at + 2);
  }
  for (const std::string_view lead : {"SSL certificate problem: ", "SSL: "}) {
    if (detail.starts_with(lead)) detail.remove_prefix(lead.size());
  }
  return std::string(detail);
}

// Why no answer came, in words a user can act on; curl's own text where it says it best.
std::string ConnectionProblem(CURLcode code, std::string_view detail, bool tls,
                              const std::string& ca_file) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return "the host name is not known: check it in the address";
    case CURLE_COULDNT_CONNECT:
      return "nothing answers there: check the host and port in the address, and that the "
             "server is running";
    case CURLE_PEER_FAILED_VERIFICATION:
      if (detail.find("subject name") != std::string_view::npos) {
        return "its certificate is for another host name: give the address with the name the "
               "certificate names";
      }
      return "its certificate is not trusted (" + TlsWords(detail) +
             "): for a private certificate authority, give its certificate with --ca-file FILE";
    case CURLE_SSL_CACERT_BADFILE:
      return "the certificates in \"" + ca_file + "\" cannot be used (" + TlsWords(detail) + ")";
    case CURLE_SSL_CONNECT_ERROR:
      if (detail.find("wrong version number") != std::string_view::npos ||
          detail.find("packet length too long") != std::string_view::npos) {
        return "it answered in plain HTTP on a port asked for HTTPS: give its HTTPS port, or "
               "an http:// address if the server has no TLS";
      }
      return "the secure connection failed (" + TlsWords(detail) + ")";
    case CURLE_GOT_NOTHING:
      if (!tls) {
        return "it closed the connection without an answer: if it speaks only HTTPS, give an "
               "https:// address";
      }
      break;
    default:
      break;
  }
  return AsReason(std::string(detail.empty() ? curl_easy_strerror(code) : detail));
}

// Collects the answer as curl hands it over.
struct Reply {
  HttpResponse response;

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    static_cast<Reply*>(self)->response.body.append(data, size * count);
    return size * count;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    HttpResponse& response = static_cast<Reply*>(self)->response;
    const std::string_view line = Trimmed(std::string_view(data, size * count));
    if (line.starts_with("HTTP/")) {
      // A new answer (after a redirect, a challenge or "100 Continue"): only the last one counts.
      response.headers.clear();
      response.reason.clear();
      const std::size_t code = line.find(' ');
      const std::size_t words = code == std::string_view::npos ? code : line.find(' ', code + 1);
      if (words != std::string_view::npos)
        response.reason = std::string(Trimmed(line.substr(words)));
    } else if (const std::size_t colon = line.find(':'); colon != std::string_view::npos) {
      response.headers.push_back({std::string(Trimmed(line.substr(0, colon))),
                                  std::string(Trimmed(line.substr(colon + 1)))});
    }
    return size * count;
  }
};

class CurlHttpClient : public HttpClient {
 public:
  explicit CurlHttpClient(CurlSettings settings) : m_settings(std::move(settings)) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_curl = curl_easy_init();
  }
  ~CurlHttpClient() override {
    if (m_curl != nullptr) curl_easy_cleanup(m_curl);
  }
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  void SetLogin(const std::string& user, const std::string& password) override {
    m_user = user;
    m_password = password;
    m_has_password = true;
    m_auth = 0;
  }

  Result<HttpResponse> Send(const HttpRequest& request) override {
    if (m_curl == nullptr) return Result<HttpResponse>::Failure("the HTTP library cannot start");
    CURL* curl = m_curl;
    // The same handle keeps its connection; each request sets every option it relies on.
    curl_easy_reset(curl);
    Reply reply;
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (request.method == "GET") curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    if (!request.body.empty() || request.method == "PUT") {
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.body.size()));
    }
    curl_slist* headers = nullptr;
    for (const HttpHeader& header : request.headers) {
      headers = curl_slist_append(headers, (header.name + ": " + header.value).c_str());
    }
    // A round trip for "100 Continue" before each body only slows a walk down.
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Reply::OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, Reply::OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, m_settings.connect_seconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, m_settings.stall_seconds);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    // Redirects are the caller's to follow: only it knows where the login may go.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!m_settings.ca_file.empty()) {
      curl_easy_setopt(curl, CURLOPT_CAINFO, m_settings.ca_file.c_str());
    }
    if (m_has_password) {
      curl_easy_setopt(curl, CURLOPT_HTTPAUTH, m_auth != 0 ? m_auth : Allowed());
      curl_easy_setopt(curl, CURLOPT_USERNAME, m_user.c_str());
      curl_easy_setopt(curl, CURLOPT_PASSWORD, m_password.c_str());
    }
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);

    const CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    if (code == CURLE_OPERATION_TIMEDOUT) {
      // curl's words ("operation too slow. Less than 1 bytes/sec ...") say it less plainly.
      curl_off_t connected = 0;
      curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connected);
      return Result<HttpResponse>::Failure(
          connected == 0 ? "no connection within " + Seconds(m_settings.connect_seconds)
                         : "the server sent nothing for " + Seconds(m_settings.stall_seconds));
    }
    if (code != CURLE_OK) {
      return Result<HttpResponse>::Failure(
          ConnectionProblem(code, error, request.url.starts_with("https:"), m_settings.ca_file));
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.response.status);
    if (m_has_password && m_auth == 0) m_auth = Chosen();
    char* url = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url != nullptr) {
      reply.response.url = url;
    } else {
      reply.response.url = request.url;
    }
    if (reply.response.reason.empty()) {
      reply.response.reason = std::string(HttpStatusText(reply.response.status));
    }
    return std::move(reply.response);
  }

 private:
  long Allowed() const {
    return m_settings.basic_allowed ? CURLAUTH_BASIC | CURLAUTH_DIGEST : CURLAUTH_DIGEST;
  }

  // With more than one method allowed, curl sends each request twice: once to learn the
  // methods, once with the login. After the first answer one method is kept, and Basic (where
  // allowed) goes with the first sending. Gives 0 while the server has named none.
  long Chosen() const {
    long offered = 0;
    if (curl_easy_getinfo(m_curl, CURLINFO_HTTPAUTH_AVAIL, &offered) != CURLE_OK) return 0;
    offered &= Allowed();
    if ((offered & CURLAUTH_BASIC) != 0) return CURLAUTH_BASIC;
    if ((offered & CURLAUTH_DIGEST) != 0) return CURLAUTH_DIGEST;
    return 0;
  }

  CurlSettings m_settings;
  CURL* m_curl = nullptr;
  std::string m_user;
  std::string m_password;
  bool m_has_password = false;
  // The one method the server takes; 0 until it has said.
  long m_auth = 0;
};

}  // namespace

std::unique_ptr<HttpClient> MakeCurlClient(CurlSettings settings) {
  return std::make_unique<CurlHttpClient>(std::move(settings));
}

}  // namespace dialmend
