#pragma once

#include <memory>
#include <string>
#include <vector>

#include "stores/eds/eds_session.h"

// An address book of a test's own in the EDS of the test program's private session (see
// with_eds.sh), reached past the store, and removed when the object goes. The EDS benchmark
// fills its book with it too.

namespace dialmend {

class TestBook {
 public:
  // A book on this computer named `name`, or, given `url`, the book EDS keeps for the CardDAV
  // address book there (no login); `uid` must be new to the session.
  TestBook(const std::string& uid, const std::string& name, const std::string& url = {},
           bool avoid_ifmatch = false);
  ~TestBook();
  TestBook(const TestBook&) = delete;
  TestBook& operator=(const TestBook&) = delete;

  // Adds `cards` a hundred at a time, as an import does, or saves one over the card with its
  // UID (`replace`), as another program would.
  void Save(const std::vector<std::string>& cards, bool replace = false);
  // The card as EDS gives it; empty when it has none by that UID. For a book on a server, waits
  // a while for EDS's copy to hold it.
  [[nodiscard]] std::string Text(const std::string& uid);

  [[nodiscard]] EdsSession& Session() const { return *m_session; }
  [[nodiscard]] EBookClient* Client() const { return m_client.get(); }

 private:
  void Create(const std::string& name, const std::string& url, bool avoid_ifmatch);

  std::shared_ptr<EdsSession> m_session;
  std::string m_uid;
  GObjectPtr<EBookClient> m_client;
};

}  // namespace dialmend
