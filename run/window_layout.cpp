#include "run/window_layout.h"

#include <array>
#include <cmath>

#include "run/window_texts.h"

namespace dialmend {
namespace {

// The contacts row and the address book row under it sit between the run mode and the log row:
// the window is two rows taller than it was without them, and the rows below them lower.
constexpr int kRow = 360;
constexpr int kRows = 2 * kRow;
constexpr int kLogTop = 3400 + kRows;
// The window without the log, and its least height with it.
constexpr int kHeightWithoutLog = 3405 + kRows;
constexpr int kHeightWithLog = 5520 + kRows;

using enum Control;
using enum ControlKind;
constexpr ControlFace kNormal = ControlFace::Normal;
constexpr ControlFace kBold = ControlFace::Bold;

constexpr std::array<ControlSpec, kControlCount> kMainControls = {{
    {Icon, "Icon", Image, kNormal, {120, 80, 885, 885}},
    {Title, "Title", Label, ControlFace::Title, {1170, 240, 2655, 375}},
    {Go, "Go", Button, kBold, {2520, 720, 1100, 495}},
    {Quit, "Quit", Button, kBold, {3840, 720, 1100, 495}},
    {ShowLog, "ShowLog", Button, kBold, {2520, 1320, 1100, 495}},
    {About, "About", Button, kBold, {3840, 1320, 1100, 495}},
    // Above Quit, in the place of the Test button nothing ever shows: no control moves.
    {Undo, "Undo", Button, kBold, {3840, 120, 1100, 495}},
    {Test, "cmdTest", Button, kBold, {3840, 120, 1095, 495}},
    {StyleTag, "StyleTag", Label, kNormal, {120, 960, 2295, 255}},
    {Style0, "Style0", RadioButton, kNormal, {120, 1200, 2175, 255}},
    {Style1, "Style1", RadioButton, kNormal, {120, 1440, 2175, 255}},
    {Style2, "Style2", RadioButton, kNormal, {120, 1680, 2175, 255}},
    {Style3, "Style3", RadioButton, kNormal, {120, 1920, 2175, 255}},
    // The counters share the style chooser's place; a run shows the one or the other. Each
    // caption and a count of seven digits fit in full, a space apart, up to the button column.
    {FoldersLabel, "lblFolders", Label, kNormal, {120, 1080, 1650, 255}},
    {CheckedLabel, "lblChecked", Label, kNormal, {120, 1320, 1650, 255}},
    {UpdatedLabel, "lblUpdated", Label, kNormal, {120, 1560, 1650, 255}},
    {NumbersLabel, "lblNumbers", Label, kNormal, {120, 1800, 1650, 255}},
    {Folders, "Folders", Label, kNormal, {1830, 1080, 690, 255}},
    {Checked, "Checked", Label, kNormal, {1830, 1320, 690, 255}},
    {Updated, "Updated", Label, kNormal, {1830, 1560, 690, 255}},
    {Numbers, "Numbers", Label, kNormal, {1830, 1800, 690, 255}},
    {Options, "cmdOption", Button, kNormal, {2520, 1920, 2415, 260}},
    {Update, "Update", CheckBox, kNormal, {120, 2280, 3615, 255}},
    {ProfileLabel, "lblProfile", Label, kNormal, {120, 2610, 1215, 255}},
    {Profile, "Profile", TextBox, kNormal, {1350, 2595, 3225, 285}},
    {SetProfile, "SetProfile", Button, kNormal, {4600, 2595, 300, 285}},
    {BookLabel, "lblBook", Label, kNormal, {120, 2610 + kRow, 1215, 255}},
    {Book, "Book", ChoiceBox, kNormal, {1350, 2595 + kRow, 3225, 285}},
    // Check boxes are 255 high, centred on their rows: at 195 their square is cut.
    {SaveLog, "SaveLog", CheckBox, kNormal, {120, 2610 + kRows, 1215, 255}},
    {LogFile, "LogFile", TextBox, kNormal, {1350, 2595 + kRows, 3225, 285}},
    {SetFile, "SetFile", Button, kNormal, {4600, 2595 + kRows, 300, 285}},
    {Replace, "chkReplace", CheckBox, kNormal, {120, 2970 + kRows, 1560, 255}},
    {Find, "txtFind", TextBox, kNormal, {1680, 2970 + kRows, 1215, 285}},
    {To, "lblTo", Label, kNormal, {3120, 3000 + kRows, 375, 255}},
    {Replacement, "txtReplace", TextBox, kNormal, {3580, 2980 + kRows, 1335, 285}},
    {Log, "Log", LogPane, ControlFace::Fixed, {0, kLogTop, kMainWidth, kLogMinHeight}},
}};

// Reading order: row by row from the top, left to right in a row, the style buttons one stop
// beside the buttons' column; the log pane, below everything, only while it shows.
constexpr Control kTabOrder[] = {Undo,    Go,      Quit,    Style0,  Style1,  Style2,      Style3,
                                 ShowLog, About,   Options, Update,  Profile, SetProfile,  Book,
                                 SaveLog, LogFile, SetFile, Replace, Find,    Replacement, Log};

constexpr AboutSpec kAboutControls[] = {
    {AboutControl::Icon, "Icon", {120, 120, 885, 885}},
    // As wide as the notice of rights beside it leaves room for.
    {AboutControl::Title, "lblTitle", {1170, 120, 1800, 480}},
    {AboutControl::Version, "lblVersion", {1170, 600, 1455, 255}},
    // Beside the title, where the heading leaves room for two lines.
    {AboutControl::Rights, "Rights", {3000, 180, 2700, 420}},
    // Below the icon, not under it: at 945 the first line's top was hidden.
    {AboutControl::Description, "lblDescription", {120, 1080, 5565, 1755}},
    // An etched line: a grey line with a white one just above it.
    {AboutControl::Separator, "Separator", {105, 2920, 5579, 30}},
    {AboutControl::Warning, "lblDisclaimer", {120, 3120, 3870, 825}},
    {AboutControl::Ok, "cmdOK", {4440, 3120, 1260, 345}},
    {AboutControl::SysInfo, "cmdSysInfo", {4440, 3600, 1245, 345}},
};

// The frames' buttons are 285 apart.
constexpr OptionsSpec kOptionsControls[] = {
    {OptionsControl::Icon, "Icon", "", {165, 165, 480, 480}},
    {OptionsControl::Title, "Title", "Dialmend", {765, 180, 2700, 450}},
    {OptionsControl::Introduction,
     "Introduction",
     "Options for handling +44 prefix on UK numbers. ",
     {165, 780, 4170, 255}},
    {OptionsControl::PrefixFrame, "fraPrefix", "What to do with prefix", {165, 1080, 4170, 1200}},
    {OptionsControl::Prefix0, "optPrefix0", "Leave +44 prefixes as found", {330, 1350, 3870, 255}},
    {OptionsControl::Prefix1, "optPrefix1", "Remove all +44 prefixes", {330, 1635, 3870, 255}},
    {OptionsControl::Prefix2,
     "optPrefix2",
     "Add +44 prefix to all UK numbers",
     {330, 1920, 3870, 255}},
    {OptionsControl::CodeFrame, "fraCode", "If prefix is present", {165, 2385, 4170, 1200}},
    {OptionsControl::Code0,
     "optCode0",
     "Leave leading zero in area code as found",
     {330, 2655, 3870, 255}},
    {OptionsControl::Code1,
     "optCode1",
     "Remove leading zero from area code",
     {330, 2940, 3870, 255}},
    {OptionsControl::Code2,
     "optCode2",
     "Include leading zero in area code",
     {330, 3225, 3870, 255}},
    {OptionsControl::LocaleNote,
     "LocaleNote",
     "N.B. This version of Dialmend assumes that all numbers without an international prefix "
     "are UK numbers. Versions for other locales can be generated on request.",
     {165, 3705, 4170, 660}},
    // At the foot, under the note: the options above it are the ones the dialog is named for.
    {OptionsControl::OldCodes,
     "chkOldCodes",
     kOldCodesCaption,
     {165, 4395, 4170, 255},
     kOldCodesTip},
    {OptionsControl::Ok, "cmdOK", "OK", {3210, 4725, 1125, 345}},
};

}  // namespace

int TwipsToPixels(int twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

int PixelsToTwips(int pixels, double dpi) {
  return static_cast<int>(std::lround(pixels * 1440.0 / dpi));
}

std::span<const ControlSpec> MainControls() {
  return kMainControls;
}

const ControlSpec& SpecOf(Control control) {
  return kMainControls[static_cast<std::size_t>(control)];
}

std::span<const Control> TabOrder() {
  return kTabOrder;
}

int MainHeight(bool log_shown) {
  return log_shown ? kHeightWithLog : kHeightWithoutLog;
}

std::span<const AboutSpec> AboutControls() {
  return kAboutControls;
}

const TwipsRect& PlaceOf(AboutControl control) {
  return kAboutControls[static_cast<std::size_t>(control)].place;
}

std::span<const OptionsSpec> OptionsControls() {
  return kOptionsControls;
}

}  // namespace dialmend
