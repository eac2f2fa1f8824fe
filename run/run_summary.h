#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/result.h"
#include "run/activity_log.h"

// What a run counts, and how the summary at the end of its log and the window's counters show
// it, for an update (or its simulation) and for an undo alike.

namespace dialmend {

class LogFile;

// The counts of one run, as the window shows them.
struct RunCounters {
  std::int64_t folders = 0;
  std::int64_t checked = 0;
  std::int64_t updated = 0;  // contacts updated (an undo: restored), or to update in a simulation
  std::int64_t numbers = 0;  // numbers updated (an undo: restored), or to update
  std::int64_t problems = 0;
  std::int64_t left = 0;       // an undo's fields left as they are because changed since
  std::int64_t not_found = 0;  // an undo's contacts it could not find
};

// What the summary reports.
struct SummaryFacts {
  bool completed = false;  // false: the run was aborted, or its store was lost
  bool update = false;
  bool undo = false;  // the summary of an undo run
  std::int64_t run_seconds = 0;
  RunCounters counters;
  std::string now_text;
};

// The summary's lines, each ending in CR LF, worded for an update, a simulation or an undo;
// "Problems: N" only when something failed.
[[nodiscard]] std::string SummaryText(const SummaryFacts& facts);

// One of the window's four counters: its caption and its count.
struct CounterText {
  std::string_view caption;
  std::int64_t count = 0;
};

// The window's four counters, top to bottom, worded for the run: "Folders Processed",
// "Contacts Checked", "Contacts Updated", "Phone Nos Updated" for an update (the last two "To
// Update" in a simulation); for an undo "Left because changed", "Could not find", "Contacts
// Restored", "Numbers Restored" ("To Restore" when simulated).
[[nodiscard]] std::array<CounterText, 4> WindowCounters(const RunCounters& counters, bool update,
                                                        bool undo);

// Whether `piece`, a text written to the log, begins the summary: SummaryText begins with an
// empty line, as no other writer's text does.
[[nodiscard]] bool BeginsSummary(std::string_view piece);

// Writes the summary, then completes `file` when one is given: the log's file, reserved when
// the run started and receiving the log as it grows. The log is detached from it. When the file
// could not be written the log stays as it is but for one line saying so, and the message is
// returned for the user.
Status Outro(const SummaryFacts& facts, ActivityLog& log, LogFile* file);

}  // namespace dialmend
