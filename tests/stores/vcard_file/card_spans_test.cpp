#include "stores/vcard_file/card_spans.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace dialmend {
namespace {

struct SpansCase {
  const char* name;
  std::string bytes;
  // Each card's text as its span gives it.
  std::vector<std::string> cards;
};

void PrintTo(const SpansCase& c, std::ostream* out) {
  *out << c.name;
}

class FindCardsTest : public testing::TestWithParam<SpansCase> {};

TEST_P(FindCardsTest, FindsEachCardAndNothingBetween) {
  const SpansCase& c = GetParam();
  std::vector<std::string> found;
  for (const CardSpan& span : FindCards(c.bytes)) {
    found.push_back(c.bytes.substr(span.begin, span.end - span.begin));
  }
  EXPECT_EQ(found, c.cards);
}

// Every block size puts a block's end somewhere else: inside a marker, between CR and LF, at a
// card's last byte.
TEST_P(FindCardsTest, FindsTheSameCardsReadInBlocksOfAnySize) {
  const SpansCase& c = GetParam();
  for (std::size_t block = 1; block <= 24; ++block) {
    std::size_t given = 0;
    CardScanner scanner(
        [&](char* buffer, std::size_t size, std::string&) -> std::optional<std::size_t> {
          const std::size_t count = std::min(size, c.bytes.size() - given);
          c.bytes.copy(buffer, count, given);
          given += count;
          return count;
        },
        block);
    std::vector<std::string> found;
    while (const std::optional<ScannedCard> card = scanner.Next()) {
      EXPECT_EQ(card->bytes, c.bytes.substr(card->span.begin, card->span.end - card->span.begin));
      found.emplace_back(card->bytes);
    }
    EXPECT_EQ(found, c.cards) << "blocks of " << block;
  }
}

TEST(CardScanner, StopsWithTheReasonWhenTheFileCannotBeReadAndGivesNoCutCard) {
  int reads = 0;
  CardScanner scanner(
      [&](char* buffer, std::size_t size, std::string& reason) -> std::optional<std::size_t> {
        if (++reads > 1) {
          reason = "input/output error";
          return std::nullopt;
        }
        const std::string first = "BEGIN:VCARD\nEND:VCARD\nBEGIN:VCARD\nFN:Cut";
        const std::size_t count = std::min(size, first.size());
        first.copy(buffer, count);
        return count;
      },
      64);
  ASSERT_TRUE(scanner.Next().has_value());
  EXPECT_FALSE(scanner.Next().has_value());
  EXPECT_EQ(scanner.Failure(), "input/output error");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FindCardsTest,
    testing::Values(
        SpansCase{"Empty", "", {}}, SpansCase{"NoCard", "hello\r\n", {}},
        SpansCase{"TwoCardsWithBlankLinesBetween",
                  "BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n\r\n  "
                  "\r\nBEGIN:VCARD\r\nFN:B\r\nEND:VCARD\r\n\r\n",
                  {"BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n", "BEGIN:VCARD\r\nFN:B\r\nEND:VCARD\r\n"}},
        SpansCase{"AnyCaseAndBlanksAroundTheValue",
                  "begin:vcard\nFN:A\nEnd: VCard \nBEGIN:\tVCARD\r\nFN:B\r\nend:vcard",
                  {"begin:vcard\nFN:A\nEnd: VCard \n", "BEGIN:\tVCARD\r\nFN:B\r\nend:vcard"}},
        SpansCase{"ByteOrderMarkStaysOutside",
                  "\xEF\xBB\xBF"
                  "BEGIN:VCARD\nEND:VCARD\n",
                  {"BEGIN:VCARD\nEND:VCARD\n"}},
        SpansCase{"CardInsideACardStaysInIt",
                  "BEGIN:VCARD\nAGENT:\nBEGIN:VCARD\nFN:X\nEND:VCARD\nFN:A\nEND:VCARD\n"
                  "BEGIN:VCARD\nFN:B\nEND:VCARD\n",
                  {"BEGIN:VCARD\nAGENT:\nBEGIN:VCARD\nFN:X\nEND:VCARD\nFN:A\nEND:VCARD\n",
                   "BEGIN:VCARD\nFN:B\nEND:VCARD\n"}},
        SpansCase{"CardWithoutEndRunsToTheEnd",
                  "BEGIN:VCARD\nFN:A\nEND:VCARD\nBEGIN:VCARD\nFN:B\n",
                  {"BEGIN:VCARD\nFN:A\nEND:VCARD\n", "BEGIN:VCARD\nFN:B\n"}},
        SpansCase{"StrayEndAndTextOutsideBelongToNoCard",
                  "END:VCARD\nnote\nBEGIN:VCARD\nEND:VCARD\ntrailer",
                  {"BEGIN:VCARD\nEND:VCARD\n"}},
        SpansCase{"GroupedBeginAndEnd",
                  "home.begin:vcard\nFN:A\nhome.end:vcard\n",
                  {"home.begin:vcard\nFN:A\nhome.end:vcard\n"}},
        SpansCase{
            "DoubledCarriageReturns",
            "BEGIN:VCARD\r\r\nFN:A\r\r\nEND:VCARD\r\r\nBEGIN:VCARD\r\r\nEND:VCARD\r\r\n",
            {"BEGIN:VCARD\r\r\nFN:A\r\r\nEND:VCARD\r\r\n", "BEGIN:VCARD\r\r\nEND:VCARD\r\r\n"}},
        SpansCase{"ParameterisedBeginIsNoBegin", "BEGIN;X=1:VCARD\nBEGIN:VCARDS\n", {}},
        SpansCase{"LastCardWithoutFinalLineEnd",
                  "BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:B\r\nEND:VCARD",
                  {"BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n", "BEGIN:VCARD\r\nFN:B\r\nEND:VCARD"}},
        SpansCase{
            "LongLinesBetweenAndInsideCards",
            std::string(40, 'x') + "\nBEGIN:VCARD\nNOTE:" + std::string(50, 'y') + "\nEND:VCARD\n",
            {"BEGIN:VCARD\nNOTE:" + std::string(50, 'y') + "\nEND:VCARD\n"}}),
    [](const testing::TestParamInfo<SpansCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dialmend
