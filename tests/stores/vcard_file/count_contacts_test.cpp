#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "stores/vcard_file/vcard_file_store.h"

// An export file gives no count before the walk: counting its BEGIN lines costs more of a run
// than progress is worth, so the progress line shows how far the walk is without a total.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

TEST(ExportCount, GivesNoCountEvenForAFileOfCards) {
  const fs::path file = fs::path(testing::TempDir()) / "count_cards.vcf";
  const std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nEND:VCARD\r\n";
  std::ofstream(file, std::ios::binary) << card + card + card;
  EXPECT_EQ(MakeVCardFileStore(file.string())->CountContacts(), std::nullopt);
  fs::remove(file);
}

TEST(ExportCount, SaysNothingForAFileThatCannotBeRead) {
  EXPECT_EQ(MakeVCardFileStore("/nonexistent/contacts.vcf")->CountContacts(), std::nullopt);
}

}  // namespace
}  // namespace dialmend
