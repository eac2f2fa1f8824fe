#pragma once

#include <string>
#include <string_view>

// The texts the program's windows show alike, whichever toolkit draws them: the main window's
// tooltips, the About box and the questions the windows ask.

namespace dialmend {

// The main window's tooltips.
inline constexpr std::string_view kQuitTip = "Get outta here";
inline constexpr std::string_view kShowLogTip = "Does exactly what it says on the button";
inline constexpr std::string_view kAboutTip = "Click me...";
inline constexpr std::string_view kUndoTip = "Put back the numbers this update changed";
#ifdef _WIN32
inline constexpr std::string_view kStyleTip =
    "Select default style if you use Outlook's phone dialer";
#else
inline constexpr std::string_view kStyleTip = "Select default style if you dial from your contacts";
#endif
inline constexpr std::string_view kOptionsTip = "Options for UK +44 prefix";
inline constexpr std::string_view kSetProfileTip = "Choose the contacts: a folder or a .vcf file";
inline constexpr std::string_view kBookTip = "Run over one address book of the contacts only";
// The first entry of the address book choice, and the one chosen at first.
inline constexpr std::string_view kAllBooks = "All address books";
inline constexpr std::string_view kSetFileTip = "Change location/filename";
inline constexpr std::string_view kReplaceTip =
    "Must match first & subsequent characters to be replaced";
inline constexpr std::string_view kFindTip = "Search string";
inline constexpr std::string_view kReplacementTip = "Replacement string";

// The check box at the foot of the International Options dialog, and its tooltip.
inline constexpr std::string_view kOldCodesCaption = "&Change only numbers with an old code";
inline constexpr std::string_view kOldCodesTip =
    "Leaves every number without an old area code exactly as written, foreign numbers "
    "included, so only contacts with an old number are changed";

// The Go and Quit buttons' tooltip for what a press does now: `verb` ("Start", "Pause",
// "Resume", "Reset", "Abort") and the run's mode, as in "Start simulation" or "Pause update".
[[nodiscard]] std::string RunButtonTip(std::string_view verb, bool update);

// What the contacts box says when the default search finds no contacts.
inline constexpr std::string_view kNoContactsFound = "none found: choose them with \"...\"";

// Why the contacts at `chosen` are refused (`reason`, as CheckProfile gives it), and that those
// at `current` stay chosen.
[[nodiscard]] std::string RefusedContactsText(std::string_view chosen, std::string_view reason,
                                              std::string_view current);

// Why the log file chosen at `path` is refused, its folder `folder` being missing, and that
// the user chooses again.
[[nodiscard]] std::string MissingLogFolderText(std::string_view path, std::string_view folder);

// Why the contacts at `place` (as the user sees the path; empty for the default ones) could not
// be opened, in the store's own words: `reason`, led by the quoted path unless it names it, or
// alone when it is a sentence of its own. Outlook's profile (Windows, `place` empty) keeps the
// two lines, with the reason on a third.
[[nodiscard]] std::string ProfileProblemText(std::string_view place, std::string_view reason);

// The question asked when Quit is pressed during a run, the same for a simulation.
inline constexpr std::string_view kAbortQuestion =
    "Update paused - the process may be resumed at any time.\n\n"
    "Are you sure you want to abort?";

// The question asked before the update started at `started` (as its log shows it) is undone.
[[nodiscard]] std::string UndoQuestion(std::string_view started);

// The About box's notice of rights, description and warning; lines end in "\n".
inline constexpr std::string_view kAboutRights = "Copyright (C) 2026 the Dialmend developers";
// The words, spelling included, are the program's own from its first release; only where they
// name Outlook on a system without it do they speak of the address book instead.
#ifdef _WIN32
inline constexpr std::string_view kAboutDescription =
    "This utility is designed to update contacts in Microsoft\u00AE Outlook with the UK area "
    "code changes effective from 22 April 2000. It can also perform customised number "
    "formatting to improve Outlook to mobile device syncronisation.\n\n"
    "Use the simulation facility to create a log of the proposed changes and examine this "
    "before performing the actual update.\n"
    "Although this program has been throughly tested you should also backup your personal "
    "folders file before updating.";
#else
inline constexpr std::string_view kAboutDescription =
    "This utility is designed to update contacts in your address book with the UK area "
    "code changes effective from 22 April 2000. It can also perform customised number "
    "formatting to improve address book to mobile device syncronisation.\n\n"
    "Use the simulation facility to create a log of the proposed changes and examine this "
    "before performing the actual update.\n"
    "Although this program has been throughly tested you should also backup your contacts "
    "before updating.";
#endif
inline constexpr std::string_view kAboutWarning =
    "Warning: Dialmend rewrites the telephone numbers in your contact files. Every "
    "update can be undone: press Undo in this window once it has finished, or run "
    "dialmend-run --undo.";

}  // namespace dialmend
