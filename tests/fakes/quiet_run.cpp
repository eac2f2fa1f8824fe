#include "tests/fakes/quiet_run.h"

#include "run/activity_log.h"

namespace dialmend {
namespace {

class QuietHost : public RunHost {
 public:
  explicit QuietHost(QuietRun& run) : m_run(run) {}
  bool YieldAndCheckAbort() override { return false; }
  void ProfileFailed(const std::string& reason) override {
    m_run.profile_failures.push_back(reason);
  }
  void CountersChanged(const RunCounters&) override {}
  std::string NowText() override { return "now"; }

 private:
  QuietRun& m_run;
};

}  // namespace

QuietRun RunQuietly(ContactStore& store, const NumberOptions& options, bool update) {
  QuietRun run;
  QuietHost host(run);
  ActivityLog log;
  ContactRun(store, RunSettings{&options, update}, run.counters, log, host).FixContacts();
  run.log = log.Text();
  return run;
}

QuietRun RunQuietly(ContactStore& store, const NumberOptions& options,
                    const std::string& record_folder) {
  QuietRun run;
  QuietHost host(run);
  ActivityLog log;
  RunSettings settings{&options, true};
  settings.record_folder = record_folder;
  ContactRun(store, settings, run.counters, log, host).FixContacts();
  run.log = log.Text();
  return run;
}

std::vector<RecordedContact> RecordedContactsOf(const std::string& path) {
  std::vector<RecordedContact> all;
  RecordedContactReader reader(path);
  for (std::vector<RecordedContact> chunk;
       reader.ReadChunk(kRecordChunk, chunk).Ok() && !chunk.empty();) {
    for (RecordedContact& contact : chunk) all.push_back(std::move(contact));
  }
  return all;
}

QuietRun UndoQuietly(ContactStore& store, const UndoRecord& record, bool update) {
  static const NumberOptions kDefaults;
  QuietRun run;
  QuietHost host(run);
  ActivityLog log;
  ContactRun(store, RunSettings{&kDefaults, update}, run.counters, log, host).UndoContacts(record);
  run.log = log.Text();
  return run;
}

}  // namespace dialmend
