#include "cli/run_command.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "cli/change_list_file.h"
#include "cli/command_line.h"
#ifndef _WIN32
#include "cli/password_prompt.h"
#endif
#include "cli/progress_line.h"
#include "engine/version.h"
#include "platform/atomic_file_common.h"
#include "platform/terminal.h"
#include "run/date_time_text.h"
#include "run/log_file.h"
#include "run/run_controller.h"
#include "run/run_records.h"
#include "run/window_texts.h"
#include "stores/profile/open_profile.h"
#include "stores/profile/profile_books.h"

namespace dialmend {
namespace {

// The system's words for an errno value, to sit after a colon.
std::string ReasonOf(int error) {
  return AsReason(std::generic_category().message(error));
}

// How the terminal reaches a server: the --ca-file given, a prompt for the password when
// standard input is a terminal, and Ctrl-C ending a wait for a busy server at once. A password
// given is given again when the same prompt comes back once: --runs and --undo open the profile
// before the run opens it again, and the user answers once.
ServerAccess TerminalAccess(const RunArgs& args, std::FILE* err,
                            const volatile std::sig_atomic_t* interrupts) {
  ServerAccess server;
  server.ca_file = args.ca_file;
  server.stop_waiting = [interrupts] { return *interrupts > 0; };
#ifdef _WIN32
  (void)err;
#else
  if (CanAskOnTerminal()) {
    struct Given {
      std::string prompt;
      std::optional<std::string> password;
    };
    auto given = std::make_shared<Given>();
    server.ask_password = [err, interrupts, given](const std::string& prompt) {
      if (given->password && given->prompt == prompt) return std::exchange(given->password, {});
      // The last password typed is the one the server took: it answers the next first asking,
      // whose prompt lacks the "(refused; ...)" of an asking again.
      const std::size_t again = prompt.find(" (refused; ");
      given->prompt = again == std::string::npos ? prompt : prompt.substr(0, again) + ": ";
      given->password = AskPasswordOnTerminal(prompt, err, interrupts);
      return given->password;
    };
  }
#endif
  return server;
}

// The terminal around a run: the log on standard output, progress and messages on standard
// error, Ctrl-C and the termination signals as Abort, a standard output that can no longer be
// written as Abort too.
class TerminalView : public RunView {
 public:
  // The log is printed to `out`; the change list, when there is one, goes to `changes`.
  TerminalView(const RunArgs& args, ServerAccess access, std::FILE* out, std::FILE* err,
               const volatile std::sig_atomic_t* interrupts, ChangeListFile* changes)
      : m_args(args),
        m_access(std::move(access)),
        m_changes(changes),
        m_out(out),
        m_err(err),
        m_interrupts(interrupts),
        m_progress(args.progress.value_or(IsTerminal(err))),
        m_terminal_out(IsTerminal(out)),
        m_line(err, TerminalColumns(err)) {
    m_access.waiting = [this](const std::string& line) {
      ShowMessage(line + " (Ctrl+C stops the run)");
    };
    if (m_access.ask_password) {
      m_access.ask_password = [this,
                               ask = std::move(m_access.ask_password)](const std::string& prompt) {
        ClearProgress();
        m_controller->HoldClock(true);
        std::optional<std::string> password = ask(prompt);
        m_controller->HoldClock(false);
        return password;
      };
    }
  }

  void SetController(RunController* controller) { m_controller = controller; }
  bool ProfileFailed() const { return m_profile_failed; }
  void ClearProgress() { m_line.Erase(); }

