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

}  // namespace dialmend
