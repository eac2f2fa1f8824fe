#include "run/run_summary.h"

#include "run/log_file.h"

namespace dialmend {

std::string SummaryText(const SummaryFacts& facts) {
  struct Row {
    const char* caption;
    std::int64_t count;
  };
  const RunCounters& c = facts.counters;
  const bool update = facts.update;
  const char* mode =
      facts.undo ? (update ? "Undo" : "Undo simulation") : (update ? "Update" : "Simulation");
  // The counts of lines 9 and 10 start in one column: hence the second space.
  const std::array<Row, 4> rows =
      facts.undo
          ? std::array<Row, 4>{Row{update ? "Contacts restored: " : "Contacts to restore: ",
                                   c.updated},
                               {update ? "Numbers restored:  " : "Numbers to restore:  ",
                                c.numbers},
                               {"Left because changed: ", c.left},
                               {"Could not find: ", c.not_found}}
          : std::array<Row, 4>{Row{"Folders processed: ", c.folders},
                               {"Contacts checked: ", c.checked},
                               {update ? "Contacts updated: " : "Contacts to update: ", c.updated},
                               {update ? "Numbers updated:  " : "Numbers to update:  ", c.numbers}};
  std::string text = "\r\n";
  text += std::string(mode) + (facts.completed ? " complete - " : " aborted - ") + facts.now_text;
  text += "\r\n\r\n";
  text += "Overall running time: " + std::to_string(facts.run_seconds) + " secs\r\n\r\n";
  text += "Summary:\r\n";
  for (const Row& row : rows) text += row.caption + std::to_string(row.count) + "\r\n";
  if (c.problems > 0) text += "Problems: " + std::to_string(c.problems) + "\r\n";
  return text;
}

std::array<CounterText, 4> WindowCounters(const RunCounters& c, bool update, bool undo) {
  if (undo) {
    return {CounterText{"Left because changed", c.left},
            {"Could not find", c.not_found},
            {update ? "Contacts Restored" : "Contacts To Restore", c.updated},
            {update ? "Numbers Restored" : "Numbers To Restore", c.numbers}};
  }
  return {CounterText{"Folders Processed", c.folders},
          {"Contacts Checked", c.checked},
          {update ? "Contacts Updated" : "Contacts To Update", c.updated},
          {update ? "Phone Nos Updated" : "Phone Nos To Update", c.numbers}};
}

bool BeginsSummary(std::string_view piece) {
  return piece.starts_with("\r\n");
}

Status Outro(const SummaryFacts& facts, ActivityLog& log, LogFile* file) {
  log.WriteLog(SummaryText(facts));
  if (file == nullptr) return {};
  log.SetFile(nullptr);
  Status completed = file->Complete();
  if (!completed.Ok()) log.WriteLog(completed.Message() + "\r\n");
  return completed;
}

}  // namespace dialmend
