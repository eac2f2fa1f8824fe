#include "stores/profile/open_profile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/fakes/test_folder.h"

// The chooser on real folders, with the variables and configuration files preset.

namespace dialmend {
namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::HasSubstr;

constexpr std::string_view kCard =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=HOME:0171 930 8890\r\nEND:VCARD\r\n";

// An environment of the given variables whose files are the real ones.
struct FakeEnvironment {
  std::map<std::string, std::string> variables;
  Environment Make() const {
    Environment env = SystemEnvironment();
    env.variable = [vars = variables](const char* name) -> std::optional<std::string> {
      const auto it = vars.find(name);
      if (it == vars.end()) return std::nullopt;
      return it->second;
    };
    return env;
  }
};

// Each top-level folder's name and how many cards it holds.
std::vector<std::string> TopFolders(ContactStore& store) {
  std::vector<std::string> seen;
  const auto cursor = store.Folders();
  while (auto folder = cursor->Next()) {
    std::size_t cards = 0;
    const auto items = folder->Items();
    while (items->Next()) ++cards;
    seen.push_back(folder->Name() + " " + std::to_string(cards));
  }
  return seen;
}

std::vector<std::string> Chosen(std::string_view named, const Environment& env) {
  ProfileChoice choice = OpenProfile(named, env);
  EXPECT_TRUE(choice.Ok()) << choice.Message();
  if (!choice.Ok()) return {};
  const Status opened = choice.Value()->Open();
  EXPECT_TRUE(opened.Ok()) << opened.Message();
  return TopFolders(*choice.Value());
}

std::string ProblemOf(std::string_view named, const Environment& env) {
  ProfileChoice choice = OpenProfile(named, env);
  EXPECT_FALSE(choice.Ok());
  return choice.Message();
}

TEST(OpenProfile, TakesAFolderOfAddressBookFoldersAsBefore) {
  const fs::path root = FreshTestFolder("profile");
  WriteTestFile(root / "family" / "a.vcf", kCard);
  WriteTestFile(root / "work" / "b.vcf", kCard);
  WriteTestFile(root / "work" / "c.vcf", kCard);
  EXPECT_THAT(Chosen(root.string(), FakeEnvironment{}.Make()), ElementsAre("family 1", "work 2"));
}

TEST(OpenProfile, TakesAFolderOfCardsAsOneAddressBookNamedByItsDisplayname) {
  const fs::path root = FreshTestFolder("profile");
  WriteTestFile(root / "collection" / "a.vcf", kCard);
  WriteTestFile(root / "collection" / "b.vcf", kCard);
  WriteTestFile(root / "collection" / "displayname", "Friends\n");
  EXPECT_THAT(Chosen((root / "collection").string(), FakeEnvironment{}.Make()),
              ElementsAre("Friends 2"));
}

TEST(OpenProfile, TakesAFolderOfCardsWithoutADisplaynameByItsOwnName) {
  const fs::path root = FreshTestFolder("profile");
  WriteTestFile(root / "collection" / "a.vcf", kCard);
  EXPECT_THAT(Chosen((root / "collection").string() + "/", FakeEnvironment{}.Make()),
              ElementsAre("collection 1"));
}

TEST(OpenProfile, GivesTheCardsOfAFolderWithSubfoldersAnAddressBookBesideThem) {
  const fs::path root = FreshTestFolder("profile");
  WriteTestFile(root / "mixed" / "a.vcf", kCard);
  WriteTestFile(root / "mixed" / "old" / "b.vcf", kCard);
  WriteTestFile(root / "mixed" / "old" / "c.vcf", kCard);
  EXPECT_THAT(Chosen((root / "mixed").string(), FakeEnvironment{}.Make()),
              ElementsAre("mixed 1", "old 2"));
}

TEST(OpenProfile, TakesAVcfFileAsOneAddressBookNamedAfterIt) {
  const fs::path root = FreshTestFolder("profile");
  WriteTestFile(root / "export.VCF", std::string(kCard) + "\r\n" + std::string(kCard));
  EXPECT_THAT(Chosen((root / "export.VCF").string(), FakeEnvironment{}.Make()),
              ElementsAre("export 2"));
}

TEST(OpenProfile, NamesAProfileThatIsMissing) {
  const fs::path root = FreshTestFolder("profile");
  EXPECT_EQ(ProblemOf((root / "gone").string(), FakeEnvironment{}.Make()),
            "\"" + (root / "gone").string() + "\": there is no such file or folder");
}

TEST(OpenProfile, RefusesAFileThatIsNotACard) {
  const fs::path root = FreshTestFolder("profile");
  WriteTestFile(root / "notes.txt", "x");
  EXPECT_THAT(ProblemOf((root / "notes.txt").string(), FakeEnvironment{}.Make()),
              HasSubstr("is neither a folder nor a .vcf file"));
}

TEST(OpenProfile, RefusesPlainHttpToAnotherMachineInOneLine) {
  const std::string problem = ProblemOf("http://ann@dav.example.org/", FakeEnvironment{}.Make());
  EXPECT_THAT(problem, HasSubstr("use https://"));
  EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
}

TEST(OpenProfile, TakesAnAddressAsAServerAndSendsNothingBeforeOpen) {
  // .invalid never resolves: a request would fail, so choosing must not send one.
  ProfileChoice choice = OpenProfile("HTTPS://ann@dav.invalid/dav/", FakeEnvironment{}.Make());
  ASSERT_TRUE(choice.Ok()) << choice.Message();
  EXPECT_EQ(choice.Value()->CurrentUser(), "ann@dav.invalid");
}

TEST(OpenProfile, ProblemStoreGivesTheReasonWhenOpened) {
  const auto store =
      StoreOrProblem(ProfileChoice::Failure("\"/x\": there is no such file or folder"));
  const Status opened = store->Open();
  EXPECT_FALSE(opened.Ok());
  EXPECT_EQ(opened.Message(), "\"/x\": there is no such file or folder");
}

TEST(CheckProfile, TakesAFolderWithCardsInAnAddressBookBelowIt) {
  const fs::path root = FreshTestFolder("profile");
  WriteTestFile(root / "store" / "work" / "clients" / "a.vcf", kCard);
  EXPECT_TRUE(CheckProfile((root / "store").string()).Ok());
}

TEST(CheckProfile, TakesAVcfFileThatBeginsAsACard) {
  const fs::path root = FreshTestFolder("profile");
  WriteTestFile(root / "all.VCF", "\xEF\xBB\xBF\r\n" + std::string(kCard));
  EXPECT_TRUE(CheckProfile((root / "all.VCF").string()).Ok());
}

TEST(CheckProfile, RefusesAFolderWithoutCards) {
  const fs::path root = FreshTestFolder("profile");
  WriteTestFile(root / "docs" / "notes.txt", "nothing here");
  WriteTestFile(root / "docs" / ".hidden" / "a.vcf", kCard);
  EXPECT_EQ(CheckProfile((root / "docs").string()).Message(),
            "it holds no contact cards (.vcf files)");
}

TEST(CheckProfile, RefusesAVcfFileThatIsNotAVCard) {
  const fs::path root = FreshTestFolder("profile");
  WriteTestFile(root / "photo.vcf", "\x89PNG\r\n");
  EXPECT_EQ(CheckProfile((root / "photo.vcf").string()).Message(),
            "it is not a vCard file (no BEGIN:VCARD)");
}

TEST(CheckProfile, RefusesAFileThatIsNotAVcfFile) {
  const fs::path root = FreshTestFolder("profile");
  WriteTestFile(root / "cards.txt", kCard);
  EXPECT_EQ(CheckProfile((root / "cards.txt").string()).Message(),
            "it is neither a folder nor a .vcf file");
}

TEST(CheckProfile, NamesAPathThatIsMissing) {
  EXPECT_EQ(CheckProfile((FreshTestFolder("profile") / "gone").string()).Message(),
            "there is no such file or folder");
}

// A home of its own for each default test.
class DefaultProfile : public testing::Test {
 protected:
  void SetUp() override {
    m_home = FreshTestFolder("profile") / "home";
    fs::create_directories(m_home);
    m_env.variables["HOME"] = m_home.string();
  }
  std::vector<std::string> Chosen() { return dialmend::Chosen("", m_env.Make()); }
  std::string Problem() { return ProblemOf("", m_env.Make()); }

