#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "run/contact_run.h"

namespace dialmend {

// A RunHost that keeps what the run told it. It never pauses; `on_yield`, given the number of
// each yield from 1, answers whether the run is aborted there. The clock always says `now`.
class TestHost : public RunHost {
 public:
  explicit TestHost(std::string now = "now") : now(std::move(now)) {}
  bool YieldAndCheckAbort() override {
    ++yields;
    return on_yield && on_yield(yields);
  }
  void ProfileFailed(const std::string& reason) override { failures.push_back(reason); }
  void CountersChanged(const RunCounters&) override {}
  std::string NowText() override { return now; }
  void RecordFailed(const std::string& message) override { failures.push_back(message); }

  std::function<bool(int)> on_yield;
  std::string now;
  int yields = 0;
  // Why the profile could not be opened or the record written, in order.
  std::vector<std::string> failures;
};

// What a run needs beside its store, set for checking or updating; its log starts with
// kRunLogHeader.
struct RunParts {
  explicit RunParts(bool update) {
    settings.options = &options;
    settings.update = update;
  }
  RunParts(const RunParts&) = delete;
  RunParts& operator=(const RunParts&) = delete;

  NumberOptions options;
  RunSettings settings;
  RunCounters counters;
  ActivityLog log;
  TestHost host{"06/12/2026 10:00:00"};
};

constexpr std::string_view kRunLogHeader =
    "Dialmend Activity Log\r\n=======================\r\n\r\nCommenced 06/12/2026 10:00:00\r\n\r\n";

}  // namespace dialmend
