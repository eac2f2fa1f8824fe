#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/number_options.h"
#include "run/undo_record.h"
#include "tests/fakes/dav_server.h"
#include "tests/fakes/quiet_run.h"
#include "tests/stores/carddav/dav_test_client.h"

// The CardDAV store against the tests' shaped server, answering as misbehaving servers and
// proxies do.

namespace dialmend {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kBook = "my böok & co";
constexpr const char* kAnn =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:ann\r\nFN:Ann Smith\r\nTEL;TYPE=HOME:0171 930 8890\r\n"
    "END:VCARD\r\n";
constexpr const char* kBob =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:bob\r\nFN:Bob Jones\r\nTEL;TYPE=WORK:0171 930 8891\r\n"
    "END:VCARD\r\n";

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class ShapedServer : public testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = DavServer::Missing(DavServerKind::Shaped); !missing.empty()) {
      if (std::getenv("CI") != nullptr) FAIL() << missing;
      GTEST_SKIP() << missing;
    }
    // "b.vcf" sorts before "ä b.vcf" by name, after it as "%C3%A4%20b.vcf".
    m_server.AddRadicaleBook(kBook, "Odd");
    m_server.AddRadicaleCard(kBook, "ä b.vcf", kAnn);
    m_server.AddRadicaleCard(kBook, "b.vcf", kBob);
  }

  void Start(std::vector<std::string> arguments) {
    m_server.AddArguments(std::move(arguments));
    std::string why;
    ASSERT_TRUE(m_server.Start(why)) << why;
  }

  // The book's address as a user types it: a space, an umlaut and an ampersand as they are.
  [[nodiscard]] std::string BookUrl() const { return m_server.Url() + "/user/" + kBook + "/"; }

  // How many of the server's requests hold `part` ("\"status\": 401").
  [[nodiscard]] std::size_t Requests(const std::string& part) const {
    std::size_t count = 0;
    for (const std::string& line : m_server.Requests()) count += CountOf(line, part);
    return count;
  }

  DavServer m_server{DavServerKind::Shaped};
};

struct SlowRow {
  const char* shape;
  const char* said;
};

class SlowServer : public ShapedServer, public testing::WithParamInterface<SlowRow> {};

TEST_P(SlowServer, GivesUpWithinItsLimitsInOneLine) {
  Start({"--shape", GetParam().shape});
  CardDavSettings settings = Settings(m_server);
  settings.stall_seconds = 1;
  settings.total_seconds = 3;
  const Clock::time_point started = Clock::now();
  const QuietRun run = RunQuietly(*Store(BookUrl(), settings), NumberOptions{}, false);
  EXPECT_LT(Clock::now() - started, 6s);
  EXPECT_EQ(run.counters.problems, 1) << run.log;
  EXPECT_NE(run.log.find(GetParam().said), std::string::npos) << run.log;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, SlowServer,
    testing::Values(SlowRow{"silent", "the server sent nothing for 1 second"},
                    SlowRow{"stall", "the server sent less than 1 KiB in 1 second"},
                    SlowRow{"trickle", "the server sent less than 1 KiB in 1 second"},
                    SlowRow{"endless", "the server took longer than 3 seconds to answer"}),
    [](const auto& info) { return std::string(info.param.shape); });

TEST_F(ShapedServer, AStopEndsAWaitForATricklingServerAtOnceAndIsAskedThroughout) {
  Start({"--shape", "trickle"});
  CardDavSettings settings = Settings(m_server);
  settings.stall_seconds = 60;
  int asked = 0;
  Clock::time_point first;
  Clock::time_point stopped;
  settings.stop = [&] {
    const Clock::time_point now = Clock::now();
    if (asked++ == 0) first = now;
    if (now - first < 500ms) return false;
    if (stopped == Clock::time_point()) stopped = now;
    return true;
  };
  const QuietRun run = RunQuietly(*Store(BookUrl(), settings), NumberOptions{}, false);
  const auto ended = Clock::now();
  EXPECT_LT(ended - stopped, 200ms);
  // Asked about every twentieth of a second, so a window waiting on it keeps answering.
  EXPECT_GE(asked, 8);
  EXPECT_NE(run.log.find("the run was stopped before the server answered"), std::string::npos)
      << run.log;
}

