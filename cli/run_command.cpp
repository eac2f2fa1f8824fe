#include "cli/run_command.h"

#ifdef _WIN32
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "cli/command_line.h"
#include "engine/version.h"
#include "platform/atomic_file_common.h"
#include "run/date_time_text.h"
#include "run/log_file.h"
#include "run/run_controller.h"
#include "run/run_records.h"
#include "stores/profile/open_profile.h"

namespace dialmend {
namespace {

// The system's words for an errno value, to sit after a colon.
std::string ReasonOf(int error) {
  return AsReason(std::generic_category().message(error));
}

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return ::_isatty(::_fileno(stream)) != 0;
#else
  return ::isatty(::fileno(stream)) != 0;
#endif
}

// Whether `path` names the file `stream` writes to (--log /dev/stdout): the log already goes
// there, and writing it twice is not what anyone means.
bool IsStreamFile(const std::string& path, std::FILE* stream) {
#ifdef _WIN32
  (void)path;
  (void)stream;
  return false;
#else
  struct stat named {};
  struct stat open {};
  return ::stat(path.c_str(), &named) == 0 && ::fstat(::fileno(stream), &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
#endif
}

// The terminal around a run: the log on standard output, progress and messages on standard
// error, Ctrl-C and the termination signals as Abort, a standard output that can no longer be
// written as Abort too.
class TerminalView : public RunView {
 public:
  TerminalView(const RunArgs& args, std::FILE* out, std::FILE* err,
               const volatile std::sig_atomic_t* interrupts)
      : m_args(args),
        m_out(out),
        m_err(err),
        m_interrupts(interrupts),
        m_progress(IsTerminal(err)),
        m_terminal_out(IsTerminal(out)) {}

  void SetController(RunController* controller) { m_controller = controller; }
  bool ProfileFailed() const { return m_profile_failed; }
  void ClearProgress() {
    if (m_progress_shown) std::fputs("\r\033[K", m_err);
    m_progress_shown = false;
  }

  RunJob PrepareRun() override {
    RunJob job;
    job.store = StoreOrProblem(OpenProfile(m_args.profile, SystemEnvironment()));
    job.options = &m_args.options;
    job.update = m_args.update;
    job.undo_record = m_args.undo_record;
    if (m_args.log_file) {
      if (!IsStreamFile(*m_args.log_file, m_out)) job.log = LogTarget{*m_args.log_file, false};
    } else if (!m_args.no_log) {
      job.log = LogTarget{SetLogFile(), true};
    }
    m_started = std::chrono::steady_clock::now();
    return job;
  }
  void ShowStarted(bool) override {}
  void ShowPaused(bool) override {}
  void ShowResumed(bool) override {}
  void ShowFinished(bool) override { ClearProgress(); }
  void ShowReset(bool) override {}
  void ShowCounters(const RunCounters& counters) override { m_counters = counters; }
  AbortAnswer AskAbort() override { return AbortAnswer::Yes; }
  void ShowMessage(const std::string& text) override {
    ClearProgress();
    std::fprintf(m_err, "dialmend-run: %s\n", text.c_str());
  }
  void ShowProfileProblem(const std::string& reason) override {
    m_profile_failed = true;
    ShowMessage(std::string(kProfileProblem) + "\n(" + reason + ")");
  }
  void EndProgram() override {}

  void ProcessEvents(bool) override {
    if (m_controller == nullptr || m_controller->State() != RunState::Running) return;
    if (m_out_error != 0) {
      ClearProgress();
      std::fprintf(m_err, "dialmend-run: cannot write to standard output: %s; ending the run\n",
                   ReasonOf(m_out_error).c_str());
      m_out_error_shown = true;
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
    if (m_progress) ShowProgress();
  }

  std::string NowText() override { return LocalDateTimeText(std::chrono::system_clock::now()); }

  bool Aborted() const { return m_aborted; }

  // Prints log text as it is written, each piece flushed so that a closed reader is found
  // at once. After a failure nothing more is printed, and the run ends at its next yield.
  void Print(std::string_view text) {
    if (m_out_error != 0) return;
    ClearProgress();
    std::string lines;
    if (m_terminal_out) {
      lines.reserve(text.size());
      for (char c : text) {
        if (c != '\r') lines.push_back(c);
      }
      text = lines;
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), m_out) != text.size() || std::fflush(m_out) != 0) {
      m_out_error = errno != 0 ? errno : EIO;
    }
  }

  // Flushes what is left and says when standard output failed. Returns whether it did.
  bool FinishOutput() {
    errno = 0;
    if (m_out_error == 0 && std::fflush(m_out) != 0) m_out_error = errno != 0 ? errno : EIO;
    if (m_out_error != 0 && !m_out_error_shown) {
      std::fprintf(m_err, "dialmend-run: cannot write to standard output: %s\n",
                   ReasonOf(m_out_error).c_str());
    }
    return m_out_error != 0;
  }

 private:
  void ShowProgress() {
    const auto now = std::chrono::steady_clock::now();
    if (now - m_last_progress < std::chrono::milliseconds(100)) return;
    m_last_progress = now;
    const double seconds = std::chrono::duration<double>(now - m_started).count();
    std::fprintf(m_err, "\r\033[KFolders %lld  Contacts %lld  Changed %lld  (%.0f contacts/s)",
                 static_cast<long long>(m_counters.folders),
                 static_cast<long long>(m_counters.checked),
                 static_cast<long long>(m_counters.updated),
                 seconds > 0 ? static_cast<double>(m_counters.checked) / seconds : 0.0);
    std::fflush(m_err);
    m_progress_shown = true;
  }

  const RunArgs& m_args;
  std::FILE* m_out;
  std::FILE* m_err;
  const volatile std::sig_atomic_t* m_interrupts;
  bool m_progress;
  bool m_terminal_out;
  int m_out_error = 0;
  bool m_out_error_shown = false;
  bool m_progress_shown = false;
  bool m_profile_failed = false;
  bool m_aborted = false;
  RunController* m_controller = nullptr;
  RunCounters m_counters;
  std::chrono::steady_clock::time_point m_started{};
  std::chrono::steady_clock::time_point m_last_progress{};
};

// For --runs, prints the profile's recorded runs; for --undo, finds the record to undo and
// keeps it in `args`. Returns the exit status when the program ends here, else -1.
int FindRuns(RunArgs& args, std::FILE* out, std::FILE* err) {
  ProfileChoice choice = OpenProfile(args.profile, SystemEnvironment());
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
  line.AddValue("--profile", "--profile needs a path",
                [&out](std::string_view path) -> std::optional<std::string> {
                  if (path.empty()) return std::string("--profile needs a path");
                  out.profile = path;
                  return std::nullopt;
                });
  line.AddValue("--log", "--log needs a path",
                [&out](std::string_view path) -> std::optional<std::string> {
                  if (path.empty()) return std::string("--log needs a path");
                  out.log_file = std::string(path);
                  return std::nullopt;
                });
  line.AddFlag("--update", out.update);
  line.AddFlag("--no-log", out.no_log);
  line.AddFlag("--runs", out.runs);
  line.AddFlag("-h,--help", out.help);
  line.AddFlag("--version", out.version);
  if (auto error = line.Parse(args)) return Status::Failure(std::move(*error));
  if (out.no_log && out.log_file) return Status::Failure("--log and --no-log cannot go together");
  if (out.runs && out.undo) return Status::Failure("--runs and --undo cannot go together");
  return Status{};
}

std::string RunUsage() {
  return "Usage: dialmend-run [--profile PATH] [--update] [--style N] [--prefix N] [--zero N]\n"
         "                    [--find TEXT [--replace TEXT]] [--log FILE | --no-log]\n"
         "       dialmend-run [--profile PATH] --undo [RUN] [--update] [--log FILE | --no-log]\n"
         "       dialmend-run [--profile PATH] --runs\n"
         "\n"
         "Brings every telephone number in a vCard folder store up to date: old UK area codes\n"
         "of the April 2000 changes become the new ones and every recognised number is\n"
         "re-formatted. Without --update it only simulates: it reports what would change and\n"
         "writes nothing.\n"
         "\n"
         "  --profile PATH  the store: a folder with one subfolder per address book, a\n"
         "                  folder of .vcf cards (one address book), or a .vcf file\n"
#ifdef _WIN32
         "                  (default: the contacts of your Outlook profile)\n"
#else
         "                  (default: the address books in khard's configuration, else\n"
         "                  vdirsyncer's local storage, else ~/.contacts)\n"
#endif
         "  --update        write the changed numbers back (each file replaced atomically)\n"
         "  --style N       0 \"(020) 1234 5678\" (default), 1 \"020-1234 5678\",\n"
         "                  2 \"020 1234 5678\", 3 \"02012345678\"\n"
         "  --prefix N      +44: 0 leave as found (default), 1 remove, 2 add where missing\n"
         "  --zero N        leading zero after +44: 0 as found (default), 1 remove, 2 include\n"
         "  --find TEXT     custom replacement in numbers that begin with TEXT\n"
         "  --replace TEXT  its replacement (default: empty)\n"
         "  --log FILE      save the activity log to FILE (default: \"Dialmend Log N.txt\" on\n"
         "                  the desktop, the first free N)\n"
         "  --no-log        save no log file\n"
         "  --undo [RUN]    put back the numbers the last update run changed, or those of\n"
         "                  RUN (a name --runs lists); only simulates without --update. A\n"
         "                  number changed since that run is left as it is and named\n"
         "  --runs          list the update runs recorded for the profile\n"
         "  --help, --version\n"
         "\n"
         "The activity log is printed as it is written, and saved as it is written: however\n"
         "the run ends, the log file lists every change already saved. Ctrl-C, SIGTERM and\n"
         "SIGHUP abort between two contacts; a second one ends at once. A closed standard\n"
         "output ends the run the same way.\n"
         "Every update run first records what it changes, in\n"
#ifdef _WIN32
         "%LOCALAPPDATA%\\Dialmend\\runs; the last 30 runs, or those of the last 90 days,\n"
#else
         "$XDG_STATE_HOME/dialmend/runs (else ~/.local/state/dialmend/runs); the last 30 runs,\n"
         "or those of the last 90 days,\n"
#endif
         "are kept, so that any of them can be undone.\n"
         "Exit status: 0 done, 1 the store could not be opened, standard output could not be\n"
         "written or something failed, 2 bad usage or a log file that cannot be created\n"
         "(nothing is touched), 130 aborted.\n";
}

int RunCommand(std::span<const std::string_view> args, std::FILE* out, std::FILE* err,
               const volatile std::sig_atomic_t* interrupts) {
  RunArgs parsed;
  if (const Status parsing = ParseRunArgs(args, parsed); !parsing.Ok()) {
    std::fprintf(err, "dialmend-run: %s (try --help)\n", parsing.Message().c_str());
    return 2;
  }
  if (parsed.help || parsed.version) {
    if (parsed.help) {
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

  if (parsed.runs || parsed.undo) {
    if (const int status = FindRuns(parsed, out, err); status >= 0) return status;
  }

  TerminalView view(parsed, out, err, interrupts);
  ActivityLog log;
  log.SetListener([&](std::string_view text) { view.Print(text); });
  RunController controller(view, log);
  view.SetController(&controller);
  controller.Go();
  // The log file could not be reserved: the run never started.
  if (controller.State() == RunState::Idle) return 2;

  if (view.FinishOutput()) return 1;
  if (view.Aborted()) return 130;
  if (view.ProfileFailed() || controller.Counters().problems > 0 || !controller.LogSave().Ok()) {
    return 1;
  }
  return 0;
}

}  // namespace dialmend
