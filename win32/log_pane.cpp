#include "win32/log_pane.h"

#include <uxtheme.h>
#include <vssym32.h>
#include <windowsx.h>

#include <algorithm>
#include <vector>

#include "win32/wide_text.h"

namespace dialmend {
namespace {

// Room between the frame and the text, as a text box leaves it: at the sides, and above and
// below the rows, which show only whole.
constexpr int kMargin = 4;
constexpr int kInset = 2;
constexpr int kWheelLines = 3;

int TextWidth(HDC dc, const std::wstring& text) {
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

// A device context for measuring text in `font`, let go when it goes.
class Measure {
 public:
  Measure(HWND window, HFONT font) : m_window(window), m_dc(GetDC(window)) {
    m_old = SelectObject(m_dc, font != nullptr ? font : GetStockObject(SYSTEM_FIXED_FONT));
  }
  ~Measure() {
    SelectObject(m_dc, m_old);
    ReleaseDC(m_window, m_dc);
  }
  Measure(const Measure&) = delete;
  Measure& operator=(const Measure&) = delete;
  [[nodiscard]] HDC Dc() const { return m_dc; }

 private:
  HWND m_window;
  HDC m_dc;
  HGDIOBJ m_old;
};

}  // namespace

bool LogPane::Register(HINSTANCE instance) {
  WNDCLASSEXW kind{};
  kind.cbSize = sizeof kind;
  kind.lpfnWndProc = Proc;
  kind.hInstance = instance;
  kind.hCursor = LoadCursorA(nullptr, IDC_IBEAM);
  kind.lpszClassName = kClassName;
  return RegisterClassExW(&kind) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

LogPane* LogPane::Of(HWND pane) {
  wchar_t name[32] = {};
  GetClassNameW(pane, name, 32);
  if (std::wstring_view(name) != kClassName) return nullptr;
  return reinterpret_cast<LogPane*>(GetWindowLongPtrW(pane, GWLP_USERDATA));
}

LRESULT CALLBACK LogPane::Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new LogPane(window)));
  }
  auto* self = reinterpret_cast<LogPane*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (self->m_theme != nullptr) CloseThemeData(self->m_theme);
    delete self;
    return DefWindowProcW(window, message, wparam, lparam);
  }
  return self->OnMessage(message, wparam, lparam);
}

LRESULT LogPane::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_NCPAINT:
      PaintFrame(reinterpret_cast<HRGN>(wparam));
      return 0;
    case WM_THEMECHANGED:
      if (m_theme != nullptr) CloseThemeData(m_theme);
      m_theme = OpenThemeData(m_window, L"Edit");
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint fills every row
    case WM_SETFONT:
      m_font = reinterpret_cast<HFONT>(wparam);
      UpdateScrollBars();
      if (LOWORD(lparam) != 0) InvalidateRect(m_window, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(m_font);
    case WM_SIZE: {
      // A pane showing its end keeps showing it as it grows or shrinks.
      const bool at_end = m_first >= LastFirstLine(m_rows, LineCount());
      UpdateScrollBars();
      ScrollTo(at_end ? LineCount() : m_first, m_left);
      return 0;
    }
    case WM_VSCROLL:
      Scroll(SB_VERT, LOWORD(wparam));
      return 0;
    case WM_HSCROLL:
      Scroll(SB_HORZ, LOWORD(wparam));
      return 0;
    case WM_MOUSEWHEEL:
      ScrollTo(m_first - GET_WHEEL_DELTA_WPARAM(wparam) * kWheelLines / WHEEL_DELTA, m_left);
      return 0;
    case WM_GETDLGCODE:
      // As a read-only text box: the arrows scroll, and letters are not access keys here.
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_KEYDOWN:
      OnKey(wparam);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(m_window, nullptr, FALSE);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
      OnMouse(message, wparam, lparam);
      return 0;
    case WM_CONTEXTMENU:
      ShowMenu(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
      return 0;
    default:
      return DefWindowProcW(m_window, message, wparam, lparam);
  }
}

void LogPane::OnMouse(UINT message, WPARAM wparam, LPARAM lparam) {
  const int x = GET_X_LPARAM(lparam);
  const int y = GET_Y_LPARAM(lparam);
  if (message == WM_LBUTTONDOWN) {
    SetFocus(m_window);
    SetCapture(m_window);
    m_model.Press(SpotAt(x, y), (wparam & MK_SHIFT) != 0);
  } else if (message == WM_MOUSEMOVE && (wparam & MK_LBUTTON) != 0 && GetCapture() == m_window) {
    m_model.DragTo(SpotAt(x, y));
  } else {
    if (message == WM_LBUTTONUP && GetCapture() == m_window) ReleaseCapture();
    return;
  }
  InvalidateRect(m_window, nullptr, FALSE);
}

