#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "run/undo_record.h"

// The folder of undo records: one file per update run, named by its local date and time, the
// last 30 runs or 90 days kept, whichever keeps more.

namespace dialmend {

inline constexpr std::size_t kKeptRuns = 30;
inline constexpr std::chrono::hours kKeptAge{24 * 90};

// The environment variable's value, or std::nullopt when it is not set.
using ReadVariable = std::function<std::optional<std::string>(const char* name)>;

// Where the records go: $XDG_STATE_HOME/dialmend/runs when that is an absolute path, else
// ~/.local/state/dialmend/runs; on Windows %LOCALAPPDATA%\Dialmend\runs. Empty when none of
// the variables is set.
[[nodiscard]] std::string RunsFolder(const ReadVariable& variable);

// RunsFolder from the process's environment.
[[nodiscard]] std::string DefaultRunsFolder();

// A record's name for a run started at `when`, local time: "2026-12-07_07-05-28".
[[nodiscard]] std::string RunName(std::chrono::system_clock::time_point when);

// The records in `folder` of runs on `store`, oldest first. A record that cannot be read is
// left out, its message going to `unreadable` when given.
[[nodiscard]] std::vector<UndoRecord> ListRuns(const std::string& folder,
                                               const StoreIdentity& store,
                                               std::vector<std::string>* unreadable = nullptr);

// The record of the update run of `store` to undo: the one named `run`, else the newest in
// `folder`. `run` is a name --runs lists (with or without ".undo"), looked up in `folder` alone,
// or the path of a record, which holds a "/" (or on Windows a "\\") and is read and checked as
// any record. Fails, in words, when there is none, or when it cannot be read or is of another
// store; nothing is changed then.
[[nodiscard]] Result<UndoRecord> ChooseRun(const std::string& folder, const StoreIdentity& store,
                                           const std::string& run);

// The lines --runs prints for `runs`: a heading, then one line a run (its name, that is its date
// and time, the contacts and numbers it changed, and when it was undone, "partly undone" and
// when, or "no"), LF-ended.
[[nodiscard]] std::string RunsListing(const std::vector<UndoRecord>& runs);

// Removes the records in `folder` that are neither among the newest kKeptRuns nor younger than
// kKeptAge at `now`. Returns a message for each one that could not be removed.
[[nodiscard]] std::vector<std::string> PruneRuns(const std::string& folder,
                                                 std::chrono::system_clock::time_point now);

// The file name suffix of a record.
inline constexpr std::string_view kRecordSuffix = ".undo";

}  // namespace dialmend
