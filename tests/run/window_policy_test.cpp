#include "run/window_policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "run/log_file.h"
#include "run/undo_record.h"
#include "run/window_texts.h"
#include "tests/fakes/test_folder.h"

// The main window's behaviour without a display: a screen that keeps what it is told to draw,
// over a real folder of cards.

namespace dialmend {

void PrintTo(const ControlLook& look, std::ostream* out) {
  *out << '"' << look.text << "\" tip \"" << look.tip << "\"" << (look.enabled ? "" : " disabled")
       << (look.visible ? "" : " hidden") << (look.checked ? " checked" : "");
}

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view kAnn =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=HOME:0171 930 8890\r\nEND:VCARD\r\n";
constexpr std::string_view kBob =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob\r\nTEL;TYPE=WORK:0181 123 4567\r\nEND:VCARD\r\n";
constexpr std::string_view kCy =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Cy\r\nTEL;TYPE=HOME:(020) 7930 8890\r\nEND:VCARD\r\n";

// Keeps what the policy draws, as a toolkit's controls would, and answers its questions.
class Screen : public WindowHost {
 public:
  std::map<Control, ControlLook> looks;
  WindowLook window;
  std::string pane;
  int paints = 0;
  int beeps = 0;
  int scrolled = 0;
  std::vector<std::string> informed;
  std::vector<std::string> asked;
  std::deque<AbortAnswer> abort_answers;  // Cancel once they run out
  std::deque<bool> yes_answers;           // No once they run out
  std::function<void(int)> at_yield;      // called with the yield's number
  int yields = 0;

  void DrawControl(Control control, const ControlLook& look, const ControlLook* before) override {
    // What the policy thinks is shown is what was last drawn.
    if (before != nullptr) {
      EXPECT_EQ(*before, looks[control]) << SpecOf(control).name;
    }
    looks[control] = look;
  }
  void DrawWindow(const WindowLook& look, const WindowLook* before) override {
    if (before != nullptr) {
      EXPECT_EQ(*before, window);
    }
    window = look;
  }
  void AppendToPane(std::string_view text) override { pane += text; }
  void ClearPane() override { pane.clear(); }
  void ScrollPaneToEnd() override { ++scrolled; }
  void PaintNow() override { ++paints; }
  void Beep() override { ++beeps; }
  void Inform(const std::string& text) override { informed.push_back(text); }
  AbortAnswer AskAbort(const std::string& question) override {
    asked.push_back(question);
    return Next(abort_answers, AbortAnswer::Cancel);
  }
  bool AskYesNo(const std::string& question) override {
    asked.push_back(question);
    return Next(yes_answers, false);
  }
  void ProcessEvents(bool) override {
    ++yields;
    if (at_yield) at_yield(yields);
  }
  void EndProgram() override {}

  const std::string& Text(Control control) { return looks[control].text; }

