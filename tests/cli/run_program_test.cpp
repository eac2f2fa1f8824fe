// The dialmend-run program itself, ended by signals and closed readers while it updates a store.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/fakes/test_folder.h"

extern char** environ;

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// The smallest pipe Linux gives: a run's log is larger, so the program must wait for its
// reader before it can finish, and a signal sent while the reader waits lands mid-run.
constexpr int kPipeSize = 4096;

std::map<std::string, std::string> Cards(const fs::path& root) {
  std::map<std::string, std::string> cards;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().extension() == ".vcf")
      cards[entry.path().string()] = ReadTestFile(entry.path());
  }
  return cards;
}

// A running program whose standard output is the write end of a small pipe.
struct Child {
  pid_t pid = -1;
  int out = -1;  // the read end

  // Starts `argv` with standard output into a pipe of kPipeSize, standard error into `err`.
  static Child Start(const std::vector<std::string>& argv, const fs::path& err) {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    EXPECT_EQ(::fcntl(fds[1], F_SETPIPE_SZ, kPipeSize), kPipeSize);
    Child child;
    child.pid = Spawn(argv, -1, fds[1], err);
    ::close(fds[1]);
    child.out = fds[0];
    return child;
  }

  // Starts `argv` with standard input from `in` and output to `out` (each unless -1), standard
  // error appended to `err`, or into `err_fd` when that is given.
  static pid_t Spawn(const std::vector<std::string>& argv, int in, int out, const fs::path& err,
                     int err_fd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, 0);
    if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
    if (err_fd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
    } else {
      posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                       0644);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // Reads until `text` has been seen `times` times; returns all read.
  std::string ReadUntil(const std::string& text, int times) {
    std::string got;
    char block[256];
    for (;;) {
      int seen = 0;
      for (std::size_t at = 0; (at = got.find(text, at)) != std::string::npos; at += text.size())
        ++seen;
      if (seen >= times) return got;
      const ssize_t n = ::read(out, block, sizeof block);
      if (n <= 0) return got;
      got.append(block, static_cast<std::size_t>(n));
    }
  }

  std::string ReadToEnd() {
    std::string got;
    char block[4096];
    for (ssize_t n; (n = ::read(out, block, sizeof block)) > 0;)
      got.append(block, static_cast<std::size_t>(n));
    ::close(out);
    return got;
  }

  static int Wait(pid_t pid) {
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

class RunProgram : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = FreshTestFolder("program");
    m_profile = m_dir / "profile";
    fs::copy(DIALMEND_SAMPLE_PROFILE, m_profile, fs::copy_options::recursive);
    m_before = Cards(m_profile);
    m_log = m_dir / "log.txt";
    m_err = m_dir / "err.txt";
  }

  void TearDown() override {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }

  std::vector<std::string> UpdateArgs() const {
    return {DIALMEND_RUN_EXE, "--profile", m_profile.string(), "--update", "--log", m_log.string()};
  }

  // The log lists exactly the contacts whose cards changed on disk, and every new number it
  // reports is in a changed card. Returns how many cards changed.
  int ExpectTheLogListsEverySavedChange(const std::string& log) {
    const auto after = Cards(m_profile);
    std::string changed_text;
    int changed = 0;
    for (const auto& [name, text] : after) {
      if (text != m_before.at(name)) {
        ++changed;
        changed_text += text;
      }
    }
    int listed = 0;
    const std::regex contact_line("^\\\\[^\r]*\r$");
    const std::regex change_line("^  [A-Za-z /2]+: +.* --> (.*)\r$");
    std::istringstream lines(log);
    std::string previous;
    for (std::string line; std::getline(lines, line); previous = line) {
      std::smatch m;
      if (!std::regex_match(line, m, change_line)) continue;
      if (std::regex_match(previous, contact_line)) ++listed;
      EXPECT_NE(changed_text.find(m[1].str()), std::string::npos) << m[1] << " is not on disk";
    }
    EXPECT_EQ(listed, changed);
    return changed;
  }

  fs::path m_dir, m_profile, m_log, m_err;
  std::map<std::string, std::string> m_before;
};

class RunProgramSignal : public RunProgram, public testing::WithParamInterface<int> {};