struct RedirectRow {
  const char* name;
  // Whether ~/.netrc holds a login for the second host too.
  bool second_in_netrc;
};

class RedirectedServer : public ShapedServer, public testing::WithParamInterface<RedirectRow> {};

TEST_P(RedirectedServer, GivesTheOtherHostOnlyItsOwnLogin) {
  Start({"--login", std::string("127.0.0.1=") + DavServer::kPassword, "--login",
         "127.0.0.2=other-pw", "--redirect", "/user/"});
  const std::string netrc = (m_server.Dir() / "netrc").string();
  std::ofstream(netrc) << "machine 127.0.0.1 login user password " << DavServer::kPassword << "\n"
                       << (GetParam().second_in_netrc
                               ? "machine 127.0.0.2 login user password other-pw\n"
                               : "");
  CardDavSettings settings = Settings(m_server);
  settings.netrc_file = netrc;
  std::vector<std::string> prompts;
  settings.ask_password = [&](const std::string& prompt) {
    prompts.push_back(prompt);
    return std::optional<std::string>("other-pw");
  };
  const QuietRun run = RunQuietly(*Store(m_server.Url() + "/", settings), NumberOptions{}, false);
  EXPECT_EQ(run.counters.checked, 2) << run.log;
  EXPECT_EQ(prompts,
            GetParam().second_in_netrc
                ? std::vector<std::string>{}
                : std::vector<std::string>{"Password for user at " + m_server.SecondUrl() + ": "});
  // Basic "user:s3cret-pw", the first host's login.
  for (const std::string& request : m_server.Requests()) {
    if (request.find("127.0.0.2") == std::string::npos) continue;
    EXPECT_EQ(request.find("dXNlcjpzM2NyZXQtcHc="), std::string::npos) << request;
  }
}