  fs::path m_home;
  FakeEnvironment m_env;
};

TEST_F(DefaultProfile, IsKhardsAddressBooksEachATopLevelFolder) {
  WriteTestFile(m_home / "cards" / "family" / "a.vcf", kCard);
  WriteTestFile(m_home / "cards" / "work" / "b.vcf", kCard);
  WriteTestFile(m_home / "cards" / "work" / "c.vcf", kCard);
  WriteTestFile(m_home / ".contacts" / "other" / "d.vcf", kCard);
  WriteTestFile(m_home / ".config" / "khard" / "khard.conf",
                "[addressbooks]\n[[work]]\npath = ~/cards/work/\n[[family]]\npath = " +
                    (m_home / "cards" / "family").string() + "\n");
  EXPECT_THAT(Chosen(), ElementsAre("work 2", "family 1"));
}

TEST_F(DefaultProfile, WalksAKhardAddressBookNamedTwiceOnceAndSaysSo) {
  WriteTestFile(m_home / "cards" / "a.vcf", kCard);
  WriteTestFile(m_home / ".config" / "khard" / "khard.conf",
                "[addressbooks]\n[[a]]\npath = ~/cards\n[[b]]\npath = ~/cards/\n");
  ProfileChoice choice = OpenProfile("", m_env.Make());
  ASSERT_TRUE(choice.Ok()) << choice.Message();
  EXPECT_THAT(TopFolders(*choice.Value()), ElementsAre("cards 1"));
  const std::vector<StoreNote> notes = choice.Value()->TakeNotes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].subject, (m_home / "cards").string());
  EXPECT_EQ(notes[0].text, "passed over: it is an address book already walked");
}

