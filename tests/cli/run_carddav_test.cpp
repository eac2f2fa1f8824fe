#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/run_command.h"
#include "stores/carddav/curl_http_client.h"
#include "tests/cli/capture.h"
#include "tests/fakes/dav_server.h"
#include "tests/fakes/test_folder.h"

// dialmend-run over an address book on a real server started by the test.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAnn =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:ann\r\nFN:Ann Smith\r\nN:Smith;Ann;;;\r\n"
    "TEL;TYPE=HOME:0171 930 8890\r\nEND:VCARD\r\n";

// Sets an environment variable for one test and puts the old value back after it.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (m_old) {
      ::setenv(m_name, m_old->c_str(), 1);
    } else {
      ::unsetenv(m_name);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

class RunOnServer : public testing::Test {
 protected:
  explicit RunOnServer(DavServerKind kind) : m_kind(kind), m_server(kind) {}

  void SetUp() override {
    if (const std::string missing = DavServer::Missing(m_kind); !missing.empty()) {
      // CI installs the servers, so there a missing one is a failure, never a skip.
      if (std::getenv("CI") != nullptr) FAIL() << missing;
      GTEST_SKIP() << missing;
    }
    m_server.AddRadicaleBook("work", "Work");
    m_server.AddRadicaleCard("work", "ann.vcf", kAnn);
    std::string why;
    ASSERT_TRUE(m_server.Start(why)) << why;
    WriteNetrc(DavServer::kPassword);
  }

  // The login the program finds in HOME's .netrc; HOME is the server's own folder.
  void WriteNetrc(const std::string& password) {
    std::ofstream(Netrc()) << "machine 127.0.0.1 login " << DavServer::kUser << " password "
                           << password << "\n";
    std::filesystem::permissions(
        Netrc(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  std::filesystem::path Netrc() const { return m_server.Dir() / ".netrc"; }

  Outcome Run(std::vector<std::string> words) {
    if (std::find(words.begin(), words.end(), "--runs") == words.end()) {
      words.insert(words.end(), {"--log", (m_server.Dir() / "log.txt").string()});
    }
    return RunCaptured(words);
  }

  [[nodiscard]] fs::path Card() const {
    return m_server.Dir() / "store" / "collection-root" / DavServer::kUser / "work" / "ann.vcf";
  }

  DavServerKind m_kind;
  DavServer m_server;
  ScopedVariable m_home{"HOME", m_server.Dir().string()};
  // No desktop secret store: asking one fails at once instead of starting a bus.
  ScopedVariable m_bus{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"};
};

class RunOnRadicale : public RunOnServer {
 protected:
  RunOnRadicale() : RunOnServer(DavServerKind::Radicale) {}
};

class RunOnRadicaleTls : public RunOnServer {
 protected:
  RunOnRadicaleTls() : RunOnServer(DavServerKind::RadicaleTls) {}
};

TEST_F(RunOnRadicale, UsesANetrcOthersCanReadAndSaysSo) {
  std::filesystem::permissions(
      Netrc(), std::filesystem::perms::group_read | std::filesystem::perms::others_read,
      std::filesystem::perm_options::add);
  const Outcome r = Run({"--profile", m_server.Url() + "/"});
  EXPECT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_NE(r.out.find(Netrc().string() +
                       ": others can read the password it holds; it is used, "
                       "but run \"chmod 600 " +
                       Netrc().string() + "\""),
            std::string::npos)
      << r.out;
}

TEST_F(RunOnRadicale, AWrongPasswordEndsWithOneAndIsNeverShown) {
  WriteNetrc("wrong-pw-1234");
  const Outcome r = Run({"--profile", m_server.Url() + "/", "--update"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the server refused the password for user (from ~/.netrc)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ((r.out + r.err).find("wrong-pw-1234"), std::string::npos);
  EXPECT_NE(ReadTestFile(Card()).find("0171 930 8890"), std::string::npos);
}

// Writes Ann's card on the server as another program would: `bytes` in place of what is there.
void PutAnn(const DavServer& server, std::string bytes) {
  std::unique_ptr<HttpClient> client = MakeCurlClient({});
  client->SetLogin(DavServer::kUser, SecretText(DavServer::kPassword));
  Result<HttpResponse> put = client->Send({"PUT",
                                           server.Url(false) + "/user/work/ann.vcf",
                                           {{"Content-Type", "text/vcard; charset=utf-8"}},
                                           std::move(bytes)});
  ASSERT_TRUE(put.Ok()) << put.Message();
  ASSERT_LT(put.Value().status, 300) << put.Value().status;
}

TEST_F(RunOnRadicale, UpdatesTheCardOnTheServerAndTheUndoPutsTheNumberBack) {
  const std::string profile = m_server.Url() + "/user/work/";
  const Outcome update = Run({"--profile", profile, "--update"});
  EXPECT_EQ(update.status, 0) << update.err << update.out;
  EXPECT_NE(update.out.find("Contacts updated: 1\n"), std::string::npos) << update.out;
  ASSERT_NE(ReadTestFile(Card()).find("TEL;TYPE=HOME:(020) 7930 8890\r\n"), std::string::npos)
      << ReadTestFile(Card());
  const Outcome runs = Run({"--profile", profile, "--runs"});
  EXPECT_EQ(runs.status, 0) << runs.err;
  EXPECT_EQ(runs.out.find("No update run"), std::string::npos) << runs.out;
  const Outcome r = Run({"--profile", profile, "--undo", "--update"});
  EXPECT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_NE(r.out.find("Contacts restored: 1\n"), std::string::npos) << r.out;
  EXPECT_NE(ReadTestFile(Card()).find("TEL;TYPE=HOME:0171 930 8890\r\n"), std::string::npos)
      << ReadTestFile(Card());
}

TEST_F(RunOnRadicale, UndoLeavesACardChangedOnTheServerSinceTheUpdate) {
  const std::string profile = m_server.Url() + "/user/work/";
  ASSERT_EQ(Run({"--profile", profile, "--update"}).status, 0);
  // The number the update wrote stays; only the card's version changes.
  std::string note = ReadTestFile(Card());
  note.insert(note.find("END:VCARD"), "NOTE:changed elsewhere\r\n");
  PutAnn(m_server, note);
  const std::string changed = ReadTestFile(Card());
  const Outcome r = Run({"--profile", profile, "--undo", "--update"});
  EXPECT_EQ(r.status, 1) << r.err << r.out;
  EXPECT_NE(r.out.find("  Left \\Work\\Ann Smith (the undo record's line 5) as it is: it was "
                       "changed on the server since the update\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Contacts restored: 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Left because changed: 1\nCould not find: 0\n"), std::string::npos) << r.out;
  EXPECT_EQ(ReadTestFile(Card()), changed);
}

class RunOnTricklingServer : public RunOnServer {
 protected:
  RunOnTricklingServer() : RunOnServer(DavServerKind::Shaped) {
    m_server.AddArguments({"--shape", "trickle"});
  }
};

TEST_F(RunOnTricklingServer, TheFirstCtrlCEndsAWaitForTheServerAtOnce) {
  std::vector<std::string> words{"--profile", m_server.Url() + "/user/work/", "--no-log"};
  const std::vector<std::string_view> args(words.begin(), words.end());
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  volatile std::sig_atomic_t interrupts = 0;
  std::chrono::steady_clock::time_point pressed;
  std::thread ctrl_c([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    pressed = std::chrono::steady_clock::now();
    interrupts = 1;
  });
  const int status = RunCommand(args, out, err, &interrupts);
  const auto ended = std::chrono::steady_clock::now();
  ctrl_c.join();
  EXPECT_EQ(status, 130) << Slurp(err);
  EXPECT_LT(ended - pressed, std::chrono::milliseconds(500));
}

// Refused in one line, with what to do, until the --ca-file is given: then it runs, and so
// does the listing of its runs.
TEST_F(RunOnRadicaleTls, RunsOnlyGivenTheServersCaFile) {
  const Outcome refused = Run({"--profile", m_server.Url() + "/"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_TRUE(refused.err.starts_with(
      "dialmend-run: Could not reach 127.0.0.1: its certificate is not trusted"))
      << refused.err;
  EXPECT_TRUE(refused.err.ends_with("--ca-file FILE.\n")) << refused.err;
  EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
  const Outcome r = Run({"--profile", m_server.Url() + "/", "--ca-file", m_server.CaFile()});
  EXPECT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_NE(r.out.find("Contacts checked: 1\n"), std::string::npos) << r.out;
  const Outcome runs =
      Run({"--profile", m_server.Url() + "/", "--ca-file", m_server.CaFile(), "--runs"});
  EXPECT_EQ(runs.status, 0) << runs.err << runs.out;
  EXPECT_NE(runs.out.find("No update run of this profile is recorded"), std::string::npos)
      << runs.out;
}

TEST(RunCommand, RefusesPlainHttpToAnotherMachineInOneLine) {
  const Outcome r = RunCaptured({"--profile", "http://user@dav.example.org/", "--no-log"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\"http://user@dav.example.org/\": plain http:// would send the password "
                       "and the contacts unencrypted; use https://"),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace dialmend
