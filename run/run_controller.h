#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "contacts/contact_store.h"
#include "run/activity_log.h"
#include "run/contact_run.h"
#include "run/log_file.h"

// The life of a run behind the Go and Quit presses: start, pause, resume, abort, end, reset.
// The run is not a thread: Go in Idle walks the whole store inside that call, and later
// presses arrive inside the walk's yields, through the view's ProcessEvents.

namespace dialmend {

enum class RunState { Idle = 0, Running = 1, Paused = 2, Finished = 3 };

enum class AbortAnswer { Yes, No, Cancel };

// Everything one run needs, read from the controls when it starts.
struct RunJob {
  std::unique_ptr<ContactStore> store;
  const NumberOptions* options = nullptr;  // read afresh for every number
  bool update = false;
  std::optional<LogTarget> log;  // reserved at the start and written as the run goes
  // Count the store's contacts before the walk, for a progress display.
  bool count_contacts = false;
  // An undo run: the path of the undo record of the update to undo; empty for a run that
  // converts. `update` false simulates the undo.
  std::string undo_record;
  // Where an update keeps its undo record; std::nullopt: the user's state folder.
  std::optional<std::string> record_folder;
  // Given the change list's records of each contact reported (RunSettings::change_list).
  std::function<void(std::string_view records)> change_list;
};

// The window or terminal around the controller.
class RunView {
 public:
  virtual ~RunView() = default;

  // Reads the controls for a new run (and unticks an empty custom replacement).
  [[nodiscard]] virtual RunJob PrepareRun() = 0;

  // The look of each state; `update` picks the tooltips' wording.
  virtual void ShowStarted(bool update) = 0;
  virtual void ShowPaused(bool update) = 0;
  virtual void ShowResumed(bool update) = 0;
  // The end of the walk: " - Finished!", the beep, the Reset and Quit captions.
  virtual void ShowFinished(bool update) = 0;
  virtual void ShowReset(bool update) = 0;
  virtual void ShowCounters(const RunCounters& counters) = 0;
  // How many contacts the store counted before the walk (asked for by RunJob::count_contacts);
  // not called when it cannot count.
  virtual void ShowContactCount(std::int64_t count) { (void)count; }
  // The folder the walk has entered, as the log names it.
  virtual void ShowFolder(const std::string& path) { (void)path; }
  // The log file reserved for the run: a numbered name may have moved on past a taken one.
  virtual void ShowLogPath(const std::string& path) { (void)path; }

  // The question asked when Quit is pressed during a run.
  [[nodiscard]] virtual AbortAnswer AskAbort() = 0;
  // The question asked before the update started at `started` (as its log shows it) is
  // undone; true for Yes. By default nobody is asked and nothing is undone.
  [[nodiscard]] virtual bool AskUndo(const std::string& started) {
    (void)started;
    return false;
  }
  virtual void ShowMessage(const std::string& text) = 0;
  // The profile could not be opened, for `reason` in the store's own words; shows the profile
  // problem message. The run ends there, with no summary and no log file.
  virtual void ShowProfileProblem(const std::string& reason) { ShowMessage(reason); }
  virtual void EndProgram() = 0;

  // Handles pending events once; with `wait`, first blocks until there is one.
  virtual void ProcessEvents(bool wait) = 0;

  // The local date and time as the log shows it.
  [[nodiscard]] virtual std::string NowText() = 0;
};

class RunController {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `clock` is a seam for tests; by default the steady clock.
  RunController(RunView& view, ActivityLog& log, Clock clock = {});

  // A press of Go: start, pause, resume or reset, by state.
  void Go();
  // A press of Quit: end the program, or ask and abort, by state.
  void Quit();
  // An abort without a question (Ctrl-C in the terminal).
  void Abort();
  // A press of Undo once an update has finished: asks the view, then resets and undoes that
  // update (RecordPath()) in a run of its own. Does nothing in any other state.
  void Undo();
  // The window is being closed. Returns true when it may close now; during a run the run is
  // aborted instead and the program ends once the walk has unwound.
  [[nodiscard]] bool Close();
  // Stops the run's clock while the user is asked something (a password) and starts it again
  // after: the time the user takes is not the run's. Calls pair up; outside a running run they
  // do nothing.
  void HoldClock(bool held);

  [[nodiscard]] RunState State() const { return m_state; }
  [[nodiscard]] const RunCounters& Counters() const { return m_counters; }
  // Whether the run under way or last run is an undo.
  [[nodiscard]] bool Undoing() const { return m_undo; }
  // The run's running time so far, without paused stretches.
  [[nodiscard]] std::chrono::steady_clock::duration RunTime() const { return m_run_time; }
  // RunTime with the stretch under way, if the run is running now.
  [[nodiscard]] std::chrono::steady_clock::duration RunTimeNow() const;
  // Whether the last log save failed, and its message; also failed when the log file could not
  // be reserved, and the run did not start.
  [[nodiscard]] const Status& LogSave() const { return m_log_save; }
  // Whether the last run's log was saved whole to its file.
  [[nodiscard]] bool LogSaved() const { return m_log_saved; }
  // The undo record the last update run wrote; empty when it wrote none. A view offers to undo
  // it by starting a run whose RunJob names it in `undo_record`.
  [[nodiscard]] const std::string& RecordPath() const { return m_record_path; }

 private:
  class Host;

  void Start();
  // Reads the undo record and reserves the log file; false (the user told why) when either
  // stops the run before anything is touched.
  bool ReadyToStart(const RunJob& job, std::optional<UndoRecord>& undo);
  void Walk(RunJob& job, const std::optional<UndoRecord>& undo);
  // The end of every run, aborted or not: the summary once, then the finished state.
  void Finish();
  void Pause();
  void Resume();
  void Reset();
  void AbortPaused();
  void WriteSummary();

  RunView& m_view;
  ActivityLog& m_log;
  Clock m_clock;
  RunState m_state = RunState::Idle;
  RunCounters m_counters;
  std::chrono::steady_clock::time_point m_start_time{};
  std::chrono::steady_clock::duration m_run_time{};
  bool m_clock_held = false;
  bool m_update = false;
  LogFile m_log_file;
  bool m_log_saved = false;
  bool m_summary_written = false;
  bool m_end_after_run = false;
  bool m_store_lost = false;
  // The store could not be opened: the run ended before its log began.
  bool m_profile_failed = false;
  Status m_log_save;
  bool m_undo = false;
  bool m_record_failed = false;
  std::string m_record_path;
  // The undo record the next run undoes; empty for a run that converts.
  std::string m_next_undo;
  // The walk under way, reached from inside its yields to write what it holds at a pause or
  // an abort.
  ContactRun* m_run = nullptr;
};

}  // namespace dialmend
