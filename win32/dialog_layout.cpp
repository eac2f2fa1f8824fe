#include "win32/dialog_layout.h"

namespace dialmend {

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

}  // namespace dialmend
