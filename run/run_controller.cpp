#include "run/run_controller.h"

#include <cmath>

namespace dialmend {

// Connects the walk to the controller: yields go to the view, and a pause holds there.
class RunController::Host : public RunHost {
 public:
  explicit Host(RunController& controller) : m_c(controller) {}

  bool YieldAndCheckAbort() override {
    m_c.m_view.ProcessEvents(false);
    // Waiting for the next event, not spinning: a paused run costs no CPU.
    while (m_c.m_state == RunState::Paused) m_c.m_view.ProcessEvents(true);
    return m_c.m_state == RunState::Finished;
  }
  void ProfileFailed(const std::string& reason) override { m_c.m_view.ShowProfileProblem(reason); }
  void CountersChanged(const RunCounters& counters) override { m_c.m_view.ShowCounters(counters); }
  std::string NowText() override { return m_c.m_view.NowText(); }

 private:
  RunController& m_c;
};

RunController::RunController(RunView& view, ActivityLog& log, Clock clock)
    : m_view(view), m_log(log), m_clock(std::move(clock)) {
  if (!m_clock) m_clock = [] { return std::chrono::steady_clock::now(); };
}

void RunController::Go() {
  switch (m_state) {
    case RunState::Idle:
      Start();
      break;
    case RunState::Running:
      Pause();
      break;
    case RunState::Paused:
      Resume();
      break;
    case RunState::Finished:
      Reset();
      break;
  }
}

void RunController::Quit() {
  switch (m_state) {
    case RunState::Idle:
    case RunState::Finished:
      m_view.EndProgram();
      break;
    case RunState::Running:
      Pause();
      switch (m_view.AskAbort()) {
        case AbortAnswer::Yes:
          if (m_state == RunState::Paused) AbortPaused();
          break;
        case AbortAnswer::Cancel:
          if (m_state == RunState::Paused) Resume();
          break;
        case AbortAnswer::No:
          break;
      }
      break;
    case RunState::Paused:
      AbortPaused();
      break;
  }
}

void RunController::Abort() {
  if (m_state == RunState::Running) Pause();
  if (m_state == RunState::Paused) AbortPaused();
}

bool RunController::Close() {
  if (m_state != RunState::Running && m_state != RunState::Paused) return true;
  m_end_after_run = true;
  Abort();
  return false;
}

void RunController::Start() {
  m_log_save = {};
  m_log_saved = false;
  RunJob job = m_view.PrepareRun();
  if (job.log) {
    // Before anything is touched: a log that cannot be kept stops the run from starting.
    m_log_save = m_log_file.Reserve(*job.log);
    if (!m_log_save.Ok()) {
      m_view.ShowMessage(m_log_save.Message());
      return;
    }
    m_view.ShowLogPath(m_log_file.Path());
    m_log.SetFile(&m_log_file);
  }
  m_state = RunState::Running;
  m_run_time = {};
  m_start_time = m_clock();
  m_summary_written = false;
  m_store_lost = false;
  m_update = job.update;
  m_view.ShowStarted(m_update);

  static const NumberOptions kDefaults;
  RunSettings settings{job.options != nullptr ? job.options : &kDefaults, job.update};
  Host host(*this);
  if (job.store) {
    ContactRun run(*job.store, settings, m_counters, m_log, host);
    m_run = &run;
    run.FixContacts();
    m_run = nullptr;
    m_store_lost = run.StoreLost();
  } else {
    m_log.WriteLog(ProfileFailureLine("no contact store"));
    host.ProfileFailed("no contact store");
  }
  job.store.reset();

  // A paused stretch never counts: after an abort the time stopped at the pause.
  if (m_state == RunState::Running) m_run_time += m_clock() - m_start_time;
  if (!m_summary_written) WriteSummary();
  m_view.ShowFinished(m_update);
  m_state = RunState::Finished;
  if (m_end_after_run) m_view.EndProgram();
}

void RunController::Pause() {
  // A paused run may never be resumed: what it did so far goes to disk now. Every abort
  // passes through here, so its summary counts only what was written.
  if (m_run != nullptr) m_run->Flush();
  m_view.ShowPaused(m_update);
  m_run_time += m_clock() - m_start_time;
  m_state = RunState::Paused;
}

void RunController::Resume() {
  m_view.ShowResumed(m_update);
  m_start_time = m_clock();
  m_state = RunState::Running;
}

void RunController::Reset() {
  m_counters = {};
  m_view.ShowCounters(m_counters);
  m_log.Clear();
  m_view.ShowReset(m_update);
  m_state = RunState::Idle;
}

void RunController::AbortPaused() {
  WriteSummary();
  m_state = RunState::Finished;
}

void RunController::WriteSummary() {
  SummaryFacts facts;
  // A lost store ended the walk early: the run did not complete.
  facts.completed = m_state == RunState::Running && !m_store_lost;
  facts.update = m_update;
  facts.run_seconds = std::llround(std::chrono::duration<double>(m_run_time).count());
  facts.counters = m_counters;
  facts.now_text = m_view.NowText();
  m_summary_written = true;
  const bool to_file = m_log_file.IsOpen();
  m_log_save = Outro(facts, m_log, to_file ? &m_log_file : nullptr);
  m_log_saved = to_file && m_log_save.Ok();
  if (!m_log_save.Ok()) m_view.ShowMessage(m_log_save.Message());
}

}  // namespace dialmend
