#include "run/window_policy.h"

#include <memory>
#include <utility>
#include <vector>

#include "run/date_time_text.h"
#include "run/log_file.h"
#include "run/window_texts.h"
#include "stores/profile/profile_books.h"

namespace dialmend {

WindowPolicy::WindowPolicy(WindowHost& host, std::string profile, Seams seams)
    : m_host(host),
      m_profile(std::move(profile)),
      m_seams(std::move(seams)),
      m_controller(*this, m_log) {
  if (!m_seams.clock) m_seams.clock = [] { return std::chrono::steady_clock::now(); };
  if (!m_seams.default_log_path) m_seams.default_log_path = [] { return SetLogFile(); };
  m_log.SetListener([this](std::string_view text) { AppendLog(text); });
  // The default log file path; the file itself is reserved when a run starts.
  m_default_log = m_seams.default_log_path();
  m_state.log_path = m_default_log;
  if (m_profile.empty() && m_seams.remembered_contacts) {
    // Contacts since moved or removed leave the default search to find them, without a word.
    std::string remembered = m_seams.remembered_contacts();
    if (!remembered.empty() && CheckProfile(remembered).Ok()) m_profile = std::move(remembered);
  }
  FindProfile();
  ResetBooks();
}

void WindowPolicy::DrawAll() {
  m_drawing = true;
  m_drawn_window = Window();
  m_host.DrawWindow(m_drawn_window, nullptr);
  for (const ControlSpec& spec : MainControls()) {
    ControlLook& drawn = m_drawn[static_cast<std::size_t>(spec.control)];
    drawn = Look(spec.control);
    m_host.DrawControl(spec.control, drawn, nullptr);
  }
  m_drawing = false;
}

void WindowPolicy::Refresh() {
  // Drawing may send the forwarded input back here; what it changes is drawn already.
  if (m_drawing) return;
  m_drawing = true;
  if (const WindowLook window = Window(); window != m_drawn_window) {
    const WindowLook before = std::exchange(m_drawn_window, window);
    m_host.DrawWindow(window, &before);
  }
  for (const ControlSpec& spec : MainControls()) {
    ControlLook look = Look(spec.control);
    ControlLook& drawn = m_drawn[static_cast<std::size_t>(spec.control)];
    if (look == drawn) continue;
    const ControlLook before = std::exchange(drawn, std::move(look));
    m_host.DrawControl(spec.control, drawn, &before);
  }
  m_drawing = false;
}

void WindowPolicy::StyleChosen(int index) {
  m_state.style = index;
  m_state.options.style = StyleFromNumber(index);
  for (Control style : {Control::Style0, Control::Style1, Control::Style2, Control::Style3}) {
    Drawn(style);
  }
}

void WindowPolicy::Ticked(Control box, bool ticked) {
  if (box == Control::Update) m_state.update = ticked;
  if (box == Control::SaveLog) m_state.save_log = ticked;
  if (box == Control::Replace) m_state.options.replace = ticked;
  Drawn(box);
  Refresh();
}

void WindowPolicy::Edited(Control box, const std::string& text) {
  if (box == Control::Find) m_state.options.find = text;
  if (box == Control::Replacement) m_state.options.replacement = text;
  if (box == Control::LogFile) m_state.log_path = text;
  Drawn(box);
}

void WindowPolicy::ShowLogPressed() {
  m_state.log_shown = !m_state.log_shown;
  m_state.log_toggled = true;
  Refresh();
  // Shown in the middle of a run, the pane shows all logged so far.
  if (m_state.log_shown) FlushLog();
}

std::string WindowPolicy::ContactsOffered() const {
  if (!m_profile.empty()) return m_profile;
  const std::string& found = m_state.profile.text;
  return found.substr(0, found.find(';'));
}

void WindowPolicy::ContactsChosen(const std::string& path) {
  if (const Status checked = CheckProfile(path); !checked.Ok()) {
    // A choice that would only fail as the run starts is refused now; the old one stays.
    m_host.Inform(RefusedContactsText(path, checked.Message(), m_state.profile.text));
    return;
  }
  m_profile = path;
  if (m_seams.remember_contacts) m_seams.remember_contacts(path);
  FindProfile();
  ResetBooks();
  Refresh();
}

void WindowPolicy::BookChoiceOpened() {
  if (m_books_listed || m_state.run != RunState::Idle) return;
  ListBooks();
  Refresh();
}

void WindowPolicy::BookChosen(int index) {
  const auto at = static_cast<std::size_t>(index);
  m_state.book = index > 0 && at <= m_state.books.size() ? m_state.books[at - 1] : std::string();
  Drawn(Control::Book);
  Refresh();
}

void WindowPolicy::ResetBooks() {
  m_state.books.clear();
  m_state.book.clear();
  m_books_listed = false;
  // Folders are listed from disk in no time; anything else may be a server, asked only when
  // the user wants a book of it.
  if (FindFolderProfile(m_profile, m_seams.environment)) ListBooks();
}

void WindowPolicy::ListBooks() {
  m_books_listed = true;
  m_state.books.clear();
  // Asked while idle: the password question may come, but nothing else of a run's waiting.
  ServerAccess access;
  access.ask_password = [this](const std::string& prompt) {
    bool remember = false;
    return m_host.AskPassword(prompt, remember);
  };
  const Result<std::vector<ProfileBook>> books =
      ProfileBooks(m_profile, m_seams.environment, access);
  if (!books.Ok()) return;
  for (const ProfileBook& book : books.Value()) m_state.books.push_back(book.name);
}

void WindowPolicy::FormatCheckRan() {
  m_state.options.replace = false;
  m_state.options.find.clear();
  m_state.options.replacement.clear();
  Refresh();
}

void WindowPolicy::SetEnvironment(Environment environment) {
  m_seams.environment = std::move(environment);
  FindProfile();
  ResetBooks();
  Refresh();
}

void WindowPolicy::FindProfile() {
  const Result<std::string> place = ProfilePlace(m_profile, m_seams.environment);
  m_state.profile.text = place.Ok() ? place.Value() : std::string();
  m_state.profile.tip = place.Ok() ? place.Value() : place.Message();
}

RunJob WindowPolicy::PrepareRun() {
  // The default search runs again as the run opens the store: show what it finds this time.
  if (m_profile.empty()) {
    FindProfile();
    Refresh();
  }
  RunJob job;
  std::vector<std::string> books;
  if (!m_state.book.empty()) books.push_back(m_state.book);
  job.store = StoreOrProblem(OpenProfileBooks(m_profile, m_seams.environment, Access(), books));
  job.options = &m_state.options;
  job.update = m_state.update;
  job.count_contacts = true;
  if (m_state.save_log) {
    job.log = LogTarget{m_state.log_path, m_state.log_path == m_default_log,
                        m_state.log_path == m_own_log};
  }
  return job;
}

ServerAccess WindowPolicy::Access() {
  ServerAccess access;
  auto remember = std::make_shared<bool>(false);
  access.ask_password = [this, remember](const std::string& prompt) {
    // The time the question stays open is the user's, not the run's.
    m_controller.HoldClock(true);
    std::optional<std::string> given = m_host.AskPassword(prompt, *remember);
    m_controller.HoldClock(false);
    return given;
  };
  access.remember_given = [remember] { return *remember; };
  // While a call waits (a busy server, Outlook busy or not answering) the window answers: a
  // pause holds the wait, Abort or Esc ends it. Not a yield, so the title keeps saying what the
  // run waits for, which the store tells once.
  access.stop_waiting = [this] {
    Pump(false);
    while (m_controller.State() == RunState::Paused) Pump(true);
    return m_controller.State() != RunState::Running;
  };
  access.waiting = [this](const std::string& line) {
    m_state.waiting = line.substr(0, line.find(':'));
    Refresh();
  };
  return access;
}

void WindowPolicy::ShowStarted(bool update) {
  m_state.run = RunState::Running;
  m_state.run_update = update;
  m_state.run_undo = m_controller.Undoing();
  m_state.contact_total.reset();
  m_state.run_time = {};
  if (m_state.options.find.empty()) m_state.options.replace = false;
  Refresh();
}

void WindowPolicy::ShowPaused(bool update) {
  Present(true);
  m_state.run = RunState::Paused;
  m_state.run_update = update;
  Refresh();
}

void WindowPolicy::ShowResumed(bool update) {
  m_state.run = RunState::Running;
  m_state.run_update = update;
  Refresh();
}

void WindowPolicy::ShowFinished(bool update) {
  Present(true);
  m_state.run = RunState::Finished;
  m_state.run_update = update;
  m_state.waiting.clear();
  m_host.Beep();
  // An aborted update is offered too: its record holds every change that reached the store.
  m_state.undo_offered = update && !m_controller.RecordPath().empty();
  // Every abort passes through a pause, so a run still running here has completed.
  const bool aborted = m_controller.State() != RunState::Running;
  // The summary tells what went wrong; the user should not need to know to ask for it.
  const bool show_log = aborted || m_controller.Counters().problems > 0;
  if (show_log && !m_state.log_shown) {
    m_state.log_shown = true;
    m_state.log_toggled = true;
  }
  Refresh();
  if (show_log) m_host.ScrollPaneToEnd();
}

void WindowPolicy::ShowReset(bool update) {
  // The next run must not replace the log of the update just done.
  if (update && m_controller.LogSaved()) {
    m_default_log = m_seams.default_log_path();
    m_state.log_path = m_default_log;
  }
  // A simulation's log is replaced by the next run's: repeated simulations keep one file.
  m_own_log = !update && m_controller.LogSaved() ? m_state.log_path : std::string();
  m_state.run = RunState::Idle;
  m_state.run_undo = false;
  m_state.undo_offered = false;
  m_state.waiting.clear();
  m_pending_log.clear();
  m_host.ClearPane();
  Refresh();
}

void WindowPolicy::ShowCounters(const RunCounters& counters) {
  m_latest_counters = counters;
  Present(m_controller.State() != RunState::Running);
}

void WindowPolicy::ShowContactCount(std::int64_t count) {
  m_state.contact_total = count;
}

void WindowPolicy::ShowLogPath(const std::string& path) {
  if (m_state.log_path == m_default_log) m_default_log = path;
  m_state.log_path = path;
  Refresh();
}

AbortAnswer WindowPolicy::AskAbort() {
  Present(true);
  return m_host.AskAbort(std::string(kAbortQuestion));
}

bool WindowPolicy::AskUndo(const std::string& started) {
  Present(true);
  return m_host.AskYesNo(UndoQuestion(started));
}

void WindowPolicy::ShowMessage(const std::string& text) {
  Present(true);
  m_host.Inform(text);
}

void WindowPolicy::ShowProfileProblem(const std::string& reason) {
  ShowMessage(ProfileProblemText(m_profile, reason));
}

void WindowPolicy::ProcessEvents(bool wait) {
  // Back at a yield, the call that kept the run waiting has been answered.
  if (!m_state.waiting.empty()) {
    m_state.waiting.clear();
    Refresh();
  }
  Pump(wait);
}

void WindowPolicy::Pump(bool wait) {
  Present(false);
  m_host.ProcessEvents(wait);
}

std::string WindowPolicy::NowText() {
  return LocalDateTimeText(std::chrono::system_clock::now());
}

void WindowPolicy::AppendLog(std::string_view text) {
  m_pending_log += text;
  Present(m_controller.State() != RunState::Running);
}

void WindowPolicy::Present(bool now) {
  const auto at = m_seams.clock();
  if (!now && m_last_present && at - *m_last_present < kFrame) return;
  m_last_present = at;
  FlushLog();
  m_state.counters = m_latest_counters;
  m_state.run_time = m_controller.RunTimeNow();
  Refresh();
  // Painted now, not at the next pass of an event loop the run may be holding up.
  m_host.PaintNow();
}

void WindowPolicy::FlushLog() {
  if (m_pending_log.empty()) return;
  m_host.AppendToPane(m_pending_log);
  m_pending_log.clear();
}

}  // namespace dialmend
