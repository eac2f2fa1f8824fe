#include "run/log_file.h"

// The other Windows headers need what windows.h declares first.
#include <windows.h>

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "platform/desktop_directory.h"

namespace dialmend {
namespace {

namespace fs = std::filesystem;

TEST(DefaultLogPath, PutsTheNumberedNameInsideTheFolderWithBackslashes) {
  const std::string folder = "C:\\Users\\Ann\\Desktop";
  const std::set<std::string> taken = {folder + "\\Dialmend Log 1.txt",
                                       folder + "\\Dialmend Log 2.txt"};
  const std::string path = DefaultLogPath(
      folder, [&](const std::string& candidate) { return taken.count(candidate) != 0; });
  EXPECT_EQ(path, "C:\\Users\\Ann\\Desktop\\Dialmend Log 3.txt");
}

TEST(DefaultLogPath, SearchesBeyondSixteenBits) {
  const std::string path = DefaultLogPath("D:\\Logs", [](const std::string& candidate) {
    return candidate != "D:\\Logs\\Dialmend Log 32768.txt";
  });
  EXPECT_EQ(path, "D:\\Logs\\Dialmend Log 32768.txt");
}

TEST(Desktop, IsTheShellsDesktopFolder) {
  wchar_t* desktop = nullptr;
  ASSERT_TRUE(SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &desktop)));
  const fs::path expected(desktop);
  ::CoTaskMemFree(desktop);
  ASSERT_TRUE(fs::is_directory(expected)) << "wine makes the Desktop folder";
  EXPECT_EQ(DesktopDirectory(), expected.string());
  const std::string log = SetLogFile();
  EXPECT_TRUE(log.starts_with(expected.string() + "\\Dialmend Log ")) << log;
  EXPECT_TRUE(log.ends_with(".txt")) << log;
  EXPECT_FALSE(fs::exists(log));
}

TEST(Desktop, IsFoundWhenItsNameIsBeyondTheLocalCodePage) {
  // Greek and Cyrillic: no Windows ANSI code page spells both.
  const fs::path folder =
      fs::temp_directory_path() / L"\u0395\u03c0\u03b9 \u0421\u0442\u043e\u043b";
  fs::create_directories(folder);
  const std::u8string utf8 = folder.u8string();
  EXPECT_EQ(ChooseDesktopDirectory(folder.wstring(), L"C:\\users\\ann"),
            std::string(utf8.begin(), utf8.end()));
  fs::remove(folder);
  EXPECT_EQ(ChooseDesktopDirectory(folder.wstring(), L"C:\\users\\ann"), "C:\\users\\ann");
}

TEST(SaveLogFile, NamesThePathAndTheReason) {
  const fs::path folder = fs::temp_directory_path();
  const std::string missing = (folder / "nonexistent-dir" / "x.txt").string();
  EXPECT_EQ(SaveLogFile(missing, "log").Message(),
            "Cannot save the log to \"" + missing + "\": no such file or directory.");
  EXPECT_EQ(SaveLogFile(folder.string(), "log").Message(),
            "Cannot save the log to \"" + folder.string() + "\": is a directory.");
}

TEST(LogFile, TwoRunsAtOnceTakeTwoNumbers) {
  const fs::path folder = fs::temp_directory_path() / "dialmend_log_numbers";
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string first = (folder / "Dialmend Log 1.txt").string();
  LogFile a;
  LogFile b;
  ASSERT_TRUE(a.Reserve({first, true}).Ok());
  ASSERT_TRUE(b.Reserve({first, true}).Ok());
  EXPECT_EQ(b.Path(), (folder / "Dialmend Log 2.txt").string());
  a.Append("first\r\n");
  b.Append("second\r\n");
  EXPECT_TRUE(a.Complete().Ok());
  EXPECT_TRUE(b.Complete().Ok());
  EXPECT_EQ(fs::file_size(folder / "Dialmend Log 1.txt"), 7u);
  EXPECT_EQ(fs::file_size(folder / "Dialmend Log 2.txt"), 8u);
}

TEST(SaveLogFile, WritesIntoTheNulDevice) {
  EXPECT_TRUE(SaveLogFile("NUL", "log\r\n").Ok());
}

}  // namespace
}  // namespace dialmend
