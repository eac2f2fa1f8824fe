#include "stores/eds/eds_session.h"

namespace dialmend {

Result<std::shared_ptr<EdsSession>> EdsSession::Open() {
  std::shared_ptr<EdsSession> session(new EdsSession(g_main_context_new()));
  const Scope scope = session->Enter();
  GErrorSlot error;
  session->m_registry.reset(e_source_registry_new_sync(nullptr, error.Out()));
  if (!session->m_registry) {
    return Result<std::shared_ptr<EdsSession>>::Failure(
        "Cannot reach GNOME's address books (Evolution Data Server): " + error.Text() +
        ". They are reached over the desktop session's bus: run this inside the desktop session, "
        "with evolution-data-server installed");
  }
  return session;
}

EdsSession::~EdsSession() {
  {
    const Scope scope = Enter();
    m_registry.reset();
    // Notices already delivered hold references to what they concern.
    Pump();
  }
  g_main_context_unref(m_context);
}

void EdsSession::Pump() const {
  while (g_main_context_iteration(m_context, FALSE)) {
  }
}

bool EdsSession::WaitUntil(const std::function<bool()>& done,
                           std::chrono::milliseconds limit) const {
  Pump();
  if (done()) return true;
  // A timer on the same context ends the wait; until then each notice wakes it, and nothing
  // polls.
  bool timed_out = false;
  GSource* timer = g_timeout_source_new(static_cast<guint>(limit.count()));
  g_source_set_callback(
      timer,
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &timed_out, nullptr);
  g_source_attach(timer, m_context);
  bool finished = false;
  while (!(finished = done()) && !timed_out) g_main_context_iteration(m_context, TRUE);
  g_source_destroy(timer);
  g_source_unref(timer);
  return finished;
}

}  // namespace dialmend