 private:
  template <class T>
  static T Next(std::deque<T>& answers, T otherwise) {
    if (answers.empty()) return otherwise;
    T answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class WindowPolicyTest : public testing::Test {
 protected:
  void SetUp() override {
    m_folder = FreshTestFolder("policy");
    WriteTestFile(m_folder / "profile" / "book" / "ann.vcf", kAnn);
    WriteTestFile(m_folder / "profile" / "book" / "bob.vcf", kBob);
    WriteTestFile(m_folder / "profile" / "book" / "cy.vcf", kCy);
    Open((m_folder / "profile").string());
  }
  void TearDown() override {
    m_policy.reset();
    fs::remove_all(m_folder);
  }

  // A fresh window over `profile`, drawn.
  void Open(const std::string& profile) {
    m_policy.reset();
    m_screen = Screen();
    WindowPolicy::Seams seams;
    seams.clock = [this] { return m_now += m_tick; };
    seams.default_log_path = [this] { return FreeLogPath(); };
    seams.remembered_contacts = [this] { return m_remembered; };
    seams.remember_contacts = [this](const std::string& path) { m_remembered = path; };
    m_policy = std::make_unique<WindowPolicy>(m_screen, profile, std::move(seams));
    m_policy->DrawAll();
  }
  // The first free numbered log name in the test's folder.
  std::string FreeLogPath() {
    return DefaultLogPath(m_folder.string(), [](const std::string& p) { return fs::exists(p); });
  }
  // What the user does on screen, which the toolkit shows before the policy hears of it.
  void Tick(Control box, bool ticked) {
    m_screen.looks[box].checked = ticked;
    m_policy->Ticked(box, ticked);
  }
  void Type(Control box, const std::string& text) {
    m_screen.looks[box].text = text;
    m_policy->Edited(box, text);
  }
  void ChooseStyle(int index) {
    for (int i = 0; i < 4; ++i) {
      m_screen.looks[static_cast<Control>(static_cast<int>(Control::Style0) + i)].checked =
          i == index;
    }
    m_policy->StyleChosen(index);
  }
  // Each control and the window show what the policy says they show.
  void ExpectDrawnAsPolicySays() {
    for (const ControlSpec& spec : MainControls()) {
      EXPECT_EQ(m_screen.looks[spec.control], m_policy->Look(spec.control)) << spec.name;
    }
    EXPECT_EQ(m_screen.window, m_policy->Window());
  }
  std::string Card(const char* name) { return ReadTestFile(m_folder / "profile" / "book" / name); }

  fs::path m_folder;
  Screen m_screen;
  std::unique_ptr<WindowPolicy> m_policy;
  std::chrono::steady_clock::time_point m_now{};
  std::chrono::milliseconds m_tick = 50ms;
  std::string m_remembered;  // as the window's settings keep it between sittings
};

TEST_F(WindowPolicyTest, StartsIdleWithTheStyleChooserAndTheDefaultLogPath) {
  EXPECT_EQ(m_screen.window.title, "Dialmend");
  EXPECT_FALSE(m_screen.window.log_shown);
  EXPECT_EQ(m_screen.Text(Control::Go), " &Go!");
  EXPECT_EQ(m_screen.looks[Control::Go].tip, "Start simulation");
  EXPECT_TRUE(m_screen.looks[Control::Style0].checked);
  EXPECT_TRUE(m_screen.looks[Control::SaveLog].checked);
  EXPECT_FALSE(m_screen.looks[Control::Update].checked);
  EXPECT_FALSE(m_screen.looks[Control::Find].enabled);
  EXPECT_FALSE(m_screen.looks[Control::Folders].visible);
  EXPECT_EQ(m_screen.Text(Control::Folders), "0");
  EXPECT_FALSE(m_screen.looks[Control::Test].visible || m_screen.looks[Control::Test].enabled);
  EXPECT_FALSE(m_screen.looks[Control::Undo].visible);
  EXPECT_EQ(m_screen.Text(Control::LogFile), FreeLogPath());
  EXPECT_EQ(m_screen.Text(Control::Profile), (m_folder / "profile").string());
}

struct ModeRow {
  bool update;
  std::string mode;
};

class WindowPolicyModeTest : public WindowPolicyTest,
                             public testing::WithParamInterface<ModeRow> {};

TEST_P(WindowPolicyModeTest, TheRunButtonsSayWhatAPressDoesNowInTheRunsMode) {
  const std::string mode = GetParam().mode;
  if (GetParam().update) Tick(Control::Update, true);
  EXPECT_EQ(m_screen.looks[Control::Go].tip, "Start " + mode);
  std::vector<std::string> seen;
  const auto note = [&] {
    for (Control c : {Control::Go, Control::Quit, Control::About}) {
      seen.push_back(m_screen.Text(c) + "|" + m_screen.looks[c].tip);
    }
  };
  m_screen.at_yield = [&](int yield) {
    if (yield == 2 || yield == 3) m_policy->Go();  // pause, then resume
    if (yield <= 3) note();
  };
  m_policy->Go();
  note();
  m_policy->Go();  // reset
  note();
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "&Pause|Pause " + mode, "&Abort|Abort " + mode, "Ab&out|Click me...",
                      "&Resume|Resume " + mode, "&Abort|Abort " + mode, "Ab&out|Click me...",
                      "&Pause|Pause " + mode, "&Abort|Abort " + mode, "Ab&out|Click me...",
                      "&Reset|Reset " + mode, "&Quit|Get outta here", "&About|Click me...",
                      " &Go!|Start " + mode, "&Quit|Get outta here", "&About|Click me..."}));
  EXPECT_EQ(m_screen.beeps, 1);
  ExpectDrawnAsPolicySays();
}

