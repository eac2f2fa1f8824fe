#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ui/system_info.h"

namespace dialmend {
namespace {

namespace fs = std::filesystem;

constexpr char kToolParent[] = "SOFTWARE\\Microsoft\\Shared Tools";
constexpr char kToolLeaf[] = "MSINFO";
constexpr char kToolKey[] = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr char kFolderParent[] = "SOFTWARE\\Microsoft";
constexpr char kFolderLeaf[] = "Shared Tools Location";
constexpr char kFolderKey[] = "SOFTWARE\\Microsoft\\Shared Tools Location";
constexpr char kTestKey[] = "SOFTWARE\\Dialmend System Info Test";

void* LocalMachine() {
  return reinterpret_cast<void*>(HKEY_LOCAL_MACHINE);
}

bool KeyExists(const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void SetValue(const char* key_name, const char* value_name, DWORD type, const void* data,
              std::size_t size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_name, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, value_name, 0, type, static_cast<const BYTE*>(data),
                           static_cast<DWORD>(size)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

// Stores `text` as a text value, with or without its terminating NUL.
void SetText(const char* key_name, const char* value_name, const std::string& text,
             bool with_nul = true) {
  SetValue(key_name, value_name, REG_SZ, text.c_str(), text.size() + (with_nul ? 1 : 0));
}

// A key of the machine's registry as it was before a test: taken away for the test and put back
// after it, under its own spelling and with its values. Wine's registry has the MSINFO key,
// empty; a test with it missing must not leave the prefix without it.
class SavedKey {
 public:
  SavedKey(const char* parent, const char* leaf) : m_parent(parent), m_name(leaf) {
    HKEY parent_key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent, 0, KEY_READ, &parent_key) != ERROR_SUCCESS) {
      return;
    }
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD name_size = sizeof name;
      if (RegEnumKeyExA(parent_key, i, name, &name_size, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      if (_stricmp(name, leaf) == 0) {
        m_existed = true;
        m_name = name;
        break;
      }
    }
    RegCloseKey(parent_key);
    if (m_existed) SaveValues();
  }

  std::string Path() const { return m_parent + "\\" + m_name; }

  void Restore() const {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, Path().c_str());
    if (!m_existed) return;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, Path().c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
      ADD_FAILURE() << "Cannot put back " << Path();
      return;
    }
    for (const Value& v : m_values) {
      RegSetValueExA(key, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                     static_cast<DWORD>(v.data.size()));
    }
    RegCloseKey(key);
  }

 private:
  struct Value {
    std::string name;
    DWORD type;
    std::string data;
  };

  void SaveValues() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, Path().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return;
    }
    for (DWORD i = 0;; ++i) {
      char name[16384];
      DWORD name_size = sizeof name;
      std::string data(65536, '\0');
      DWORD data_size = static_cast<DWORD>(data.size());
      DWORD type = 0;
      if (RegEnumValueA(key, i, name, &name_size, nullptr, &type,
                        reinterpret_cast<BYTE*>(data.data()), &data_size) != ERROR_SUCCESS) {
        break;
      }
      data.resize(data_size);
      m_values.push_back({name, type, data});
    }
    RegCloseKey(key);
  }

  std::string m_parent;
  std::string m_name;
  bool m_existed = false;
  std::vector<Value> m_values;
};

class SystemInfo : public testing::Test {
 protected:
  void SetUp() override {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kToolKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kFolderKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey);
    ASSERT_FALSE(KeyExists(kToolKey));
    ASSERT_FALSE(KeyExists(kFolderKey));
    m_folder = fs::temp_directory_path() /
               ("dialmend-system-info-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(m_folder);
    fs::create_directories(m_folder);
  }

  void TearDown() override {
    m_tool_key.Restore();
    m_folder_key.Restore();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey);
    std::error_code ignored;
    fs::remove_all(m_folder, ignored);
  }

  std::string Folder() const { return m_folder.string(); }

  void PutTool(const fs::path& path) { std::ofstream(path, std::ios::binary).put('\0'); }

  // StartSysInfo with the start recorded, and answered with `starts`, instead of done.
  bool StartSysInfoRecorded(bool starts = true) {
    return StartSysInfo([this, starts](const std::string& path) {
      m_started.push_back(path);
      return starts;
    });
  }

  // Declared first, so they are saved before SetUp takes the keys away.
  SavedKey m_tool_key{kToolParent, kToolLeaf};
  SavedKey m_folder_key{kFolderParent, kFolderLeaf};
  fs::path m_folder;
  std::vector<std::string> m_started;
};

TEST_F(SystemInfo, StartsThePathValueUncheckedAndUnchanged) {
  SetText(kToolKey, "PATH", "C:\\No Such Folder\\msinfo32.exe");
  EXPECT_TRUE(StartSysInfoRecorded());
  EXPECT_EQ(m_started, std::vector<std::string>{"C:\\No Such Folder\\msinfo32.exe"});
}

TEST_F(SystemInfo, FailsWhenThePathValueNamesNoFile) {
  SetText(kToolKey, "PATH", "C:\\No Such Folder\\msinfo32.exe");
  EXPECT_FALSE(StartSysInfo());
  EXPECT_FALSE(StartProgram("C:\\No Such Folder\\msinfo32.exe"));
}

TEST_F(SystemInfo, DoesNotFallBackToTheFolderWhenThePathValueFailsToStart) {
  SetText(kToolKey, "PATH", "C:\\No Such Folder\\msinfo32.exe");
  PutTool(m_folder / "MSINFO32.EXE");
  SetText(kFolderKey, "MSINFO", Folder());
  EXPECT_FALSE(StartSysInfoRecorded(false));
  EXPECT_EQ(m_started, std::vector<std::string>{"C:\\No Such Folder\\msinfo32.exe"});
}

