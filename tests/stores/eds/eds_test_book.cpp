#include "tests/stores/eds/eds_test_book.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace dialmend {

TestBook::TestBook(const std::string& uid, const std::string& name, const std::string& url,
                   bool avoid_ifmatch)
    : m_uid(uid) {
  Create(name, url, avoid_ifmatch);
}

void TestBook::Create(const std::string& name, const std::string& url, bool avoid_ifmatch) {
  Result<std::shared_ptr<EdsSession>> session = EdsSession::Open();
  ASSERT_TRUE(session.Ok()) << session.Message();
  m_session = session.Value();
  const EdsSession::Scope scope = m_session->Enter();
  GErrorSlot error;
  const GObjectPtr<ESource> source(e_source_new_with_uid(m_uid.c_str(), nullptr, error.Out()));
  ASSERT_TRUE(source) << error.Text();
  e_source_set_display_name(source.get(), name.c_str());
  e_source_set_parent(source.get(), url.empty() ? "local-stub" : "carddav-stub");
  e_source_backend_set_backend_name(static_cast<ESourceBackend*>(e_source_get_extension(
                                        source.get(), E_SOURCE_EXTENSION_ADDRESS_BOOK)),
                                    url.empty() ? "local" : "carddav");
  if (!url.empty()) {
    GUri* address = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
    auto* login = static_cast<ESourceAuthentication*>(
        e_source_get_extension(source.get(), E_SOURCE_EXTENSION_AUTHENTICATION));
    e_source_authentication_set_host(login, g_uri_get_host(address));
    e_source_authentication_set_port(login, static_cast<guint16>(g_uri_get_port(address)));
    e_source_authentication_set_method(login, "none");
    e_source_authentication_set_user(login, "");
    auto* webdav = static_cast<ESourceWebdav*>(
        e_source_get_extension(source.get(), E_SOURCE_EXTENSION_WEBDAV_BACKEND));
    e_source_webdav_set_uri(webdav, address);
    e_source_webdav_set_avoid_ifmatch(webdav, avoid_ifmatch);
    g_uri_unref(address);
  }
  ESourceRegistry* registry = m_session->Registry();
  ASSERT_TRUE(e_source_registry_commit_source_sync(registry, source.get(), nullptr, error.Out()))
      << error.Text();
  GObjectPtr<ESource> made;
  ASSERT_TRUE(m_session->WaitUntil(
      [&] { return (made.reset(e_source_registry_ref_source(registry, m_uid.c_str())), !!made); },
      std::chrono::seconds(10)));
  // The address-book factory learns of a new book from the registry a moment after this
  // process has: until then it knows no such book.
  EClient* client = nullptr;
  for (int tries = 0; client == nullptr && tries < 100; ++tries) {
    if (tries > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client = e_book_client_connect_sync(made.get(), static_cast<guint32>(-1), nullptr, error.Out());
  }
  ASSERT_NE(client, nullptr) << error.Text();
  m_client.reset(E_BOOK_CLIENT(client));
}

TestBook::~TestBook() {
  if (!m_session) return;
  const EdsSession::Scope scope = m_session->Enter();
  m_client.reset();
  const GObjectPtr<ESource> source(
      e_source_registry_ref_source(m_session->Registry(), m_uid.c_str()));
  GErrorSlot error;
  if (source && !e_source_remove_sync(source.get(), nullptr, error.Out())) {
    ADD_FAILURE() << "the test book " << m_uid << " stays: " << error.Text();
  }
}

void TestBook::Save(const std::vector<std::string>& cards, bool replace) {
  const EdsSession::Scope scope = m_session->Enter();
  for (std::size_t first = 0; first < cards.size(); first += 100) {
    GSList* contacts = nullptr;
    for (std::size_t i = std::min(cards.size(), first + 100); i-- > first;) {
      contacts = g_slist_prepend(contacts, e_contact_new_from_vcard(cards[i].c_str()));
    }
    GErrorSlot error;
    EXPECT_TRUE(
        replace
            ? e_book_client_modify_contacts_sync(m_client.get(), contacts,
                                                 E_BOOK_OPERATION_FLAG_NONE, nullptr, error.Out())
            : e_book_client_add_contacts_sync(m_client.get(), contacts, E_BOOK_OPERATION_FLAG_NONE,
                                              nullptr, nullptr, error.Out()))
        << error.Text();
    g_slist_free_full(contacts, g_object_unref);
  }
}

std::string TestBook::Text(const std::string& uid) {
  const EdsSession::Scope scope = m_session->Enter();
  // EDS fills its copy of a book on a server in the background after it connects, and learns the
  // book's connection status from its clients, this one among them.
  const bool on_server = e_source_has_extension(e_client_get_source(E_CLIENT(m_client.get())),
                                                E_SOURCE_EXTENSION_WEBDAV_BACKEND);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(on_server ? 20 : 0);
  for (;;) {
    m_session->Pump();
    EContact* contact = nullptr;
    if (e_book_client_get_contact_sync(m_client.get(), uid.c_str(), &contact, nullptr, nullptr)) {
      const GObjectPtr<EContact> held(contact);
      return TakeGChar(e_vcard_to_string(E_VCARD(contact), EVC_FORMAT_VCARD_30)).get();
    }
    if (std::chrono::steady_clock::now() >= end) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace dialmend
