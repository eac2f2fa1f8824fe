#include "platform/desktop_directory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/fakes/test_folder.h"

namespace dialmend {
namespace {

namespace fs = std::filesystem;

TEST(DesktopDirectory, FollowsUserDirsThenDesktopThenHome) {
  const fs::path home = FreshTestFolder("desktop_home");
  const std::string saved_home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", home.c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(DesktopDirectory(), home.string());
  fs::create_directories(home / "Desktop");
  EXPECT_EQ(DesktopDirectory(), (home / "Desktop").string());
  fs::create_directories(home / "Schreibtisch");
  WriteTestFile(home / ".config" / "user-dirs.dirs",
                "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  EXPECT_EQ(DesktopDirectory(), (home / "Schreibtisch").string());
  // XDG_CONFIG_HOME counts only as an absolute path.
  fs::create_directories(home / "Bureau");
  WriteTestFile(home / "xdg" / "user-dirs.dirs",
                "XDG_DESKTOP_DIR=\"" + home.string() + "/Bureau\"\n");
  ::setenv("XDG_CONFIG_HOME", (home / "xdg").c_str(), 1);
  EXPECT_EQ(DesktopDirectory(), (home / "Bureau").string());
  ::setenv("XDG_CONFIG_HOME", "xdg", 1);
  EXPECT_EQ(DesktopDirectory(), (home / "Schreibtisch").string());
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", saved_home.c_str(), 1);
}

}  // namespace
}  // namespace dialmend