  RunJob PrepareRun() override {
    RunJob job;
    job.store = StoreOrProblem(
        OpenProfileBooks(m_args.profile, SystemEnvironment(), m_access, m_args.books));
    job.options = &m_args.options;
    job.update = m_args.update;
    job.undo_record = m_args.undo_record;
    if (m_args.log_file) {
      // Standard output named as the log gets the printed log once, with its own line ends.
      if (!NamesStreamFile(*m_args.log_file, m_out)) job.log = LogTarget{*m_args.log_file, false};
    } else if (!m_args.no_log && m_args.update) {
      // A simulation's printed log is its report; only what changed the store is kept.
      job.log = LogTarget{SetLogFile(), true};
    }
    if (m_changes != nullptr) {
      job.change_list = [this](std::string_view records) { m_changes->Write(records); };
    }
    job.count_contacts = m_progress;
    m_line.Start();
    return job;
  }
  void ShowStarted(bool) override {}
  void ShowPaused(bool) override {}
  void ShowResumed(bool) override {}
  void ShowFinished(bool) override { ClearProgress(); }
  void ShowReset(bool) override {}
  void ShowCounters(const RunCounters& counters) override { m_counters = counters; }
  void ShowContactCount(std::int64_t count) override { m_line.SetTotal(count); }
  void ShowFolder(const std::string& path) override { m_line.SetFolder(path); }
  AbortAnswer AskAbort() override { return AbortAnswer::Yes; }
  void ShowMessage(const std::string& text) override {
    ClearProgress();
    std::fprintf(m_err, "dialmend-run: %s\n", text.c_str());
  }
  void ShowProfileProblem(const std::string& reason) override {
    m_profile_failed = true;
    ShowMessage(ProfileProblemText(m_args.profile, reason));
  }
  void EndProgram() override {}

  void ProcessEvents(bool) override {
    if (m_controller == nullptr || m_controller->State() != RunState::Running) return;
    if (m_out_error != 0 || (m_changes != nullptr && m_changes->Failed())) {
      ClearProgress();
      if (m_out_error != 0) {
        std::fprintf(m_err, "dialmend-run: cannot write to standard output: %s; ending the run\n",
                     ReasonOf(m_out_error).c_str());
        m_out_error_shown = true;
      } else {
        std::fputs("dialmend-run: cannot write the change list; ending the run\n", m_err);
      }
      m_controller->Abort();
      return;
    }
    if (*m_interrupts > 0) {
      ClearProgress();
      std::fputs("dialmend-run: aborting after this contact (Ctrl-C again ends at once)\n", m_err);
      m_aborted = true;
      m_controller->Abort();
      return;
    }
    if (m_progress) m_line.Update(m_counters);
  }

  std::string NowText() override { return LocalDateTimeText(std::chrono::system_clock::now()); }

  bool Aborted() const { return m_aborted; }

  // Prints log text as it is written, each piece flushed so that a closed reader is found
  // at once. After a failure nothing more is printed, and the run ends at its next yield.
  // Standard output is text with LF line ends; on Windows its text mode makes each CR LF.
  void Print(std::string_view text) {
    if (m_out_error != 0) return;
    if (m_args.quiet && !m_in_summary) {
      if (!BeginsSummary(text)) return;
      m_in_summary = true;
    }
    // The status line shares the screen only when both streams are the terminal.
    if (m_terminal_out) ClearProgress();
    errno = 0;
    if (!PutLines(text) || std::fflush(m_out) != 0) m_out_error = errno != 0 ? errno : EIO;
  }

  // Flushes what is left and says when standard output failed. Returns whether it did.
  bool FinishOutput() {
    errno = 0;
    if (m_held_cr && m_out_error == 0 && !Put("\r")) m_out_error = errno != 0 ? errno : EIO;
    if (m_out_error == 0 && std::fflush(m_out) != 0) m_out_error = errno != 0 ? errno : EIO;
    if (m_out_error != 0 && !m_out_error_shown) {
      std::fprintf(m_err, "dialmend-run: cannot write to standard output: %s\n",
                   ReasonOf(m_out_error).c_str());
    }
    return m_out_error != 0;
  }

 private:
  bool Put(std::string_view text) {
    return text.empty() || std::fwrite(text.data(), 1, text.size(), m_out) == text.size();
  }

