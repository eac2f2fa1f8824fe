#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "stores/vcard_file/vcard_file_store.h"
#include "tests/fakes/test_folder.h"

// An export file gives no count before the walk: counting its BEGIN lines costs more of a run
// than progress is worth, so the progress line shows how far the walk is without a total.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

TEST(ExportCount, GivesNoCountEvenForAFileOfCards) {
  const fs::path file = FreshTestFolder("count_cards") / "all.vcf";
  const std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nEND:VCARD\r\n";
  WriteTestFile(file, card + card + card);
  EXPECT_EQ(MakeVCardFileStore(file.string())->CountContacts(), std::nullopt);
}

TEST(ExportCount, SaysNothingForAFileThatCannotBeRead) {
  EXPECT_EQ(MakeVCardFileStore("/nonexistent/contacts.vcf")->CountContacts(), std::nullopt);
}

}  // namespace
}  // namespace dialmend
