#include "cli/line_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace dialmend {
namespace {

std::FILE* FileWith(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

// The lines read, each long line's pieces joined and marked with a leading '>'.
std::vector<std::string> ReadAll(const std::string& bytes,
                                 std::size_t longest = LineReader::kLongestWhole) {
  std::FILE* f = FileWith(bytes);
  LineReader reader(f, longest);
  std::vector<std::string> lines;
  std::string long_line;
  LineReader::Line line;
  while (reader.Next(line)) {
    if (line.whole) {
      EXPECT_LE(line.text.size(), longest);
      lines.emplace_back(line.text);
      continue;
    }
    EXPECT_LE(line.text.size(), std::max<std::size_t>(longest, 1 << 16));
    long_line += line.text;
    if (line.ends) lines.push_back(">" + std::exchange(long_line, {}));
  }
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

TEST(LineReader, ReturnsLinesOverBlocksWholeUpToTheLongest) {
  const std::string edge(65535, '1');  // CR and LF straddle the first block's end
  const std::string over(70000, '7');
  EXPECT_EQ(ReadAll(edge + "\r\nz"), (Lines{edge, "z"}));
  EXPECT_EQ(ReadAll("x\n" + over + "\ny\n", 100000), (Lines{"x", over, "y"}));
}

// Pieces begin in what was carried over a block's end and in the block; a CR at a piece's end
// is dropped only when the line ends after it.
TEST(LineReader, PassesLongerLinesInPiecesThatJoinToTheLine) {
  const std::string huge(300000, '7');
  const std::string edge(65535, '1');
  EXPECT_EQ(ReadAll("x\n" + huge + "\ny\n"), (Lines{"x", ">" + huge, "y"}));
  EXPECT_EQ(ReadAll(huge), (Lines{">" + huge}));
  EXPECT_EQ(ReadAll(edge + "\r\nz", 1000), (Lines{">" + edge, "z"}));
  EXPECT_EQ(ReadAll(edge + "\rz\r", 1000), (Lines{">" + edge + "\rz"}));
  EXPECT_EQ(ReadAll("ab\n" + edge + "\n0123456789\r\n", 8),
            (Lines{"ab", ">" + edge, ">0123456789"}));
  EXPECT_EQ(ReadAll(std::string(65530, 'a') + "\n" + edge + "\r", 10),
            (Lines{">" + std::string(65530, 'a'), ">" + edge}));
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
