#include "stores/carddav/curl_http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <utility>

#include "platform/reason.h"

namespace dialmend {
namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting request asks whether to stop: the window's repaint interval.
constexpr int kTickMilliseconds = 50;
// A request that moves fewer bytes than this in a stall window is given up.
constexpr curl_off_t kLeastBytesPerWindow = 1024;

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
        return "it answered in plain HTTP on a port asked for HTTPS: give its HTTPS port (plain "
               "http:// is taken only for a server on this machine, http://127.0.0.1:PORT/)";
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

void StartCurl() {
  static std::once_flag once;
  std::call_once(once, [] {
    // curl copies the password, and its Basic form, into blocks of its own: wipe each one it
    // lets go, so none lingers in freed memory.
    curl_global_init_mem(CURL_GLOBAL_DEFAULT, std::malloc, WipingFree, WipingRealloc, ::strdup,
                         std::calloc);
  });
}

// One request as curl carries it out: the answer as it comes, and the body of a PUT.
struct Transfer {
  HttpResponse response;
  std::size_t most_bytes = 0;
  // Header and body bytes so far, unpacked.
  std::size_t received = 0;
  bool too_large = false;
  std::string_view upload;
  std::size_t uploaded = 0;
  // Whether the server answered since the body was last read from its start (a login
  // challenge): only then may curl send the body again.
  bool answered = false;

  bool Take(std::size_t bytes) {
    received += bytes;
    too_large = too_large || received > most_bytes;
    return !too_large;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<Transfer*>(self);
    if (!transfer->Take(size * count)) return 0;
    transfer->response.body.append(data, size * count);
    return size * count;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<Transfer*>(self);
    if (!transfer->Take(size * count)) return 0;
    HttpResponse& response = transfer->response;
    const std::string_view line = Trimmed(std::string_view(data, size * count));
    if (line.starts_with("HTTP/")) {
      // A new answer (after a redirect or a challenge): only the last one counts.
      transfer->answered = true;
      response.headers.clear();
      response.reason.clear();
      const std::size_t code = line.find(' ');
      const std::size_t words = code == std::string_view::npos ? code : line.find(' ', code + 1);
      if (words != std::string_view::npos) {
        response.reason = std::string(Trimmed(line.substr(words)));
      }
    } else if (const std::size_t colon = line.find(':'); colon != std::string_view::npos) {
      response.headers.push_back({std::string(Trimmed(line.substr(0, colon))),
                                  std::string(Trimmed(line.substr(colon + 1)))});
    }
    return size * count;
  }

  static size_t OnRead(char* buffer, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<Transfer*>(self);
    const std::size_t n = std::min(size * count, transfer->upload.size() - transfer->uploaded);
    std::memcpy(buffer, transfer->upload.data() + transfer->uploaded, n);
    transfer->uploaded += n;
    return n;
  }

  // curl rewinds the body to send it again: after a login challenge, or (refused here) on a
  // fresh connection when the one it had died without an answer, though the server may have
  // stored what it was sent.
  static int OnSeek(void* self, curl_off_t offset, int origin) {
    auto* transfer = static_cast<Transfer*>(self);
    if (offset != 0 || origin != SEEK_SET || !transfer->answered) return CURL_SEEKFUNC_FAIL;
    transfer->answered = false;
    transfer->uploaded = 0;
    return CURL_SEEKFUNC_OK;
  }
};

// How a request ended, besides curl's own result.
enum class Ended { ByCurl, Stopped, TooSlow, TooLong };

class CurlHttpClient : public HttpClient {
 public:
  explicit CurlHttpClient(CurlSettings settings) : m_settings(std::move(settings)) {
    StartCurl();
    m_curl = curl_easy_init();
    m_multi = curl_multi_init();
  }
  ~CurlHttpClient() override {
    if (m_curl != nullptr) curl_easy_cleanup(m_curl);
    if (m_multi != nullptr) curl_multi_cleanup(m_multi);
  }
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  void SetLogin(const std::string& user, SecretText password) override {
    m_user = user;
    m_password = std::move(password);
    m_auth = 0;
    // The old login's Digest state goes with it.
    m_reset = true;
  }

  HttpFailure LastFailure() const override { return m_failure; }

  Result<HttpResponse> Send(const HttpRequest& request) override {
    m_failure = HttpFailure::NoAnswer;
    if (m_curl == nullptr || m_multi == nullptr) {
      return Result<HttpResponse>::Failure("the HTTP library cannot start");
    }
    if (std::exchange(m_reset, false)) curl_easy_reset(m_curl);
    Transfer transfer;
    transfer.most_bytes = m_settings.most_bytes;
    curl_slist* headers = Prepare(request, transfer);
    CURLcode code = CURLE_OK;
    const Ended ended = Perform(transfer, code);
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    if (ended != Ended::ByCurl || code != CURLE_OK) {
      return Failed(ended, code, transfer, request.url.starts_with("https:"));
    }
    HttpResponse& response = transfer.response;
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &response.status);
    if (!m_user.empty() && m_auth == 0) m_auth = Chosen();
    char* url = nullptr;
    if (curl_easy_getinfo(m_curl, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url != nullptr) {
      response.url = url;
    } else {
      response.url = request.url;
    }
    if (response.reason.empty()) response.reason = std::string(HttpStatusText(response.status));
    return std::move(response);
  }

