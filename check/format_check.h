#pragma once

#include <string>

#include "engine/number_options.h"

namespace dialmend {

// The two texts of the format check, one per message box. Each starts with its title and an
// empty line and ends with a line end after its last result line; line ends are "\n".
struct FormatCheckResult {
  std::string general;        // "Check general format handling"
  std::string international;  // "Check international format handling"
};

// Converts the 35 fixed samples under the check's fixed sequence of option settings and returns
// both texts. Never fails.
//
// `options` is the live option state: steps that leave an option alone convert with the value
// the caller handed in, and nothing is saved or restored, so afterwards `options` holds style 3,
// prefix 2, leading zero 1 and custom replacement off with empty search and replacement texts.
// Any search and replacement texts the caller had are lost.
//
// The window's cmdTest_Click hands in its option state, writes the custom replacement values back
// to chkReplace, txtFind and txtReplace (unticked, empty, disabled), leaves the style and
// international option buttons as the user last set them, and shows `general` and then
// `international` in modal boxes. Both groups can be converted before the first box shows: nothing
// can change the options while a modal box is open.
[[nodiscard]] FormatCheckResult RunFormatCheck(NumberOptions& options);

}  // namespace dialmend
