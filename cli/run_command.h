#pragma once

#include <csignal>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/number_options.h"
#include "platform/result.h"

namespace dialmend {

// What the command line of dialmend-run asks for.
struct RunArgs {
  std::string profile;  // empty: ~/.contacts
  std::string ca_file;  // empty: the system's certificates alone
  bool update = false;
  NumberOptions options;
  // Named: the log is saved there. Not given: an update (or an undo with --update) saves it to
  // the default path on the desktop, and a simulation only prints it.
  std::optional<std::string> log_file;
  bool no_log = false;
  // --book NAME, each time given: only these address books of the profile are walked.
  std::vector<std::string> books;
  // --changes FILE: the change list goes there ("-": standard output, and the printed log to
  // standard error).
  std::optional<std::string> changes;
  bool quiet = false;  // --quiet: print the summary alone
  // The status line on standard error: --progress, --no-progress, else shown when standard
  // error is a terminal.
  std::optional<bool> progress;
  bool help = false;
  bool version = false;
  // --undo [RUN]: undo the update run named (empty: the profile's last).
  bool undo = false;
  std::string undo_run;
  bool runs = false;  // --runs: list the profile's recorded update runs
  // The record of the run to undo, as RunCommand found it.
  std::string undo_record;
};

// Parses dialmend-run's arguments (without the program name); fails with the usage error.
[[nodiscard]] Status ParseRunArgs(std::span<const std::string_view> args, RunArgs& out);

// The --help text.
[[nodiscard]] std::string RunUsage();

// The whole program behind main(). The log goes to `out` as it is written, with LF line ends
// (to `err` when the change list takes `out`), messages and the status line to `err`. `interrupts`
// counts Ctrl-C presses and termination signals; the first aborts the run between contacts, and so
// does a failed write to `out`. Returns 0 done, 1 the profile could not be opened, `out` could not
// be written or something failed, 2 bad usage or a log file that cannot be created, 130 aborted.
[[nodiscard]] int RunCommand(std::span<const std::string_view> args, std::FILE* out, std::FILE* err,
                             const volatile std::sig_atomic_t* interrupts);

}  // namespace dialmend
