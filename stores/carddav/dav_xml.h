#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

// The WebDAV and CardDAV XML the store sends and reads: PROPFIND and addressbook-multiget bodies,
// and the multistatus answers to both.

namespace dialmend {

// One <response> of a multistatus: a resource and the properties the server found for it.
struct DavResource {
  // As the server wrote it.
  std::string href;
  // The response's own status, for one without properties (404 for a card gone); else 200.
  long status = 200;
  std::string etag;
  std::string displayname;
  bool collection = false;
  bool addressbook = false;
  // The href of DAV:current-user-principal, and the first of CARDDAV:addressbook-home-set.
  std::string principal;
  std::string home_set;
  // The card's text exactly as sent, line ends included; std::nullopt when none came.
  std::optional<std::string> address_data;
};

// The resources of a multistatus answer, in its order; fails with why it is not one.
[[nodiscard]] Result<std::vector<DavResource>> ParseMultistatus(std::string_view xml);

// Asks for what tells a principal, an address book home and an address book apart.
[[nodiscard]] std::string DiscoveryPropfind();

// Asks for what tells cards and address books apart, with the cards' ETags.
[[nodiscard]] std::string ListingPropfind();

// Asks for the ETag alone.
[[nodiscard]] std::string ETagPropfind();

// Asks for the ETag and the card of each of `hrefs`.
[[nodiscard]] std::string MultigetReport(std::span<const std::string> hrefs);

}  // namespace dialmend
