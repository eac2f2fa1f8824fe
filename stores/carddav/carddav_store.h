#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "contacts/contact_store.h"
#include "platform/result.h"
#include "stores/carddav/curl_http_client.h"
#include "stores/carddav/http_client.h"

// The CardDAV store: address books on a server, each one folder, each card one contact. Cards
// are read in bulk (one listing, then addressbook-multiget in batches) over one connection, and
// go through the same vCard reader and rewriter as the folder store, so a save changes only the
// TEL values. A save is a PUT with If-Match: a card changed on the server since it was read is
// never overwritten.

namespace dialmend {

// How the store reaches its server and how patient it is; the defaults suit a run.
struct CardDavSettings {
  // Certificates trusted besides the system's (a private CA); empty for none.
  std::string ca_file;
  // The .netrc to read; empty for ~/.netrc.
  std::string netrc_file;
  // Whether to look the password up in the desktop's secret store.
  bool use_secret_store = true;
  // Whether to keep a password that worked, and came from the prompt, in the secret store.
  bool remember_password = false;
  // Asked right after the prompt gave a password, when `remember_password` is false: true keeps
  // that password as `remember_password` would (the window's "remember" check box).
  std::function<bool()> remember_given;
  // Asks the user for a password, with the prompt to show; std::nullopt when none is given.
  // Unset: nobody is asked.
  std::function<std::optional<std::string>(const std::string& prompt)> ask_password;
  // Cards asked for in one addressbook-multiget.
  std::size_t batch_size = 100;
  // A busy server (429, 503 with Retry-After) is asked again this many times, each time after
  // the wait it asks for when that is no longer than `longest_wait`.
  int busy_retries = 3;
  std::chrono::milliseconds longest_wait{5000};
  // Asked about every twentieth of a second while a request waits, and every tenth while a busy
  // server's wait runs: true ends the request or the wait at once (the run is stopping). It may
  // let the window answer, and hold while the run is paused.
  std::function<bool()> stop;
  // Gives up on a request that moves less than 1 KiB in this long (low-speed limit), and on one
  // that takes longer than `total_seconds` in all.
  long stall_seconds = 30;
  long total_seconds = 600;
  // The most one answer may bring, counted unpacked; a batch of cards whose answer is larger is
  // read again card by card.
  std::size_t most_bytes = std::size_t{64} << 20;
  // Makes the connection; unset: libcurl's.
  std::function<std::unique_ptr<HttpClient>(CurlSettings)> make_client;
};

// The store at `url` (https://[user@]host[:port][/path]: a server, a principal, an address book
// home or one address book), or why the address cannot be used. Nothing is sent before Open().
[[nodiscard]] Result<std::unique_ptr<ContactStore>> MakeCardDavStore(std::string_view url,
                                                                     CardDavSettings settings);

// What an item of the CardDAV store tells besides the contact (dynamic_cast the ContactItem).
class CardDavCard {
 public:
  virtual ~CardDavCard() = default;
  // The card's path on the server.
  [[nodiscard]] virtual const std::string& Href() const = 0;
  // The card's ETag as last read or written: after a save, the server's ETag for what was
  // written, asked for once when the save's answer carried none. Empty when the server gives
  // none. Throws StoreError when asking fails.
  [[nodiscard]] virtual std::string SavedETag() = 0;
};

}  // namespace dialmend
