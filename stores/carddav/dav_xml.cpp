#include "stores/carddav/dav_xml.h"
#include "platform/utf8.h"

#include <pugixml.hpp>

#include <cstring>

namespace dialmend {
namespace {

constexpr std::string_view kDav = "DAV:";
constexpr std::string_view kCardDav = "urn:ietf:params:xml:ns:carddav";

std::string_view LocalName(const pugi::xml_node& node) {
  std::string_view name = node.name();
  const std::size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The namespace of the element, from the xmlns declarations in scope.
std::string_view NamespaceOf(const pugi::xml_node& node) {
  const std::string_view name = node.name();
  const std::size_t colon = name.find(':');
  std::string attribute = "xmlns";
  if (colon != std::string_view::npos) attribute += ":" + std::string(name.substr(0, colon));
  for (pugi::xml_node at = node; at; at = at.parent()) {
    if (pugi::xml_attribute declared = at.attribute(attribute.c_str())) return declared.value();
  }
  return {};
}

bool Is(const pugi::xml_node& node, std::string_view ns, std::string_view local) {
  return node.type() == pugi::node_element && LocalName(node) == local && NamespaceOf(node) == ns;
}

pugi::xml_node Child(const pugi::xml_node& node, std::string_view ns, std::string_view local) {
  for (pugi::xml_node child : node.children()) {
    if (Is(child, ns, local)) return child;
  }
  return {};
}

// All the text of the element, CDATA included, as it was written.
std::string TextOf(const pugi::xml_node& node) {
  std::string text;
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
      text += child.value();
  }
  return text;
}

// The code of "HTTP/1.1 404 Not Found"; 0 when there is none.
long StatusCode(std::string_view line) {
  line = Trimmed(line);
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return 0;
  long code = 0;
  for (std::size_t i = space + 1; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

std::string HrefIn(const pugi::xml_node& node) {
  return std::string(Trimmed(TextOf(Child(node, kDav, "href"))));
}

void ReadProperties(const pugi::xml_node& prop, DavResource& resource) {
  for (pugi::xml_node property : prop.children()) {
    if (Is(property, kDav, "getetag")) {
      resource.etag = std::string(Trimmed(TextOf(property)));
    } else if (Is(property, kDav, "displayname")) {
      resource.displayname = std::string(Trimmed(TextOf(property)));
    } else if (Is(property, kDav, "resourcetype")) {
      resource.collection = Child(property, kDav, "collection");
      resource.addressbook = Child(property, kCardDav, "addressbook");
    } else if (Is(property, kDav, "current-user-principal")) {
      resource.principal = HrefIn(property);
    } else if (Is(property, kCardDav, "addressbook-home-set")) {
      resource.home_set = HrefIn(property);
    } else if (Is(property, kCardDav, "address-data")) {
      resource.address_data = TextOf(property);
    }
  }
}

std::string Escaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      default:
        escaped.push_back(c);
    }
  }
  return escaped;
}

constexpr std::string_view kHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

}  // namespace

Result<std::vector<DavResource>> ParseMultistatus(std::string_view xml) {
  using Parsed = Result<std::vector<DavResource>>;
  pugi::xml_document document;
  // Without parse_eol a card keeps its CR LF line ends, which the rewrite must carry back.
  const pugi::xml_parse_result parsed =
      document.load_buffer(xml.data(), xml.size(), pugi::parse_cdata | pugi::parse_escapes);
  if (!parsed) {
    return Parsed::Failure("the server's answer is not XML (" + std::string(parsed.description()) +
                           " at byte " + std::to_string(parsed.offset) + ")");
  }
  const pugi::xml_node root = document.document_element();
  if (!Is(root, kDav, "multistatus")) {
    return Parsed::Failure("the server's answer is not a WebDAV multistatus");
  }
  std::vector<DavResource> resources;
  for (pugi::xml_node response : root.children()) {
    if (!Is(response, kDav, "response")) continue;
    DavResource resource;
    resource.href = HrefIn(response);
    if (pugi::xml_node status = Child(response, kDav, "status")) {
      resource.status = StatusCode(TextOf(status));
    }
    for (pugi::xml_node propstat : response.children()) {
      if (!Is(propstat, kDav, "propstat")) continue;
      const long code = StatusCode(TextOf(Child(propstat, kDav, "status")));
      if (code >= 200 && code < 300) ReadProperties(Child(propstat, kDav, "prop"), resource);
    }
    resources.push_back(std::move(resource));
  }
  return resources;
}

std::string DiscoveryPropfind() {
  return std::string(kHead) +
         "<d:propfind xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:prop>"
         "<d:resourcetype/><d:displayname/><d:current-user-principal/>"
         "<c:addressbook-home-set/></d:prop></d:propfind>";
}

std::string ListingPropfind() {
  return std::string(kHead) +
         "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:resourcetype/><d:getetag/></d:prop>"
         "</d:propfind>";
}

std::string ETagPropfind() {
  return std::string(kHead) +
         "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:getetag/></d:prop></d:propfind>";
}

std::string MultigetReport(std::span<const std::string> hrefs) {
  std::string body = std::string(kHead) +
                     "<c:addressbook-multiget xmlns:d=\"DAV:\" "
                     "xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:prop><d:getetag/>"
                     "<c:address-data/></d:prop>";
  for (const std::string& href : hrefs) body += "<d:href>" + Escaped(href) + "</d:href>";
  return body + "</c:addressbook-multiget>";
}

}  // namespace dialmend
