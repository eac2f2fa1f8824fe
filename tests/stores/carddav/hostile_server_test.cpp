#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
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
    m_server.AddRadicaleCard(kBook, "ä b.vcf",
                             "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:ann\r\nFN:Ann Smith\r\n"
                             "TEL;TYPE=HOME:0171 930 8890\r\nEND:VCARD\r\n");
    m_server.AddRadicaleCard(kBook, "b.vcf",
                             "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:bob\r\nFN:Bob Jones\r\n"
                             "TEL;TYPE=WORK:0171 930 8891\r\nEND:VCARD\r\n");
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

struct ShapeRow {
  const char* name;
  std::vector<std::string> arguments;
  std::int64_t updated;
  // The line each card that is not read gets; empty when every card is read.
  std::string line;
  std::size_t lines;
};

class ServerShape : public ShapedServer, public testing::WithParamInterface<ShapeRow> {};

TEST_P(ServerShape, UpdatesWhatItCanWithinItsLimitsAndUndoesIt) {
  const ShapeRow& row = GetParam();
  Start(row.arguments);
  CardDavSettings settings = Settings(m_server);
  settings.stall_seconds = 1;
  settings.total_seconds = 3;
  const std::filesystem::path runs = m_server.Dir() / "runs";
  std::filesystem::create_directories(runs);
  const Clock::time_point started = Clock::now();
  const QuietRun run = RunQuietly(*Store(BookUrl(), settings), NumberOptions{}, runs.string());
  // Ended, not hung: a loaded machine takes seconds to unpack the bomb.
  EXPECT_LT(Clock::now() - started, 30s);
  EXPECT_EQ(run.counters.updated, row.updated) << run.log;
  EXPECT_EQ(run.counters.problems, static_cast<std::int64_t>(row.lines)) << run.log;
  if (!row.line.empty()) {
    EXPECT_EQ(CountOf(run.log, row.line), row.lines) << run.log;
  }
  // In the order of the cards' names, as a folder store lists them.
  if (row.updated == 2) {
    EXPECT_LT(run.log.find("Bob Jones"), run.log.find("Ann Smith")) << run.log;
  }
  // Each card sent once, whatever became of the answer; a login refused only while the server
  // is learnt.
  EXPECT_EQ(Requests("\"method\": \"PUT\""), static_cast<std::size_t>(row.updated));
  EXPECT_LE(Requests("\"status\": 401"), 2U);
  if (row.updated == 0) return;
  const auto record = ReadUndoRecord(std::filesystem::directory_iterator(runs)->path().string());
  ASSERT_TRUE(record.Ok()) << record.Message();
  const QuietRun undo = UndoQuietly(*Store(BookUrl(), settings), record.Value(), true);
  EXPECT_EQ(undo.counters.updated, row.updated) << undo.log;
  EXPECT_EQ(undo.counters.problems, 0) << undo.log;
}

