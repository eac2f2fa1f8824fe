#include "cli/convert_command.h"

#include <gtest/gtest.h>

#include "check/format_check.h"
#include "cli/line_stream.h"
#include "tests/cli/capture.h"

#include <cstdio>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <sys/resource.h>
#endif

namespace dialmend {
namespace {

Outcome Convert(const std::string& input, std::vector<std::string_view> args = {}) {
  std::FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int status = RunConvert(args, in, out, err);
  std::fclose(in);
  return {status, Slurp(out), Slurp(err)};
}

TEST(ConvertCommand, WritesOneLinePerInputLineInOrder) {
  // Longer than any number: copied as it is, and never printed as a change.
  const std::string too_long = "0171 930 8890 " + std::string(LineReader::kLongestWhole, '9');
  const std::string input =
      "0171 930 8890\r\n"
      "\n"
      "not a number\n"
      "  \n"
      "0171 930 8890\xff\n" +
      too_long +
      "\r\n"
      "*21#\r\n"
      "01232 123456";
  const Outcome r = Convert(input);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "(020) 7930 8890\n"
            "\n"
            "not a number\n"
            "\n"
            "0171 930 8890\xff\n" +
                too_long +
                "\n"
                "*21#\n"
                "(028) 9012 3456\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Convert(input, {"--changes"}).out.find(too_long), std::string::npos);
}

#ifdef __GLIBC__
// A line of 64 MiB, made up as it is read and checked as it is written.
constexpr std::size_t kHugeLength = std::size_t{64} << 20;
struct HugeLine {
  std::size_t at = 0;
  bool same = true;

  static char ByteAt(std::size_t at) {
    constexpr std::string_view kHead = "0171 930 8890 ";
    return at < kHead.size() ? kHead[at] : at < kHugeLength ? '9' : '\n';
  }
  static ssize_t Read(void* cookie, char* buffer, std::size_t size) {
    auto& line = *static_cast<HugeLine*>(cookie);
    std::size_t n = 0;
    for (; n < size && line.at <= kHugeLength; ++n) buffer[n] = ByteAt(line.at++);
    return static_cast<ssize_t>(n);
  }
  static ssize_t Write(void* cookie, const char* buffer, std::size_t size) {
    auto& line = *static_cast<HugeLine*>(cookie);
    for (std::size_t n = 0; n < size; ++n) line.same = line.same && buffer[n] == ByteAt(line.at++);
    return static_cast<ssize_t>(size);
  }
};

// Memory stays within a few blocks, where a line held whole would take it twice over.
TEST(ConvertCommand, StreamsALineOfAnyLengthInLittleMemory) {
  HugeLine read, written;
  std::FILE* in = fopencookie(&read, "r", {HugeLine::Read, nullptr, nullptr, nullptr});
  std::FILE* out = fopencookie(&written, "w", {nullptr, HugeLine::Write, nullptr, nullptr});
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  EXPECT_TRUE(ConvertStream(in, out, {}, false).Ok());
  getrusage(RUSAGE_SELF, &after);
  std::fclose(in);
  std::fclose(out);
  EXPECT_TRUE(written.same);
  EXPECT_EQ(written.at, kHugeLength + 1);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 * 1024) << "KiB more at the peak";
}
#endif

struct ExactUsage {
  std::vector<std::string_view> args;
  std::string err;
};

void PrintTo(const ExactUsage& row, std::ostream* out) {
  for (const std::string_view arg : row.args) *out << arg << ' ';
}

class ConvertUsageLine : public testing::TestWithParam<ExactUsage> {};

// The wording is part of the program: scripts and users read these lines.
TEST_P(ConvertUsageLine, IsWordedExactly) {
  const Outcome r = Convert("0171 930 8890\n", GetParam().args);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "dialmend-convert: " + GetParam().err + " (try --help)\n");
}

