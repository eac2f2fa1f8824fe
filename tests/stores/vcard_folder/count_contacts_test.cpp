#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "stores/vcard_folder/vcard_folder_store.h"
#include "tests/fakes/test_folder.h"

// A folder store counts its cards before the walk from the names alone.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, std::string_view text = "BEGIN:VCARD\r\nEND:VCARD\r\n") {
  WriteTestFile(path, text);
}

TEST(FolderCount, CountsCardFilesInEveryFolderAsTheWalkWouldTakeThem) {
  const fs::path root = FreshTestFolder("count");
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
  EXPECT_EQ(MakeVCardBooksStore({{(root / "work").string(), {}, CardNaming::VcfFiles},
                                 {(root / "home").string(), {}, CardNaming::VcfFiles}})
                ->CountContacts(),
            std::optional<std::int64_t>(5));
}

TEST(FolderCount, SaysNothingForAFolderThatCannotBeListed) {
  EXPECT_EQ(MakeVCardStore("/nonexistent/contacts")->CountContacts(), std::nullopt);
}

}  // namespace
}  // namespace dialmend
