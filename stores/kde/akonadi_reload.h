#pragma once

#include <string>

#include "platform/result.h"

// Asking KDE's address book to read its cards again after they changed under it. Its resources
// keep the cards in Akonadi's cache and serve those until told; each listens on the session
// bus as "org.freedesktop.Akonadi.Agent.<resource>".

namespace dialmend {

// Calls `reconfigure` on the Akonadi resource `resource` ("akonadi_contacts_resource_0") over
// the session bus (DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus; no bus is ever started),
// waiting at most a few seconds. Fails with why: no session bus, the resource not running on it,
// or its answer. Never throws.
[[nodiscard]] Status ReloadAkonadiResource(const std::string& resource);

}  // namespace dialmend