 private:
  // Sets every option the request relies on; options stay from one request to the next, and
  // so does the authentication state. Gives the header list to free afterwards.
  curl_slist* Prepare(const HttpRequest& request, Transfer& transfer) {
    CURL* curl = m_curl;
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    // No body of an earlier request stays: curl would send it, or take it for a body it need
    // not rewind.
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST,
                     request.method == "GET" ? nullptr : request.method.c_str());
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, Transfer::OnRead);
    curl_easy_setopt(curl, CURLOPT_READDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, Transfer::OnSeek);
    curl_easy_setopt(curl, CURLOPT_SEEKDATA, &transfer);
    if (request.method == "PUT") {
      // Read through the callbacks, so that curl cannot send it again on its own (see OnSeek).
      transfer.upload = request.body;
      curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
      curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE,
                       static_cast<curl_off_t>(request.body.size()));
    } else if (!request.body.empty()) {
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
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Transfer::OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, Transfer::OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    SetSessionOptions();
    return headers;
  }

  // The options of the connection and the login, the same for every request.
  void SetSessionOptions() {
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT, m_settings.connect_seconds);
    curl_easy_setopt(m_curl, CURLOPT_ACCEPT_ENCODING, "");
    // Redirects are the caller's to follow: only it knows where the login may go.
    curl_easy_setopt(m_curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(m_curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!m_settings.ca_file.empty()) {
      curl_easy_setopt(m_curl, CURLOPT_CAINFO, m_settings.ca_file.c_str());
    }
    const bool login = !m_user.empty();
    const long methods = !login        ? static_cast<long>(CURLAUTH_NONE)
                         : m_auth != 0 ? m_auth
                                       : Allowed();
    curl_easy_setopt(m_curl, CURLOPT_HTTPAUTH, methods);
    curl_easy_setopt(m_curl, CURLOPT_USERNAME, login ? m_user.c_str() : nullptr);
    curl_easy_setopt(m_curl, CURLOPT_PASSWORD, login ? m_password.CStr() : nullptr);
    m_error[0] = '\0';
    curl_easy_setopt(m_curl, CURLOPT_ERRORBUFFER, m_error);
  }

  // Runs the request to its end, asking `stop` each tick; the limits count only the time
  // outside it.
  Ended Perform(Transfer& transfer, CURLcode& code) {
    curl_multi_add_handle(m_multi, m_curl);
    const auto stall = std::chrono::seconds(m_settings.stall_seconds);
    const auto total = std::chrono::seconds(m_settings.total_seconds);
    Clock::time_point window = Clock::now();
    Clock::time_point started = window;
    curl_off_t window_bytes = 0;
    std::size_t window_received = 0;
    Ended ended = Ended::ByCurl;
    for (;;) {
      int running = 0;
      curl_multi_perform(m_multi, &running);
      if (Finished(code)) break;
      curl_multi_poll(m_multi, nullptr, 0, kTickMilliseconds, nullptr);
      const Clock::time_point asked = Clock::now();
      if (m_settings.stop && m_settings.stop()) {
        ended = Ended::Stopped;
        break;
      }
      const Clock::time_point now = Clock::now();
      window += now - asked;
      started += now - asked;
      curl_off_t sent = 0;
      curl_easy_getinfo(m_curl, CURLINFO_SIZE_UPLOAD_T, &sent);
      const curl_off_t moved = static_cast<curl_off_t>(transfer.received) + sent;
      if (now - window >= stall) {
        if (moved - window_bytes < kLeastBytesPerWindow) {
          ended = Ended::TooSlow;
          m_silent = transfer.received == window_received;
          break;
        }
        window = now;
        window_bytes = moved;
        window_received = transfer.received;
      }
      if (now - started >= total) {
        ended = Ended::TooLong;
        break;
      }
    }
    // Mid-transfer, this closes the connection: nothing half-read is taken for the next answer.
    curl_multi_remove_handle(m_multi, m_curl);
    return ended;
  }

  // Whether curl is done with the request, its result in `code`.
  bool Finished(CURLcode& code) {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == m_curl) {
        code = message->data.result;
        return true;
      }
    }
    return false;
  }

  // Why the request to an https address (`tls`) or an http one got no answer.
  Result<HttpResponse> Failed(Ended ended, CURLcode code, const Transfer& transfer, bool tls) {
    using Failure = Result<HttpResponse>;
    switch (ended) {
      case Ended::Stopped:
        m_failure = HttpFailure::Stopped;
        return Failure::Failure("the run was stopped before the server answered");
      case Ended::TooSlow:
        return Failure::Failure(
            m_silent ? "the server sent nothing for " + Seconds(m_settings.stall_seconds)
                     : "the server sent less than 1 KiB in " + Seconds(m_settings.stall_seconds));
      case Ended::TooLong:
        return Failure::Failure("the server took longer than " + Seconds(m_settings.total_seconds) +
                                " to answer");
      case Ended::ByCurl:
        break;
    }
    if (transfer.too_large) {
      m_failure = HttpFailure::TooLarge;
      return Failure::Failure("the server's answer is larger than " +
                              std::to_string(m_settings.most_bytes >> 20) + " MiB");
    }
    if (code == CURLE_SEND_FAIL_REWIND) {
      return Failure::Failure("the connection was closed before the server answered");
    }
    if (code == CURLE_OPERATION_TIMEDOUT) {
      return Failure::Failure("no connection within " + Seconds(m_settings.connect_seconds));
    }
    return Failure::Failure(ConnectionProblem(code, m_error, tls, m_settings.ca_file));
  }

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
  CURLM* m_multi = nullptr;
  std::string m_user;
  SecretText m_password;
  // The one method the server takes; 0 until it has said.
  long m_auth = 0;
  bool m_reset = false;
  HttpFailure m_failure = HttpFailure::NoAnswer;
  // The last request given up as too slow received nothing in its last window.
  bool m_silent = false;
  char m_error[CURL_ERROR_SIZE] = {};
};

}  // namespace

std::unique_ptr<HttpClient> MakeCurlClient(CurlSettings settings) {
  return std::make_unique<CurlHttpClient>(std::move(settings));
}

}  // namespace dialmend
