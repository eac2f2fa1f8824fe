#include "stores/profile/profile_config.h"

#include <gtest/gtest.h>

#include <string>

namespace dialmend {
namespace {

TEST(KhardConfig, ReadsEachAddressBookWithItsPathInOrder) {
  const ConfiguredBooks read = ParseKhardConfig(
      "\xEF\xBB\xBF# khard\r\n"
      "[addressbooks]\r\n"
      "[[family]]\r\n"
      "path = ~/.contacts/family/   # synced by vdirsyncer\r\n"
      "  [[ 'work' ]]\n"
      "    path = \"/srv/cards/work # not a comment\"  # a comment\n"
      "[general]\n"
      "editor = vim, -i, NONE\n"
      "[contact table]\n"
      "display = first_name\n");
  ASSERT_FALSE(read.problem) << read.problem->reason;
  ASSERT_EQ(read.books.size(), 2u);
  EXPECT_EQ(read.books[0].name, "family");
  EXPECT_EQ(read.books[0].path, "~/.contacts/family/");
  EXPECT_EQ(read.books[0].line, 4u);
  EXPECT_EQ(read.books[1].name, "work");
  EXPECT_EQ(read.books[1].path, "/srv/cards/work # not a comment");
}

TEST(KhardConfig, APathOutsideTheAddressBooksIsNotOne) {
  const ConfiguredBooks read =
      ParseKhardConfig("[general]\npath = /tmp\n[[nested]]\npath = /x\n[addressbooks]\n");
  EXPECT_FALSE(read.problem);
  EXPECT_TRUE(read.books.empty());
}

struct BadConfig {
  const char* name;
  const char* text;
  std::size_t line;
  const char* says;
};

void PrintTo(const BadConfig& bad, std::ostream* os) {
  *os << bad.name;
}

class KhardConfigProblem : public testing::TestWithParam<BadConfig> {};

TEST_P(KhardConfigProblem, NamesTheLineAndTheReason) {
  const ConfiguredBooks read = ParseKhardConfig(GetParam().text);
  ASSERT_TRUE(read.problem);
  EXPECT_TRUE(read.books.empty());
  EXPECT_EQ(read.problem->line, GetParam().line);
  EXPECT_NE(read.problem->reason.find(GetParam().says), std::string::npos) << read.problem->reason;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KhardConfigProblem,
    testing::Values(
        BadConfig{"UnbalancedBrackets", "[addressbooks]\n[[family]\npath = x\n", 2, "do not match"},
        BadConfig{"UnclosedSection", "[addressbooks\n", 1, "never closed"},
        BadConfig{"NestedTooDeep", "[addressbooks]\n[[[family]]]\n", 2, "nested deeper"},
        BadConfig{"NoEquals", "[addressbooks]\n[[family]]\npath ~/x\n", 3,
                  "neither a [section] nor a name = value"},
        BadConfig{"UnclosedQuote", "[addressbooks]\n[[family]]\npath = \"~/x\n", 3, "never closed"},
        BadConfig{"TextAfterQuote", "[addressbooks]\n[[family]]\npath = \"~/x\" y\n", 3,
                  "more after"},
        BadConfig{"NoPath", "[addressbooks]\n[[family]]\n# path = x\n[[work]]\npath = y\n", 2,
                  "[[family]] has no path"},
        BadConfig{"TwoPaths", "[addressbooks]\n[[family]]\npath = x\npath = y\n", 4, "two paths"},
        BadConfig{"EmptyPath", "[addressbooks]\n[[family]]\npath =\n", 3, "empty path"},
        BadConfig{"BookTwice", "[addressbooks]\n[[a]]\npath = x\n[[a]]\npath = y\n", 4,
                  "given twice"},
        BadConfig{"NoName", "[addressbooks]\n[[ ]]\n", 2, "without a name"}),
    [](const testing::TestParamInfo<BadConfig>& info) { return info.param.name; });

TEST(VdirsyncerConfig, ReadsTheFilesystemStorageOfCards) {
  const ConfiguredBooks read = ParseVdirsyncerConfig(
      "[general]\n"
      "status_path = \"~/.vdirsyncer/status/\"\n"
      "\n"
      "; contacts\n"
      "[pair contacts]\n"
      "a = \"contacts_local\"\n"
      "b = \"contacts_remote\"\n"
      "collections = [\"from a\", \"from b\"]\n"
      "\n"
      "[storage contacts_local]\n"
      "Type = \"filesystem\"\n"
      "path: \"~/.contacts/\\u00e9t\\u00e9\"\n"
      "fileext = \".vcf\"\n"
      "\n"
      "[storage calendar_local]\n"
      "type = \"filesystem\"\n"
      "path = \"~/.calendars/\"\n"
      "fileext = \".ics\"\n"
      "\n"
      "[storage contacts_remote]\n"
      "type = \"carddav\"\n"
      "url = \"https://example.org/\"\n"
      "password.fetch = [\"command\", \"pass\", \"x\"]\n");
  ASSERT_FALSE(read.problem) << read.problem->reason;
  ASSERT_EQ(read.books.size(), 1u);
  EXPECT_EQ(read.books[0].name, "contacts_local");
  EXPECT_EQ(read.books[0].path, "~/.contacts/\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(read.books[0].line, 12u);
}

class VdirsyncerConfigProblem : public testing::TestWithParam<BadConfig> {};

TEST_P(VdirsyncerConfigProblem, NamesTheLineAndTheReason) {
  const ConfiguredBooks read = ParseVdirsyncerConfig(GetParam().text);
  ASSERT_TRUE(read.problem);
  EXPECT_TRUE(read.books.empty());
  EXPECT_EQ(read.problem->line, GetParam().line);
  EXPECT_NE(read.problem->reason.find(GetParam().says), std::string::npos) << read.problem->reason;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VdirsyncerConfigProblem,
    testing::Values(
        BadConfig{"UnquotedPath",
                  "[storage c]\ntype = \"filesystem\"\nfileext = \".vcf\"\npath = ~/.contacts\n", 4,
                  "not a quoted string"},
        BadConfig{"UnclosedString",
                  "[storage c]\ntype = \"filesystem\"\nfileext = \".vcf\"\npath = \"~/x\n", 4,
                  "never closed"},
        BadConfig{"BadEscape",
                  "[storage c]\ntype = \"filesystem\"\nfileext = \".vcf\"\npath = \"a\\qb\"\n", 4,
                  "\\q"},
        BadConfig{"UnquotedType", "[storage c]\ntype = filesystem\n", 2, "type"},
        BadConfig{"NoPath", "\n[storage c]\ntype = \"filesystem\"\nfileext = \".vcf\"\n", 2,
                  "has no path"},
        BadConfig{"SectionTwice", "[storage c]\n[storage c]\n", 2, "given twice"},
        BadConfig{"KeyTwice", "[storage c]\ntype = \"a\"\ntype = \"b\"\n", 3, "given twice"},
        BadConfig{"UnclosedSection", "[storage c\n", 1, "never closed"},
        BadConfig{"ValueBeforeSection", "type = \"filesystem\"\n", 1, "before the first"},
        BadConfig{"NotAValue", "[general]\nstatus_path\n", 2, "neither"}),
    [](const testing::TestParamInfo<BadConfig>& info) { return info.param.name; });

TEST(ExpandHome, ExpandsOnlyALeadingTilde) {
  EXPECT_EQ(ExpandHome("~", "/home/a"), "/home/a");
  EXPECT_EQ(ExpandHome("~/x/", "/home/a"), "/home/a/x/");
  EXPECT_EQ(ExpandHome("/x/~", "/home/a"), "/x/~");
  EXPECT_EQ(ExpandHome("~bob/x", "/home/a"), "~bob/x");
}

}  // namespace
}  // namespace dialmend