INSTANTIATE_TEST_SUITE_P(WindowPolicy, WindowPolicyModeTest,
                         testing::Values(ModeRow{false, "simulation"}, ModeRow{true, "update"}),
                         [](const auto& info) { return info.param.mode; });

TEST_F(WindowPolicyTest, TheUpdateBoxNamesTheCountersAndTheRunsMode) {
  Tick(Control::Update, true);
  EXPECT_EQ(m_screen.Text(Control::UpdatedLabel), "Contacts Updated");
  EXPECT_EQ(m_screen.Text(Control::NumbersLabel), "Phone Nos Updated");
  Tick(Control::Update, false);
  EXPECT_EQ(m_screen.Text(Control::UpdatedLabel), "Contacts To Update");
  EXPECT_EQ(m_screen.Text(Control::NumbersLabel), "Phone Nos To Update");
  EXPECT_EQ(m_screen.looks[Control::Go].tip, "Start simulation");
}

TEST_F(WindowPolicyTest, TheTitleShowsHowFarARunHasComeUntilItFinishes) {
  std::vector<std::string> titles;
  m_screen.at_yield = [&](int) { titles.push_back(m_screen.window.title); };
  m_policy->Go();
  ASSERT_FALSE(titles.empty());
  EXPECT_EQ(titles.front(), "Dialmend - 0 of 3 contacts");
  EXPECT_NE(std::find(titles.begin(), titles.end(),
                      "Dialmend - 2 of 3 contacts, less than a minute left"),
            titles.end());
  EXPECT_EQ(m_screen.window.title, "Dialmend - Finished!");
  m_policy->Go();
  EXPECT_EQ(m_screen.window.title, "Dialmend");
}

// A count's text is drawn whole only in a box no other shown control covers.
TEST_F(WindowPolicyTest, NoTwoControlsShownDuringARunOverlap) {
  std::vector<Control> shown;
  m_screen.at_yield = [&](int) {
    if (!shown.empty()) return;
    for (const ControlSpec& spec : MainControls()) {
      if (m_screen.looks[spec.control].visible) shown.push_back(spec.control);
    }
  };
  m_policy->Go();
  ASSERT_FALSE(shown.empty());
  for (const Control a : shown) {
    for (const Control b : shown) {
      const TwipsRect& p = SpecOf(a).place;
      const TwipsRect& q = SpecOf(b).place;
      const bool apart = p.left + p.width <= q.left || q.left + q.width <= p.left ||
                         p.top + p.height <= q.top || q.top + q.height <= p.top;
      // Labels of one column may touch their neighbours above and below, not what is beside.
      const bool one_column = p.left == q.left && p.width == q.width;
      EXPECT_TRUE(one_column || apart) << SpecOf(a).name << " and " << SpecOf(b).name;
    }
  }
}

TEST_F(WindowPolicyTest, SettingsChangeOnlyWhileIdleAndAnEmptyReplacementIsUnticked) {
  Tick(Control::Replace, true);
  EXPECT_TRUE(m_screen.looks[Control::Find].enabled);
  Tick(Control::SaveLog, false);
  EXPECT_FALSE(m_screen.looks[Control::LogFile].enabled ||
               m_screen.looks[Control::SetFile].enabled);
  std::map<Control, ControlLook> during;
  m_screen.at_yield = [&](int) { during = m_screen.looks; };
  m_policy->Go();
  for (Control c : {Control::Update, Control::SaveLog, Control::Replace, Control::Options,
                    Control::Profile, Control::SetProfile}) {
    EXPECT_FALSE(during[c].enabled) << SpecOf(c).name;
  }
  EXPECT_FALSE(during[Control::Style0].visible || during[Control::StyleTag].visible);
  EXPECT_TRUE(during[Control::Checked].visible && during[Control::CheckedLabel].visible);
  EXPECT_FALSE(during[Control::Replace].checked) << "nothing to search for";
  m_policy->Go();  // reset
  EXPECT_EQ(m_screen.Text(Control::Checked), "0");
  EXPECT_FALSE(m_screen.looks[Control::Checked].visible);
  EXPECT_TRUE(m_screen.looks[Control::Replace].enabled);
  EXPECT_FALSE(m_screen.looks[Control::Replace].checked || m_screen.looks[Control::Find].enabled);
  EXPECT_FALSE(m_screen.looks[Control::LogFile].enabled) << "the log is still not saved";
  ExpectDrawnAsPolicySays();
}

