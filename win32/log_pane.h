#pragma once

#include <windows.h>

#include <uxtheme.h>

#include <string>
#include <string_view>

#include "run/log_pane_model.h"

// The log pane in plain Win32: a read-only view of an append-only text in a fixed-width font
// that keeps the text in a temporary file, not in memory, and reads back and draws only the
// lines on screen. The mouse selects, Ctrl+C copies and Ctrl+A selects all.

namespace dialmend {

class LogPane {
 public:
  // The window class of the pane, for a dialog template's CONTROL line.
  static constexpr const wchar_t* kClassName = L"DialmendLogPane";
  // Registers the class with `instance`; false when Windows refuses.
  [[nodiscard]] static bool Register(HINSTANCE instance);
  // The pane behind the window `pane`, made with the class; null for another window.
  [[nodiscard]] static LogPane* Of(HWND pane);

  // Adds `text` at the very end and shows the end.
  void Append(std::string_view text);
  // Empties the pane and its selection.
  void Clear();
  // Brings the last line into view, at the bottom and the left.
  void ScrollToEnd();

  // The whole text as appended (CR kept), read back from the file.
  [[nodiscard]] std::string Logged() const { return m_model.Logged(); }
  // The selected text as shown (LF line ends).
  [[nodiscard]] std::string Selected() const { return m_model.Selected(); }
  // The first and last lines the pane shows, whole or in part.
  [[nodiscard]] int FirstShownLine() const { return m_first; }
  [[nodiscard]] int LastShownLine() const;
  [[nodiscard]] int LineCount() const { return m_model.LineCount(); }

 private:
  explicit LogPane(HWND window) : m_window(window) {}
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
  // The frame, as the theme draws a text box's, and the scroll bars.
  void PaintFrame(HRGN region);
  void Paint();
  void PaintLine(HDC dc, int line, int y);
  [[nodiscard]] int RowHeight() const;
  [[nodiscard]] int CharWidth() const;
  [[nodiscard]] int WholeRows() const;
  void UpdateScrollBars();
  void ScrollTo(int first, int left);
  void Scroll(int bar, int request);
  void OnKey(WPARAM key);
  void OnMouse(UINT message, WPARAM wparam, LPARAM lparam);
  // The pane's menu at the screen point (`x`, `y`): Copy and Select All.
  void ShowMenu(int x, int y);
  // The place in the text nearest the point (`x`, `y`) of the client area.
  [[nodiscard]] LogPaneModel::Spot SpotAt(int x, int y) const;
  void Copy() const;
  void TellProblem();

  HWND m_window;
  HFONT m_font = nullptr;
  HTHEME m_theme = nullptr;
  LogPaneModel m_model;
  int m_first = 0;  // the first line shown
  int m_left = 0;   // pixels scrolled to the right
  int m_rows = 1;   // whole rows shown, as the scroll bars last had it
};

}  // namespace dialmend
