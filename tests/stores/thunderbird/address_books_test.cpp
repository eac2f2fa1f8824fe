#include "stores/thunderbird/address_books.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

// Which books a profile's prefs.js names, as Thunderbird writes it.

namespace dialmend {
namespace {

std::vector<std::string> Books(std::string_view prefs) {
  std::vector<std::string> books;
  for (const ThunderbirdBook& book : ParseAddressBooks(prefs)) {
    books.push_back(book.name + "|" + std::to_string(book.dir_type) + "|" + book.file + "|" +
                    book.url);
  }
  return books;
}

TEST(ParseAddressBooks, ListsEveryBookInThunderbirdsOrder) {
  EXPECT_THAT(
      Books("// Mozilla User Preferences\n"
            "user_pref(\"ldap_2.servers.work.description\", \"Work \\\"A\\\" "
            "\\u00e9\\ud83d\\ude00\");\n"
            "user_pref(\"ldap_2.servers.work.dirType\", 101);\n"
            "user_pref(\"ldap_2.servers.work.filename\", \"abook-1.sqlite\");\n"
            "user_pref(\"ldap_2.servers.Shared.carddav.url\", \"https://dav.example.org/a/\");\n"
            "user_pref(\"ldap_2.servers.Shared.description\", \"shared\");\n"
            "user_pref(\"ldap_2.servers.Shared.dirType\", 102);\n"
            "user_pref(\"ldap_2.servers.Shared.filename\", \"abook-2.sqlite\");\n"
            "user_pref(\"ldap_2.servers.corp.description\", \"Corp\");\n"
            "user_pref(\"ldap_2.servers.corp.dirType\", 0);\n"
            "user_pref(\"ldap_2.servers.corp.uri\", \"ldap://ldap.example.org/dc=example\");\n"
            "  user_pref(\"ldap_2.servers.pab.description\",\"Mine\" ) ;\n"
            "user_pref(\"ldap_2.servers.broken.description\", \"no closing quote);\n"
            "user_pref(\"mail.ldap_2.servers.x.filename\", \"elsewhere.sqlite\");\n"),
      testing::ElementsAre("Mine|101|abook.sqlite|", "Corp|0||ldap://ldap.example.org/dc=example",
                           "shared|102|abook-2.sqlite|https://dav.example.org/a/",
                           "Work \"A\" \xC3\xA9\xF0\x9F\x98\x80|101|abook-1.sqlite|",
                           "Collected Addresses|101|history.sqlite|"));
}

TEST(ParseAddressBooks, GivesThunderbirdsOwnTwoBooksWithoutPrefs) {
  EXPECT_THAT(Books(""), testing::ElementsAre("Personal Address Book|101|abook.sqlite|",
                                              "Collected Addresses|101|history.sqlite|"));
}

}  // namespace
}  // namespace dialmend
