#include "stores/carddav/carddav_session.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>
#include <utility>

#include "platform/environment.h"
#include "stores/carddav/credentials.h"

namespace dialmend {
namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(100);

// The seconds a Retry-After asks for (a number of seconds or an HTTP date); std::nullopt for
// text that is neither.
std::optional<long long> RetryAfterSeconds(const std::string& value) {
  long long seconds = 0;
  auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
  if (error == std::errc() && end == value.data() + value.size()) return std::max(0LL, seconds);
  const std::optional<std::chrono::sys_seconds> when = HttpDate(value);
  if (!when) return std::nullopt;
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  return std::max(0LL, static_cast<long long>((*when - now).count()));
}

// A .netrc larger than this is not one.
constexpr std::size_t kMostNetrcBytes = 1 << 20;

// The .netrc to read: `path`, else HOME's; empty when there is no HOME.
std::string NetrcPath(std::string path) {
  if (!path.empty()) return path;
  const std::optional<std::string> home = EnvironmentVariable("HOME");
  return !home || home->empty() ? std::string() : *home + "/.netrc";
}

// The text of the .netrc at `path`; empty when there is none or it cannot be read.
SecretText ReadNetrc(const std::string& path) {
  if (path.empty()) return {};
  Result<SecretText> text = ReadSecretFile(path, kMostNetrcBytes);
  return text.Ok() ? std::move(text.Value()) : SecretText();
}

// Whether users other than its owner may read the file at `path`.
bool OthersCanRead(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::perms perms = fs::status(path, error).permissions();
  return !error && (perms & (fs::perms::group_read | fs::perms::others_read)) != fs::perms::none;
}

constexpr int kMostRedirects = 5;

// How many times a session asks the user for a password it was refused.
constexpr int kMostAsks = 3;

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool IsBusy(long status) {
  return status == 429 || status == 503;
}

}  // namespace

std::string ServerSaid(const HttpResponse& response) {
  std::string said = "the server said " + std::to_string(response.status);
  if (!response.reason.empty()) said += " " + response.reason;
  // A short plain-text body is the server's own reason; anything longer is a page, not a reason.
  const std::string* type = response.Header("Content-Type");
  std::string body = response.body;
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r' || body.back() == ' ')) {
    body.pop_back();
  }
  if (type != nullptr && type->starts_with("text/plain") && !body.empty() && body.size() <= 200 &&
      body.find('\n') == std::string::npos && body != response.reason) {
    said += " (" + body + ")";
  }
  return said;
}

DavSession::DavSession(DavUrl url, CardDavSettings settings)
    : m_url(std::move(url)), m_settings(std::move(settings)) {
  CurlSettings curl;
  curl.ca_file = m_settings.ca_file;
  // Basic sends the password itself: over plain http only to this machine.
  curl.basic_allowed = m_url.tls || IsLoopbackHost(m_url.host);
  curl.stall_seconds = m_settings.stall_seconds;
  curl.total_seconds = m_settings.total_seconds;
  curl.most_bytes = m_settings.most_bytes;
  if (m_settings.stop) {
    curl.stop = [this] {
      m_stopped = m_settings.stop();
      return m_stopped;
    };
  }
  m_http = m_settings.make_client ? m_settings.make_client(std::move(curl))
                                  : MakeCurlClient(std::move(curl));
  m_user = m_url.user;
  LoginFromNetrc();
}

void DavSession::LoginFromNetrc() {
  // A login in .netrc goes with the first request, as curl's own .netrc reading would send it.
  const std::string path = NetrcPath(m_settings.netrc_file);
  const SecretText netrc = ReadNetrc(path);
  if (std::optional<Login> login = NetrcLogin(netrc.View(), m_url.host, m_user);
      login && !login->user.empty()) {
    // Used as curl uses it, with a warning: refusing it would end a run that worked before for a
    // risk one chmod ends.
    if (OthersCanRead(path)) {
      m_notes.push_back({path,
                         "others can read the password it holds; it is used, but run "
                         "\"chmod 600 " +
                             path + "\"",
                         false});
    }
    m_user = login->user;
    m_http->SetLogin(login->user, std::move(login->password));
    m_login_source = "~/.netrc";
  }
}

bool DavSession::GetPassword() {
  if (m_user.empty()) return false;
  const std::string server = m_url.Origin();
  if (m_settings.use_secret_store) {
    SecretLookup secret = LookUpSecret(server, m_user);
    m_secret_problem = std::move(secret.problem);
    if (secret.password) {
      m_http->SetLogin(m_user, std::move(*secret.password));
      m_login_source = "the secret store";
      return true;
    }
  }
  return AskPassword();
}

bool DavSession::AskPassword() {
  if (m_user.empty() || !m_settings.ask_password || m_asks >= kMostAsks) return false;
  ++m_asks;
  // Each ask has its own prompt: a prompt seen before may be answered with what was typed then.
  std::string prompt = "Password for " + m_user + " at " + m_url.Origin();
  if (m_asks > 1) {
    prompt += " (refused; try " + std::to_string(m_asks) + " of " + std::to_string(kMostAsks) + ")";
  }
  std::optional<std::string> typed = m_settings.ask_password(prompt + ": ");
  if (!typed) {
    m_asks = kMostAsks;
    return false;
  }
  SecretText password(*typed);
  Wipe(*typed);
  // A refused password kept from an earlier ask is never stored.
  m_to_remember.reset();
  if (m_settings.remember_password || (m_settings.remember_given && m_settings.remember_given())) {
    m_to_remember.emplace(password.View());
  }
  m_http->SetLogin(m_user, std::move(password));
  m_login_source = "the prompt";
  return true;
}