TEST_F(SystemInfo, StartsTheToolInTheFolderWhenTheFirstKeyIsMissing) {
  PutTool(m_folder / "MSINFO32.EXE");
  SetText(kFolderKey, "MSINFO", Folder());
  EXPECT_TRUE(StartSysInfoRecorded());
  EXPECT_EQ(m_started, std::vector<std::string>{Folder() + "\\MSINFO32.EXE"});
}

TEST_F(SystemInfo, StartsTheToolInTheFolderWhenThePathValueIsMissing) {
  SetText(kToolKey, "Other", "C:\\Elsewhere\\msinfo32.exe");
  PutTool(m_folder / "MSINFO32.EXE");
  SetText(kFolderKey, "MSINFO", Folder());
  EXPECT_TRUE(StartSysInfoRecorded());
  EXPECT_EQ(m_started, std::vector<std::string>{Folder() + "\\MSINFO32.EXE"});
}

TEST_F(SystemInfo, FailsAndStartsNothingWhenTheFolderHasNoTool) {
  SetText(kFolderKey, "MSINFO", Folder());
  EXPECT_FALSE(StartSysInfoRecorded());
  EXPECT_TRUE(m_started.empty());
}

TEST_F(SystemInfo, FailsAndStartsNothingWhenTheToolInTheFolderIsAFolder) {
  fs::create_directory(m_folder / "MSINFO32.EXE");
  SetText(kFolderKey, "MSINFO", Folder());
  EXPECT_FALSE(StartSysInfoRecorded());
  EXPECT_TRUE(m_started.empty());
}

TEST_F(SystemInfo, KeepsBothBackslashesWhenTheFolderEndsWithOne) {
  PutTool(m_folder / "MSINFO32.EXE");
  SetText(kFolderKey, "MSINFO", Folder() + "\\");
  EXPECT_TRUE(StartSysInfoRecorded());
  EXPECT_EQ(m_started, std::vector<std::string>{Folder() + "\\\\MSINFO32.EXE"});
}

TEST_F(SystemInfo, FailsAndStartsNothingWhenNeitherKeyIsThere) {
  EXPECT_FALSE(StartSysInfoRecorded());
  EXPECT_TRUE(m_started.empty());
  EXPECT_FALSE(StartSysInfo());
}

TEST_F(SystemInfo, ReadsATextStoredWithItsNulWithoutIt) {
  SetText(kTestKey, "Value", "C:\\Tools", true);
  std::string value = "old";
  EXPECT_TRUE(GetKeyValue(LocalMachine(), kTestKey, "Value", value));
  EXPECT_EQ(value, "C:\\Tools");
}

TEST_F(SystemInfo, ReadsATextStoredWithoutItsNulWhole) {
  SetText(kTestKey, "Value", "C:\\Tools", false);
  std::string value = "old";
  EXPECT_TRUE(GetKeyValue(LocalMachine(), kTestKey, "Value", value));
  EXPECT_EQ(value, "C:\\Tools");
}

TEST_F(SystemInfo, ReadsANumberAsItsSignedDecimalText) {
  const DWORD positive = 1234;
  const DWORD negative = 0xFFFFFFFB;
  SetValue(kTestKey, "Positive", REG_DWORD, &positive, sizeof positive);
  SetValue(kTestKey, "Negative", REG_DWORD, &negative, sizeof negative);
  std::string value;
  EXPECT_TRUE(GetKeyValue(LocalMachine(), kTestKey, "Positive", value));
  EXPECT_EQ(value, "1234");
  EXPECT_TRUE(GetKeyValue(LocalMachine(), kTestKey, "Negative", value));
  EXPECT_EQ(value, "-5");
}

TEST_F(SystemInfo, LeavesTheTextAsItWasForAnotherType) {
  const char bytes[] = {1, 2, 3};
  SetValue(kTestKey, "Value", REG_BINARY, bytes, sizeof bytes);
  std::string value = "old";
  EXPECT_TRUE(GetKeyValue(LocalMachine(), kTestKey, "Value", value));
  EXPECT_EQ(value, "old");
}

TEST_F(SystemInfo, ReadsAValueOfExactly1024Bytes) {
  const std::string text(1023, 'x');
  SetText(kTestKey, "Value", text, true);
  std::string value;
  EXPECT_TRUE(GetKeyValue(LocalMachine(), kTestKey, "Value", value));
  EXPECT_EQ(value, text);
}

TEST_F(SystemInfo, FailsAndEmptiesTheTextForAValueOver1024Bytes) {
  SetText(kTestKey, "Value", std::string(1024, 'x'), true);
  std::string value = "old";
  EXPECT_FALSE(GetKeyValue(LocalMachine(), kTestKey, "Value", value));
  EXPECT_EQ(value, "");
}

TEST_F(SystemInfo, FailsAndEmptiesTheTextForAMissingKey) {
  std::string value = "old";
  EXPECT_FALSE(GetKeyValue(LocalMachine(), kTestKey, "Value", value));
  EXPECT_EQ(value, "");
}

TEST_F(SystemInfo, FailsAndEmptiesTheTextForAMissingValue) {
  SetText(kTestKey, "Other", "x");
  std::string value = "old";
  EXPECT_FALSE(GetKeyValue(LocalMachine(), kTestKey, "Value", value));
  EXPECT_EQ(value, "");
}

}  // namespace
}  // namespace dialmend
