#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "stores/vcard_file/vcard_file_store.h"

// An export file counts its cards before the walk from the lines that begin one.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

struct CountRow {
  const char* name;
  std::string text;
  std::int64_t expected;
};

class ExportCount : public testing::TestWithParam<CountRow> {};

TEST_P(ExportCount, CountsTheLinesThatBeginACard) {
  const fs::path file = fs::path(testing::TempDir()) /
                        ("count_" + std::string(GetParam().name) + "_" +
                         std::to_string(std::hash<std::string>{}(GetParam().text)) + ".vcf");
  std::ofstream(file, std::ios::binary) << GetParam().text;
  EXPECT_EQ(MakeVCardFileStore(file.string())->CountContacts(),
            std::optional<std::int64_t>(GetParam().expected));
  fs::remove(file);
}

const std::string kCard = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nEND:VCARD\r\n";

// A block holds 64 KiB: a card line across two blocks still counts once.
std::string AcrossABlock() {
  std::string text(65536 - 5, 'x');
  text += "\r\nBEGIN:VCARD\r\nEND:VCARD\r\n";
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ExportCount,
    testing::Values(CountRow{"Empty", "", 0}, CountRow{"One", kCard, 1},
                    CountRow{"Three", kCard + kCard + "\r\n" + kCard, 3},
                    CountRow{"AnyCaseAndLfOnly", "begin:vcard\nend:vcard\nBegin:VCard\n", 2},
                    CountRow{"AfterAByteOrderMark", "\xEF\xBB\xBF" + kCard + kCard, 2},
                    CountRow{"NotInsideALine", "NOTE:BEGIN:VCARD\r\n X BEGIN:VCARD\r\n", 0},
                    CountRow{"LineSplitAcrossBlocks", AcrossABlock(), 1}),
    [](const testing::TestParamInfo<CountRow>& row) { return std::string(row.param.name); });

TEST(ExportCount, SaysNothingForAFileThatCannotBeRead) {
  EXPECT_EQ(MakeVCardFileStore("/nonexistent/contacts.vcf")->CountContacts(), std::nullopt);
}

}  // namespace
}  // namespace dialmend
