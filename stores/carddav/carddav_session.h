#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "stores/carddav/carddav_store.h"
#include "stores/carddav/dav_url.h"
#include "stores/carddav/dav_xml.h"
#include "stores/carddav/http_client.h"

// The store's one connection to its server: the login, and the patience with a busy server.

namespace dialmend {

// The store's requests to its server, each with the login and the retries it needs; shared by
// the store, its folders and its cards.
class DavSession {
 public:
  DavSession(DavUrl url, CardDavSettings settings);

  // While true (the address books are being found), a redirect to another server moves the
  // session there; afterwards only redirects within the server are followed.
  void AllowMoving(bool allowed) { m_may_move = allowed; }

  // Sends `method` to `path` on the server, following its redirects (a few at most). A 401 is
  // answered with a password from the secret store, else the user's, asked for again (up to
  // three times in all) while the server refuses it; 429 and 503 with
  // Retry-After are asked again as the settings allow. Gives the last answer, or why none came.
  [[nodiscard]] Result<HttpResponse> Send(const std::string& method, const std::string& path,
                                          std::vector<HttpHeader> headers, std::string body);

  // Whether the last Send() failed because the run stopped it; no other request should follow.
  [[nodiscard]] bool Stopped() const { return m_stopped; }

  // Why the last Send() that failed got no answer.
  [[nodiscard]] HttpFailure LastFailure() const { return m_http->LastFailure(); }

  // Why a 401 stands, in words, naming the user but never the password.
  [[nodiscard]] std::string LoginProblem() const;

  // The multistatus answer to a PROPFIND, or why there is none (a refusal says its status).
  [[nodiscard]] Result<std::vector<DavResource>> Propfind(const std::string& path, int depth,
                                                          const std::string& body);

  // What the session has to say besides its answers (a password it could not keep).
  [[nodiscard]] std::vector<StoreNote> TakeNotes() { return std::exchange(m_notes, {}); }

  // The status of the last answer; 0 when none came.
  [[nodiscard]] long LastStatus() const { return m_last_status; }

  [[nodiscard]] const DavUrl& Url() const { return m_url; }
  [[nodiscard]] const CardDavSettings& Settings() const { return m_settings; }

 private:
  bool GetPassword();
  // Asks the user for the password, up to kMostAsks times in a session; false when there is
  // nobody to ask, the user gave none or the asks are used up.
  bool AskPassword();
  // Gives the client the login .netrc holds for the session's host, if any.
  void LoginFromNetrc();
  // Takes a redirect's Location for a request to `path`: the path to send to next, or why the
  // redirect is not followed.
  [[nodiscard]] Result<std::string> Follow(const std::string& location, const std::string& path);
  // Moves the session to the server `target` names, with no login but the one found for it.
  void MoveTo(const DavUrl& target);
  // Waits the seconds a busy server asked for, in slices so a stop is seen within one; false
  // when the run stopped the wait.
  bool WaitOut(long long seconds);

  DavUrl m_url;
  CardDavSettings m_settings;
  std::unique_ptr<HttpClient> m_http;
  // The user logged in as: the address's, else the one .netrc names for the host.
  std::string m_user;
  bool m_login_tried = false;
  int m_asks = 0;
  // Set once the server took a login.
  bool m_logged_in = false;
  bool m_may_move = false;
  bool m_stopped = false;
  long m_last_status = 0;
  std::string m_login_source;
  std::string m_secret_problem;
  std::optional<SecretText> m_to_remember;
  std::vector<StoreNote> m_notes;
};

// "the server said 403 Forbidden" with its short plain-text explanation when it gave one.
[[nodiscard]] std::string ServerSaid(const HttpResponse& response);

}  // namespace dialmend
