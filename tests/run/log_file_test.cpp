#include "run/log_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "tests/fakes/test_folder.h"

namespace dialmend {
namespace {

namespace fs = std::filesystem;

struct PathCase {
  const char* name;
  std::set<int> taken;
  int expected;
};

class DefaultLogPathCases : public testing::TestWithParam<PathCase> {};

TEST_P(DefaultLogPathCases, TakesTheFirstFreeNumber) {
  const auto& c = GetParam();
  const std::string folder = "/home/u/Desktop";
  const std::string prefix = folder + "/Dialmend Log ";
  const auto path = DefaultLogPath(folder, [&](const std::string& candidate) {
    EXPECT_TRUE(candidate.starts_with(prefix) && candidate.ends_with(".txt")) << candidate;
    return c.taken.count(std::stoi(candidate.substr(prefix.size()))) != 0;
  });
  EXPECT_EQ(path, folder + "/Dialmend Log " + std::to_string(c.expected) + ".txt");
}

std::set<int> Range(int from, int to) {
  std::set<int> s;
  for (int i = from; i <= to; ++i) s.insert(i);
  return s;
}

INSTANTIATE_TEST_SUITE_P(Numbers, DefaultLogPathCases,
                         testing::Values(PathCase{"NoneTaken", {}, 1},
                                         PathCase{"FirstGap", {1, 2, 4}, 3},
                                         PathCase{"BeyondSixteenBits", Range(1, 32767), 32768}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SaveLogFile, NamesThePathAndTheReason) {
  EXPECT_EQ(SaveLogFile("/nonexistent-dir/x.txt", "log").Message(),
            "Cannot save the log to \"/nonexistent-dir/x.txt\": no such file or directory.");
  EXPECT_EQ(SaveLogFile("/tmp", "log").Message(),
            "Cannot save the log to \"/tmp\": is a directory.");
}

struct NextCase {
  const char* name;
  std::string path;
  std::optional<std::string> next;
};

class NextLogPathCases : public testing::TestWithParam<NextCase> {};

TEST_P(NextLogPathCases, CountsOnlyNumberedLogNames) {
  EXPECT_EQ(NextLogPath(GetParam().path), GetParam().next);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NextLogPathCases,
    testing::Values(NextCase{"First", "/d/Dialmend Log 1.txt", "/d/Dialmend Log 2.txt"},
                    NextCase{"Carries", "/d/Dialmend Log 99.txt", "/d/Dialmend Log 100.txt"},
                    NextCase{"BeyondSixteenBits", "Dialmend Log 32767.txt",
                             "Dialmend Log 32768.txt"},
                    NextCase{"UserName", "/d/log.txt", std::nullopt},
                    NextCase{"NoNumber", "/d/Dialmend Log .txt", std::nullopt},
                    NextCase{"LeadingZero", "/d/Dialmend Log 01.txt", std::nullopt},
                    NextCase{"OtherSuffix", "/d/Dialmend Log 1.log", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

class LogFileTest : public testing::Test {
 protected:
  static std::string Read(const fs::path& path) { return ReadTestFile(path); }
  const fs::path m_dir = FreshTestFolder("log_file");
};

TEST_F(LogFileTest, TwoRunsAtOnceTakeTwoNumbers) {
  const std::string first = (m_dir / "Dialmend Log 1.txt").string();
  LogFile a;
  LogFile b;
  ASSERT_TRUE(a.Reserve({first, true}).Ok());
  ASSERT_TRUE(b.Reserve({first, true}).Ok());
  EXPECT_EQ(a.Path(), first);
  EXPECT_EQ(b.Path(), (m_dir / "Dialmend Log 2.txt").string());
  b.Append("second\r\n");
  a.Append("first\r\n");
  EXPECT_TRUE(a.Complete().Ok());
  EXPECT_TRUE(b.Complete().Ok());
  EXPECT_EQ(Read(m_dir / "Dialmend Log 1.txt"), "first\r\n");
  EXPECT_EQ(Read(m_dir / "Dialmend Log 2.txt"), "second\r\n");
}

TEST_F(LogFileTest, HoldsEachAppendBeforeItCompletes) {
  LogFile file;
  ASSERT_TRUE(file.Reserve({(m_dir / "Dialmend Log 1.txt").string(), true}).Ok());
  EXPECT_TRUE(fs::exists(m_dir / "Dialmend Log 1.txt")) << "reserved at once";
  file.Append("one\r\n");
  EXPECT_EQ(Read(m_dir / "Dialmend Log 1.txt"), "one\r\n");
  file.Append("two\r\n");
  EXPECT_EQ(Read(m_dir / "Dialmend Log 1.txt"), "one\r\ntwo\r\n");
  EXPECT_TRUE(file.Complete().Ok());
}

TEST_F(LogFileTest, ANamedFileIsWrittenInPlace) {
  const fs::path path = m_dir / "log.txt";
  std::ofstream(path, std::ios::binary) << "an older and longer log\r\n";
  fs::create_hard_link(path, m_dir / "other-name.txt");
  EXPECT_TRUE(SaveLogFile(path.string(), "new\r\n").Ok());
  EXPECT_EQ(Read(path), "new\r\n");
  EXPECT_EQ(Read(m_dir / "other-name.txt"), "new\r\n") << "the same file, not a rename";
}

TEST_F(LogFileTest, WritesIntoADeviceAndLeavesItThere) {
  const fs::path device = m_dir / "null";
  if (::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) {
    GTEST_SKIP() << "cannot make a device node here: " << std::strerror(errno);
  }
  EXPECT_TRUE(SaveLogFile(device.string(), "log\r\n").Ok());
  EXPECT_TRUE(fs::is_character_file(device));
  EXPECT_EQ(fs::directory_iterator(m_dir)->path(), device) << "nothing beside it";
}

TEST_F(LogFileTest, WritesIntoAFifoAndLeavesItThere) {
  const fs::path fifo = m_dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_TRUE(SaveLogFile(fifo.string(), "log\r\n").Ok());
  EXPECT_TRUE(fs::is_fifo(fifo));
  char got[16] = {};
  EXPECT_EQ(::read(reader, got, sizeof got), 5);
  EXPECT_STREQ(got, "log\r\n");
  ::close(reader);
}

// The log holds the numbers the undo record holds: readable by its owner alone, but a file
// the user named keeps its own mode.
TEST_F(LogFileTest, CreatesItsFileForItsOwnerAlone) {
  const fs::path named = m_dir / "named.txt";
  std::ofstream(named) << "old";
  fs::permissions(named, fs::perms(0644));
  const ::mode_t umask_before = ::umask(022);
  const struct {
    LogTarget target;
    fs::perms mode;
  } rows[] = {
      {{(m_dir / "Dialmend Log 1.txt").string(), true}, fs::perms(0600)},
      {{(m_dir / "new.txt").string(), false}, fs::perms(0600)},
      {{named.string(), false}, fs::perms(0644)},
  };
  for (const auto& row : rows) {
    LogFile file;
    ASSERT_TRUE(file.Reserve(row.target).Ok()) << row.target.path;
    file.Append("log\r\n");
    EXPECT_TRUE(file.Complete().Ok());
    EXPECT_EQ(fs::status(row.target.path).permissions(), row.mode) << row.target.path;
  }
  ::umask(umask_before);
}

// A link planted where the program's own log lies is passed by, not followed, even where the
// run replaces its own file.
TEST_F(LogFileTest, NeverFollowsALinkPlantedAtItsOwnName) {
  const fs::path victim = m_dir / "victim.txt";
  std::ofstream(victim) << "keep me";
  const fs::path own = m_dir / "Dialmend Log 1.txt";
  fs::create_symlink(victim, own);
  for (const bool replace_own : {false, true}) {
    LogFile file;
    ASSERT_TRUE(file.Reserve({own.string(), true, replace_own}).Ok());
    EXPECT_EQ(file.Path(), (m_dir / "Dialmend Log 2.txt").string());
    file.Append("log\r\n");
    EXPECT_TRUE(file.Complete().Ok());
    EXPECT_EQ(Read(victim), "keep me");
    fs::remove(m_dir / "Dialmend Log 2.txt");
  }
  std::ofstream(m_dir / "Dialmend Log 2.txt") << "the last simulation's log";
  LogFile again;
  ASSERT_TRUE(again.Reserve({(m_dir / "Dialmend Log 2.txt").string(), true, true}).Ok());
  again.Append("new\r\n");
  EXPECT_TRUE(again.Complete().Ok());
  EXPECT_EQ(Read(m_dir / "Dialmend Log 2.txt"), "new\r\n") << "its own file is replaced";
}

// A run that read nothing leaves no file of its own, and a file the user named as it was.
TEST_F(LogFileTest, DiscardLeavesNothingOfItsOwnBehind) {
  const fs::path named = m_dir / "named.txt";
  std::ofstream(named) << "an older log";
  for (const LogTarget& target :
       {LogTarget{(m_dir / "Dialmend Log 1.txt").string(), true}, LogTarget{named.string()}}) {
    LogFile file;
    ASSERT_TRUE(file.Reserve(target).Ok());
    file.Discard();
  }
  EXPECT_FALSE(fs::exists(m_dir / "Dialmend Log 1.txt"));
  EXPECT_EQ(Read(named), "an older log");
}

}  // namespace
}  // namespace dialmend