  // Writes `text` with each CR LF made LF.
  bool PutLines(std::string_view text) {
    // A CR that ends one piece may be the start of a line end the next piece finishes.
    if (m_held_cr) {
      m_held_cr = false;
      if (!text.starts_with('\n') && !Put("\r")) return false;
    }
    for (std::size_t at; (at = text.find("\r\n")) != std::string_view::npos;) {
      if (!Put(text.substr(0, at))) return false;
      text.remove_prefix(at + 1);
    }
    if (text.ends_with('\r')) {
      m_held_cr = true;
      text.remove_suffix(1);
    }
    return Put(text);
  }

  const RunArgs& m_args;
  ServerAccess m_access;
  ChangeListFile* m_changes;
  std::FILE* m_out;
  std::FILE* m_err;
  const volatile std::sig_atomic_t* m_interrupts;
  bool m_progress;
  bool m_terminal_out;
  bool m_in_summary = false;
  bool m_held_cr = false;
  int m_out_error = 0;
  bool m_out_error_shown = false;
  bool m_profile_failed = false;
  bool m_aborted = false;
  RunController* m_controller = nullptr;
  RunCounters m_counters;
  ProgressLine m_line;
};

// For --runs, prints the profile's recorded runs; for --undo, finds the record to undo and
// keeps it in `args`. Returns the exit status when the program ends here, else -1.
int FindRuns(RunArgs& args, const ServerAccess& access, std::FILE* out, std::FILE* err) {
  ProfileChoice choice = OpenProfile(args.profile, SystemEnvironment(), access);
  if (!choice.Ok()) {
    std::fprintf(err, "dialmend-run: %s\n", choice.Message().c_str());
    return 1;
  }
  ContactStore& opened = *choice.Value();
  if (const Status open = opened.Open(); !open.Ok()) {
    std::fprintf(err, "dialmend-run: %s\n", open.Message().c_str());
    return 1;
  }
  const StoreIdentity store = opened.Identity();
  if (store.kind.empty()) {
    std::fputs("dialmend-run: this profile keeps no record of its update runs\n", err);
    return 1;
  }
  const std::string folder = DefaultRunsFolder();
  if (args.runs) {
    std::vector<std::string> unreadable;
    const std::vector<UndoRecord> runs = ListRuns(folder, store, &unreadable);
    for (const std::string& message : unreadable) {
      std::fprintf(err, "dialmend-run: %s\n", message.c_str());
    }
    if (runs.empty()) {
      std::fprintf(out, "No update run of this profile is recorded in \"%s\".\n", folder.c_str());
    } else {
      std::fputs(RunsListing(runs).c_str(), out);
    }
    return std::fflush(out) == 0 ? 0 : 1;
  }
  Result<UndoRecord> chosen = ChooseRun(folder, store, args.undo_run);
  if (!chosen.Ok()) {
    std::fprintf(err, "dialmend-run: %s\n", chosen.Message().c_str());
    return 2;
  }
  args.undo_record = chosen.Value().path;
  return -1;
}

// Options that ask for opposite things, or for what the mode given does not do: each mode
// with the options it refuses.
Status RefuseConflicts(const RunArgs& args, const std::vector<std::string>& given) {
  const auto has = [&](std::string_view name) {
    return (name == "--undo" && args.undo) ||
           std::find(given.begin(), given.end(), name) != given.end();
  };
  struct Rule {
    std::string_view mode;
    std::vector<std::string_view> refused;
  };
  const Rule rules[] = {
      {"--log", {"--no-log"}},
      {"--progress", {"--no-progress"}},
      {"--runs",
       {"--undo", "--update", "--style", "--prefix", "--zero", "--find", "--replace",
        "--old-codes-only", "--log", "--book", "--changes", "--quiet"}},
      // An undo puts back what an update wrote: the number options and the choice of books
      // were that update's.
      {"--undo",
       {"--style", "--prefix", "--zero", "--find", "--replace", "--old-codes-only", "--book",
        "--changes"}},
  };
  for (const Rule& rule : rules) {
    if (!has(rule.mode)) continue;
    for (const std::string_view other : rule.refused) {
      if (has(other)) {
        return Status::Failure(std::string(rule.mode) + " and " + std::string(other) +
                               " cannot go together");
      }
    }
  }
  return {};
}

}  // namespace

Status ParseRunArgs(std::span<const std::string_view> args, RunArgs& out) {
  // --undo takes its run only when one follows, which CLI11 options cannot say: it is read
  // here and the rest goes on.
  std::vector<std::string_view> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--undo") {
      out.undo = true;
      if (i + 1 < args.size() && !args[i + 1].starts_with("-")) out.undo_run = args[++i];
    } else if (args[i].starts_with("--undo=")) {
      out.undo = true;
      out.undo_run = args[i].substr(7);
      if (out.undo_run.empty()) return Status::Failure("--undo= needs a run");
    } else {
      rest.push_back(args[i]);
    }
  }
  args = rest;
  CommandLine line("(give the store with --profile)");
  line.AddNumberOptions(out.options);
  line.AddPath("--profile", "--profile needs a path",
               [&out](std::string_view path) { out.profile = path; });
  line.AddPath("--log", "--log needs a path",
               [&out](std::string_view path) { out.log_file = std::string(path); });
  line.AddPath("--ca-file", "--ca-file needs a file",
               [&out](std::string_view path) { out.ca_file = path; });
  line.AddPath("--book", "--book needs a name",
               [&out](std::string_view name) { out.books.emplace_back(name); });
  line.AddPath("--changes", "--changes needs a file (- for standard output)",
               [&out](std::string_view path) { out.changes = std::string(path); });
  line.AddFlag("--quiet", out.quiet);
  line.AddFlag("--update", out.update);
  line.AddFlag("--no-log", out.no_log);
  bool progress = false;
  bool no_progress = false;
  line.AddFlag("--progress", progress);
  line.AddFlag("--no-progress", no_progress);
  line.AddFlag("--runs", out.runs);
  line.AddFlag("-h,--help", out.help);
  line.AddFlag("--version", out.version);
  if (Status parsed = line.Parse(args); !parsed.Ok()) return parsed;
  if (Status refused = RefuseConflicts(out, line.GivenInOrder()); !refused.Ok()) return refused;
  if (progress || no_progress) out.progress = progress;
  return Status{};
}

