#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "stores/carddav/carddav_store.h"
#include "stores/carddav/curl_http_client.h"
#include "tests/fakes/dav_server.h"

// What the CardDAV store's tests share: a look at the requests the store sends, and the
// settings that keep a test off the machine's own logins.

namespace dialmend {

// What a test sees of the store's requests, and answers it may give in the server's place.
struct Spy {
  std::vector<HttpRequest> requests;
  // Called before each request is sent; an answer given is returned instead of the server's.
  std::function<std::optional<HttpResponse>(const HttpRequest&)> before;
  // Called with each answer from the server before the store sees it.
  std::function<void(const HttpRequest&, HttpResponse&)> after;

  [[nodiscard]] std::size_t Count(const std::string& method) const {
    std::size_t count = 0;
    for (const HttpRequest& request : requests) count += request.method == method ? 1 : 0;
    return count;
  }
};

class SpyClient : public HttpClient {
 public:
  SpyClient(std::unique_ptr<HttpClient> real, Spy& spy) : m_real(std::move(real)), m_spy(spy) {}
  Result<HttpResponse> Send(const HttpRequest& request) override {
    m_spy.requests.push_back(request);
    if (m_spy.before) {
      if (std::optional<HttpResponse> answer = m_spy.before(request)) return std::move(*answer);
    }
    Result<HttpResponse> response = m_real->Send(request);
    if (m_spy.after && response.Ok()) m_spy.after(request, response.Value());
    return response;
  }
  HttpFailure LastFailure() const override { return m_real->LastFailure(); }
  void SetLogin(const std::string& user, SecretText password) override {
    m_real->SetLogin(user, std::move(password));
  }

 private:
  std::unique_ptr<HttpClient> m_real;
  Spy& m_spy;
};

// Logs in with the test user's password as if typed at the prompt; reads no ~/.netrc and no
// secret store of the machine's.
inline CardDavSettings Settings(const DavServer& server, Spy* spy = nullptr) {
  CardDavSettings settings;
  settings.netrc_file = (server.Dir() / "no-netrc").string();
  settings.use_secret_store = false;
  settings.ask_password = [](const std::string&) {
    return std::optional<std::string>(DavServer::kPassword);
  };
  settings.stall_seconds = 5;
  if (spy != nullptr) {
    settings.make_client = [spy](CurlSettings curl) -> std::unique_ptr<HttpClient> {
      return std::make_unique<SpyClient>(MakeCurlClient(std::move(curl)), *spy);
    };
  }
  return settings;
}

inline std::unique_ptr<ContactStore> Store(const std::string& url, CardDavSettings settings) {
  Result<std::unique_ptr<ContactStore>> made = MakeCardDavStore(url, std::move(settings));
  EXPECT_TRUE(made.Ok()) << made.Message();
  return made.Ok() ? std::move(made.Value()) : nullptr;
}

}  // namespace dialmend
