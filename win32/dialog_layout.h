#pragma once

#include <windows.h>

#include <string>

#include "run/window_layout.h"

// Where the program's windows put their controls: at their places in twips, scaled to the DPI
// of the monitor the window is on.

namespace dialmend {

// `twips` in pixels at `dpi`.
[[nodiscard]] int Px(int twips, UINT dpi);

// The window's DPI: per monitor where Windows tells it (10, 1607 on), else the system's.
[[nodiscard]] UINT DpiOf(HWND window);

// Moves control `id` of `dialog` to `place` at `dpi`; a control the dialog lacks is passed
// over.
void PlaceControl(HWND dialog, int id, const TwipsRect& place, UINT dpi);

// Resizes `window`, keeping its place, so that its client area is `width` by `height` twips
// at `dpi`.
void SizeClient(HWND window, int width, int height, UINT dpi);

// Moves `window` so that it is centred on `owner`, kept within the work area of `owner`'s
// monitor.
void CentreOn(HWND window, HWND owner);

// A message box titled "Dialmend" over `owner`, centred on it (the system would put it in the
// middle of the screen, or wine at the owner's corner); returns the button pressed.
int CentredMessageBox(HWND owner, const std::wstring& text, UINT type);

}  // namespace dialmend
