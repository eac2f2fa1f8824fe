#include "run/run_controller.h"

#include <cmath>
#include <utility>

#include "run/run_records.h"

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
  void ProfileFailed(const std::string& reason) override {
    m_c.m_profile_failed = true;
    m_c.m_view.ShowProfileProblem(reason);
  }
  void CountersChanged(const RunCounters& counters) override { m_c.m_view.ShowCounters(counters); }
  void FolderEntered(const std::string& path) override { m_c.m_view.ShowFolder(path); }
  std::string NowText() override { return m_c.m_view.NowText(); }
  void RecordFailed(const std::string& message) override { m_c.m_view.ShowMessage(message); }

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

void RunController::Undo() {
  // An access key or a late click may arrive when there is nothing to undo any more.
  if (m_state != RunState::Finished || m_record_path.empty()) return;
  Result<UndoRecord> record = ReadUndoRecord(m_record_path);
  if (!record.Ok()) {
    m_view.ShowMessage(record.Message());
    return;
  }
  if (!m_view.AskUndo(record.Value().started_text)) return;
  std::string record_path = m_record_path;
  // Through the reset, so the undo's log goes to a fresh file by the same rules as any run's.
  Reset();
  m_next_undo = std::move(record_path);
  Start();
}

bool RunController::Close() {
  if (m_state != RunState::Running && m_state != RunState::Paused) return true;
  m_end_after_run = true;
  Abort();
  return false;
}

void RunController::HoldClock(bool held) {
  if (held == m_clock_held || (held && m_state != RunState::Running)) return;
  m_clock_held = held;
  if (m_state != RunState::Running) return;
  if (held) {
    m_run_time += m_clock() - m_start_time;
  } else {
    m_start_time = m_clock();
  }
}

std::chrono::steady_clock::duration RunController::RunTimeNow() const {
  if (m_state != RunState::Running || m_clock_held) return m_run_time;
  return m_run_time + (m_clock() - m_start_time);
}

void RunController::Start() {
  m_log_save = {};
  m_log_saved = false;
  RunJob job = m_view.PrepareRun();
  if (!m_next_undo.empty()) {
    job.undo_record = std::exchange(m_next_undo, {});
    job.update = true;
  }
  std::optional<UndoRecord> undo;
  if (!ReadyToStart(job, undo)) return;
  m_state = RunState::Running;
  m_run_time = {};
  m_clock_held = false;
  m_start_time = m_clock();
  m_summary_written = false;
  m_store_lost = false;
  m_profile_failed = false;
  m_update = job.update;
  m_undo = undo.has_value();
  m_record_failed = false;
  m_record_path.clear();
  m_view.ShowStarted(m_update);
  if (job.count_contacts && job.store) {
    if (const std::optional<std::int64_t> count = job.store->CountContacts()) {
      m_view.ShowContactCount(*count);
    }
  }
  Walk(job, undo);
  Finish();
}

bool RunController::ReadyToStart(const RunJob& job, std::optional<UndoRecord>& undo) {
  if (!job.undo_record.empty()) {
    // Before anything is touched: a record that cannot be used stops the undo from starting.
    Result<UndoRecord> record = ReadUndoRecord(job.undo_record);
    if (!record.Ok()) {
      m_log_save = Status::Failure(record.Message());
      m_view.ShowMessage(record.Message());
      return false;
    }
    undo = std::move(record.Value());
  }
  if (job.log) {
    // Before anything is touched: a log that cannot be kept stops the run from starting.
    m_log_save = m_log_file.Reserve(*job.log);
    if (!m_log_save.Ok()) {
      m_view.ShowMessage(m_log_save.Message());
      return false;
    }
    m_view.ShowLogPath(m_log_file.Path());
    m_log.SetFile(&m_log_file);
  }
  return true;
}

void RunController::Walk(RunJob& job, const std::optional<UndoRecord>& undo) {
  static const NumberOptions kDefaults;
  RunSettings settings{job.options != nullptr ? job.options : &kDefaults, job.update};
  settings.change_list = std::move(job.change_list);
  const std::string record_folder = job.record_folder.value_or(DefaultRunsFolder());
  if (!m_undo) settings.record_folder = record_folder;
  Host host(*this);
  if (job.store) {
    ContactRun run(*job.store, settings, m_counters, m_log, host);
    m_run = &run;
    if (undo) {
      run.UndoContacts(*undo);
    } else {
      run.FixContacts();
    }
    m_run = nullptr;
    m_record_failed = run.RecordFailed();
    m_record_path = run.RecordPath();
    m_store_lost = run.StoreLost();
  } else {
    host.ProfileFailed("no contact store");
  }
  job.store.reset();
  if (!m_record_path.empty()) {
    for (const std::string& problem : PruneRuns(record_folder, std::chrono::system_clock::now())) {
      m_log.WriteLog("  " + problem + "\r\n");
    }
  }
}

void RunController::Finish() {
  // A paused stretch never counts: after an abort the time stopped at the pause.
  if (m_state == RunState::Running && !m_clock_held) m_run_time += m_clock() - m_start_time;
  if (m_profile_failed) {
    // Nothing was read, so there is nothing to sum up and no file to keep.
    m_log.SetFile(nullptr);
    m_log_file.Discard();
  } else if (!m_summary_written) {
    WriteSummary();
  }
  m_view.ShowFinished(m_update);
  m_state = RunState::Finished;
  if (m_end_after_run) m_view.EndProgram();
}

void RunController::Pause() {
  // A paused run may never be resumed: what it did so far goes to disk now. Every abort
  // passes through here, so its summary counts only what was written.
  if (m_run != nullptr) m_run->Flush();
  m_view.ShowPaused(m_update);
  if (!m_clock_held) m_run_time += m_clock() - m_start_time;
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
  facts.completed = m_state == RunState::Running && !m_record_failed && !m_store_lost;
  facts.update = m_update;
  facts.undo = m_undo;
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
