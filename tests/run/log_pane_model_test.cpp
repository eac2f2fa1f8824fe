#include "run/log_pane_model.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/fakes/test_folder.h"

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// Lines "line 0" ... as logged (CR LF), `count` of them.
std::string Numbered(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += "line " + std::to_string(i) + "\r\n";
  return text;
}

TEST(LogStore, LinesAcrossBlockBoundariesComeBackWholeAndAClearStartsAgain) {
  LogStore store;
  const int count = 3 * LogStore::kLinesPerBlock + 5;
  const std::string text = Numbered(count);
  // Pieces that end anywhere, between a CR and its LF too.
  for (std::size_t at = 0; at < text.size(); at += 7) store.Append(text.substr(at, 7));
  EXPECT_EQ(store.LineCount(), count + 1);
  for (int i = 0; i < count; ++i) ASSERT_EQ(store.Line(i), "line " + std::to_string(i));
  EXPECT_EQ(store.Line(count), "");
  EXPECT_EQ(store.Text(), text);
  store.Append("tail");
  EXPECT_EQ(store.Line(count), "tail");
  store.Clear();
  EXPECT_EQ(store.LineCount(), 0);
  store.Append("again\r\n");
  EXPECT_EQ(store.Line(0), "again");
  EXPECT_EQ(store.Text(), "again\r\n");
}

TEST(LogStore, MultiByteCharactersAtABlockEdgeStayWhole) {
  LogStore store;
  const int edge = LogStore::kLinesPerBlock;
  store.Append(Numbered(edge - 1) + "Zo\xC3");
  store.Append("\xAB\r\n\xC3\x85ngstr\xC3\xB6m");
  EXPECT_EQ(store.Line(edge - 1), "Zo\xC3\xAB");
  EXPECT_EQ(store.Line(edge), "\xC3\x85ngstr\xC3\xB6m");
  EXPECT_EQ(store.Widest(), 8u);
  EXPECT_EQ(store.Shown(edge - 1, 2, edge, 2), "\xC3\xAB\n\xC3\x85");
}

TEST(LogStore, KeepsItsTextInAFileThatLeavesNothingBehind) {
  const fs::path folder = FreshTestFolder("log_store");
#ifdef _WIN32
  const char* variable = "TMP";
#else
  const char* variable = "TMPDIR";
#endif
  const char* saved = std::getenv(variable);
  const std::string before = saved != nullptr ? saved : "";
  const auto set = [&](const std::string& value) {
#ifdef _WIN32
    _putenv_s(variable, value.c_str());
#else
    if (saved == nullptr && value == before) {
      unsetenv(variable);
    } else {
      setenv(variable, value.c_str(), 1);
    }
#endif
  };
  set(folder.string());
  {
    LogStore store;
    store.Append(Numbered(10));
    EXPECT_EQ(store.TakeProblem(), "");
    EXPECT_EQ(store.Line(9), "line 9");
#ifndef _WIN32
    // Held open in the folder, under no name.
    bool held = false;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code error;
      held = held || fs::read_symlink(fd.path(), error).string().starts_with(folder.string() + "/");
    }
    EXPECT_TRUE(held);
    EXPECT_TRUE(fs::is_empty(folder));
#endif
  }
  set(before);
  EXPECT_TRUE(fs::is_empty(folder));
  fs::remove_all(folder);
}

TEST(LogPaneModel, ShowsTheTextWithoutCarriageReturnsAndAddsNoLineEnds) {
  LogPaneModel pane;
  pane.Append("one\r\ntwo\r");
  pane.Append("\nthree");
  pane.Append("four");
  EXPECT_EQ(pane.Shown(), "one\ntwo\nthreefour");
  EXPECT_EQ(pane.Logged(), "one\r\ntwo\r\nthreefour");
  EXPECT_EQ(pane.LineCount(), 3);
}

TEST(LogPaneModel, ASelectionSpansBlocksAndStaysPutAsTextArrives) {
  LogPaneModel pane;
  const int count = 2 * LogStore::kLinesPerBlock + 10;
  pane.Append(Numbered(count));
  pane.Press({1, 2}, false);
  pane.DragTo({count - 1, 4});
  std::string expected = Numbered(count).substr(std::string("line 0\r\nli").size());
  std::erase(expected, '\r');
  expected.resize(expected.size() - (" " + std::to_string(count - 1) + "\n").size());
  EXPECT_EQ(pane.Selected(), expected);
  pane.Append("more\r\n");
  EXPECT_EQ(pane.Selected(), expected);
  EXPECT_EQ(pane.SelectedPart(0), std::nullopt);
  const auto first = pane.SelectedPart(1);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(std::tie(first->begin, first->end, first->past_end), std::make_tuple(2, 6, true));
  const auto last = pane.SelectedPart(count - 1);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(std::tie(last->begin, last->end, last->past_end), std::make_tuple(0, 4, false));
  // Shift and a press extend from where the selection started.
  pane.Press({0, 0}, true);
  EXPECT_EQ(pane.Selected(), "line 0\nli");
}

TEST(LogPaneModel, SelectAllTakesEveryLineAndAClearTakesTheSelectionToo) {
  LogPaneModel pane;
  pane.Append("a\r\nb");
  pane.SelectAll();
  EXPECT_EQ(pane.Selected(), "a\nb");
  pane.Clear();
  EXPECT_FALSE(pane.HasSelection());
  EXPECT_EQ(pane.Selected(), "");
}

TEST(LogPaneModel, TheLinesShownFollowTheRowsAndTheEnd) {
  EXPECT_EQ(LastShownLine(0, 10, 4), 3);
  EXPECT_EQ(LastShownLine(5, 10, 100), 14);
  EXPECT_EQ(LastFirstLine(10, 4), 0);
  EXPECT_EQ(LastFirstLine(10, 100), 90);
}

}  // namespace
}  // namespace dialmend
