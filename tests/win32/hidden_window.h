#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "win32/dialog_layout.h"
#include "win32/main_window.h"
#include "win32/wide_text.h"

// The Win32 window created hidden for a test, and where its controls are and what they show.

namespace dialmend {

// Where control `id` of `dialog` is, in its client area.
inline RECT PlaceOf(HWND dialog, int id) {
  RECT place;
  GetWindowRect(GetDlgItem(dialog, id), &place);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
  return place;
}

// `at` in pixels at the screen's DPI.
inline RECT Pixels(const TwipsRect& at) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const int x = MulDiv(at.left, dpi, 1440);
  const int y = MulDiv(at.top, dpi, 1440);
  return {x, y, x + MulDiv(at.width, dpi, 1440), y + MulDiv(at.height, dpi, 1440)};
}

inline bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

inline std::wstring Caption(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

inline bool Shown(HWND window) {
  return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

struct HiddenWindow {
  explicit HiddenWindow(std::wstring profile = L"")
      : window(GetModuleHandleW(nullptr), std::move(profile)) {
    // Every question is answered from `answers` (IDCANCEL once they run out) and recorded.
    window.SetMessageBox([this](const std::wstring& text, UINT type) {
      asked.push_back(text);
      asked_types.push_back(type);
      if (on_ask) on_ask();
      if (answers.empty()) return IDCANCEL;
      const int answer = answers.front();
      answers.erase(answers.begin());
      return answer;
    });
    created = window.Create();
  }
  // The window's end posts the program's end; taken here, or the next test's dialogs would end
  // as they open.
  ~HiddenWindow() {
    if (window.Handle() != nullptr) DestroyWindow(window.Handle());
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  }
  HiddenWindow(const HiddenWindow&) = delete;
  HiddenWindow& operator=(const HiddenWindow&) = delete;
  HWND Control(int id) const { return GetDlgItem(window.Handle(), id); }
  void Click(int id) const { SendMessageW(Control(id), BM_CLICK, 0, 0); }
  // Presses Quit at the run's first yield, as a click queued during the run.
  void QuitDuringTheRun() const {
    PostMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(IDCANCEL)));
  }

  // Each control shows what the policy says, at its place.
  void ExpectDrawnAsPolicySays() {
    for (const ControlSpec& spec : MainControls()) {
      const int id = Win32MainWindow::IdOf(spec.control);
      if (id == 0) continue;  // no such control here
      const ControlLook look = window.Policy().Look(spec.control);
      HWND control = Control(id);
      SCOPED_TRACE(std::string(spec.name));
      if (spec.kind != ControlKind::Image && spec.kind != ControlKind::LogPane) {
        EXPECT_EQ(Caption(control), Wide(look.text.empty() ? look.placeholder : look.text));
      }
      EXPECT_EQ(window.ToolTip(id), Wide(look.tip));
      EXPECT_EQ(IsWindowEnabled(control) != FALSE, look.enabled);
      EXPECT_EQ(Shown(control), look.visible);
      if (spec.kind == ControlKind::CheckBox || spec.kind == ControlKind::RadioButton) {
        EXPECT_EQ(IsDlgButtonChecked(window.Handle(), id) == BST_CHECKED, look.checked);
      }
      RECT place = PlaceOf(window.Handle(), id);
      // A choice box is as high as its face needs; its place's height is the field's room.
      if (spec.kind == ControlKind::ChoiceBox) place.bottom = Pixels(spec.place).bottom;
      if (spec.control != Control::Log) {
        EXPECT_TRUE(place == Pixels(spec.place));
      }
    }
    EXPECT_EQ(Caption(window.Handle()), Wide(window.Policy().Window().title));
  }
  Win32MainWindow window;
  bool created = false;
  std::vector<std::wstring> asked;
  std::vector<UINT> asked_types;
  std::vector<int> answers;
  std::function<void()> on_ask;
};

}  // namespace dialmend