constexpr char kRunUsage[] =
    "Usage: dialmend-run [--profile STORE] [--book NAME]... [--update] [--style N]\n"
    "                    [--prefix N] [--zero N] [--find TEXT [--replace TEXT]]\n"
    "                    [--old-codes-only] [--log FILE | --no-log]\n"
    "                    [--changes FILE|-] [--quiet] [--ca-file FILE]\n"
    "                    [--progress | --no-progress]\n"
    "       dialmend-run [--profile STORE] --undo [RUN] [--update]\n"
    "                    [--log FILE | --no-log]\n"
    "       dialmend-run [--profile STORE] --runs\n"
    "\n"
    "Brings every telephone number in a vCard store up to date: old UK area codes\n"
    "of the April 2000 changes become the new ones and every recognised number is\n"
    "re-formatted. Without --update it only simulates: it reports what would change\n"
    "and writes nothing.\n"
    "\n"
    "  --profile STORE the store: a folder with one subfolder per address book, a\n"
    "                  folder of .vcf cards (one address book), a .vcf file, the\n"
    "                  address of a CardDAV server, principal or address book:\n"
    "                  https://[USER@]HOST[:PORT][/PATH] (the password comes from\n"
    "                  ~/.netrc, the desktop's secret store or a prompt, which asks\n"
    "                  again when the server refuses it, three times in all),\n"
    "                  thunderbird:[PROFILE] for the local address books of a\n"
    "                  Thunderbird profile (by name or folder; its default one\n"
#ifdef _WIN32
    "                  without), while Thunderbird is closed\n"
    "                  (default: the contacts of your Outlook profile)\n"