TEST_F(WindowPolicyTest, ARunReachesTheScreenAtMostOnceAFrameAndWholeAtItsEnd) {
  for (const auto tick : {0ms, WindowPolicy::kFrame}) {
    m_tick = tick;
    Open((m_folder / "profile").string());
    Tick(Control::SaveLog, false);
    std::vector<std::string> counted;
    m_screen.at_yield = [&](int) { counted.push_back(m_screen.Text(Control::Checked)); };
    m_policy->Go();
    // Frozen, the clock lets the first frame through and no other until the run ends.
    if (tick == 0ms) {
      EXPECT_EQ(counted, std::vector<std::string>(counted.size(), "0"));
      EXPECT_EQ(m_screen.paints, 2);
    } else {
      EXPECT_NE(counted.back(), "0");
      EXPECT_GT(m_screen.paints, static_cast<int>(counted.size()));
    }
    EXPECT_EQ(m_screen.Text(Control::Checked), "3");
    EXPECT_NE(m_screen.pane.find("Contacts checked: 3\r\n"), std::string::npos);
    EXPECT_EQ(m_policy->PendingLog(), "");
  }
}

TEST_F(WindowPolicyTest, ANumberedLogMovesOnPastOthersAndSimulationsKeepOneFileButNotAnUpdates) {
  const std::string first = m_screen.Text(Control::LogFile);
  const std::string second = *NextLogPath(first);
  WriteTestFile(first, "another run's log");
  // A run that saves no log makes no file of this window's own.
  Tick(Control::SaveLog, false);
  m_policy->Go();
  m_policy->Go();  // reset
  Tick(Control::SaveLog, true);
  m_policy->Go();
  EXPECT_EQ(ReadTestFile(first), "another run's log");
  EXPECT_EQ(m_screen.Text(Control::LogFile), second);
  EXPECT_EQ(ReadTestFile(second), m_screen.pane);
  // Repeated simulations, then an update, replace this window's own simulation log.
  for (const bool update : {false, false, true}) {
    m_policy->Go();  // reset
    EXPECT_EQ(m_screen.Text(Control::LogFile), second);
    Tick(Control::Update, update);
    m_policy->Go();
    EXPECT_EQ(m_screen.Text(Control::LogFile), second);
    EXPECT_EQ(ReadTestFile(second), m_screen.pane);
  }
  EXPECT_NE(ReadTestFile(second).find("Update complete - "), std::string::npos);
  EXPECT_FALSE(fs::exists(*NextLogPath(second)));
  // The next run must not replace the update's log.
  m_policy->Go();
  EXPECT_EQ(m_screen.Text(Control::LogFile), *NextLogPath(second));
}

struct EndRow {
  const char* name;
  bool broken_card;
  bool abort;
  bool log_shown;
};

class WindowPolicyEndTest : public WindowPolicyTest, public testing::WithParamInterface<EndRow> {};