INSTANTIATE_TEST_SUITE_P(
    Options, ConvertUsageLine,
    testing::Values(
        ExactUsage{{"--style", "4"}, "--style: \"4\" is not a number from 0 to 3"},
        ExactUsage{{"--style=4"}, "--style: \"4\" is not a number from 0 to 3"},
        ExactUsage{{"--style"}, "--style needs a value from 0 to 3"},
        ExactUsage{{"--style="}, "--style: \"\" is not a number from 0 to 3"},
        ExactUsage{{"--style", "--prefix"}, "--style: \"--prefix\" is not a number from 0 to 3"},
        ExactUsage{{"--prefix", "-1"}, "--prefix: \"-1\" is not a number from 0 to 2"},
        ExactUsage{{"--zero", "10"}, "--zero: \"10\" is not a number from 0 to 2"},
        ExactUsage{{"--zero="}, "--zero: \"\" is not a number from 0 to 2"},
        ExactUsage{{"--find"}, "--find needs a text"},
        ExactUsage{{"--find", "\xff"}, "--find: the text is not valid UTF-8"},
        ExactUsage{{"--replace", "x"}, "--replace needs --find"},
        ExactUsage{{"--replace=x"}, "--replace needs --find"},
        ExactUsage{{"--frobnicate"}, "unknown option --frobnicate"},
        ExactUsage{{"--frob=3"}, "unknown option --frob"}, ExactUsage{{"-x"}, "unknown option -x"},
        ExactUsage{{"numbers.txt"},
                   "unexpected argument \"numbers.txt\" (numbers are read from standard input)"},
        ExactUsage{{"--self-check", "--style=3"},
                   "--self-check sets its own options and cannot be combined with --style"},
        ExactUsage{{"--changes", "--self-check"},
                   "--self-check sets its own options and cannot be combined with --changes"}));

struct Accepted {
  std::vector<std::string_view> args;
  std::string out;
  std::string in = "0171 930 8890\n";
};

class ConvertAccepts : public testing::TestWithParam<Accepted> {};

TEST_P(ConvertAccepts, EitherFormOfAnOption) {
  const Outcome r = Convert(GetParam().in, GetParam().args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ConvertAccepts,
    testing::Values(Accepted{{"--style", "2"}, "020 7930 8890\n"},
                    Accepted{{"--style=2"}, "020 7930 8890\n"},
                    Accepted{{"--style", "1", "--style", "2"}, "020 7930 8890\n"},
                    Accepted{{"--prefix=2", "--zero", "1"}, "+44 (20) 7930 8890\n"},
                    Accepted{{"--find", "--x"}, "(020) 7930 8890\n"},
                    Accepted{{"--find="}, "(020) 7930 8890\n"},
                    Accepted{{"--find", "0171 ", "--replace="}, "(930) 8890\n"},
                    Accepted{{"--replace", "0181 ", "--find=0171 "}, "(020) 8930 8890\n"},
                    Accepted{{"--old-codes-only", "--style=2"},
                             "+44 20 7930 8890\n020 79308890\n",
                             "+44 171 930 8890\n020 79308890\n"},
                    // Only changed lines, each with its old text.
                    Accepted{{"--changes"},
                             "0171 930 8890\t(020) 7930 8890\n+1 212 555 1234\t+1 (212) 555 1234\n",
                             "0171 930 8890\n(020) 7930 8890\n+1 212 555 1234\n"},
                    Accepted{{"--version"}, "dialmend-convert 1.4.17\n", ""}));

TEST(ConvertCommand, HelpExitsZero) {
  const Outcome help = Convert("", {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--style N"), std::string::npos);
}

// The texts themselves are the format check's own tests; standard input is not read.
TEST(ConvertCommand, SelfCheckPrintsBothGroupsFromTheDefaultOptionsAndExitsZero) {
  const Outcome r = Convert("0171 930 8890\n", {"--self-check"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  NumberOptions defaults;
  const FormatCheckResult check = RunFormatCheck(defaults);
  EXPECT_EQ(r.out, check.general + "\n" + check.international);
}

TEST(ConvertCommand, ReportsAnOutputThatCannotBeWritten) {
  std::FILE* full = std::fopen("/dev/full", "w");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full";
  std::FILE* in = std::tmpfile();
  std::fputs("0171 930 8890\n", in);
  std::rewind(in);
  const Status converted = ConvertStream(in, full, {}, false);
  ASSERT_FALSE(converted.Ok());
  EXPECT_NE(converted.Message().find("cannot write the output"), std::string::npos);
  std::fclose(in);
  std::fclose(full);
}

TEST(ConvertProgram, ConvertsStandardInput) {
  const std::string command = std::string("printf '0171 930 8890\\n' | '") + DIALMEND_CONVERT_EXE +
                              "' --style 3 --prefix 2 --zero 1";
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[64] = {};
  ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_STREQ(line, "+442079308890\n");
}

}  // namespace
}  // namespace dialmend