std::string DavSession::LoginProblem() const {
  if (m_user.empty()) {
    return "the server asks for a login: name the user in the address (" +
           std::string(m_url.tls ? "https" : "http") + "://USER@" + m_url.host +
           (m_url.port.empty() ? "" : ":" + m_url.port) + "/...)";
  }
  if (!m_login_source.empty()) {
    std::string problem =
        "the server refused the password for " + m_user + " (from " + m_login_source;
    if (m_asks > 1) problem += ", " + std::to_string(m_asks) + " times";
    return problem + "): check the user name in the address and the password";
  }
  std::string problem =
      "the server refused " + m_user + ": no password for it was found in ~/.netrc";
  if (m_settings.use_secret_store) {
    problem += ", nor in the desktop's secret store";
    if (!m_secret_problem.empty()) problem += " (" + m_secret_problem + ")";
  }
  problem += m_settings.ask_password ? ", and none was given when asked"
                                     : ", and there is no terminal to ask on";
  return problem;
}

Result<HttpResponse> DavSession::Send(const std::string& method, const std::string& path,
                                      std::vector<HttpHeader> headers, std::string body) {
  HttpRequest request{method, m_url.With(path), std::move(headers), std::move(body)};
  std::string current_path = path;
  int retries = 0;
  int redirects = 0;
  m_stopped = false;
  for (;;) {
    Result<HttpResponse> response = m_http->Send(request);
    m_last_status = response.Ok() ? response.Value().status : 0;
    if (!response.Ok()) return response;
    const long status = response.Value().status;
    if (IsRedirect(status)) {
      const std::string* location = response.Value().Header("Location");
      if (location == nullptr || ++redirects > kMostRedirects) return response;
      Result<std::string> next = Follow(*location, current_path);
      if (!next.Ok()) return Result<HttpResponse>::Failure(next.Message());
      current_path = std::move(next.Value());
      request.url = m_url.With(current_path);
      continue;
    }
    if (status == 401 && !m_logged_in) {
      // A password refused is asked for again, up to kMostAsks times, before the run ends.
      const bool first = !m_login_tried;
      m_login_tried = true;
      if (first ? GetPassword() : AskPassword()) continue;
      return response;
    }
    // Once the server has taken a login, a later refusal is the resource's, not the password's.
    if (status != 401 && !m_login_source.empty()) m_logged_in = true;
    if (status >= 200 && status < 300 && m_to_remember) {
      const SecretText password = std::move(*m_to_remember);
      m_to_remember.reset();
      if (Status kept = StoreSecret(m_url.Origin(), m_user, password); !kept.Ok()) {
        m_notes.push_back({{}, kept.Message(), false});
      }
    }
    if (!IsBusy(status) || retries >= m_settings.busy_retries) return response;
    const std::string* retry_after = response.Value().Header("Retry-After");
    const std::optional<long long> seconds =
        retry_after != nullptr ? RetryAfterSeconds(*retry_after) : std::nullopt;
    if (!seconds || std::chrono::seconds(*seconds) > m_settings.longest_wait) return response;
    ++retries;
    if (!WaitOut(*seconds)) return response;
  }
}

bool DavSession::WaitOut(long long seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (m_settings.stop && m_settings.stop()) {
      m_stopped = true;
      return false;
    }
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        kWaitSlice, until - std::chrono::steady_clock::now()));
  }
  return true;
}

Result<std::string> DavSession::Follow(const std::string& location, const std::string& path) {
  if (!LooksLikeUrl(location)) return HrefPath(location, path);
  Result<DavUrl> target = ParseDavUrl(location);
  if (target.Ok() && target.Value().Origin() == m_url.Origin()) return target.Value().path;
  // Another server is moved to only while the address books are being found, and only over
  // TLS when the address given asked for it; it gets only a login of its own.
  const std::string where = "the server sent the request on to \"" + location + "\"";
  if (!target.Ok()) {
    return Result<std::string>::Failure(where + ", which cannot be used: " + target.Message());
  }
  if (!m_may_move || (m_url.tls && !target.Value().tls)) {
    return Result<std::string>::Failure(where + (m_may_move ? ", without TLS" : "") +
                                        "; it is not followed");
  }
  MoveTo(target.Value());
  return target.Value().path;
}

void DavSession::MoveTo(const DavUrl& target) {
  m_url.tls = target.tls;
  m_url.host = target.host;
  m_url.port = target.port;
  // A host gets only its own login: the one the address named the user for, looked up afresh.
  m_http->SetLogin({}, {});
  m_user = m_url.user;
  m_login_tried = false;
  m_logged_in = false;
  m_asks = 0;
  m_login_source.clear();
  m_secret_problem.clear();
  m_to_remember.reset();
  LoginFromNetrc();
}

Result<std::vector<DavResource>> DavSession::Propfind(const std::string& path, int depth,
                                                      const std::string& body) {
  using Listed = Result<std::vector<DavResource>>;
  Result<HttpResponse> response = Send(
      "PROPFIND", path,
      {{"Depth", std::to_string(depth)}, {"Content-Type", "application/xml; charset=utf-8"}}, body);
  if (!response.Ok()) return Listed::Failure(response.Message());
  const HttpResponse& answer = response.Value();
  if (answer.status == 401) return Listed::Failure(LoginProblem());
  if (answer.status != 207) return Listed::Failure(ServerSaid(answer));
  return ParseMultistatus(answer.body);
}

}  // namespace dialmend
