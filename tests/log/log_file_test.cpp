#include "log/log_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

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

class Desktop : public testing::Test {
 protected:
  void SetUp() override {
    m_home = fs::path(testing::TempDir()) / "desktop_home";
    fs::remove_all(m_home);
    fs::create_directories(m_home / ".config");
    m_saved_home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", m_home.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
  }
  void TearDown() override { ::setenv("HOME", m_saved_home.c_str(), 1); }
  fs::path m_home;
  std::string m_saved_home;
};

TEST_F(Desktop, FollowsUserDirsThenDesktopThenHome) {
  EXPECT_EQ(DesktopDirectory(), m_home.string());
  fs::create_directories(m_home / "Desktop");
  EXPECT_EQ(DesktopDirectory(), (m_home / "Desktop").string());
  fs::create_directories(m_home / "Schreibtisch");
  std::ofstream(m_home / ".config" / "user-dirs.dirs")
      << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
  EXPECT_EQ(DesktopDirectory(), (m_home / "Schreibtisch").string());
  EXPECT_EQ(SetLogFile(), (m_home / "Schreibtisch" / "Dialmend Log 1.txt").string());
}

TEST(SaveLogFile, NamesThePathAndTheReason) {
  EXPECT_EQ(SaveLogFile("/nonexistent-dir/x.txt", "log"),
            "Cannot save the log to \"/nonexistent-dir/x.txt\": no such file or directory.");
  EXPECT_EQ(SaveLogFile("/tmp", "log"), "Cannot save the log to \"/tmp\": is a directory.");
}

}  // namespace
}  // namespace dialmend
