#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/system_info.h"

namespace dialmend {
namespace {

namespace fs = std::filesystem;

constexpr char kToolKey[] = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr char kFolderKey[] = "SOFTWARE\\Microsoft\\Shared Tools Location";
constexpr char kTestKey[] = "SOFTWARE\\Dialmend System Info Test";
constexpr char kStandIn[] = "Software\\Dialmend System Info Test Machine";
constexpr char kPathValue[] = "C:\\No Such Folder\\msinfo32.exe";

// The bytes of a text value, with or without its terminating NUL.
std::string Text(const std::string& text, bool with_nul = true) {
  return with_nul ? text + '\0' : text;
}

std::string Dword(DWORD number) {
  return std::string(reinterpret_cast<const char*>(&number), sizeof number);
}

// HKEY_LOCAL_MACHINE is a fresh empty key of this process for each test, so the machine's own
// MSINFO keys are neither seen nor touched.
class SystemInfoRegistry : public testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, kStandIn);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kStandIn, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &m_machine, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_machine), ERROR_SUCCESS);
    m_folder = fs::temp_directory_path() /
               ("dialmend-system-info-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(m_folder);
    fs::create_directories(m_folder);
  }

  void TearDown() override {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(m_machine);
    RegDeleteTreeA(HKEY_CURRENT_USER, kStandIn);
    std::error_code ignored;
    fs::remove_all(m_folder, ignored);
  }

  static void SetValue(const char* key_name, const char* value_name, DWORD type,
                       const std::string& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_name, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, value_name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  std::string Folder() const { return m_folder.string(); }

  HKEY m_machine = nullptr;
  fs::path m_folder;
};

enum class ToolKey { Missing, WithoutPath, WithPath };
enum class Tool { None, File, Folder };

struct StartRow {
  const char* name;
  ToolKey tool_key;
  const char* folder_value;  // "<folder>" stands for the test's folder; nullptr: no such key
  Tool tool;
  bool starts;  // what starting the program answers
  bool result;
  std::string started;  // "" when nothing is started
};

std::string Expand(std::string text, const std::string& folder) {
  if (const auto at = text.find("<folder>"); at != std::string::npos) text.replace(at, 8, folder);
  return text;
}

class StartSysInfoCase : public SystemInfoRegistry, public testing::WithParamInterface<StartRow> {};

TEST_P(StartSysInfoCase, StartsWhatTheRegistryNames) {
  const StartRow& row = GetParam();
  if (row.tool_key == ToolKey::WithPath) SetValue(kToolKey, "PATH", REG_SZ, Text(kPathValue));
  if (row.tool_key == ToolKey::WithoutPath) {
    SetValue(kToolKey, "Other", REG_SZ, Text("C:\\Elsewhere\\msinfo32.exe"));
  }
  if (row.folder_value) {
    SetValue(kFolderKey, "MSINFO", REG_SZ, Text(Expand(row.folder_value, Folder())));
  }
  if (row.tool == Tool::File) std::ofstream(m_folder / "MSINFO32.EXE", std::ios::binary).put('\0');
  if (row.tool == Tool::Folder) fs::create_directory(m_folder / "MSINFO32.EXE");
  std::vector<std::string> started;
  EXPECT_EQ(StartSysInfo([&](const std::string& path) {
              started.push_back(path);
              return row.starts;
            }),
            row.result);
  std::vector<std::string> expected;
  if (!row.started.empty()) expected.push_back(Expand(row.started, Folder()));
  EXPECT_EQ(started, expected);
}

INSTANTIATE_TEST_SUITE_P(
    SystemInfo, StartSysInfoCase,
    testing::Values(StartRow{"PathValueUncheckedAndUnchanged", ToolKey::WithPath, nullptr,
                             Tool::None, true, true, kPathValue},
                    StartRow{"NoFallBackWhenThePathValueFailsToStart", ToolKey::WithPath,
                             "<folder>", Tool::File, false, false, kPathValue},
                    StartRow{"FolderToolWhenTheFirstKeyIsMissing", ToolKey::Missing, "<folder>",
                             Tool::File, true, true, "<folder>\\MSINFO32.EXE"},
                    StartRow{"FolderToolWhenThePathValueIsMissing", ToolKey::WithoutPath,
                             "<folder>", Tool::File, true, true, "<folder>\\MSINFO32.EXE"},
                    StartRow{"NothingWhenTheFolderHasNoTool", ToolKey::Missing, "<folder>",
                             Tool::None, true, false, ""},
                    StartRow{"NothingWhenTheToolIsAFolder", ToolKey::Missing, "<folder>",
                             Tool::Folder, true, false, ""},
                    StartRow{"BothBackslashesWhenTheFolderEndsWithOne", ToolKey::Missing,
                             "<folder>\\", Tool::File, true, true, "<folder>\\\\MSINFO32.EXE"},
                    StartRow{"NothingWhenNeitherKeyIsThere", ToolKey::Missing, nullptr, Tool::File,
                             true, false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SystemInfoRegistry, FailsWhenThePathValueNamesNoFile) {
  SetValue(kToolKey, "PATH", REG_SZ, Text(kPathValue));
  EXPECT_FALSE(StartSysInfo());
  EXPECT_FALSE(StartProgram(kPathValue));
}

struct ValueRow {
  const char* name;
  const char* value_name;  // nullptr: the key is missing
  DWORD type;
  std::string data;
  bool result;
  std::string text;  // the text after the lookup, which starts as "old"
};

class GetKeyValueCase : public SystemInfoRegistry, public testing::WithParamInterface<ValueRow> {};

TEST_P(GetKeyValueCase, ReadsTheValue) {
  const ValueRow& row = GetParam();
  if (row.value_name) SetValue(kTestKey, row.value_name, row.type, row.data);
  std::string value = "old";
  EXPECT_EQ(GetKeyValue(reinterpret_cast<void*>(HKEY_LOCAL_MACHINE), kTestKey, "Value", value),
            row.result);
  EXPECT_EQ(value, row.text);
}

INSTANTIATE_TEST_SUITE_P(
    SystemInfo, GetKeyValueCase,
    testing::Values(ValueRow{"TextStoredWithItsNulWithoutIt", "Value", REG_SZ, Text("C:\\Tools"),
                             true, "C:\\Tools"},
                    ValueRow{"TextStoredWithoutItsNulWhole", "Value", REG_SZ,
                             Text("C:\\Tools", false), true, "C:\\Tools"},
                    ValueRow{"NumberAsSignedDecimal", "Value", REG_DWORD, Dword(1234), true,
                             "1234"},
                    ValueRow{"NegativeNumberAsSignedDecimal", "Value", REG_DWORD, Dword(0xFFFFFFFB),
                             true, "-5"},
                    ValueRow{"OtherTypeLeavesTheText", "Value", REG_BINARY, "\1\2\3", true, "old"},
                    ValueRow{"ValueOfExactly1024Bytes", "Value", REG_SZ,
                             Text(std::string(1023, 'x')), true, std::string(1023, 'x')},
                    ValueRow{"ValueOver1024BytesFailsAndEmpties", "Value", REG_SZ,
                             Text(std::string(1024, 'x')), false, ""},
                    ValueRow{"MissingKeyFailsAndEmpties", nullptr, REG_NONE, "", false, ""},
                    ValueRow{"MissingValueFailsAndEmpties", "Other", REG_SZ, Text("x"), false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dialmend
