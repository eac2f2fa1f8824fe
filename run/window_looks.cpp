#include "run/window_looks.h"

#include <array>
#include <string_view>

#include "run/run_progress.h"
#include "run/run_summary.h"
#include "run/window_texts.h"

namespace dialmend {
namespace {

bool Idle(const WindowState& state) {
  return state.run == RunState::Idle;
}

bool DuringRun(const WindowState& state) {
  return state.run == RunState::Running || state.run == RunState::Paused;
}

ControlLook Caption(std::string_view text, std::string_view tip = {}) {
  ControlLook look;
  look.text = text;
  look.tip = tip;
  return look;
}

ControlLook GoLook(const WindowState& state) {
  switch (state.run) {
    case RunState::Idle:
      // While idle the Update box picks the mode, and it is the box that is shown.
      return Caption(" &Go!", RunButtonTip("Start", state.update));
    case RunState::Running:
      return Caption("&Pause", RunButtonTip("Pause", state.run_update));
    case RunState::Paused:
      return Caption("&Resume", RunButtonTip("Resume", state.run_update));
    case RunState::Finished:
      return Caption("&Reset", RunButtonTip("Reset", state.run_update));
  }
  return {};
}

ControlLook QuitLook(const WindowState& state) {
  if (DuringRun(state)) return Caption("&Abort", RunButtonTip("Abort", state.run_update));
  return Caption("&Quit", kQuitTip);
}

// The buttons that drive the run and the window.
ControlLook ButtonLook(Control control, const WindowState& state) {
  switch (control) {
    case Control::Go:
      return GoLook(state);
    case Control::Quit:
      return QuitLook(state);
    case Control::ShowLog:
      if (!state.log_toggled) return Caption("Show &Log", kShowLogTip);
      return Caption(state.log_shown ? "Hide Log" : "Show Log", kShowLogTip);
    case Control::About:
      // During a run Alt+A must fire Abort, not move the focus between two buttons sharing it.
      return Caption(DuringRun(state) ? "Ab&out" : "&About", kAboutTip);
    case Control::Undo: {
      ControlLook look = Caption("U&ndo", kUndoTip);
      look.visible = look.enabled = state.undo_offered;
      return look;
    }
    default: {
      // The Test button, made hidden and disabled, and nothing shows or enables it.
      ControlLook look = Caption("Test", "Hide/Disable");
      look.visible = look.enabled = false;
      return look;
    }
  }
}

// The style chooser and the counters share one place: idle shows the one, a run the other.
ControlLook StyleLook(Control control, const WindowState& state) {
  static constexpr std::string_view kCaptions[] = {"(020) 1234 5678 (Default)", "020-1234 5678",
                                                   "020 1234 5678", "02012345678"};
  if (control == Control::StyleTag) {
    ControlLook look = Caption("Number formatting style");
    look.visible = Idle(state);
    return look;
  }
  const int index = static_cast<int>(control) - static_cast<int>(Control::Style0);
  ControlLook look = Caption(kCaptions[index], kStyleTip);
  look.visible = Idle(state);
  look.checked = index == state.style;
  return look;
}

// The counters' captions name what the Update box makes the run do, or what an undo does.
ControlLook CounterLook(Control control, const WindowState& state) {
  const bool update = state.run_undo ? state.run_update : state.update;
  const std::array<CounterText, 4> counters =
      WindowCounters(state.counters, update, state.run_undo);
  // In the order of Control: the four captions, then the four counts.
  const int index = static_cast<int>(control) - static_cast<int>(Control::FoldersLabel);
  const CounterText& counter = counters[static_cast<std::size_t>(index % 4)];
  ControlLook look =
      Caption(index < 4 ? std::string(counter.caption) : std::to_string(counter.count));
  look.visible = !Idle(state);
  return look;
}

// The rows of settings: each can change only while no run is in progress.
ControlLook SettingLook(Control control, const WindowState& state) {
  ControlLook look;
  look.enabled = Idle(state);
  switch (control) {
    case Control::Options:
      look.text = "&International Options";
      look.tip = kOptionsTip;
      break;
    case Control::Update:
      look.text = "&Update contacts (Simulate when unchecked)";
      look.checked = state.update;
      break;
    case Control::Profile:
      look.text = state.profile.text;
      look.tip = state.profile.tip;
      // An empty box alone would not say that nothing was found, nor what to do.
      if (look.text.empty()) look.placeholder = kNoContactsFound;
      break;
    case Control::SetProfile:
      look.text = "...";
      look.tip = kSetProfileTip;
      break;
    case Control::Book:
      look.text = state.book.empty() ? std::string(kAllBooks) : state.book;
      look.tip = kBookTip;
      look.choices.emplace_back(kAllBooks);
      look.choices.insert(look.choices.end(), state.books.begin(), state.books.end());
      break;
    case Control::SaveLog:
      look.text = "Save log to:-";
      look.checked = state.save_log;
      break;
    case Control::LogFile:
      look.text = state.log_path;
      look.enabled = look.enabled && state.save_log;
      break;
    case Control::SetFile:
      look.text = "...";
      look.tip = kSetFileTip;
      look.enabled = look.enabled && state.save_log;
      break;
    case Control::Replace:
      look.text = "Custom replace:-";
      look.tip = kReplaceTip;
      look.checked = state.options.replace;
      break;
    case Control::Find:
      look.text = state.options.find;
      look.tip = kFindTip;
      look.enabled = look.enabled && state.options.replace;
      break;
    default:
      look.text = state.options.replacement;
      look.tip = kReplacementTip;
      look.enabled = look.enabled && state.options.replace;
      break;
  }
  return look;
}

}  // namespace

ControlLook LookOf(Control control, const WindowState& state) {
  switch (control) {
    case Control::Icon:
      return {};
    case Control::Title:
      return Caption("Dialmend");
    case Control::ProfileLabel:
      return Caption("Contacts:");
    case Control::BookLabel:
      return Caption("Address book:");
    case Control::To:
      return Caption("to");
    case Control::Log: {
      // Hidden while the window is too short to show it, so Tab does not stop on it unseen.
      ControlLook look;
      look.visible = state.log_shown;
      return look;
    }
    case Control::Go:
    case Control::Quit:
    case Control::ShowLog:
    case Control::About:
    case Control::Undo:
    case Control::Test:
      return ButtonLook(control, state);
    case Control::StyleTag:
    case Control::Style0:
    case Control::Style1:
    case Control::Style2:
    case Control::Style3:
      return StyleLook(control, state);
    case Control::FoldersLabel:
    case Control::CheckedLabel:
    case Control::UpdatedLabel:
    case Control::NumbersLabel:
    case Control::Folders:
    case Control::Checked:
    case Control::Updated:
    case Control::Numbers:
      return CounterLook(control, state);
    default:
      return SettingLook(control, state);
  }
}

WindowLook WindowLookOf(const WindowState& state) {
  WindowLook look;
  look.log_shown = state.log_shown;
  if (state.run == RunState::Finished) {
    look.title = "Dialmend - Finished!";
  } else if (!state.waiting.empty()) {
    // A call has not been answered for a few seconds: the title says what the run waits for,
    // and how to stop it.
    look.title = "Dialmend - " + state.waiting + " (Esc stops the run)";
  } else if (DuringRun(state) && !state.run_undo) {
    // An undo walks only the contacts its record names, not the store's count of them.
    look.title = "Dialmend - " +
                 ProgressCaption(state.run_time, state.counters.checked, state.contact_total);
  } else {
    look.title = "Dialmend";
  }
  return look;
}

}  // namespace dialmend
