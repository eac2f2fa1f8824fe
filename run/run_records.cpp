#include "run/run_records.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/environment.h"
#include "platform/reason.h"
#include "platform/utf8_path.h"

namespace dialmend {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kPathSeparators = "/\\";
// The separator a path the user reads is written with.
constexpr char kSeparator = '\\';
#else
constexpr const char* kPathSeparators = "/";
constexpr char kSeparator = '/';
#endif

// Whether `name` is a run's: its date and time ("2026-12-07_07-05-28"), and "_N" after it for
// a second run in the same second.
bool IsRunName(std::string_view name) {
  constexpr std::string_view kShape = "dddd-dd-dd_dd-dd-dd";
  if (name.size() < kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = name[i] >= '0' && name[i] <= '9';
    if (kShape[i] == 'd' ? !digit : name[i] != kShape[i]) return false;
  }
  const std::string_view rest = name.substr(kShape.size());
  return rest.empty() || (rest.size() > 1 && rest.size() < 6 && rest[0] == '_' &&
                          rest.find_first_not_of("0123456789", 1) == std::string_view::npos);
}

// The local time a record's name gives, or std::nullopt when the name is not a run's.
std::optional<std::chrono::system_clock::time_point> TimeOfName(const std::string& name) {
  std::tm local{};
  if (name.size() < 19 ||
      std::sscanf(name.c_str(), "%4d-%2d-%2d_%2d-%2d-%2d", &local.tm_year, &local.tm_mon,
                  &local.tm_mday, &local.tm_hour, &local.tm_min, &local.tm_sec) != 6) {
    return std::nullopt;
  }
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  return TimeOfLocal(local);
}

// The names of the records in `folder`, oldest first.
std::vector<std::string> RecordNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(PathFromUtf8(folder), error), end; !error && it != end;
       it.increment(error)) {
    std::string name = Utf8FromPath(it->path().filename());
    if (name.ends_with(kRecordSuffix) &&
        IsRunName(std::string_view(name).substr(0, name.size() - kRecordSuffix.size())) &&
        TimeOfName(name)) {
      names.push_back(std::move(name));
    }
  }
  // The names are local date and time, largest unit first: name order is time order.
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::string RunsFolder(const ReadVariable& variable) {
#ifdef _WIN32
  if (auto local = variable("LOCALAPPDATA"); local && !local->empty()) {
    return *local + "\\Dialmend\\runs";
  }
  return {};
#else
  // A relative XDG_STATE_HOME is invalid and ignored.
  if (auto state = variable("XDG_STATE_HOME"); state && state->starts_with("/")) {
    return *state + "/dialmend/runs";
  }
  if (auto home = variable("HOME"); home && !home->empty()) {
    return *home + "/.local/state/dialmend/runs";
  }
  return {};
#endif
}

std::string DefaultRunsFolder() {
  return RunsFolder(EnvironmentVariable);
}

std::string RunName(std::chrono::system_clock::time_point when) {
  const std::tm local = LocalTime(when);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d_%02d-%02d-%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::vector<UndoRecord> ListRuns(const std::string& folder, const StoreIdentity& store,
                                 std::vector<std::string>* unreadable) {
  std::vector<UndoRecord> runs;
  for (const std::string& name : RecordNames(folder)) {
    Result<UndoRecord> record = ReadUndoRecord(folder + "/" + name);
    if (!record.Ok()) {
      if (unreadable != nullptr) unreadable->push_back(record.Message());
      continue;
    }
    if (record.Value().store == store) runs.push_back(std::move(record.Value()));
  }
  return runs;
}

Result<UndoRecord> ChooseRun(const std::string& folder, const StoreIdentity& store,
                             const std::string& run) {
  std::string path;
  if (run.empty()) {
    std::vector<std::string> unreadable;
    std::vector<UndoRecord> runs = ListRuns(folder, store, &unreadable);
    if (runs.empty()) {
      std::string message = "No update run of this profile is recorded in \"" + folder +
                            "\": there is nothing to undo.";
      for (const std::string& line : unreadable) message += "\n" + line;
      return Result<UndoRecord>::Failure(std::move(message));
    }
    return std::move(runs.back());
  }
  if (run.find_first_of(kPathSeparators) != std::string::npos) {
    // A path, given as one: read and checked as any record.
    path = run;
  } else {
    // A name is looked up among the runs alone, never as a file of the current folder.
    const std::string name =
        run.ends_with(kRecordSuffix) ? run.substr(0, run.size() - kRecordSuffix.size()) : run;
    if (!IsRunName(name)) {
      return Result<UndoRecord>::Failure(
          "\"" + run +
          "\" is not the name of a recorded run: give a name --runs lists "
          "(2026-12-07_07-05-28), or the path of a record, with a /.");
    }
    path = folder + kSeparator + name + std::string(kRecordSuffix);
  }
  Result<UndoRecord> record = ReadUndoRecord(path);
  if (!record.Ok()) return record;
  if (record.Value().store != store) {
    return Result<UndoRecord>::Failure("The undo record \"" + path + "\" is of another profile (" +
                                       record.Value().store.kind + " \"" +
                                       record.Value().store.location + "\"): nothing is changed.");
  }
  return record;
}

std::string RunsListing(const std::vector<UndoRecord>& runs) {
  std::string text = "Run                  Contacts  Numbers  Undone\n";
  for (const UndoRecord& run : runs) {
    char counts[64];
    std::snprintf(counts, sizeof counts, "  %8zu  %7zu  ", run.contacts, run.numbers);
    text += run.name;
    text += counts;
    text += run.undone ? *run.undone : run.partly ? "partly undone " + *run.partly : "no";
    text += '\n';
  }
  return text;
}

std::vector<std::string> PruneRuns(const std::string& folder,
                                   std::chrono::system_clock::time_point now) {
  std::vector<std::string> problems;
  const std::vector<std::string> names = RecordNames(folder);
  if (names.size() <= kKeptRuns) return problems;
  for (std::size_t i = 0; i + kKeptRuns < names.size(); ++i) {
    const auto when = TimeOfName(names[i]);
    if (when && now - *when < kKeptAge) continue;
    std::error_code error;
    fs::remove(PathFromUtf8(folder + "/" + names[i]), error);
    if (error) {
      problems.push_back("Cannot remove the old undo record \"" + folder + "/" + names[i] +
                         "\": " + ErrorText(error) + ".");
    }
  }
  return problems;
}

}  // namespace dialmend
