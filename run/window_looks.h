#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/number_options.h"
#include "run/contact_run.h"
#include "run/run_controller.h"
#include "run/window_layout.h"

// What each control of the main window shows in each state of the window: a pure function of
// that state, so both windows draw the same and it can be checked without a display.

namespace dialmend {

// What one control shows.
struct ControlLook {
  std::string text;         // caption, a text box's text or a counter
  std::string tip;          // tooltip; empty for none
  std::string placeholder;  // what an empty text box shows, greyed
  bool enabled = true;
  bool visible = true;
  bool checked = false;  // check boxes and radio buttons
  // A choice box's entries, in order; `text` is the chosen one.
  std::vector<std::string> choices;
  bool operator==(const ControlLook&) const = default;
};

// What the window itself shows.
struct WindowLook {
  std::string title;
  bool log_shown = false;  // tall enough for the log pane, and resizable
  bool operator==(const WindowLook&) const = default;
};

// Where the contacts are, as the contacts box shows it.
struct ProfileShown {
  std::string text;  // the path or address; empty when the default search found nothing
  std::string tip;   // the same, or why nothing was found
};

// Everything the looks depend on.
struct WindowState {
  // As the window last showed it: a press of Go in Idle moves it on only once the run starts.
  RunState run = RunState::Idle;
  // The mode of the run under way or last run, for the run buttons' tooltips.
  bool run_update = false;
  // The run under way or last run puts an update back: the counters count what it restores.
  bool run_undo = false;
  bool update = false;  // the Update box
  bool save_log = true;
  // The style button the user last chose; the format check may leave the options on another.
  int style = 0;
  // The live options every conversion reads: the custom replacement, its texts and the rest.
  NumberOptions options;
  std::string log_path;
  ProfileShown profile;
  // The address books of the contacts as listed so far (none until they are), and the one the
  // runs go over: empty for all of them.
  std::vector<std::string> books;
  std::string book;
  RunCounters counters;  // as last presented
  // The contacts the store counted before the walk, when it could, and the run's time so far,
  // as last presented: the title shows how far the run has come.
  std::optional<std::int64_t> contact_total;
  std::chrono::steady_clock::duration run_time{};
  bool log_shown = false;
  // Show Log reads "Show &Log" until first pressed, then "Hide Log" and "Show Log".
  bool log_toggled = false;
  bool undo_offered = false;
  // While a call keeps the run waiting: what it waits for ("Waiting for Outlook").
  std::string waiting;
};

[[nodiscard]] ControlLook LookOf(Control control, const WindowState& state);
[[nodiscard]] WindowLook WindowLookOf(const WindowState& state);

}  // namespace dialmend
