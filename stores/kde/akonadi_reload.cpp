#include "stores/kde/akonadi_reload.h"

#include <gio/gio.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "platform/environment.h"
#include "platform/reason.h"

namespace dialmend {
namespace {

// Long enough for a resource busy with its own work to answer, short enough not to hold up the
// end of a run.
constexpr int kCallMilliseconds = 5000;

struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
struct GObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};

// The session bus's address; empty when there is none to reach.
std::string SessionBusAddress() {
  if (std::optional<std::string> address = EnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
      address && !address->empty()) {
    return std::move(*address);
  }
  // The bus a systemd user session keeps; asking GIO instead could start a bus through X11.
  if (const std::optional<std::string> runtime = EnvironmentVariable("XDG_RUNTIME_DIR");
      runtime && !runtime->empty()) {
    const std::string socket = *runtime + "/bus";
    std::error_code error;
    if (std::filesystem::is_socket(socket, error)) return "unix:path=" + socket;
  }
  return {};
}

std::string Words(const GError* error) {
  return AsReason(error != nullptr && error->message != nullptr ? error->message : "unknown error");
}

}  // namespace

Status ReloadAkonadiResource(const std::string& resource) {
  const std::string address = SessionBusAddress();
  if (address.empty()) return Status::Failure("there is no session bus");
  GError* raw = nullptr;
  const std::unique_ptr<GDBusConnection, GObjectUnref> bus(g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &raw));
  std::unique_ptr<GError, GErrorFree> error(raw);
  if (!bus) return Status::Failure("the session bus cannot be reached: " + Words(error.get()));

  std::string service = "org.freedesktop.Akonadi.Agent." + resource;
  // Akonadi started for a named instance adds it to every name it takes.
  if (const std::optional<std::string> instance = EnvironmentVariable("AKONADI_INSTANCE");
      instance && !instance->empty()) {
    service += "." + *instance;
  }
  raw = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      bus.get(), service.c_str(), "/", "org.freedesktop.Akonadi.Agent.Control", "reconfigure",
      nullptr, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallMilliseconds, nullptr, &raw);
  error.reset(raw);
  g_dbus_connection_close_sync(bus.get(), nullptr, nullptr);
  if (reply != nullptr) {
    g_variant_unref(reply);
    return {};
  }
  if (g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
      g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER)) {
    return Status::Failure("it is not running on the session bus");
  }
  g_dbus_error_strip_remote_error(error.get());
  return Status::Failure("it did not take the request: " + Words(error.get()));
}

}  // namespace dialmend