#else
    "                  without), while Thunderbird is closed, kde: for the vCard\n"
    "                  folders of KDE's address book, or eds: for GNOME's address\n"
    "                  books (eds:NAME for the book or online account of that name)\n"
    "                  (default: the first found of khard's address books,\n"
    "                  vdirsyncer's local storage, GNOME's address books,\n"
    "                  Thunderbird's default profile, KDE's address book and\n"
    "                  ~/.contacts; the log's head says which)\n"
#endif
    "  --book NAME     walk only the address book NAME of the profile (its name\n"
    "                  in the log, khard's or vdirsyncer's name, its folder's\n"
    "                  name, a server's display name); again for more books\n"
    "  --update        write the changed numbers back (each file replaced atomically)\n"
    "  --style N       0 \"(020) 1234 5678\" (default), 1 \"020-1234 5678\",\n"
    "                  2 \"020 1234 5678\", 3 \"02012345678\"\n"
    "  --prefix N      +44: 0 leave as found (default), 1 remove, 2 add where missing\n"
    "  --zero N        leading zero after +44: 0 as found (default), 1 remove,\n"
    "                  2 include\n"
    "  --find TEXT     custom replacement in numbers that begin with TEXT\n"
    "  --replace TEXT  its replacement (default: empty)\n"
    "  --old-codes-only\n"
    "                  change only numbers with an old area code and leave every\n"
    "                  other number, foreign ones included, exactly as written:\n"
    "                  only the contacts that hold an old number are rewritten\n"
    "                  (and synced again)\n"
    "  --log FILE      save the activity log to FILE (default: an update's log\n"
    "                  is saved as \"Dialmend Log N.txt\" on the desktop, the\n"
    "                  first free N; a simulation's is only printed)\n"
    "  --no-log        save no log file\n"
    "  --changes FILE  write the change list to FILE (- for standard output, the\n"
    "                  log then printed on standard error): CSV with a header,\n"
    "                  one line per changed number:\n"
    "                  location,card,uid,contact,field,old,new\n"
    "  --quiet         print only the summary of the log (the log file is whole)\n"
    "  --ca-file FILE  trust the certificates in FILE besides the system's (a server\n"
    "                  with a private certificate authority)\n"
    "  --progress      show a status line on standard error (folder, contacts n of N,\n"
    "                  numbers, time elapsed and left) even when it is not a terminal\n"
    "  --no-progress   show none, even on a terminal (default: shown on a terminal)\n"
    "  --undo [RUN]    put back the numbers the last update run changed, or those of\n"
    "                  RUN (a name --runs lists, or a record's path with a /); only\n"
    "                  simulates without --update. A number changed since that run\n"
    "                  is left as it is and named; a later --undo tries it again\n"
    "  --runs          list the update runs recorded for the profile\n"
    "  --help, --version\n"
    "\n"
    "The activity log is printed as it is written, with this system's line ends, and\n"
    "saved as it is written, with CR LF: however the run ends, the log file lists\n"
    "every change already saved. A run whose store cannot be opened says why in one\n"
    "line and leaves no file. Ctrl-C, SIGTERM and SIGHUP abort between two\n"
    "contacts; a second one ends at once. A closed standard output ends the run the\n"
    "same way.\n"
    "Every update run first records what it changes, in\n"
#ifdef _WIN32
    "%LOCALAPPDATA%\\Dialmend\\runs; the last 30 runs, or those of the last 90 days,\n"
#else
    "$XDG_STATE_HOME/dialmend/runs (else ~/.local/state/dialmend/runs); the last\n"
    "30 runs, or those of the last 90 days,\n"