TEST_F(DefaultProfile, ReadsKhardFromXdgConfigHome) {
  WriteTestFile(m_home / "cards" / "a.vcf", kCard);
  WriteTestFile(m_home / "xdg" / "khard" / "khard.conf",
                "[addressbooks]\n[[mine]]\npath = ~/cards\n");
  WriteTestFile(m_home / ".config" / "khard" / "khard.conf", "[addressbooks\n");
  m_env.variables["XDG_CONFIG_HOME"] = (m_home / "xdg").string();
  EXPECT_THAT(Chosen(), ElementsAre("cards 1"));
}

TEST_F(DefaultProfile, NamesAKhardAddressBookThatDoesNotExist) {
  WriteTestFile(m_home / ".config" / "khard" / "khard.conf",
                "[addressbooks]\n[[family]]\npath = ~/gone\n");
  const std::string problem = Problem();
  EXPECT_THAT(problem, HasSubstr("khard's address book \"family\""));
  EXPECT_THAT(problem, HasSubstr("khard.conf\", line 3) is at \"" + (m_home / "gone").string() +
                                 "\", but it does not exist"));
}

TEST_F(DefaultProfile, NamesTheFileAndLineOfABadKhardConfig) {
  WriteTestFile(m_home / ".contacts" / "book" / "a.vcf", kCard);
  WriteTestFile(m_home / ".config" / "khard" / "khard.conf", "# mine\n[addressbooks]\n[[family]\n");
  EXPECT_EQ(Problem(), "\"" + (m_home / ".config" / "khard" / "khard.conf").string() +
                           "\", line 3: the brackets of the section line \"[[family]\" do not "
                           "match");
}

TEST_F(DefaultProfile, NamesAConfigurationThatIsNotAFile) {
  fs::create_directories(m_home / ".config" / "khard" / "khard.conf");
  EXPECT_EQ(Problem(), "cannot read \"" + (m_home / ".config" / "khard" / "khard.conf").string() +
                           "\": it is not a file");
}

TEST_F(DefaultProfile, IsVdirsyncersStorageWhenKhardHasNone) {
  WriteTestFile(m_home / "sync" / "contacts" / "a.vcf", kCard);
  WriteTestFile(m_home / "sync" / "default" / "b.vcf", kCard);
  WriteTestFile(m_home / ".vdirsyncer" / "config",
                "[storage local]\ntype = \"filesystem\"\npath = \"~/sync/\"\nfileext = \".vcf\"\n");
  EXPECT_THAT(Chosen(), ElementsAre("contacts 1", "default 1"));
}

