#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "stores/profile/desktop_books.h"
#include "tests/contacts/store_contract.h"
#include "tests/fakes/quiet_run.h"
#include "tests/fakes/test_folder.h"

// A run over a folder of KDE's vCard Directory resource, which names its cards by UID alone, on
// a session bus of its own where a stand-in for "Personal Contacts" answers (with_fake_akonadi.sh).

namespace dialmend {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

constexpr std::string_view kCard =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:x7Kq2mZ9aB\r\nFN:Ann\r\nTEL;TYPE=HOME:0171 930 8890\r\n"
    "END:VCARD\r\n";
constexpr std::string_view kGroup = "<?xml version=\"1.0\"?><contactGroup name=\"Team\"/>\n";
constexpr std::string_view kNotice = "Important Warning!!!\n";

// The same profile as every store's, as the vCard Directory resource keeps it: cards named by
// UID alone beside a group file and the resource's notice, which are not cards.
struct KdeTraits : NumbersOnlyTraits {
  static constexpr bool kOneFolder = true;
  static std::unique_ptr<ContactStore> Make(const fs::path& root) {
    fs::remove_all(root);
    WriteTestFile(
        root / "a-riverside",
        "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:a-riverside\r\nFN:Riverside Dental\r\n"
        "TEL;TYPE=CELL:0370 123456\r\nTEL;TYPE=HOME,VOICE:0171 930 8890\r\nEND:VCARD\r\n");
    WriteTestFile(root / "b-team",
                  "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Team\r\nEND:VCARD\r\n");
    WriteTestFile(root / "team.ctg", kGroup);
    WriteTestFile(root / "WARNING_README.txt", kNotice);
    return Store(root);
  }
  static ContactStore& Reread(std::unique_ptr<ContactStore>& store, const fs::path& root) {
    store = Store(root);
    return *store;
  }
  static std::unique_ptr<ContactStore> Store(const fs::path& root) {
    return MakeKdeStore(
        {{"akonadi_vcarddir_resource_0", {root.string(), "Work", CardNaming::AnyFile}}});
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Kde, StoreContract, KdeTraits);

struct Case {
  const char* name;
  const char* resource;
  bool update;
  bool bus;
  // The store's last line; empty for none.
  const char* note;
  bool called;
};

// The bus's variables, put back after a case that runs without them.
class KdeStore : public testing::TestWithParam<Case> {
 protected:
  void TearDown() override {
    for (const auto& [name, value] : m_saved) ::setenv(name.c_str(), value.c_str(), 1);
  }
  void DropBus() {
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"}) {
      if (const char* value = std::getenv(name)) m_saved.emplace_back(name, value);
      ::unsetenv(name);
    }
  }
  std::vector<std::pair<std::string, std::string>> m_saved;
};

TEST_P(KdeStore, UpdatesTheCardsAloneAndAsksTheResourceToReadThemAgain) {
  const Case& c = GetParam();
  const char* calls = std::getenv("FAKE_AKONADI_CALLS");
  ASSERT_NE(calls, nullptr) << "run through with_fake_akonadi.sh";
  fs::remove(calls);
  if (!c.bus) DropBus();
  // The folder the script removes when the bus ends.
  const fs::path book = fs::path(calls).parent_path() / "contacts";
  fs::remove_all(book);
  WriteTestFile(book / "x7Kq2mZ9aB", kCard);
  WriteTestFile(book / "WARNING_README.txt", kNotice);
  WriteTestFile(book / "team.ctg", kGroup);

  const auto store = MakeKdeStore({{c.resource, {book.string(), "Contacts", CardNaming::AnyFile}}});
  const QuietRun run = RunQuietly(*store, NumberOptions{}, c.update);
  EXPECT_EQ(run.counters.numbers, 1) << run.log;
  EXPECT_EQ(run.counters.problems, 0) << run.log;
  EXPECT_EQ(ReadTestFile(book / "x7Kq2mZ9aB").find("(020) 7930 8890") != std::string::npos,
            c.update);
  EXPECT_EQ(ReadTestFile(book / "WARNING_README.txt"), kNotice);
  EXPECT_EQ(ReadTestFile(book / "team.ctg"), kGroup);
  if (*c.note != '\0') {
    EXPECT_THAT(run.log, HasSubstr(std::string("\r\n  Contacts: ") + c.note + "\r\n")) << run.log;
  } else {
    EXPECT_THAT(run.log, testing::Not(HasSubstr("KDE"))) << run.log;
  }
  EXPECT_EQ(ReadTestFile(calls),
            c.called ? "/ org.freedesktop.Akonadi.Agent.Control.reconfigure\n" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Runs, KdeStore,
    testing::Values(
        Case{"Served", "akonadi_contacts_resource_0", true, true,
             "KDE's address book was asked to read its cards again", true},
        Case{"NotRunning", "akonadi_contacts_resource_7", true, true,
             "KDE's address book must be restarted to see the changes (akonadictl restart): it "
             "is not running on the session bus",
             false},
        Case{"NoBus", "akonadi_contacts_resource_0", true, false,
             "KDE's address book must be restarted to see the changes (akonadictl restart): "
             "there is no session bus",
             false},
        Case{"Simulation", "akonadi_contacts_resource_0", false, true, "", false}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
}  // namespace dialmend