#endif
    "are kept, so that any of them can be undone.\n"
    "\n"
    "Exit status:\n"
    "  0    done: every contact was read and, with --update, every change saved\n"
    "  1    done with problems: the store could not be opened, something could\n"
    "       not be read or saved (the log says what, and its summary ends\n"
    "       \"Problems: N\"), the log file could not be written, or standard output\n"
    "       could not be written (the run then stops as after Ctrl-C). One card\n"
    "       that cannot be read gives 1 even when everything else was updated.\n"
    "  2    bad usage, a log file that cannot be created, or an update run that\n"
    "       cannot be undone (its record missing, damaged or of another profile):\n"
    "       nothing is touched\n"
    "  130  aborted by Ctrl-C, SIGTERM or SIGHUP; the log lists what was saved\n";

std::string RunUsage() {
  return kRunUsage;
}

namespace {

// The usage text or the version on `out`; 1 when it cannot be written.
int PrintHelpOrVersion(bool help, std::FILE* out, std::FILE* err) {
  if (help) {
    std::fputs(RunUsage().c_str(), out);
  } else {
    std::fprintf(out, "dialmend-run %s\n", kVersion);
  }
  errno = 0;
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(err, "dialmend-run: cannot write to standard output: %s\n",
                 ReasonOf(errno != 0 ? errno : EIO).c_str());
    return 1;
  }
  return 0;
}

// Opens the change list --changes names; false (said on `err`) when it cannot be. With the
// list on standard output, the printed log goes to standard error instead: `printed`.
bool OpenChanges(const RunArgs& parsed, ChangeListFile& changes, std::FILE* out, std::FILE* err,
                 std::FILE*& printed) {
  if (const Status opened = changes.Open(*parsed.changes, out); !opened.Ok()) {
    std::fprintf(err, "dialmend-run: %s\n", opened.Message().c_str());
    return false;
  }
  if (*parsed.changes != "-") return true;
  if (parsed.log_file && NamesStreamFile(*parsed.log_file, out)) {
    std::fputs(
        "dialmend-run: --changes - and --log naming standard output cannot go together "
        "(try --help)\n",
        err);
    return false;
  }
  printed = err;
  return true;
}

}  // namespace

int RunCommand(std::span<const std::string_view> args, std::FILE* out, std::FILE* err,
               const volatile std::sig_atomic_t* interrupts) {
  RunArgs parsed;
  if (const Status parsing = ParseRunArgs(args, parsed); !parsing.Ok()) {
    std::fprintf(err, "dialmend-run: %s (try --help)\n", parsing.Message().c_str());
    return 2;
  }
  if (parsed.help || parsed.version) return PrintHelpOrVersion(parsed.help, out, err);

  ServerAccess access = TerminalAccess(parsed, err, interrupts);
  if (parsed.runs || parsed.undo) {
    if (const int status = FindRuns(parsed, access, out, err); status >= 0) return status;
  }

  ChangeListFile changes;
  std::FILE* printed = out;
  if (parsed.changes && !OpenChanges(parsed, changes, out, err, printed)) return 2;
  TerminalView view(parsed, std::move(access), printed, err, interrupts,
                    parsed.changes ? &changes : nullptr);
  // The terminal prints each piece as it comes and keeps none: a long run costs no memory for
  // its log.
  ActivityLog log(false);
  log.SetListener([&](std::string_view text) { view.Print(text); });
  RunController controller(view, log);
  view.SetController(&controller);
  controller.Go();
  // The log file could not be reserved: the run never started.
  if (controller.State() == RunState::Idle || view.ProfileFailed()) changes.Discard();
  if (controller.State() == RunState::Idle) return 2;

  bool changes_failed = false;
  if (parsed.changes && !view.ProfileFailed()) {
    if (const Status closed = changes.Close(); !closed.Ok()) {
      std::fprintf(err, "dialmend-run: %s\n", closed.Message().c_str());
      changes_failed = true;
    }
  }
  if (view.FinishOutput() || changes_failed) return 1;
  if (view.Aborted()) return 130;
  if (view.ProfileFailed() || controller.Counters().problems > 0 || !controller.LogSave().Ok()) {
    return 1;
  }
  return 0;
}

}  // namespace dialmend
