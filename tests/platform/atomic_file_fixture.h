#pragma once

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/utf8_path.h"

// The folder the atomic file tests write in, and what they read back from it.

namespace dialmend {

constexpr std::size_t kLimit = 4 * 1024 * 1024;
// Beyond any ANSI code page: UTF-8 names must reach Windows as UTF-16.
constexpr char kWideName[] = "Zo\xC3\xAB \xE5\xBC\xA0 \xF0\x9F\x93\x9E.vcf";

class AtomicFile : public testing::Test {
 public:
  void SetUp() override {
    m_folder = std::filesystem::temp_directory_path() /
               ("dialmend-atomic-" + std::to_string(std::random_device()()));
    ASSERT_TRUE(std::filesystem::create_directory(m_folder));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }

  // Writes the file named by UTF-8 `name` in the test's folder.
  std::filesystem::path Write(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = m_folder / PathFromUtf8(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  static std::string Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder)) {
      names.push_back(Utf8FromPath(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  static FileStamp Snapshot(const std::filesystem::path& path) {
    const FileSnapshot snapshot = ReadFileSnapshot(path, kLimit);
    EXPECT_TRUE(snapshot.status.Ok()) << snapshot.status.Message();
    return snapshot.stamp;
  }

  // Gives the file the write time `mtime_ns` (since 1970) again.
  static void SetWriteTime(const std::filesystem::path& path, std::int64_t mtime_ns) {
#ifdef _WIN32
    HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    // The stamp counts from 1970; FILETIME counts 100 ns ticks from 1601.
    const auto ticks = static_cast<std::uint64_t>(mtime_ns / 100 + 116'444'736'000'000'000);
    FILETIME written{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
    EXPECT_TRUE(::SetFileTime(file, nullptr, nullptr, &written)) << ::GetLastError();
    ::CloseHandle(file);
#else
    ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    const timespec times[2] = {info.st_atim,
                               {static_cast<time_t>(mtime_ns / 1'000'000'000),
                                static_cast<long>(mtime_ns % 1'000'000'000)}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
#endif
  }

  std::filesystem::path m_folder;
};

template <class Row>
std::string RowName(const testing::TestParamInfo<Row>& info) {
  return info.param.name;
}

}  // namespace dialmend