TEST_P(WindowPolicyEndTest, TheLogShowsItselfAfterAProblemOrAnAbort) {
  if (GetParam().broken_card) {
    WriteTestFile(m_folder / "profile" / "book" / "broken.vcf", "BEGIN:VCARD\r\nFN:Broken\r\n");
  }
  Tick(Control::SaveLog, false);
  m_screen.abort_answers = {AbortAnswer::Yes};
  m_screen.at_yield = [&](int yield) {
    if (GetParam().abort && yield == 2) m_policy->Quit();
  };
  m_policy->Go();
  EXPECT_EQ(m_screen.window.log_shown, GetParam().log_shown);
  EXPECT_EQ(m_screen.looks[Control::Log].visible, GetParam().log_shown);
  EXPECT_EQ(m_screen.Text(Control::ShowLog), GetParam().log_shown ? "Hide Log" : "Show &Log");
  EXPECT_EQ(m_screen.scrolled, GetParam().log_shown ? 1 : 0);
  EXPECT_EQ(m_screen.window.title, "Dialmend - Finished!");
  const std::vector<std::string> asked{std::string(kAbortQuestion)};
  EXPECT_EQ(m_screen.asked, GetParam().abort ? asked : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(WindowPolicy, WindowPolicyEndTest,
                         testing::Values(EndRow{"Clean", false, false, false},
                                         EndRow{"Problem", true, false, true},
                                         EndRow{"Aborted", false, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowPolicyTest, ShowLogTogglesTheWindowAndHandsThePaneWhatWasLogged) {
  Tick(Control::SaveLog, false);
  std::string shown;
  m_tick = 0ms;
  m_screen.at_yield = [&](int yield) {
    if (yield != 3) return;
    m_policy->ShowLogPressed();
    shown = m_screen.pane;
  };
  m_policy->Go();
  EXPECT_NE(shown.find("\\book\\Ann"), std::string::npos) << "logged while hidden";
  m_policy->ShowLogPressed();
  EXPECT_FALSE(m_screen.window.log_shown);
  EXPECT_EQ(m_screen.Text(Control::ShowLog), "Show Log");
}

TEST_F(WindowPolicyTest, UndoIsOfferedOnlyAfterAnUpdateAndAsksFirst) {
  m_policy->Go();
  EXPECT_FALSE(m_screen.looks[Control::Undo].visible) << "after a simulation";
  m_policy->Go();
  Tick(Control::Update, true);
  m_policy->Go();
  EXPECT_TRUE(m_screen.looks[Control::Undo].visible && m_screen.looks[Control::Undo].enabled);
  const std::string updated = Card("ann.vcf");
  ASSERT_NE(updated, kAnn);
  const std::string started =
      ReadUndoRecord(m_policy->Controller().RecordPath()).Value().started_text;
  m_policy->Undo();  // answered No
  EXPECT_EQ(Card("ann.vcf"), updated);
  m_screen.yes_answers = {true};
  std::string during;
  m_screen.at_yield = [&](int) {
    if (during.empty()) during = m_screen.Text(Control::FoldersLabel);
  };
  m_policy->Undo();
  EXPECT_EQ(m_screen.asked, std::vector<std::string>(2, UndoQuestion(started)));
  EXPECT_EQ(Card("ann.vcf"), kAnn);
  EXPECT_FALSE(m_screen.looks[Control::Undo].visible) << "after the undo itself";
  EXPECT_EQ(during, "Left because changed");
  const auto counters = [this] {
    std::string shown;
    for (int i = 0; i < 4; ++i) {
      const auto label = static_cast<Control>(static_cast<int>(Control::FoldersLabel) + i);
      shown += m_screen.Text(label) + " " +
               m_screen.Text(static_cast<Control>(static_cast<int>(label) + 4)) + "|";
    }
    return shown;
  };
  EXPECT_EQ(counters(),
            "Left because changed 0|Could not find 0|Contacts Restored 2|"
            "Numbers Restored 2|");
  ExpectDrawnAsPolicySays();
  m_policy->Go();  // reset
  m_policy->Go();
  EXPECT_EQ(counters(),
            "Folders Processed 1|Contacts Checked 3|Contacts Updated 2|"
            "Phone Nos Updated 2|");
}

TEST_F(WindowPolicyTest, ChosenContactsAreCheckedAndARefusalKeepsTheOldOnes) {
  const fs::path empty = m_folder / "empty";
  fs::create_directories(empty);
  const std::string old = m_screen.Text(Control::Profile);
  EXPECT_EQ(m_policy->ContactsOffered(), old);
  m_policy->ContactsChosen(empty.string());
  EXPECT_EQ(m_screen.informed, std::vector<std::string>{RefusedContactsText(
                                   empty.string(), "it holds no contact cards (.vcf files)", old)});
  EXPECT_EQ(m_screen.Text(Control::Profile), old);
  WriteTestFile(m_folder / "other" / "dee.vcf", kAnn);
  m_policy->ContactsChosen((m_folder / "other").string());
  EXPECT_EQ(m_screen.Text(Control::Profile), (m_folder / "other").string());
  Tick(Control::SaveLog, false);
  m_policy->Go();
  EXPECT_EQ(m_screen.Text(Control::Checked), "1");
}

TEST_F(WindowPolicyTest, TheContactsChosenLastReopenUnlessGivenOrGone) {
  const std::string other = (m_folder / "other").string();
  m_policy->ContactsChosen((m_folder / "nowhere").string());
  EXPECT_EQ(m_remembered, "") << "a refused choice";
  WriteTestFile(m_folder / "other" / "dee.vcf", kAnn);
  m_policy->ContactsChosen(other);
  EXPECT_EQ(m_remembered, other);
  Open("");
  EXPECT_EQ(m_screen.Text(Control::Profile), other);
  const std::string given = (m_folder / "profile").string();
  Open(given);
  EXPECT_EQ(m_screen.Text(Control::Profile), given);
  fs::remove_all(other);
  Open("");
  EXPECT_NE(m_screen.Text(Control::Profile), other);
  EXPECT_EQ(m_policy->ContactsOffered().find(other), std::string::npos);
  EXPECT_TRUE(m_screen.informed.empty());
}

TEST_F(WindowPolicyTest, TheBookChoiceOffersEachBookAndLimitsTheRunsToTheOneChosen) {
  using Books = std::vector<std::string>;
  WriteTestFile(m_folder / "profile" / "work" / "dee.vcf", kAnn);
  WriteTestFile(m_folder / "profile" / "work" / "displayname", "Work");
  Open((m_folder / "profile").string());
  EXPECT_EQ(m_screen.looks[Control::Book].choices, (Books{std::string(kAllBooks), "book", "Work"}));
  m_screen.looks[Control::Book].text = "Work";  // chosen on screen
  m_policy->BookChosen(2);
  Tick(Control::SaveLog, false);
  m_policy->Go();
  EXPECT_EQ(m_screen.Text(Control::Checked), "1");
  EXPECT_EQ(m_screen.pane.find("\\book\\"), std::string::npos) << m_screen.pane;
  // A store that is not folders on disk (a server) is asked for its books only when wanted.
  m_policy->Go();
  WriteTestFile(m_folder / "all.vcf", kBob);
  m_policy->ContactsChosen((m_folder / "all.vcf").string());
  EXPECT_EQ(m_screen.looks[Control::Book].choices, Books{std::string(kAllBooks)});
  m_policy->BookChoiceOpened();
  EXPECT_EQ(m_screen.looks[Control::Book].choices, (Books{std::string(kAllBooks), "all"}));
}

TEST_F(WindowPolicyTest, NoContactsFoundSaysWhatToDo) {
  Open("");
  Environment nowhere = SystemEnvironment();
  nowhere.variable = [this](const char* name) -> std::optional<std::string> {
    if (std::string_view(name) == "HOME") return m_folder.string();
    return std::nullopt;
  };
  m_policy->SetEnvironment(std::move(nowhere));
#ifndef _WIN32
  EXPECT_EQ(m_screen.Text(Control::Profile), "");
  EXPECT_EQ(m_screen.looks[Control::Profile].placeholder, kNoContactsFound);
  EXPECT_EQ(m_screen.looks[Control::Profile].tip.rfind("no address books found", 0), 0u);
  EXPECT_EQ(m_policy->ContactsOffered(), "");
#endif
  Tick(Control::SaveLog, false);
  m_policy->Go();
  ASSERT_EQ(m_screen.informed.size(), 1u);
#ifdef _WIN32
  const std::string said(kProfileProblem);
#else
  const std::string said = "Cannot open the contacts: no address books found";
#endif
  EXPECT_EQ(m_screen.informed[0].rfind(said, 0), 0u) << m_screen.informed[0];
  EXPECT_EQ(m_screen.pane, "");
}

TEST_F(WindowPolicyTest, TheFormatCheckClearsTheReplacementButNotTheChosenStyle) {
  ChooseStyle(2);
  Tick(Control::Replace, true);
  Type(Control::Find, "0485");
  m_policy->Options().style = StyleFromNumber(3);
  m_policy->FormatCheckRan();
  EXPECT_FALSE(m_screen.looks[Control::Replace].checked);
  EXPECT_EQ(m_screen.Text(Control::Find), "");
  EXPECT_TRUE(m_screen.looks[Control::Style2].checked);
  EXPECT_FALSE(m_screen.looks[Control::Style3].checked);
}

}  // namespace
}  // namespace dialmend
