#pragma once

#include <libebook/libebook.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/result.h"

// The EDS store's link to EDS: the source registry and a GLib main context of the store's own,
// so that the store works on any thread, whatever else runs GLib there (Qt's event loop on the
// window's thread). Internal to the EDS store.

namespace dialmend {

struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// A GError to pass as `GError**`, freed with the holder.
class GErrorSlot {
 public:
  GErrorSlot() = default;
  GErrorSlot(const GErrorSlot&) = delete;
  GErrorSlot& operator=(const GErrorSlot&) = delete;
  ~GErrorSlot() { g_clear_error(&m_error); }

  GError** Out() {
    g_clear_error(&m_error);
    return &m_error;
  }
  [[nodiscard]] const GError* Get() const { return m_error; }
  [[nodiscard]] bool Is(GQuark domain, int code) const {
    return m_error != nullptr && g_error_matches(m_error, domain, code);
  }
  // The error's words, or `otherwise` when there is none.
  [[nodiscard]] std::string Text(const char* otherwise = "EDS gave no reason") const {
    return m_error != nullptr && m_error->message != nullptr ? m_error->message : otherwise;
  }

 private:
  GError* m_error = nullptr;
};

// A string GLib allocated, freed with the holder.
using GCharPtr = std::unique_ptr<gchar, decltype(&g_free)>;
inline GCharPtr TakeGChar(gchar* text) {
  return {text, &g_free};
}

class EdsSession {
 public:
  // Reaches EDS's source registry on the session bus, or says why it cannot.
  [[nodiscard]] static Result<std::shared_ptr<EdsSession>> Open();
  ~EdsSession();
  EdsSession(const EdsSession&) = delete;
  EdsSession& operator=(const EdsSession&) = delete;

  // While one lives, the session's context is the thread's default: EDS objects made then
  // deliver their notices to it, and only the store dispatches them. Every call into EDS is
  // made inside one.
  class Scope {
   public:
    explicit Scope(GMainContext* context) : m_context(context) {
      g_main_context_push_thread_default(m_context);
    }
    ~Scope() { g_main_context_pop_thread_default(m_context); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    GMainContext* m_context;
  };
  [[nodiscard]] Scope Enter() const { return Scope(m_context); }

  // Dispatches what EDS has delivered so far (a book's connection status, say).
  void Pump() const;
  // Dispatches EDS's notices until `done` is true or `limit` has passed; returns `done`.
  [[nodiscard]] bool WaitUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds limit) const;

  [[nodiscard]] ESourceRegistry* Registry() const { return m_registry.get(); }

  // A number no other held save of this session has.
  [[nodiscard]] std::uint64_t NextSaveNumber() { return ++m_saves; }

 private:
  explicit EdsSession(GMainContext* context) : m_context(context) {}

  GMainContext* m_context;
  GObjectPtr<ESourceRegistry> m_registry;
  std::uint64_t m_saves = 0;
};

}  // namespace dialmend
