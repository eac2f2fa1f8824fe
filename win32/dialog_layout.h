#pragma once

#include <windows.h>

#include <span>

// Where the program's windows put their controls: at places designed in twips (1440 to the
// inch), scaled to the DPI of the monitor the window is on.

namespace dialmend {

// A control's place in the design, in twips.
struct TwipsPlace {
  int id;
  int left;
  int top;
  int width;
  int height;
};

// `twips` in pixels at `dpi`.
[[nodiscard]] int Px(int twips, UINT dpi);

// The window's DPI: per monitor where Windows tells it (10, 1607 on), else the system's.
[[nodiscard]] UINT DpiOf(HWND window);

// Moves each control of `dialog` named in `places` to its place at `dpi`; a control the
// dialog lacks is passed over.
void PlaceControls(HWND dialog, std::span<const TwipsPlace> places, UINT dpi);

// Resizes `window`, keeping its place, so that its client area is `width` by `height` twips
// at `dpi`.
void SizeClient(HWND window, int width, int height, UINT dpi);

}  // namespace dialmend
