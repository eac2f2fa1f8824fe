#include "stores/profile/open_profile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "stores/profile/desktop_books.h"
#include "stores/profile/profile_books.h"
#include "tests/fakes/test_folder.h"

// The chooser on real folders, with the variables and configuration files preset.

namespace dialmend {
namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;

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

std::vector<std::string> Chosen(std::string_view named,
                                const Environment& env = FakeEnvironment{}.Make()) {
  ProfileChoice choice = OpenProfile(named, env);
  EXPECT_TRUE(choice.Ok()) << choice.Message();
  if (!choice.Ok()) return {};
  const Status opened = choice.Value()->Open();
  EXPECT_TRUE(opened.Ok()) << opened.Message();
  return TopFolders(*choice.Value());
}

std::string ProblemOf(std::string_view named, const Environment& env = FakeEnvironment{}.Make()) {
  ProfileChoice choice = OpenProfile(named, env);
  EXPECT_FALSE(choice.Ok());
  return choice.Message();
}

// A fresh folder with a card at each of the paths below it.
fs::path WithCards(std::initializer_list<std::string_view> cards,
                   const fs::path& root = FreshTestFolder("profile")) {
  for (const std::string_view card : cards) WriteTestFile(root / card, kCard);
  return root;
}

// What a path names: the address books walked, each with its number of cards.
TEST(OpenProfile, TakesFoldersOfBooksAFolderOfCardsOrAVcfFile) {
  const fs::path root = WithCards({"books/family/a.vcf", "books/work/b.vcf", "books/work/c.vcf",
                                   "named/a.vcf", "named/b.vcf", "plain/a.vcf", "mixed/a.vcf",
                                   "mixed/old/b.vcf", "mixed/old/c.vcf"});
  WriteTestFile(root / "named" / "displayname", "Friends\n");
  WriteTestFile(root / "export.VCF", std::string(kCard) + "\r\n" + std::string(kCard));
  const struct {
    std::string path;
    std::vector<std::string> books;
  } rows[] = {
      {"books", {"family 1", "work 2"}},
      {"named", {"Friends 2"}},
      {"plain/", {"plain 1"}},
      // The cards of a folder with subfolders are an address book beside them.
      {"mixed", {"mixed 1", "old 2"}},
      {"export.VCF", {"export 2"}},
  };
  for (const auto& row : rows) EXPECT_EQ(Chosen((root / row.path).string()), row.books) << row.path;
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

TEST(CheckProfile, TakesOnlyAFolderWithCardsOrAVcfFileThatBeginsAsACard) {
  const fs::path root = FreshTestFolder("profile");
  WriteTestFile(root / "store" / "work" / "clients" / "a.vcf", kCard);
  WriteTestFile(root / "all.VCF", "\xEF\xBB\xBF\r\n" + std::string(kCard));
  WriteTestFile(root / "docs" / "notes.txt", "nothing here");
  WriteTestFile(root / "docs" / ".hidden" / "a.vcf", kCard);
  WriteTestFile(root / "photo.vcf", "\x89PNG\r\n");
  WriteTestFile(root / "cards.txt", kCard);
  const struct {
    const char* path;
    const char* problem;  // empty: taken
  } rows[] = {
      {"store", ""},
      {"all.VCF", ""},
      {"docs", "it holds no contact cards (.vcf files)"},
      {"photo.vcf", "it is not a vCard file (no BEGIN:VCARD)"},
      {"cards.txt", "it is neither a folder nor a .vcf file"},
      {"gone", "there is no such file or folder"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(CheckProfile((root / row.path).string()).Message(), row.problem) << row.path;
  }
}

// A home of its own for each default test.
class DefaultProfile : public testing::Test {
 protected:
  void SetUp() override {
    m_home = FreshTestFolder("profile") / "home";
    fs::create_directories(m_home);
    m_env.variables["HOME"] = m_home.string();
  }
  void TearDown() override { fs::remove_all(m_home.parent_path()); }
  std::vector<std::string> Chosen() { return dialmend::Chosen("", m_env.Make()); }
  std::string Problem() { return ProblemOf("", m_env.Make()); }
  // Where the default search finds the contacts, or why not.
  std::string Place() {
    const Result<std::string> place = ProfilePlace("", m_env.Make());
    return place.Ok() ? place.Value() : place.Message();
  }
  void Cards(std::initializer_list<std::string_view> cards) { (void)WithCards(cards, m_home); }
  void Write(const fs::path& file, std::string_view text) { WriteTestFile(m_home / file, text); }
  std::string Home(const fs::path& below) const { return (m_home / below).string(); }

  fs::path m_home;
  FakeEnvironment m_env;
};

TEST_F(DefaultProfile, IsKhardsAddressBooksEachATopLevelFolder) {
  Cards({"cards/family/a.vcf", "cards/work/b.vcf", "cards/work/c.vcf", ".contacts/other/d.vcf"});
  Write(".config/khard/khard.conf",
        "[addressbooks]\n[[work]]\npath = ~/cards/work/\n[[family]]\n"
        "path = " +
            Home("cards/family") + "\n");
  EXPECT_THAT(Chosen(), ElementsAre("work 2", "family 1"));
  EXPECT_EQ(Place(), Home("cards/work/") + "; " + Home("cards/family"));
}

TEST_F(DefaultProfile, WalksAKhardAddressBookNamedTwiceOnceAndSaysSo) {
  Cards({"cards/a.vcf"});
  Write(".config/khard/khard.conf",
        "[addressbooks]\n[[a]]\npath = ~/cards\n[[b]]\npath = ~/cards/\n");
  ProfileChoice choice = OpenProfile("", m_env.Make());
  ASSERT_TRUE(choice.Ok()) << choice.Message();
  EXPECT_THAT(TopFolders(*choice.Value()), ElementsAre("cards 1"));
  const std::vector<StoreNote> notes = choice.Value()->TakeNotes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].subject, Home("cards"));
  EXPECT_EQ(notes[0].text, "passed over: it is an address book already walked");
}

TEST_F(DefaultProfile, ReadsKhardFromXdgConfigHome) {
  Cards({"cards/a.vcf"});
  Write("xdg/khard/khard.conf", "[addressbooks]\n[[mine]]\npath = ~/cards\n");
  Write(".config/khard/khard.conf", "[addressbooks\n");
  m_env.variables["XDG_CONFIG_HOME"] = Home("xdg");
  EXPECT_THAT(Chosen(), ElementsAre("cards 1"));
}

// A configuration the search cannot follow is named with the file and line, and the search
// stops there.
TEST_F(DefaultProfile, NamesWhatStopsTheSearch) {
  Cards({".contacts/book/a.vcf"});
  const std::string khard = Home(".config/khard/khard.conf");
  const struct {
    const char* file;  // a folder when it ends in a slash
    const char* text;
    std::string problem;
  } rows[] = {
      {".config/khard/khard.conf", "[addressbooks]\n[[family]]\npath = ~/gone\n",
       "khard's address book \"family\" (\"" + khard + "\", line 3) is at \"" + Home("gone") +
           "\", but it does not exist"},
      {".config/khard/khard.conf", "# mine\n[addressbooks]\n[[family]\n",
       "\"" + khard + "\", line 3: the brackets of the section line \"[[family]\" do not match"},
      {".config/khard/khard.conf/", "", "cannot read \"" + khard + "\": it is not a file"},
      {".vdirsyncer/config",
       "[storage local]\ntype = \"filesystem\"\npath = ~/sync\nfileext = \".vcf\"\n",
       "\"" + Home(".vdirsyncer/config") +
           "\", line 3: the value of path: it is not a quoted string (vdirsyncer's values are "
           "JSON: "
           "write \"...\")"},
  };
  for (const auto& row : rows) {
    const fs::path file = m_home / row.file;
    if (row.file[std::string_view(row.file).size() - 1] == '/') {
      fs::create_directories(file);
    } else {
      Write(row.file, row.text);
    }
    EXPECT_EQ(Problem(), row.problem);
    fs::remove_all(file);
  }
  m_env.variables.erase("HOME");
  EXPECT_EQ(Problem(), "no address books found (HOME is not set); name the store with --profile");
}

TEST_F(DefaultProfile, WalksTheCollectionsOfEveryVdirsyncerStorage) {
  Cards({"a/one/a.vcf", "b/two/b.vcf"});
  Write(".config/vdirsyncer/config",
        "[storage a]\ntype = \"filesystem\"\npath = \"~/a\"\nfileext = \".vcf\"\n"
        "[storage b]\ntype = \"filesystem\"\npath = \"~/b\"\nfileext = \".vcf\"\n");
  EXPECT_THAT(Chosen(), ElementsAre("one 1", "two 1"));
}

TEST_F(DefaultProfile, IsHomeContactsWithoutAConfiguration) {
  Cards({".contacts/book/a.vcf"});
  EXPECT_THAT(Chosen(), ElementsAre("book 1"));
  EXPECT_EQ(Place(), Home(".contacts"));
}

#ifdef DIALMEND_HAVE_EDS
TEST_F(DefaultProfile, IsGnomesAddressBooksBeforeHomeContacts) {
  Cards({".contacts/book/a.vcf"});
  fs::create_directories(m_home / ".cache" / "evolution" / "addressbook");
  EXPECT_EQ(Place(), "eds:");
}
#endif

TEST_F(DefaultProfile, ListsEveryPathTriedWhenNothingIsFound) {
#ifdef DIALMEND_HAVE_EDS
  const std::string eds_tried = "\", \"" + Home(".local/share/evolution/addressbook") + "\", \"" +
                                Home(".cache/evolution/addressbook");
#else
  const std::string eds_tried;
#endif
  EXPECT_EQ(Problem(), "no address books found; tried \"" + Home(".config/khard/khard.conf") +
                           "\", \"" + Home(".vdirsyncer/config") + "\", \"" +
                           Home(".config/vdirsyncer/config") + eds_tried + "\", \"" +
                           Home(".thunderbird/profiles.ini") + "\", \"" +
                           Home(".config/akonadi/agentsrc") + "\" and \"" + Home(".contacts") +
                           "\"; name the store with --profile");
  EXPECT_EQ(Place(), Problem());
}

// Each place the search looks, set up in the home, taken away one by one: what the head of the
// log says it found each time.
TEST_F(DefaultProfile, TakesTheFirstOfKhardVdirsyncerThunderbirdKdeAndHomeContacts) {
  Cards({"khard/a.vcf", "sync/book/b.vcf", ".contacts/book/c.vcf", "kde/d.vcf"});
  Write(".config/khard/khard.conf", "[addressbooks]\n[[mine]]\npath = ~/khard\n");
  Write(".vdirsyncer/config",
        "[storage local]\ntype = \"filesystem\"\npath = \"~/sync\"\nfileext = \".vcf\"\n");
  Write(".thunderbird/profiles.ini",
        "[Profile1]\nName=other\nIsRelative=1\nPath=b.other\n\n"
        "[Profile0]\nName=default\nIsRelative=1\nPath=a.default\nDefault=1\n");
  Write(".thunderbird/a.default/abook.sqlite", "");
  Write(".config/akonadi/agentsrc",
        "[Instances]\nakonadi_contacts_resource_0\\AgentType=akonadi_contacts_resource\n");
  Write(".config/akonadi_contacts_resource_0rc", "[General]\nPath[$e]=$HOME/kde/\n");
  std::vector<std::string> found;
  for (const char* config : {".config/khard/khard.conf", ".vdirsyncer/config",
                             ".thunderbird/profiles.ini", ".config/akonadi/agentsrc", ""}) {
    ProfileChoice choice = OpenProfile("", m_env.Make());
    found.push_back(choice.Ok() ? choice.Value()->Found() : choice.Message());
    if (*config != '\0') fs::remove(m_home / config);
  }
  const std::string prefix = "The default search found ";
  EXPECT_THAT(found, ElementsAre(prefix + "khard's address books: \"" + Home("khard") + "\"",
                                 prefix + "vdirsyncer's storage \"" + Home("sync") + "\"",
                                 prefix + "Thunderbird's profile \"default\" (\"" +
                                     Home(".thunderbird/a.default") + "\")",
                                 prefix + "KDE's address books: \"Personal Contacts\" (\"" +
                                     Home("kde/") + "\")",
                                 prefix + "\"" + Home(".contacts") + "\""));
}

TEST_F(DefaultProfile, FindsKdesVCardFoldersButNotThePhonesCopy) {
  Write(".config/akonadi/agentsrc",
        "[Instances][akonadi_vcarddir_resource_2]\nAgentType=akonadi_vcarddir_resource\n"
        "[Instances][akonadi_contacts_resource_0]\nAgentType=akonadi_contacts_resource\n"
        "[Instances][akonadi_contacts_resource_1]\nAgentType=akonadi_contacts_resource\n"
        "[Instances][akonadi_ical_resource_0]\nAgentType=akonadi_ical_resource\n");
  Write(".config/akonadi_vcarddir_resource_2rc", "[General]\nPath=" + Home("dir") + "\n");
  Write(".config/akonadi_contacts_resource_1rc",
        "[General]\nPath[$e]=${HOME}/.local/share/kpeoplevcard\n");
  Write(".config/akonadi_ical_resource_0rc", "[General]\nPath=" + Home("dir") + "\n");
  fs::create_directories(m_home / "dir");
  fs::create_directories(m_home / ".local/share/contacts");
  fs::create_directories(m_home / ".local/share/kpeoplevcard");
  std::vector<std::string> books;
  for (const KdeBook& book : FindKdeBooks(m_env.Make())) {
    books.push_back(book.resource + " " + book.book.name + " " + book.book.path + " " +
                    (book.book.naming == CardNaming::AnyFile ? "any" : "vcf"));
  }
  EXPECT_THAT(books,
              ElementsAre("akonadi_vcarddir_resource_2 vCard Directory " + Home("dir") + " any",
                          "akonadi_contacts_resource_0 Personal Contacts " +
                              Home(".local/share/contacts") + " vcf"));
}

TEST_F(DefaultProfile, NamesAThunderbirdProfileOrSaysWhichThereAre) {
  Write(".thunderbird/profiles.ini",
        "[Profile0]\nName=default\nPath=x.default\n\n[Profile1]\nName=work\nIsRelative=0\n"
        "Path=" +
            Home("elsewhere") + "\n");
  const auto place = [this](std::string_view named) {
    const Result<std::string> found = ProfilePlace(named, m_env.Make());
    return found.Ok() ? found.Value() : found.Message();
  };
  EXPECT_EQ(place("thunderbird:"), Home(".thunderbird/x.default"));
  EXPECT_EQ(place("Thunderbird:work"), Home("elsewhere"));
  EXPECT_EQ(place("thunderbird:" + Home("mine")), "Thunderbird has no profile \"" + Home("mine") +
                                                      "\" (its profiles: \"default\", \"work\")");
  fs::create_directories(m_home / "mine");
  EXPECT_EQ(place("thunderbird:" + Home("mine")), Home("mine"));
  EXPECT_EQ(place("kde:"), "KDE's address book has no vCard folders");
}

TEST(ChooseThunderbirdProfile, TakesTheInstallationsDefaultThenTheMarkedThenTheFirst) {
  const std::string marked = "[Profile0]\nName=a\nPath=a\n[Profile1]\nName=b\nPath=b\nDefault=1\n";
  const struct {
    std::string ini;
    const char* chosen;
  } cases[] = {
      {"[Install4F96D1932A9F858E]\nDefault=c\nLocked=1\n\n" + marked +
           "[Profile2]\nName=c\nPath=c\n",
       "c"},
      {marked, "b"},
      {"[General]\nStartWithLastProfile=1\n[Profile0]\nName=a\nPath=a\n[Profile1]\nName=b\n"
       "Path=b\n",
       "a"},
      {"[General]\nVersion=2\n", "it names no profile"},
  };
  for (const auto& c : cases) {
    const Result<ThunderbirdPlace> chosen = ChooseThunderbirdProfile(c.ini, "/root", "");
    EXPECT_EQ(chosen.Ok() ? chosen.Value().name : chosen.Message(), c.chosen) << c.ini;
  }
}

TEST_F(DefaultProfile, ChoosesKhardsBooksByTheirNamesThoughTheirFoldersShareOne) {
  Cards({"home/contacts/a.vcf", "office/contacts/b.vcf", "office/contacts/c.vcf"});
  Write(
      ".config/khard/khard.conf",
      "[addressbooks]\n[[personal]]\npath = ~/home/contacts\n[[work]]\npath = ~/office/contacts\n");
  const Result<std::vector<ProfileBook>> books = ProfileBooks("", m_env.Make());
  ASSERT_TRUE(books.Ok()) << books.Message();
  ASSERT_EQ(books.Value().size(), 2u);
  EXPECT_EQ(books.Value()[1].name, "contacts");
  EXPECT_THAT(books.Value()[1].other_names, ElementsAre("work"));

  ProfileChoice work = OpenProfileBooks("", m_env.Make(), {}, {"work"});
  ASSERT_TRUE(work.Ok()) << work.Message();
  ASSERT_TRUE(work.Value()->Open().Ok());
  EXPECT_THAT(TopFolders(*work.Value()), ElementsAre("contacts 2"));
  ProfileChoice whole = OpenProfile("", m_env.Make());
  EXPECT_EQ(work.Value()->Identity(), whole.Value()->Identity()) << "undone with the others";

  ProfileChoice unknown = OpenProfileBooks("", m_env.Make(), {}, {"home"});
  EXPECT_EQ(unknown.Message(),
            "no address book is named \"home\"; the profile's address books are \"contacts\" or "
            "\"personal\" and \"contacts\" or \"work\"");
}

// A profile folder's own cards are one book and each subfolder another; an export file is one.
TEST(OpenProfileBooks, WalksOnlyTheBooksNamed) {
  const fs::path root = WithCards({"mixed/a.vcf", "mixed/new/b.vcf", "mixed/old/c.vcf"});
  WriteTestFile(root / "mixed" / "old" / "displayname", "Archive\n");
  const fs::path file = root / "export.vcf";
  WriteTestFile(file, std::string(kCard) + "\r\n" + std::string(kCard));
  const struct {
    fs::path profile;
    std::vector<std::string> books;
    std::vector<std::string> walked;
  } rows[] = {
      {root / "mixed", {"mixed"}, {"mixed 1"}},
      {root / "mixed", {"old", "mixed"}, {"mixed 1", "Archive 1"}},
      {root / "mixed", {"Archive", "new"}, {"new 1", "Archive 1"}},
      {file, {"export"}, {"export 2"}},
  };
  for (const auto& row : rows) {
    ProfileChoice choice =
        OpenProfileBooks(row.profile.string(), FakeEnvironment{}.Make(), {}, row.books);
    ASSERT_TRUE(choice.Ok()) << choice.Message();
    ASSERT_TRUE(choice.Value()->Open().Ok()) << row.books.front();
    EXPECT_EQ(TopFolders(*choice.Value()), row.walked) << row.books.front();
  }
  ProfileChoice other = OpenProfileBooks(file.string(), FakeEnvironment{}.Make(), {}, {"x"});
  ASSERT_TRUE(other.Ok()) << "a store that is not folders is asked when opened";
  EXPECT_EQ(other.Value()->Open().Message(),
            "no address book is named \"x\"; the profile's address books are \"export\"");
}

TEST(ProfilePlace, IsTheNamedPathAsGiven) {
  const Result<std::string> place = ProfilePlace("/x/cards.vcf", FakeEnvironment{}.Make());
  ASSERT_TRUE(place.Ok());
  EXPECT_EQ(place.Value(), "/x/cards.vcf");
}

}  // namespace
}  // namespace dialmend