void LogPane::ShowMenu(int x, int y) {
  enum : UINT { kCopy = 1, kSelectAll = 2 };
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING | (m_model.HasSelection() ? 0 : MF_GRAYED), kCopy, L"&Copy");
  AppendMenuW(menu, MF_STRING, kSelectAll, L"Select &All");
  const UINT picked = static_cast<UINT>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY, x, y, 0, m_window, nullptr));
  DestroyMenu(menu);
  if (picked == kCopy) Copy();
  if (picked == kSelectAll) m_model.SelectAll();
  InvalidateRect(m_window, nullptr, FALSE);
}

void LogPane::Append(std::string_view text) {
  if (text.empty()) return;
  m_model.Append(text);
  TellProblem();
  UpdateScrollBars();
  ScrollTo(LineCount(), m_left);
  InvalidateRect(m_window, nullptr, FALSE);
}

void LogPane::Clear() {
  m_model.Clear();
  TellProblem();
  m_first = m_left = 0;
  UpdateScrollBars();
  InvalidateRect(m_window, nullptr, FALSE);
}

void LogPane::ScrollToEnd() {
  ScrollTo(LineCount(), 0);
}

int LogPane::LastShownLine() const {
  return dialmend::LastShownLine(m_first, WholeRows(), LineCount());
}

