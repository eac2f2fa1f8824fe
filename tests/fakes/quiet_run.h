#pragma once

#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "engine/number_options.h"
#include "run/contact_run.h"
#include "run/undo_record.h"

// A whole run over a store with nobody watching, for tests and benchmarks that look only at
// what it did: never paused or aborted, the clock always "now".

namespace dialmend {

struct QuietRun {
  RunCounters counters;
  std::string log;
  // Why the profile could not be opened, once for each time it was said.
  std::vector<std::string> profile_failures;
};

// Walks the whole store once, writing only when `update`.
[[nodiscard]] QuietRun RunQuietly(ContactStore& store, const NumberOptions& options, bool update);

// The same, an update keeping its undo record in `record_folder`.
[[nodiscard]] QuietRun RunQuietly(ContactStore& store, const NumberOptions& options,
                                  const std::string& record_folder);

// Every contact of the record at `path`, in order; none when it cannot be read.
[[nodiscard]] std::vector<RecordedContact> RecordedContactsOf(const std::string& path);

// Undoes the update `record` holds, writing only when `update`.
[[nodiscard]] QuietRun UndoQuietly(ContactStore& store, const UndoRecord& record, bool update);

}  // namespace dialmend
