#include "cli/line_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace dialmend {
namespace {

std::FILE* FileWith(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

std::vector<std::string> ReadAll(const std::string& bytes) {
  std::FILE* f = FileWith(bytes);
  LineReader reader(f);
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.Next(line)) lines.emplace_back(line);
  EXPECT_EQ(reader.Error(), 0);
  std::fclose(f);
  return lines;
}

using Lines = std::vector<std::string>;

TEST(LineReader, SplitsLinesAsTyped) {
  EXPECT_EQ(ReadAll(""), Lines{});
  EXPECT_EQ(ReadAll("\n"), Lines{""});
  EXPECT_EQ(ReadAll("a\nb\n"), (Lines{"a", "b"}));
  EXPECT_EQ(ReadAll("a\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(ReadAll("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(ReadAll("a\r\n\r\n\nb\r"), (Lines{"a", "", "", "b"}));
  EXPECT_EQ(ReadAll("a\rb\n"), (Lines{"a\rb"}));
  EXPECT_EQ(ReadAll(std::string("a\0b\n", 4)), (Lines{std::string("a\0b", 3)}));
}

TEST(LineReader, ReturnsLinesLongerThanItsBlocksWhole) {
  const std::string huge(300000, '7');
  const std::string edge(65535, '1');  // CR and LF straddle the first block's end
  EXPECT_EQ(ReadAll("x\n" + huge + "\ny\n"), (Lines{"x", huge, "y"}));
  EXPECT_EQ(ReadAll(edge + "\r\nz"), (Lines{edge, "z"}));
  EXPECT_EQ(ReadAll(huge), (Lines{huge}));
}

TEST(BufferedWriter, WritesEverythingInOrder) {
  std::FILE* f = std::tmpfile();
  {
    BufferedWriter writer(f);
    const std::string big(200000, 'b');
    writer.Write("head ");
    writer.Write(big);
    for (int i = 0; i < 70000; ++i) writer.Put('c');
    EXPECT_EQ(writer.Flush(), 0);
    std::rewind(f);
    std::string back(5 + big.size() + 70000, '\0');
    ASSERT_EQ(std::fread(back.data(), 1, back.size() + 1, f), back.size());
    EXPECT_EQ(back, "head " + big + std::string(70000, 'c'));
  }
  std::fclose(f);
}

TEST(BufferedWriter, ReportsAFailedWrite) {
  std::FILE* full = std::fopen("/dev/full", "w");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full";
  BufferedWriter writer(full);
  writer.Write("0171 930 8890\n");
  EXPECT_NE(writer.Flush(), 0);
  std::fclose(full);
}

}  // namespace
}  // namespace dialmend
