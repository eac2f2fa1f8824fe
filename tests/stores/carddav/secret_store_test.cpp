#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "stores/carddav/carddav_store.h"
#include "stores/carddav/credentials.h"
#include "tests/fakes/dav_server.h"

// The desktop's secret store, run by with_keyring.sh: a session bus and an unlocked GNOME
// keyring of this test's own, never the machine's.

namespace dialmend {
namespace {

constexpr const char* kServer = "http://127.0.0.1:1";

TEST(SecretStore, RunsOnlyInsideItsOwnKeyring) {
  // A run outside with_keyring.sh would write into the user's real keyring.
  ASSERT_NE(std::getenv("DIALMEND_TEST_KEYRING"), nullptr)
      << "run this program through tests/stores/carddav/with_keyring.sh";
}

TEST(SecretStore, GivesBackThePasswordKeptForTheServerAndUser) {
  ASSERT_NE(std::getenv("DIALMEND_TEST_KEYRING"), nullptr);
  const Status kept = StoreSecret(kServer, "ann", SecretText("pw-ann"));
  ASSERT_TRUE(kept.Ok()) << kept.Message();
  const SecretLookup found = LookUpSecret(kServer, "ann");
  EXPECT_EQ(found.problem, "");
  ASSERT_TRUE(found.password);
  EXPECT_EQ(found.password->View(), "pw-ann");
  EXPECT_FALSE(LookUpSecret(kServer, "bob").password);
  EXPECT_FALSE(LookUpSecret("http://127.0.0.1:2", "ann").password);
}

class SecretStoreOnRadicale : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DIALMEND_TEST_KEYRING"), nullptr);
    if (const std::string missing = DavServer::Missing(DavServerKind::Radicale); !missing.empty()) {
      if (std::getenv("CI") != nullptr) FAIL() << missing;
      GTEST_SKIP() << missing;
    }
    m_server.AddRadicaleBook("work", "Work");
    std::string why;
    ASSERT_TRUE(m_server.Start(why)) << why;
  }

  [[nodiscard]] CardDavSettings Settings() const {
    CardDavSettings settings;
    settings.netrc_file = (m_server.Dir() / "no-netrc").string();
    return settings;
  }

  [[nodiscard]] std::unique_ptr<ContactStore> Store(CardDavSettings settings) const {
    Result<std::unique_ptr<ContactStore>> made =
        MakeCardDavStore(m_server.Url() + "/", std::move(settings));
    EXPECT_TRUE(made.Ok()) << made.Message();
    return made.Ok() ? std::move(made.Value()) : nullptr;
  }

  DavServer m_server{DavServerKind::Radicale};
};

TEST_F(SecretStoreOnRadicale, LogsInWithThePasswordTheSecretStoreHolds) {
  ASSERT_TRUE(
      StoreSecret(m_server.Url(false), DavServer::kUser, SecretText(DavServer::kPassword)).Ok());
  CardDavSettings settings = Settings();
  settings.ask_password = [](const std::string&) -> std::optional<std::string> {
    ADD_FAILURE() << "asked for a password that the secret store holds";
    return std::nullopt;
  };
  const Status opened = Store(settings)->Open();
  EXPECT_TRUE(opened.Ok()) << opened.Message();
}

struct KeepRow {
  std::string_view name;
  const char* typed;           // the password given at the prompt
  bool remember_password;      // as --remember-password
  std::optional<bool> ticked;  // the prompt's box, read once the password is typed
  bool opened;
  bool kept;
};

void PrintTo(const KeepRow& row, std::ostream* out) {
  *out << row.name;
}

class SecretStoreKeeps : public SecretStoreOnRadicale,
                         public testing::WithParamInterface<KeepRow> {};

TEST_P(SecretStoreKeeps, OnlyAPasswordThatWorkedAndWasToBeRemembered) {
  const KeepRow& row = GetParam();
  CardDavSettings settings = Settings();
  settings.remember_password = row.remember_password;
  bool asked = false;
  settings.ask_password = [&](const std::string&) {
    asked = true;
    return std::optional<std::string>(row.typed);
  };
  if (row.ticked) settings.remember_given = [&] { return asked && *row.ticked; };
  EXPECT_EQ(Store(settings)->Open().Ok(), row.opened);
  const SecretLookup kept = LookUpSecret(m_server.Url(false), DavServer::kUser);
  EXPECT_EQ(kept.password ? std::string(kept.password->View()) : "none",
            row.kept ? DavServer::kPassword : "none");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SecretStoreKeeps,
    testing::Values(KeepRow{"AskedToRemember", DavServer::kPassword, true, {}, true, true},
                    KeepRow{"UserTicked", DavServer::kPassword, false, true, true, true},
                    KeepRow{"UserDidNotTick", DavServer::kPassword, false, false, true, false},
                    KeepRow{"ServerRefused", "not-the-pw", true, {}, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dialmend
