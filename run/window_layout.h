#pragma once

#include <span>
#include <string_view>

// Where the controls of the program's windows go, whichever toolkit draws them: places in twips
// (1440 to the inch, 15 to the pixel at 96 dots per inch), which each view scales to its screen.

namespace dialmend {

// A place in twips within a window's client area.
struct TwipsRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// `twips` in pixels at `dpi` dots per inch, rounded to the nearest.
[[nodiscard]] int TwipsToPixels(int twips, double dpi);
// `pixels` at `dpi` in twips, rounded to the nearest.
[[nodiscard]] int PixelsToTwips(int pixels, double dpi);

// The main window's controls. Counters and their caption labels keep the order Folders,
// Checked, Updated, Numbers.
enum class Control {
  Icon,
  Title,
  Go,
  Quit,
  ShowLog,
  About,
  Undo,
  Test,
  StyleTag,
  Style0,
  Style1,
  Style2,
  Style3,
  FoldersLabel,
  CheckedLabel,
  UpdatedLabel,
  NumbersLabel,
  Folders,
  Checked,
  Updated,
  Numbers,
  Options,
  Update,
  ProfileLabel,
  Profile,
  SetProfile,
  BookLabel,
  Book,
  SaveLog,
  LogFile,
  SetFile,
  Replace,
  Find,
  To,
  Replacement,
  Log,
};
inline constexpr int kControlCount = static_cast<int>(Control::Log) + 1;

// What a control is, for a toolkit to make it.
enum class ControlKind { Image, Label, Button, CheckBox, RadioButton, TextBox, ChoiceBox, LogPane };

// How much taller than its place a toolkit makes a choice box whose height takes in its dropped
// list (Win32's): room for about eight entries.
inline constexpr int kChoiceListHeight = 2000;

// The face a control's text is drawn in.
enum class ControlFace {
  Normal,  // the window's own
  Bold,    // the buttons that drive a run and the window
  Title,   // the 18-point serif heading
  Fixed,   // the log, whose change lines are columns
};

// One control of the main window: its name (the object name a toolkit gives it), kind, face
// and place.
struct ControlSpec {
  Control control;
  std::string_view name;
  ControlKind kind;
  ControlFace face;
  TwipsRect place;
};

// Every control of the main window, in the order a toolkit makes them (top to bottom, as a
// reader meets them).
[[nodiscard]] std::span<const ControlSpec> MainControls();
[[nodiscard]] const ControlSpec& SpecOf(Control control);
// The controls Tab goes through, in reading order; labels and the Test button take no focus.
[[nodiscard]] std::span<const Control> TabOrder();

// The main window's client area: the log pane lies below the controls and shows only while the
// window is made taller.
inline constexpr int kMainWidth = 5040;
[[nodiscard]] int MainHeight(bool log_shown);
// The log pane's least height: it takes whatever more room a larger window gives it.
inline constexpr int kLogMinHeight = 2100;

// The About box's controls.
enum class AboutControl {
  Icon,
  Title,
  Version,
  Rights,
  Description,
  Separator,
  Warning,
  Ok,
  SysInfo
};

struct AboutSpec {
  AboutControl control;
  std::string_view name;
  TwipsRect place;
};

[[nodiscard]] std::span<const AboutSpec> AboutControls();
[[nodiscard]] const TwipsRect& PlaceOf(AboutControl control);
inline constexpr int kAboutWidth = 5835;
inline constexpr int kAboutHeight = 4080;

// The International Options dialog's controls, top to bottom: a dialog laid out by hand puts
// them at their places, a toolkit with layouts of its own stacks them in this order.
enum class OptionsControl {
  Icon,
  Title,
  Introduction,
  PrefixFrame,
  Prefix0,
  Prefix1,
  Prefix2,
  CodeFrame,
  Code0,
  Code1,
  Code2,
  LocaleNote,
  OldCodes,
  Ok,
};

struct OptionsSpec {
  OptionsControl control;
  std::string_view name;
  std::string_view caption;
  TwipsRect place;
  std::string_view tip = {};  // empty for none
};

[[nodiscard]] std::span<const OptionsSpec> OptionsControls();
inline constexpr int kOptionsWidth = 4500;
inline constexpr int kOptionsHeight = 5175;

}  // namespace dialmend