INSTANTIATE_TEST_SUITE_P(Logins, RedirectedServer,
                         testing::Values(RedirectRow{"AskedForTheOtherHost", false},
                                         RedirectRow{"TheOtherHostInNetrc", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShapedServer, StopsReadingAnAnswerThatUnpacksPastTheCap) {
  Start({"--shape", "gzip-bomb", "--bomb-mib", "80"});
  const QuietRun run = RunQuietly(*Store(BookUrl(), Settings(m_server)), NumberOptions{}, false);
  // The batch, then each card alone: one line for each card.
  EXPECT_EQ(run.counters.problems, 2) << run.log;
  EXPECT_EQ(CountOf(run.log, ": the server's answer is larger than 64 MiB\r\n"), 2U) << run.log;
}

TEST_F(ShapedServer, ReadsABatchRefusedForOneCardGoneCardByCard) {
  Start({"--shape", "batch-404", "--shape", "listed-gone"});
  const QuietRun run = RunQuietly(*Store(BookUrl(), Settings(m_server)), NumberOptions{}, false);
  EXPECT_EQ(run.counters.checked, 2) << run.log;
  EXPECT_EQ(run.counters.problems, 1);
  EXPECT_NE(run.log.find("\\Odd\\gone.vcf: it is no longer on the server (404 Not Found)\r\n"),
            std::string::npos)
      << run.log;
}

class HrefSpelling : public ShapedServer, public testing::WithParamInterface<const char*> {};

TEST_P(HrefSpelling, ReadsEveryCardInTheOrderOfTheirNames) {
  Start({"--shape", GetParam()});
  const QuietRun run = RunQuietly(*Store(BookUrl(), Settings(m_server)), NumberOptions{}, false);
  EXPECT_EQ(run.counters.checked, 2) << run.log;
  EXPECT_EQ(run.counters.problems, 0) << run.log;
  EXPECT_LT(run.log.find("Bob Jones"), run.log.find("Ann Smith")) << run.log;
}

INSTANTIATE_TEST_SUITE_P(Hrefs, HrefSpelling, testing::Values("encoded", "raw-hrefs", "lower-hex"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::erase(name, '-');
                           return name;
                         });

class LoginMethod : public ShapedServer, public testing::WithParamInterface<const char*> {};

TEST_P(LoginMethod, IsRefusedOnlyWhileTheServerIsLearnt) {
  Start({"--shape", GetParam(), "--login", std::string("127.0.0.1=") + DavServer::kPassword});
  const QuietRun run = RunQuietly(*Store(BookUrl(), Settings(m_server)), NumberOptions{}, true);
  EXPECT_EQ(run.counters.updated, 2) << run.log;
  // Once for want of a login, once as curl learns the method; never again.
  EXPECT_EQ(Requests("\"status\": 401"), 2U);
  EXPECT_EQ(Requests("\"status\": 204"), 2U);
}

INSTANTIATE_TEST_SUITE_P(Methods, LoginMethod, testing::Values("basic", "digest"),
                         [](const auto& info) { return std::string(info.param); });

// Bytes in memory a core dump leaves out, as the program keeps a password, but counted apart
// from the program's own secrets.
class Hidden {
 public:
  explicit Hidden(std::size_t size) : m_size(size) {
    m_data = static_cast<char*>(
        ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ::madvise(m_data, size, MADV_DONTDUMP);
  }
  ~Hidden() { ::munmap(m_data, m_size); }
  Hidden(const Hidden&) = delete;
  Hidden& operator=(const Hidden&) = delete;
  [[nodiscard]] char* Data() const { return m_data; }
  [[nodiscard]] std::string_view View() const { return {m_data, m_size}; }

 private:
  char* m_data;
  std::size_t m_size;
};

// How many copies of `secret` lie in the memory a core dump holds (anonymous mappings, heap and
// stack, less those marked not to be dumped), read through a buffer that is not dumped itself.
std::size_t DumpedCopies(std::string_view secret) {
  std::vector<std::pair<std::uintptr_t, std::uintptr_t>> ranges;
  std::ifstream maps("/proc/self/smaps");
  bool anonymous = false;
  std::pair<std::uintptr_t, std::uintptr_t> range;
  for (std::string line; std::getline(maps, line);) {
    unsigned long long start = 0;
    unsigned long long end = 0;
    char perms[8] = {};
    unsigned long long inode = 0;
    if (std::sscanf(line.c_str(), "%llx-%llx %7s %*s %*s %llu", &start, &end, perms, &inode) == 4) {
      anonymous = perms[0] == 'r' && inode == 0 && line.find("[v") == std::string::npos;
      range = {start, end};
    } else if (line.starts_with("VmFlags:") && anonymous && line.find(" dd") == std::string::npos) {
      ranges.push_back(range);
    }
  }
  const Hidden buffer(std::size_t{1} << 20);
  const int memory = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
  std::size_t copies = 0;
  for (auto [at, stop] : ranges) {
    while (at < stop) {
      const std::size_t want = std::min<std::size_t>(buffer.View().size(), stop - at);
      const ssize_t got = ::pread(memory, buffer.Data(), want, static_cast<off_t>(at));
      if (got <= 0) break;
      const auto read = static_cast<std::size_t>(got);
      const std::string_view seen(buffer.Data(), read);
      for (std::size_t found = seen.find(secret); found != std::string_view::npos;
           found = seen.find(secret, found + 1)) {
        ++copies;
      }
      // The pieces overlap, so a copy across their border is seen, and seen once.
      at += read > secret.size() ? read - secret.size() + 1 : read;
    }
  }
  ::close(memory);
  return copies;
}

// "machine 127.0.0.1 login user password " and 24 random letters, made where it is not dumped.
struct TestNetrc {
  static constexpr std::string_view kHead = "machine 127.0.0.1 login user password ";
  Hidden text{kHead.size() + 24};
  // The password, and the Basic login "user:PASSWORD" in base64 as a header carries it.
  Hidden basic{32};

  TestNetrc() {
    std::memcpy(text.Data(), kHead.data(), kHead.size());
    std::ifstream("/dev/urandom", std::ios::binary).read(text.Data() + kHead.size(), 24);
    for (char* c = text.Data() + kHead.size(); c < text.Data() + text.View().size(); ++c) {
      *c = static_cast<char>('a' + static_cast<unsigned char>(*c) % 26);
    }
    // "user:" and the password are 29 bytes: the first 27 make 36 digits without padding.
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto byte = [&](std::size_t k) {
      return static_cast<unsigned char>(k < 5 ? "user:"[k] : Password()[k - 5]);
    };
    for (std::size_t i = 0, out = 0; out < basic.View().size(); i += 3) {
      const unsigned bits = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
      for (int j = 0; j < 4 && out < basic.View().size(); ++j) {
        basic.Data()[out++] = kDigits[(bits >> (18 - 6 * j)) & 63];
      }
    }
  }
  [[nodiscard]] std::string_view Password() const { return text.View().substr(kHead.size()); }
};

TEST_F(ShapedServer, KeepsThePasswordOutOfCoreDumps) {
  Start({"--login", "127.0.0.1=*"});
  const TestNetrc netrc;
  const std::string path = (m_server.Dir() / "netrc").string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_EQ(::write(fd, netrc.text.Data(), netrc.text.View().size()),
            static_cast<ssize_t>(netrc.text.View().size()));
  ::close(fd);
  CardDavSettings settings = Settings(m_server);
  settings.netrc_file = path;
  settings.ask_password = nullptr;
  {
    std::unique_ptr<ContactStore> store = Store(BookUrl(), settings);
    const QuietRun run = RunQuietly(*store, NumberOptions{}, false);
    EXPECT_EQ(run.counters.checked, 2) << run.log;
    // No core file, and no debugger of the same user, while the password is held.
    EXPECT_EQ(::prctl(PR_GET_DUMPABLE), 0);
  }
  EXPECT_EQ(::prctl(PR_GET_DUMPABLE), 1);
  EXPECT_EQ(DumpedCopies(netrc.Password()), 0U);
  EXPECT_EQ(DumpedCopies(netrc.basic.View()), 0U);
}

// The record of the one update run in `runs`.
UndoRecord OnlyRecord(const std::filesystem::path& runs) {
  std::vector<UndoRecord> records;
  for (const auto& entry : std::filesystem::directory_iterator(runs)) {
    Result<UndoRecord> read = ReadUndoRecord(entry.path().string());
    EXPECT_TRUE(read.Ok()) << read.Message();
    if (read.Ok()) records.push_back(std::move(read.Value()));
  }
  EXPECT_EQ(records.size(), 1U);
  return records.empty() ? UndoRecord{} : records.front();
}

TEST_F(ShapedServer, KnowsItsOwnWriteWhenThePutsAnswerIsLostAndUndoesIt) {
  Start({"--shape", "close-after-put"});
  const std::filesystem::path runs = m_server.Dir() / "runs";
  std::filesystem::create_directories(runs);
  const QuietRun update =
      RunQuietly(*Store(BookUrl(), Settings(m_server)), NumberOptions{}, runs.string());
  EXPECT_EQ(update.counters.updated, 2) << update.log;
  EXPECT_EQ(update.counters.problems, 0) << update.log;
  // Each card sent once: nothing sent a PUT again behind the program's back.
  EXPECT_EQ(Requests("\"method\": \"PUT\""), 2U);

  const QuietRun undo = UndoQuietly(*Store(BookUrl(), Settings(m_server)), OnlyRecord(runs), true);
  EXPECT_EQ(undo.counters.updated, 2) << undo.log;
  EXPECT_EQ(undo.counters.problems, 0) << undo.log;
}

}  // namespace
}  // namespace dialmend
