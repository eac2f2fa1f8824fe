#pragma once

#include <string>
#include <utility>
#include <vector>

#include "run/run_controller.h"

// A view for tests that drive whole runs through the controller: it shows nothing, answers the
// Abort question with Yes, keeps every message and gives a fixed time. A test supplies the run
// (PrepareRun) and overrides what it watches.

namespace dialmend {

class QuietView : public RunView {
 public:
  // `now` is every time the log shows.
  explicit QuietView(std::string now = "NOW") : m_now(std::move(now)) {}

  void ShowStarted(bool) override {}
  void ShowPaused(bool) override {}
  void ShowResumed(bool) override {}
  void ShowFinished(bool) override {}
  void ShowReset(bool) override {}
  void ShowCounters(const RunCounters&) override {}
  AbortAnswer AskAbort() override { return AbortAnswer::Yes; }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void EndProgram() override {}
  void ProcessEvents(bool) override {}
  std::string NowText() override { return m_now; }

  std::vector<std::string> messages;

 private:
  std::string m_now;
};

}  // namespace dialmend