int LogPane::RowHeight() const {
  Measure measure(m_window, m_font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(measure.Dc(), &metrics);
  return std::max<int>(1, metrics.tmHeight);
}

int LogPane::CharWidth() const {
  Measure measure(m_window, m_font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(measure.Dc(), &metrics);
  return std::max<int>(1, metrics.tmAveCharWidth);
}

int LogPane::WholeRows() const {
  RECT client{};
  GetClientRect(m_window, &client);
  return std::max(1, (static_cast<int>(client.bottom) - 2 * kInset) / RowHeight());
}

void LogPane::UpdateScrollBars() {
  RECT client{};
  GetClientRect(m_window, &client);
  SCROLLINFO bar{};
  bar.cbSize = sizeof bar;
  // Shown disabled when all fits, as a text box's bars are.
  bar.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  bar.nMax = std::max(0, LineCount() - 1);
  m_rows = WholeRows();
  bar.nPage = static_cast<UINT>(m_rows);
  bar.nPos = m_first;
  SetScrollInfo(m_window, SB_VERT, &bar, TRUE);
  const std::size_t widest = std::min<std::size_t>(m_model.Widest(), 1 << 20);
  bar.nMax = static_cast<int>(widest) * CharWidth() + 2 * kMargin - 1;
  bar.nPage = static_cast<UINT>(std::max<LONG>(0, client.right));
  bar.nPos = m_left;
  SetScrollInfo(m_window, SB_HORZ, &bar, TRUE);
}

void LogPane::ScrollTo(int first, int left) {
  RECT client{};
  GetClientRect(m_window, &client);
  const std::size_t widest = std::min<std::size_t>(m_model.Widest(), 1 << 20);
  const int text_width = static_cast<int>(widest) * CharWidth() + 2 * kMargin;
  first = std::clamp(first, 0, LastFirstLine(WholeRows(), LineCount()));
  left = std::clamp(left, 0, std::max(0, text_width - static_cast<int>(client.right)));
  if (first == m_first && left == m_left) return;
  m_first = first;
  m_left = left;
  SetScrollPos(m_window, SB_VERT, m_first, TRUE);
  SetScrollPos(m_window, SB_HORZ, m_left, TRUE);
  InvalidateRect(m_window, nullptr, FALSE);
}

void LogPane::Scroll(int bar, int request) {
  const bool vertical = bar == SB_VERT;
  const int line = vertical ? 1 : CharWidth();
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL;
  GetScrollInfo(m_window, bar, &info);
  int at = vertical ? m_first : m_left;
  switch (request) {
    case SB_LINEUP:
      at -= line;
      break;
    case SB_LINEDOWN:
      at += line;
      break;
    case SB_PAGEUP:
      at -= static_cast<int>(info.nPage);
      break;
    case SB_PAGEDOWN:
      at += static_cast<int>(info.nPage);
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      at = info.nTrackPos;
      break;
    case SB_TOP:
      at = 0;
      break;
    case SB_BOTTOM:
      at = info.nMax;
      break;
    default:
      return;
  }
  ScrollTo(vertical ? at : m_first, vertical ? m_left : at);
}

void LogPane::OnKey(WPARAM key) {
  const bool control = GetKeyState(VK_CONTROL) < 0;
  if (control && key == 'A') {
    m_model.SelectAll();
    InvalidateRect(m_window, nullptr, FALSE);
  } else if (control && key == 'C') {
    Copy();
  } else if (key == VK_UP || key == VK_DOWN) {
    ScrollTo(m_first + (key == VK_UP ? -1 : 1), m_left);
  } else if (key == VK_PRIOR || key == VK_NEXT) {
    ScrollTo(m_first + (key == VK_PRIOR ? -WholeRows() : WholeRows()), m_left);
  } else if (key == VK_LEFT || key == VK_RIGHT) {
    ScrollTo(m_first, m_left + (key == VK_LEFT ? -CharWidth() : CharWidth()));
  } else if (control && key == VK_HOME) {
    ScrollTo(0, 0);
  } else if (control && key == VK_END) {
    ScrollToEnd();
  }
}

void LogPane::PaintFrame(HRGN region) {
  if (m_theme == nullptr) m_theme = OpenThemeData(m_window, L"Edit");
  HRGN inside = region;
  if (m_theme != nullptr) {
    // The frame of a read-only text box in the current theme, drawn over the window's edge;
    // the scroll bars are then drawn inside it.
    RECT outer;
    GetWindowRect(m_window, &outer);
    inside = CreateRectRgn(
        outer.left + GetSystemMetrics(SM_CXEDGE), outer.top + GetSystemMetrics(SM_CYEDGE),
        outer.right - GetSystemMetrics(SM_CXEDGE), outer.bottom - GetSystemMetrics(SM_CYEDGE));
    if (region != reinterpret_cast<HRGN>(1)) CombineRgn(inside, inside, region, RGN_AND);
    OffsetRect(&outer, -outer.left, -outer.top);
    HDC dc = GetDCEx(m_window, region, DCX_WINDOW | DCX_INTERSECTRGN);
    DrawThemeBackground(m_theme, dc, EP_EDITTEXT, ETS_READONLY, &outer, nullptr);
    ReleaseDC(m_window, dc);
  }
  DefWindowProcW(m_window, WM_NCPAINT, reinterpret_cast<WPARAM>(inside), 0);
  if (inside != region) DeleteObject(inside);
}

void LogPane::Paint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(m_window, &paint);
  // Read-only, as a read-only text box shows it.
  FillRect(dc, &paint.rcPaint, GetSysColorBrush(COLOR_BTNFACE));
  HGDIOBJ old = SelectObject(dc, m_font != nullptr ? m_font : GetStockObject(SYSTEM_FIXED_FONT));
  SetBkMode(dc, TRANSPARENT);
  const int height = RowHeight();
  int y = kInset;
  for (int line = m_first; line <= LastShownLine(); ++line, y += height) PaintLine(dc, line, y);
  SelectObject(dc, old);
  EndPaint(m_window, &paint);
}

void LogPane::PaintLine(HDC dc, int line, int y) {
  const std::string bytes = m_model.Line(line);
  const std::wstring text = Wide(bytes);
  const int x = kMargin - m_left;
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  TextOutW(dc, x, y, text.c_str(), static_cast<int>(text.size()));
  const std::optional<LogPaneModel::LinePart> part = m_model.SelectedPart(line);
  if (!part) return;
  const auto advance = [&](int byte) {
    return TextWidth(dc, Wide(std::string_view(bytes).substr(0, static_cast<std::size_t>(byte))));
  };
  // A selection that goes on past this line covers its end as well.
  const int right = advance(part->end) + (part->past_end ? TextWidth(dc, L" ") : 0);
  const RECT selected{x + advance(part->begin), y, x + right, y + RowHeight()};
  SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
  SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
  ExtTextOutW(dc, x, y, ETO_OPAQUE | ETO_CLIPPED, &selected, text.c_str(),
              static_cast<UINT>(text.size()), nullptr);
}

LogPaneModel::Spot LogPane::SpotAt(int x, int y) const {
  if (LineCount() == 0) return {};
  const int line = std::clamp(m_first + (y - kInset) / RowHeight(), 0, LineCount() - 1);
  const std::wstring text = Wide(m_model.Line(line));
  Measure measure(m_window, m_font);
  std::vector<int> ends(text.size() + 1, 0);
  SIZE size{};
  GetTextExtentExPointW(measure.Dc(), text.c_str(), static_cast<int>(text.size()), 0, nullptr,
                        ends.data(), &size);
  // The character boundary nearest the point, as a text box places its cursor.
  const int target = x + m_left - kMargin;
  std::size_t chars = 0;
  int start = 0;  // where character `chars` starts
  while (chars < text.size() && target >= (start + ends[chars] + 1) / 2) {
    start = ends[chars];
    ++chars;
  }
  // Never between the two halves of a surrogate pair.
  if (chars > 0 && chars < text.size() && IS_HIGH_SURROGATE(text[chars - 1])) ++chars;
  return {line, static_cast<int>(Narrow(std::wstring_view(text).substr(0, chars)).size())};
}

void LogPane::Copy() const {
  const std::wstring text = WindowsLines(m_model.Selected());
  if (text.empty() || !OpenClipboard(m_window)) return;
  EmptyClipboard();
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes); memory != nullptr) {
    std::copy_n(text.c_str(), text.size() + 1, static_cast<wchar_t*>(GlobalLock(memory)));
    GlobalUnlock(memory);
    if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
  }
  CloseClipboard();
}

void LogPane::TellProblem() {
  // The text is still whole (in memory); only the memory it costs is worth a line.
  const std::string problem = m_model.TakeProblem();
  if (!problem.empty()) OutputDebugStringW((Wide(problem) + L"\n").c_str());
}

}  // namespace dialmend
