#include "win32/dialog_layout.h"

#include <algorithm>

namespace dialmend {
namespace {

// The owner the next message box of this thread is centred on, while one is being opened.
thread_local HWND t_box_owner = nullptr;
thread_local HHOOK t_box_hook = nullptr;

LRESULT CALLBACK CentreBoxAsItOpens(int code, WPARAM wparam, LPARAM lparam) {
  const HHOOK hook = t_box_hook;
  if (code == HCBT_ACTIVATE && t_box_owner != nullptr) {
    CentreOn(reinterpret_cast<HWND>(wparam), t_box_owner);
    // Only the box itself: a window it opens in turn is placed by its own code.
    t_box_owner = nullptr;
  }
  return CallNextHookEx(hook, code, wparam, lparam);
}

}  // namespace

int Px(int twips, UINT dpi) {
  return TwipsToPixels(twips, dpi);
}

UINT DpiOf(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (get_dpi != nullptr) {
    if (const UINT dpi = get_dpi(window); dpi != 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void PlaceControl(HWND dialog, int id, const TwipsRect& place, UINT dpi) {
  if (HWND control = GetDlgItem(dialog, id); control != nullptr) {
    MoveWindow(control, Px(place.left, dpi), Px(place.top, dpi), Px(place.width, dpi),
               Px(place.height, dpi), FALSE);
  }
}

void SizeClient(HWND window, int width, int height, UINT dpi) {
  RECT outer{0, 0, Px(width, dpi), Px(height, dpi)};
  AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CentreOn(HWND window, HWND owner) {
  RECT outer;
  RECT over;
  if (owner == nullptr || !GetWindowRect(window, &outer) || !GetWindowRect(owner, &over)) return;
  const LONG width = outer.right - outer.left;
  const LONG height = outer.bottom - outer.top;
  LONG left = (over.left + over.right - width) / 2;
  LONG top = (over.top + over.bottom - height) / 2;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& work = monitor.rcWork;
    left = std::clamp(left, work.left, std::max(work.left, work.right - width));
    top = std::clamp(top, work.top, std::max(work.top, work.bottom - height));
  }
  SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int CentredMessageBox(HWND owner, const std::wstring& text, UINT type) {
  t_box_owner = owner;
  t_box_hook = SetWindowsHookExW(WH_CBT, CentreBoxAsItOpens, nullptr, GetCurrentThreadId());
  const int answer = MessageBoxW(owner, text.c_str(), L"Dialmend", type);
  if (t_box_hook != nullptr) UnhookWindowsHookEx(t_box_hook);
  t_box_hook = nullptr;
  t_box_owner = nullptr;
  return answer;
}

}  // namespace dialmend
