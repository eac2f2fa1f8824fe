#include "platform/system_info.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

#include "tests/fakes/test_folder.h"

namespace dialmend {
namespace {

namespace fs = std::filesystem;

struct DecodeRow {
  const char* name;
  std::uint32_t type;
  std::string data;
  std::string expected;
  friend void PrintTo(const DecodeRow& row, std::ostream* out) { *out << row.name; }
};

class DecodeKeyValueCase : public testing::TestWithParam<DecodeRow> {};

TEST_P(DecodeKeyValueCase, DecodesByTheValuesType) {
  std::string value = "old";
  DecodeKeyValue(GetParam().type, GetParam().data, value);
  EXPECT_EQ(value, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(SystemInfo, DecodeKeyValueCase,
                         testing::Values(DecodeRow{"TextWithItsNul", 1,
                                                   std::string("C:\\Tools\0", 9), "C:\\Tools"},
                                         DecodeRow{"TextWithoutNul", 1, "C:\\Tools", "C:\\Tools"},
                                         DecodeRow{"OnlyOneNulDropped", 1, std::string("ab\0\0", 4),
                                                   std::string("ab\0", 3)},
                                         DecodeRow{"Number", 4, std::string("\x2a\0\0\0", 4), "42"},
                                         DecodeRow{"NegativeNumber", 4, "\xff\xff\xff\xff", "-1"},
                                         DecodeRow{"OtherTypeKeepsTheOldValue", 3, "xyz", "old"}),
                         [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
// PATH holding one folder of the test's own, put back afterwards.
class SystemInfoOnPath : public testing::Test {
 protected:
  void SetUp() override {
    m_bin = FreshTestFolder("sysinfo");
    if (const char* path = std::getenv("PATH")) m_saved = path;
    setenv("PATH", m_bin.c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", m_saved.c_str(), 1);
    fs::remove_all(m_bin);
  }
  void Script(const std::string& name, const std::string& text) {
    WriteTestFile(m_bin / name, text);
    chmod((m_bin / name).c_str(), 0700);
  }

  fs::path m_bin;
  std::string m_saved;
};

TEST_F(SystemInfoOnPath, StartsTheFirstProgramFound) {
  const fs::path marker = m_bin / "started";
  Script("hardinfo", "#!/bin/sh\n/usr/bin/touch '" + marker.string() + "'\n");
  EXPECT_TRUE(StartSysInfo());
  for (int i = 0; i < 50 && !fs::exists(marker); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(fs::exists(marker));
}

TEST_F(SystemInfoOnPath, FailsWithNothingToStartOrWhatCannotStart) {
  EXPECT_FALSE(StartSysInfo());
  Script("kinfocenter", "#!/nonexistent/interpreter\n");
  EXPECT_FALSE(StartSysInfo());
}
#endif

}  // namespace
}  // namespace dialmend