const std::string kLogin = std::string("127.0.0.1=") + DavServer::kPassword;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Shapes, ServerShape, testing::Values(
    ShapeRow{"Encoded", {}, 2, {}, 0},
    ShapeRow{"RawHrefs", {"--shape", "raw-hrefs"}, 2, {}, 0},
    ShapeRow{"LowerCaseEscapes", {"--shape", "lower-hex"}, 2, {}, 0},
    ShapeRow{"BasicLogin", {"--shape", "basic", "--login", kLogin}, 2, {}, 0},
    ShapeRow{"DigestLogin", {"--shape", "digest", "--login", kLogin}, 2, {}, 0},
    ShapeRow{"AnswerLostAfterEachPut", {"--shape", "close-after-put"}, 2, {}, 0},
    ShapeRow{"Batch404ForOneCardGone", {"--shape", "batch-404", "--shape", "listed-gone"}, 2,
             "\\Odd\\gone.vcf: it is no longer on the server (404 Not Found)", 1},
    ShapeRow{"GzipBomb", {"--shape", "gzip-bomb", "--bomb-mib", "80"}, 0,
             ": the server's answer is larger than 64 MiB", 2},
    ShapeRow{"Silent", {"--shape", "silent"}, 0, ": the server sent nothing for 1 second", 1},
    ShapeRow{"Stall", {"--shape", "stall"}, 0, ": the server sent less than 1 KiB in 1 second", 1},
    ShapeRow{"Trickle", {"--shape", "trickle"}, 0, ": the server sent less than 1 KiB in 1 second",
             1},
    ShapeRow{"Endless", {"--shape", "endless"}, 0, ": the server took longer than 3 seconds", 1}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

class RedirectedServer : public ShapedServer, public testing::WithParamInterface<bool> {};

TEST_P(RedirectedServer, GivesTheOtherHostOnlyItsOwnLogin) {
  const bool second_in_netrc = GetParam();
  Start({"--login", std::string("127.0.0.1=") + DavServer::kPassword, "--login",
         "127.0.0.2=other-pw", "--redirect", "/user/"});
  const std::string netrc = (m_server.Dir() / "netrc").string();
  std::ofstream(netrc) << "machine 127.0.0.1 login user password " << DavServer::kPassword << "\n"
                       << (second_in_netrc ? "machine 127.0.0.2 login user password other-pw\n"
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
  EXPECT_EQ(prompts, second_in_netrc ? std::vector<std::string>{}
                                     : std::vector<std::string>{"Password for user at " +
                                                                m_server.SecondUrl() + ": "});
  // Basic "user:s3cret-pw", the first host's login.
  for (const std::string& request : m_server.Requests()) {
    if (request.find("127.0.0.2") == std::string::npos) continue;
    EXPECT_EQ(request.find("dXNlcjpzM2NyZXQtcHc="), std::string::npos) << request;
  }
}

INSTANTIATE_TEST_SUITE_P(Logins, RedirectedServer, testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "BothInNetrc" : "AskedForTheOther");
});

// `text` with each byte one higher: a needle kept in memory that is not itself a copy.
std::string Shifted(std::string_view text) {
  std::string shifted(text);
  for (char& c : shifted) ++c;
  return shifted;
}

// How many copies of the text `shifted` stands for lie in the heap, where a freed block keeps
// what it held until it is used again (and a core dump shows it).
std::size_t CopiesInHeap(const std::string& shifted) {
  std::ifstream maps("/proc/self/maps");
  unsigned long long start = 0;
  unsigned long long end = 0;
  for (std::string line; std::getline(maps, line);) {
    if (line.ends_with("[heap]")) std::sscanf(line.c_str(), "%llx-%llx", &start, &end);
  }
  std::vector<char> heap(end - start);
  std::ifstream memory("/proc/self/mem", std::ios::binary);
  memory.seekg(static_cast<std::streamoff>(start))
      .read(heap.data(), static_cast<long>(heap.size()));
  const auto same = [](char byte, char wanted) { return byte == static_cast<char>(wanted - 1); };
  std::size_t copies = 0;
  for (auto it = heap.begin();
       (it = std::search(it, heap.end(), shifted.begin(), shifted.end(), same)) != heap.end();
       ++it) {
    ++copies;
  }
  return copies;
}

TEST_F(ShapedServer, KeepsThePasswordOutOfCoreDumps) {
  Start({"--login", "127.0.0.1=*"});
  // "user:" and 24 random letters; the password and the first 27 bytes' base64 (as a Basic
  // header carries it) are kept only shifted.
  char login[30] = "user:";
  std::ifstream("/dev/urandom", std::ios::binary).read(login + 5, 24);
  for (char* c = login + 5; c < login + 29; ++c) {
    *c = static_cast<char>('a' + static_cast<unsigned char>(*c) % 26);
  }
  const std::string password = Shifted({login + 5, 24});
  std::string basic;
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 27; i += 3) {
    const auto bits = static_cast<unsigned>(static_cast<unsigned char>(login[i]) << 16 |
                                            static_cast<unsigned char>(login[i + 1]) << 8 |
                                            static_cast<unsigned char>(login[i + 2]));
    for (int j = 18; j >= 0; j -= 6)
      basic.push_back(static_cast<char>(kDigits[bits >> j & 63] + 1));
  }
  const std::string path = (m_server.Dir() / "netrc").string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const std::string_view head = "machine 127.0.0.1 login user password ";
  ASSERT_EQ(::write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
  ASSERT_EQ(::write(fd, login + 5, 24), 24);
  ::close(fd);
  ::explicit_bzero(login, sizeof login);
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
  EXPECT_EQ(CopiesInHeap(password), 0U);
  EXPECT_EQ(CopiesInHeap(basic), 0U);
}

}  // namespace
}  // namespace dialmend
