#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "stores/vcard_folder/vcard_folder_store.h"

// A folder store counts its cards before the walk from the names alone.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, std::string_view text = "BEGIN:VCARD\r\nEND:VCARD\r\n") {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

fs::path FreshRoot() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const fs::path root = fs::path(testing::TempDir()) /
                        ("count_" + std::string(info->test_suite_name()) + "_" + info->name());
  fs::remove_all(root);
  fs::create_directories(root);
  return root;
}

TEST(FolderCount, CountsCardFilesInEveryFolderAsTheWalkWouldTakeThem) {
  const fs::path root = FreshRoot();
  Write(root / "work" / "a.vcf");
  Write(root / "work" / "B.VCF");
  Write(root / "work" / "clients" / "c.vcf");
  Write(root / "work" / "clients" / "deep" / "d.vcf");
  Write(root / "home" / "e.vcf");
  // Not cards, as the walk sees them: hidden, temporary, other kinds.
  Write(root / "home" / ".f.vcf");
  Write(root / ".hidden" / "g.vcf");
  Write(root / "home" / "h.vcf~");
  Write(root / "home" / "i.vcf.tmp");
  Write(root / "home" / "displayname", "Home");
  Write(root / "calendar" / "j.ics");
  EXPECT_EQ(MakeVCardStore(root.string())->CountContacts(), std::optional<std::int64_t>(5));
  EXPECT_EQ(
      MakeVCardBooksStore({(root / "work").string(), (root / "home").string()})->CountContacts(),
      std::optional<std::int64_t>(5));
}

TEST(FolderCount, SaysNothingForAFolderThatCannotBeListed) {
  EXPECT_EQ(MakeVCardStore("/nonexistent/contacts")->CountContacts(), std::nullopt);
}

}  // namespace
}  // namespace dialmend