TEST_F(DefaultProfile, WalksTheCollectionsOfEveryVdirsyncerStorage) {
  WriteTestFile(m_home / "a" / "one" / "a.vcf", kCard);
  WriteTestFile(m_home / "b" / "two" / "b.vcf", kCard);
  WriteTestFile(m_home / ".config" / "vdirsyncer" / "config",
                "[storage a]\ntype = \"filesystem\"\npath = \"~/a\"\nfileext = \".vcf\"\n"
                "[storage b]\ntype = \"filesystem\"\npath = \"~/b\"\nfileext = \".vcf\"\n");
  EXPECT_THAT(Chosen(), ElementsAre("one 1", "two 1"));
}

TEST_F(DefaultProfile, NamesTheFileAndLineOfABadVdirsyncerConfig) {
  WriteTestFile(m_home / ".vdirsyncer" / "config",
                "[storage local]\ntype = \"filesystem\"\npath = ~/sync\nfileext = \".vcf\"\n");
  EXPECT_THAT(Problem(), HasSubstr(".vdirsyncer/config\", line 3: the value of path: it is "
                                   "not a quoted string"));
}

TEST_F(DefaultProfile, IsHomeContactsWithoutAConfiguration) {
  WriteTestFile(m_home / ".contacts" / "book" / "a.vcf", kCard);
  EXPECT_THAT(Chosen(), ElementsAre("book 1"));
}

TEST_F(DefaultProfile, ListsEveryPathTriedWhenNothingIsFound) {
  const std::string home = m_home.string();
  EXPECT_EQ(Problem(), "no address books found; tried \"" + home +
                           "/.config/khard/khard.conf\", \"" + home + "/.vdirsyncer/config\", \"" +
                           home + "/.config/vdirsyncer/config\" and \"" + home +
                           "/.contacts\"; name the store with --profile");
}

TEST_F(DefaultProfile, SaysHomeIsNotSet) {
  m_env.variables.erase("HOME");
  EXPECT_EQ(Problem(), "no address books found (HOME is not set); name the store with --profile");
}

TEST_F(DefaultProfile, PlaceIsTheNamedPathAsGiven) {
  const Result<std::string> place = ProfilePlace("/x/cards.vcf", m_env.Make());
  ASSERT_TRUE(place.Ok());
  EXPECT_EQ(place.Value(), "/x/cards.vcf");
}

TEST_F(DefaultProfile, PlaceIsEveryFolderTheDefaultSearchFinds) {
  WriteTestFile(m_home / "cards" / "family" / "a.vcf", kCard);
  WriteTestFile(m_home / "cards" / "work" / "b.vcf", kCard);
  WriteTestFile(
      m_home / ".config" / "khard" / "khard.conf",
      "[addressbooks]\n[[work]]\npath = ~/cards/work\n[[family]]\npath = ~/cards/family\n");
  const Result<std::string> place = ProfilePlace("", m_env.Make());
  ASSERT_TRUE(place.Ok()) << place.Message();
  EXPECT_EQ(place.Value(),
            (m_home / "cards" / "work").string() + "; " + (m_home / "cards" / "family").string());
}

TEST_F(DefaultProfile, PlaceIsHomeContactsWithoutAConfiguration) {
  WriteTestFile(m_home / ".contacts" / "book" / "a.vcf", kCard);
  const Result<std::string> place = ProfilePlace("", m_env.Make());
  ASSERT_TRUE(place.Ok()) << place.Message();
  EXPECT_EQ(place.Value(), (m_home / ".contacts").string());
}

TEST_F(DefaultProfile, PlaceGivesTheSameProblemAsTheChoice) {
  const Result<std::string> place = ProfilePlace("", m_env.Make());
  ASSERT_FALSE(place.Ok());
  EXPECT_EQ(place.Message(), Problem());
}

}  // namespace
}  // namespace dialmend