TEST_P(RunProgramSignal, AbortsBetweenContactsWithTheLogSaved) {
  Child child = Child::Start(UpdateArgs(), m_err);
  // Three contacts are saved; the program cannot finish before the rest is read.
  // A contact's lines, each starting with its path, are written once it is saved.
  const std::string head = child.ReadUntil("\n\\", 3);
  ASSERT_EQ(::kill(child.pid, GetParam()), 0);
  const std::string out = head + child.ReadToEnd();
  EXPECT_EQ(Child::Wait(child.pid), 130) << ReadTestFile(m_err);

  const std::string log = ReadTestFile(m_log);
  EXPECT_EQ(LfLineEnds(log), out);
  EXPECT_NE(log.find("\r\nUpdate aborted - "), std::string::npos) << log;
  EXPECT_GE(ExpectTheLogListsEverySavedChange(log), 3);
  EXPECT_NE(log.find("Contacts updated: "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, RunProgramSignal, testing::Values(SIGTERM, SIGHUP),
                         [](const auto& info) {
                           return info.param == SIGTERM ? "Term" : "Hangup";
                         });

TEST_F(RunProgram, EndsCleanlyWhenHeadOneClosesItsOutput) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  ASSERT_EQ(::fcntl(fds[1], F_SETPIPE_SZ, kPipeSize), kPipeSize);
  const int first_line =
      ::open((m_dir / "first.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const pid_t run = Child::Spawn(UpdateArgs(), -1, fds[1], m_err);
  const pid_t head = Child::Spawn({"/usr/bin/head", "-1"}, fds[0], first_line, m_err);
  ::close(fds[0]);
  ::close(fds[1]);
  ::close(first_line);
  EXPECT_EQ(Child::Wait(head), 0);
  EXPECT_EQ(Child::Wait(run), 1) << ReadTestFile(m_err);
  EXPECT_EQ(ReadTestFile(m_dir / "first.txt"), "Dialmend Activity Log\n");
  EXPECT_NE(ReadTestFile(m_err).find("cannot write to standard output: broken pipe"),
            std::string::npos);

  const std::string log = ReadTestFile(m_log);
  EXPECT_NE(log.find("\r\nUpdate aborted - "), std::string::npos) << log;
  ExpectTheLogListsEverySavedChange(log);
}

// Printed once, with the system's line ends, as any printed log.
TEST_F(RunProgram, WritesTheLogOnceWhenItIsStandardOutput) {
  Child child = Child::Start(
      {DIALMEND_RUN_EXE, "--profile", m_profile.string(), "--log", "/dev/stdout"}, m_err);
  const std::string out = child.ReadToEnd();
  EXPECT_EQ(Child::Wait(child.pid), 1)
      << "the malformed card is a problem; " << ReadTestFile(m_err);
  EXPECT_EQ(ReadTestFile(m_err).find("Cannot save the log"), std::string::npos)
      << ReadTestFile(m_err);
  EXPECT_TRUE(out.starts_with("Dialmend Activity Log\n")) << out;
  EXPECT_EQ(out.find("Dialmend Activity Log"), out.rfind("Dialmend Activity Log"));
  EXPECT_TRUE(out.ends_with("Problems: 1\n")) << out;
  EXPECT_EQ(out.find('\r'), std::string::npos);
}

// What a terminal would show on its last line after `text`: a CR goes back to the line's start
// and what follows overwrites it.
std::string LastScreenLine(std::string_view text) {
  std::string line;
  std::size_t column = 0;
  for (const char c : text) {
    if (c == '\n') {
      line.clear();
      column = 0;
    } else if (c == '\r') {
      column = 0;
    } else {
      if (column == line.size()) line.push_back(c);
      line[column++] = c;
    }
  }
  return line;
}

// Runs a simulation of the sample with `options`, standard output to /dev/null and standard
// error into a pipe, or onto a pseudo-terminal as from a terminal window; gives what came
// through it.
std::string StandardErrorOfARun(const fs::path& profile, const std::vector<std::string>& options,
                                bool terminal) {
  int fds[2];
  if (terminal) {
    fds[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(fds[0], 0);
    EXPECT_EQ(::grantpt(fds[0]), 0);
    EXPECT_EQ(::unlockpt(fds[0]), 0);
    fds[1] = ::open(::ptsname(fds[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
  } else {
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  }
  const int out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  std::vector<std::string> argv = {DIALMEND_RUN_EXE, "--profile", profile.string(), "--no-log"};
  argv.insert(argv.end(), options.begin(), options.end());
  const pid_t pid = Child::Spawn(argv, -1, out, {}, fds[1]);
  ::close(fds[1]);
  ::close(out);
  Child reader;
  reader.out = fds[0];
  // A terminal ends when the program has closed its other side (EIO).
  const std::string err = reader.ReadToEnd();
  EXPECT_EQ(Child::Wait(pid), 1) << "the malformed card is a problem; " << err;
  return err;
}

// The status line shows on a terminal unless turned off, elsewhere only when forced; drawn at
// the first yield, before any contact is read, and blanked at the end.
TEST_F(RunProgram, ShowsProgressOnATerminalOrWhenForced) {
  const struct {
    bool terminal;
    std::vector<std::string> options;
    bool shown;
  } rows[] = {
      {false, {"--progress"}, true},
      {false, {}, false},
      {true, {}, true},
      {true, {"--no-progress"}, false},
  };
  // The sample's cards are one a file.
  const std::string first = "\rcontacts 0 of " + std::to_string(Cards(m_profile).size());
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "terminal " << row.terminal << ", options "
                                    << testing::PrintToString(row.options));
    const std::string err = StandardErrorOfARun(m_profile, row.options, row.terminal);
    if (!row.shown) {
      EXPECT_EQ(err, "");
      continue;
    }
    EXPECT_NE(err.find(first + "  numbers 0"), std::string::npos) << err;
    EXPECT_TRUE(err.ends_with("\r")) << err;
    const std::string last = LastScreenLine(err);
    EXPECT_FALSE(last.empty());
    EXPECT_EQ(last, std::string(last.size(), ' ')) << "the line is blanked";
  }
}

// Whether `runs` holds an undo record with at least its first line.
bool HasRecordedRun(const fs::path& runs) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(runs, error)) {
    if (entry.path().extension() == ".undo" && entry.file_size(error) > 0) return true;
  }
  return false;
}

// Whether the record in `runs` has the closing line of an update that ended.
bool HasClosedRecord(const fs::path& runs) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(runs, error)) {
    if (ReadTestFile(entry.path()).find("\nend\t") != std::string::npos) return true;
  }
  return false;
}

// Killed at a random point of an update, then undone: every card is back as it was. The record
// of each change reaches the file before the card is replaced, so no kill leaves a card changed
// that the undo does not know of; a card the kill caught mid-save is still as it was.
TEST_F(RunProgram, UndoAfterAKillAnywhereGivesEveryCardBack) {
  const fs::path state = m_dir / "state";
  ::setenv("XDG_STATE_HOME", state.c_str(), 1);
  const fs::path out = m_dir / "out.txt";
  const auto update = [&] {
    const int to = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = Child::Spawn(
        {DIALMEND_RUN_EXE, "--profile", m_profile.string(), "--update", "--no-log"}, -1, to, m_err);
    ::close(to);
    return pid;
  };
  // A whole update, timed, so the kills below can land anywhere in one.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Child::Wait(update()), 1) << "the malformed card is a problem; " << ReadTestFile(m_err);
  const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - started);

  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  int changed_before_undo = 0;
  for (int round = 0; round < 8; ++round) {
    fs::remove_all(m_profile);
    fs::remove_all(state);
    fs::copy(DIALMEND_SAMPLE_PROFILE, m_profile, fs::copy_options::recursive);
    const auto pause = std::chrono::microseconds(
        std::uniform_int_distribution<long>(0, static_cast<long>(whole.count()))(random));
    const std::string where = "seed " + std::to_string(seed) + ", round " + std::to_string(round) +
                              ": killed after " + std::to_string(pause.count()) + " us of " +
                              std::to_string(whole.count());
    const pid_t pid = update();
    // The pause only picks where the kill lands; what is checked holds wherever that is.
    std::this_thread::sleep_for(pause);
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    (void)Child::Wait(pid);
    if (Cards(m_profile) != m_before) ++changed_before_undo;

    // A kill before the record's first line leaves no record (or an empty one): nothing was
    // changed then, which the check of the cards below proves.
    if (HasRecordedRun(state / "dialmend" / "runs")) {
      const int to = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
      const int undone = Child::Wait(Child::Spawn(
          {DIALMEND_RUN_EXE, "--profile", m_profile.string(), "--undo", "--update", "--no-log"}, -1,
          to, m_err));
      ::close(to);
      // A record without the closing line of an update that ended is said, and is a problem.
      EXPECT_EQ(undone, HasClosedRecord(state / "dialmend" / "runs") ? 0 : 1)
          << where << "; " << ReadTestFile(m_err);
    }
    const auto after = Cards(m_profile);
    EXPECT_EQ(after.size(), m_before.size()) << where;
    for (const auto& [path, text] : after)
      EXPECT_EQ(text, m_before.at(path)) << where << ": " << path;
  }
  ::unsetenv("XDG_STATE_HOME");
  RecordProperty("rounds_with_changes_to_undo", changed_before_undo);
}

}  // namespace
}  // namespace dialmend
