#include "stores/vcard_folder/vcard_folder_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/fakes/quiet_run.h"
#include "tests/fakes/test_folder.h"

// The walk over a real vCard folder, on every platform.

namespace dialmend {
namespace {

TEST(ContactRun, NamesANumberInAnUnhandledEncodingAndConvertsTheBase64One) {
  const auto root = FreshTestFolder("run");
  const std::string card =
      "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Ann Encoded\r\n"
      "TEL;HOME;ENCODING=X-FOO:MDE3MSA5MzAgODg5MA==\r\n"
      "TEL;WORK;ENCODING=BASE64:\r\n  MDE3MSA5MzAgODg5MA==\r\n\r\n"
      "TEL;CELL:0370 123456\r\nEND:VCARD\r\n";
  const auto path = root / "book" / "ann.vcf";
  WriteTestFile(path, card);
  const auto store = MakeVCardStore(root.string());
  const QuietRun run = RunQuietly(*store, NumberOptions{}, /*update=*/true);
  EXPECT_NE(run.log.find("  \\book\\Ann Encoded: Home left as it is: its value is in the "
                         "\"X-FOO\" encoding, which is not handled\r\n"
                         "\\book\\Ann Encoded\r\n"
                         "  Business:     0171 930 8890 --> (020) 7930 8890\r\n"
                         "  Mobile:       0370 123456 --> (07770) 123456\r\n"),
            std::string::npos)
      << run.log;
  EXPECT_EQ(run.counters.numbers, 2);
  EXPECT_EQ(run.counters.problems, 0);
  EXPECT_EQ(ReadTestFile(path),
            "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Ann Encoded\r\n"
            "TEL;HOME;ENCODING=X-FOO:MDE3MSA5MzAgODg5MA==\r\n"
            "TEL;WORK;ENCODING=BASE64:\r\n  KDAyMCkgNzkzMCA4ODkw\r\n\r\n"
            "TEL;CELL:(07770) 123456\r\nEND:VCARD\r\n");
}

// A card with one old London number, filed as `name`.
std::string OldCard(const std::string& name) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name +
         "\r\nTEL;TYPE=HOME:0171 930 8890\r\nEND:VCARD\r\n";
}

TEST(ContactRun, KeepsTheWalkOrderInTheLogWhileSavesWaitForTheirBatch) {
  const auto root = FreshTestFolder("run");
  WriteTestFile(root / "book" / "a.vcf", OldCard("Ann"));
  WriteTestFile(root / "book" / "b.vcf", "BEGIN:VCARD\r\nno colon\r\n");
  WriteTestFile(root / "book" / "c.vcf", OldCard("Cal"));
  const auto store = MakeVCardStore(root.string());
  const QuietRun run = RunQuietly(*store, NumberOptions{}, /*update=*/true);
  const std::size_t ann = run.log.find("\\book\\Ann\r\n");
  const std::size_t bad = run.log.find("  Could not read \\book\\b.vcf: ");
  const std::size_t cal = run.log.find("\\book\\Cal\r\n");
  ASSERT_NE(cal, std::string::npos) << run.log;
  EXPECT_LT(ann, bad) << run.log;
  EXPECT_LT(bad, cal) << run.log;
  EXPECT_EQ(run.counters.updated, 2);
  EXPECT_EQ(run.counters.problems, 1);
}

}  // namespace
}  // namespace dialmend
