#include "stores/carddav/dav_xml.h"

#include <gtest/gtest.h>

#include <string>

namespace dialmend {
namespace {

TEST(ParseMultistatus, ReadsPrefixedNamespacesAndKeepsCrLfInTheCard) {
  const std::string xml =
      "<ns0:multistatus xmlns:ns0=\"DAV:\" xmlns:ns1=\"urn:ietf:params:xml:ns:carddav\">"
      "<ns0:response><ns0:href>/u/book/a.vcf</ns0:href><ns0:propstat>"
      "<ns0:status>HTTP/1.1 200 OK</ns0:status><ns0:prop><ns0:getetag>\"e1\"</ns0:getetag>"
      "<ns1:address-data>BEGIN:VCARD\r\nFN:A &amp; B\r\nEND:VCARD\r\n</ns1:address-data>"
      "</ns0:prop></ns0:propstat></ns0:response></ns0:multistatus>";
  const auto parsed = ParseMultistatus(xml);
  ASSERT_TRUE(parsed.Ok()) << parsed.Message();
  ASSERT_EQ(parsed.Value().size(), 1U);
  const DavResource& card = parsed.Value()[0];
  EXPECT_EQ(card.href, "/u/book/a.vcf");
  EXPECT_EQ(card.etag, "\"e1\"");
  ASSERT_TRUE(card.address_data);
  EXPECT_EQ(*card.address_data, "BEGIN:VCARD\r\nFN:A & B\r\nEND:VCARD\r\n");
}

TEST(ParseMultistatus, ReadsTheDefaultNamespaceAndTakesOnlyPropertiesFound) {
  const std::string xml =
      "<?xml version='1.0' encoding='utf-8'?>\n<multistatus xmlns=\"DAV:\" "
      "xmlns:CR=\"urn:ietf:params:xml:ns:carddav\"><response><href>/user/</href><propstat><prop>"
      "<current-user-principal><href>/user/</href></current-user-principal><resourcetype>"
      "<collection /><CR:addressbook /></resourcetype><displayname>Work</displayname></prop>"
      "<status>HTTP/1.1 200 OK</status></propstat><propstat><prop><CR:addressbook-home-set>"
      "<href>/nope/</href></CR:addressbook-home-set></prop><status>HTTP/1.1 404 Not Found"
      "</status></propstat></response><response><href>/gone.vcf</href>"
      "<status>HTTP/1.1 404 Not Found</status></response></multistatus>";
  const auto parsed = ParseMultistatus(xml);
  ASSERT_TRUE(parsed.Ok()) << parsed.Message();
  ASSERT_EQ(parsed.Value().size(), 2U);
  EXPECT_EQ(parsed.Value()[0].principal, "/user/");
  EXPECT_TRUE(parsed.Value()[0].collection);
  EXPECT_TRUE(parsed.Value()[0].addressbook);
  EXPECT_EQ(parsed.Value()[0].displayname, "Work");
  EXPECT_EQ(parsed.Value()[0].home_set, "");
  EXPECT_EQ(parsed.Value()[1].status, 404);
  EXPECT_FALSE(parsed.Value()[1].address_data);
}

TEST(ParseMultistatus, TellsAnAddressBookFromAnElementOfTheSameNameElsewhere) {
  const std::string xml =
      "<d:multistatus xmlns:d=\"DAV:\" xmlns:x=\"urn:example\"><d:response><d:href>/c/</d:href>"
      "<d:propstat><d:status>HTTP/1.1 200 OK</d:status><d:prop><d:resourcetype>"
      "<d:collection/><x:addressbook/></d:resourcetype></d:prop></d:propstat></d:response>"
      "</d:multistatus>";
  const auto parsed = ParseMultistatus(xml);
  ASSERT_TRUE(parsed.Ok());
  EXPECT_FALSE(parsed.Value()[0].addressbook);
}

TEST(ParseMultistatus, RefusesAnAnswerThatIsNotAMultistatus) {
  EXPECT_FALSE(ParseMultistatus("<html><body>Login</body></html>").Ok());
  EXPECT_FALSE(ParseMultistatus("not xml <").Ok());
}

TEST(MultigetReport, EscapesTheHrefs) {
  const std::vector<std::string> hrefs{"/b/a&b.vcf"};
  const std::string body = MultigetReport(hrefs);
  EXPECT_NE(body.find("<d:href>/b/a&amp;b.vcf</d:href>"), std::string::npos) << body;
}

}  // namespace
}  // namespace dialmend
