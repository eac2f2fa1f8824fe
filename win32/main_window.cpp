#include "win32/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <string_view>

#include "run/date_time_text.h"
#include "run/log_file.h"
#include "run/window_texts.h"
#include "win32/dialog_layout.h"
#include "win32/resource_ids.h"

namespace dialmend {
namespace {

// The contacts row: the window is one row taller than designed, and the rows below it lower.
constexpr int kRow = 360;
constexpr int kClientWidth = 5040;
constexpr int kClientHeight = 3405 + kRow;
// Outer heights 3885 and 6000 less 480 for the frame and caption.
constexpr int kClientHeightWithLog = 6000 - 480 + kRow;
constexpr int kLogTop = 3400 + kRow;
constexpr int kLogHeight = 2100;

constexpr TwipsPlace kPlaces[] = {
    {IDC_IMAGE, 120, 80, 885, 885},
    {IDC_TITLE, 1170, 240, 2655, 375},
    {IDOK, 2520, 720, 1100, 495},
    // Above Quit, in the place of the Test button nothing ever shows.
    {IDC_UNDO, 3840, 120, 1100, 495},
    {IDC_STYLE_TAG, 120, 960, 2295, 255},
    {IDC_STYLE0, 120, 1200, 2175, 255},
    {IDC_STYLE1, 120, 1440, 2175, 255},
    {IDC_STYLE2, 120, 1680, 2175, 255},
    {IDC_STYLE3, 120, 1920, 2175, 255},
    {IDC_OPTIONS, 2520, 1920, 2415, 260},
    {IDC_UPDATE, 120, 2280, 3615, 255},
    // The contacts row takes the log row's designed place; the rows below it move down as one.
    {IDC_PROFILE_LABEL, 120, 2640, 1215, 195},
    {IDC_PROFILE, 1350, 2595, 3225, 285},
    {IDC_SET_PROFILE, 4600, 2595, 300, 285},
    {IDC_SAVE_LOG, 120, 2640 + kRow, 1215, 195},
    {IDC_SET_FILE, 4600, 2595 + kRow, 300, 285},
    {IDC_SHOW_LOG, 2520, 1320, 1100, 495},
    {IDCANCEL, 3840, 720, 1100, 495},
    {IDC_ABOUT, 3840, 1320, 1100, 495},
    {IDC_LOG, 0, kLogTop, kClientWidth, kLogHeight},
    {IDC_LOG_FILE, 1350, 2595 + kRow, 3225, 285},
    {IDC_REPLACE, 120, 3000 + kRow, 1575, 195},
    {IDC_FIND_TEXT, 1680, 2970 + kRow, 1215, 285},
    {IDC_TO, 3120, 3000 + kRow, 375, 255},
    {IDC_REPLACE_TEXT, 3580, 2980 + kRow, 1335, 285},
    {IDC_FOLDERS_LABEL, 120, 1080, 1575, 255},
    {IDC_CHECKED_LABEL, 120, 1320, 1575, 255},
    {IDC_UPDATED_LABEL, 120, 1560, 1575, 255},
    {IDC_NUMBERS_LABEL, 120, 1800, 1695, 255},
    {IDC_FOLDERS, 1800, 1080, 495, 255},
    {IDC_CHECKED, 1800, 1320, 495, 255},
    {IDC_UPDATED, 1800, 1560, 495, 255},
    {IDC_NUMBERS, 1800, 1800, 495, 255},
};

constexpr int kStyles[] = {IDC_STYLE0, IDC_STYLE1, IDC_STYLE2, IDC_STYLE3};
constexpr int kCounters[] = {IDC_FOLDERS, IDC_CHECKED, IDC_UPDATED, IDC_NUMBERS};
constexpr int kCounterLabels[] = {IDC_FOLDERS_LABEL, IDC_CHECKED_LABEL, IDC_UPDATED_LABEL,
                                  IDC_NUMBERS_LABEL};

// UTF-8 as the controls show it; a byte that is not UTF-8 shows as U+FFFD.
std::wstring Wide(std::string_view text) {
  if (text.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length,
                      nullptr, nullptr);
  return narrow;
}

HFONT MakeFont(HWND window, UINT dpi, int points, int weight, const wchar_t* face) {
  LOGFONTW font{};
  if (HFONT shown = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0))) {
    GetObjectW(shown, sizeof font, &font);
  }
  if (points != 0) font.lfHeight = -MulDiv(points, static_cast<int>(dpi), 72);
  font.lfWeight = weight;
  if (face != nullptr) {
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  }
  return CreateFontIndirectW(&font);
}

}  // namespace

Win32MainWindow::Win32MainWindow(HINSTANCE instance, std::wstring profile)
    : m_instance(instance), m_profile(std::move(profile)), m_controller(*this, m_log) {
  m_log.SetListener([this](std::string_view text) { AppendToPane(text); });
  m_message_box = [this](const std::wstring& text, UINT type) {
    return MessageBoxW(m_window, text.c_str(), L"Dialmend", type);
  };
  m_choose_contacts = [this](const std::wstring& current) { return ChooseContacts(current); };
}

Win32MainWindow::~Win32MainWindow() {
  if (m_window != nullptr) DestroyWindow(m_window);
  for (HGDIOBJ font : {m_bold_font, m_title_font, m_fixed_font}) {
    if (font != nullptr) DeleteObject(font);
  }
  if (m_image != nullptr) DestroyIcon(m_image);
}

bool Win32MainWindow::Create() {
  // The tooltips' window class is registered by common controls on request.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  m_window = CreateDialogParamW(m_instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, DialogProc,
                                reinterpret_cast<LPARAM>(this));
  return m_window != nullptr;
}

int Win32MainWindow::RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!DialogMessage(message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return m_exit_code;
}

INT_PTR CALLBACK Win32MainWindow::DialogProc(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    reinterpret_cast<Win32MainWindow*>(lparam)->m_window = window;
  }
  auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  return self != nullptr ? self->OnMessage(message, wparam, lparam) : FALSE;
}

INT_PTR Win32MainWindow::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      HICON big = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_DIALMEND),
                                                IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
      SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
      HICON small = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_DIALMEND),
                                                  IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                  GetSystemMetrics(SM_CYSMICON), LR_SHARED));
      SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
      CheckRadioButton(m_window, IDC_STYLE0, IDC_STYLE3, IDC_STYLE0);
      CheckDlgButton(m_window, IDC_SAVE_LOG, BST_CHECKED);
      SendDlgItemMessageW(m_window, IDC_LOG, EM_SETLIMITTEXT, 0, 0);
      // Form_Initialize: the default log file path. The file itself is reserved when a run
      // starts.
      m_default_log = SetLogFile();
      SetText(IDC_LOG_FILE, Wide(m_default_log));
      AddTips();
      ShowProfile();
      Layout(DpiOf(m_window));
      SetFocus(GetDlgItem(m_window, IDOK));
      return FALSE;  // the focus is set
    }
    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      Layout(HIWORD(wparam));
      SetWindowPos(m_window, nullptr, suggested->left, suggested->top, 0, 0,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
      return TRUE;
    }
    case WM_SIZE:
      if (wparam != SIZE_MINIMIZED) PlaceLogPane();
      return TRUE;
    case WM_GETMINMAXINFO: {
      if (!m_log_shown) return FALSE;
      // Never smaller than designed with the log: the controls above keep their places.
      RECT outer{0, 0, Px(kClientWidth, m_dpi), Px(kClientHeightWithLog, m_dpi)};
      AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_EXSTYLE)));
      auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
      limits->ptMinTrackSize = {outer.right - outer.left, outer.bottom - outer.top};
      return TRUE;
    }
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) Command(LOWORD(wparam));
      if (HIWORD(wparam) == EN_CHANGE && LOWORD(wparam) == IDC_FIND_TEXT) {
        m_options.find = Narrow(Text(IDC_FIND_TEXT));
      }
      if (HIWORD(wparam) == EN_CHANGE && LOWORD(wparam) == IDC_REPLACE_TEXT) {
        m_options.replacement = Narrow(Text(IDC_REPLACE_TEXT));
      }
      return TRUE;
    case WM_CLOSE:
      // During a run the walk is still on the stack: abort it and end once it has unwound.
      if (m_ending || m_controller.Close()) DestroyWindow(m_window);
      return TRUE;
    case WM_QUERYENDSESSION:
      // Logging off during a run: abort it, so the summary is written and the log saved at the
      // next yield, before Windows ends the process.
      if (m_controller.State() == RunState::Running || m_controller.State() == RunState::Paused) {
        (void)m_controller.Close();
      }
      SetWindowLongPtrW(m_window, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_DESTROY:
      m_window = nullptr;
      PostQuitMessage(m_exit_code);
      return TRUE;
    default:
      return FALSE;
  }
}

void Win32MainWindow::Command(int id) {
  switch (id) {
    case IDOK:
      m_controller.Go();
      return;
    case IDCANCEL:
      m_controller.Quit();
      return;
    case IDC_STYLE0:
    case IDC_STYLE1:
    case IDC_STYLE2:
    case IDC_STYLE3:
      m_options.style = StyleFromNumber(id - IDC_STYLE0);
      return;
    case IDC_UNDO:
      m_controller.Undo();
      return;
    case IDC_UPDATE: {
      const bool update = Checked(IDC_UPDATE);
      SetText(IDC_UPDATED_LABEL, update ? L"Contacts Updated" : L"Contacts To Update");
      SetText(IDC_NUMBERS_LABEL, update ? L"Phone Nos Updated" : L"Phone Nos To Update");
      SetTip(IDOK, RunButtonTip("Start", update));
      return;
    }
    case IDC_SAVE_LOG: {
      const bool on = Checked(IDC_SAVE_LOG);
      EnableWindow(GetDlgItem(m_window, IDC_LOG_FILE), on);
      EnableWindow(GetDlgItem(m_window, IDC_SET_FILE), on);
      return;
    }
    case IDC_REPLACE: {
      const bool on = Checked(IDC_REPLACE);
      EnableWindow(GetDlgItem(m_window, IDC_FIND_TEXT), on);
      EnableWindow(GetDlgItem(m_window, IDC_REPLACE_TEXT), on);
      m_options.replace = on;
      return;
    }
    case IDC_SHOW_LOG:
      ShowLog(!m_log_shown);
      return;
    case IDC_ABOUT:
      About_Click();
      return;
    case IDC_OPTIONS:
      cmdOption_Click();
      return;
    case IDC_SET_FILE:
      SetFile_Click();
      return;
    case IDC_SET_PROFILE:
      SetProfile_Click();
      return;
    default:
      return;
  }
}

void Win32MainWindow::Layout(UINT dpi) {
  // The size left by the user is kept in twips, so it survives a move to another DPI.
  if (m_log_shown) RememberLogSize();
  m_dpi = dpi;
  PlaceControls(m_window, kPlaces, dpi);
  for (HGDIOBJ font : {m_bold_font, m_title_font, m_fixed_font}) {
    if (font != nullptr) DeleteObject(font);
  }
  m_bold_font = MakeFont(m_window, dpi, 8, FW_BOLD, nullptr);
  m_title_font = MakeFont(m_window, dpi, 18, FW_BOLD, nullptr);
  m_fixed_font = MakeFont(m_window, dpi, 8, FW_NORMAL, L"Courier New");
  for (int id : {IDOK, IDC_UNDO, IDCANCEL, IDC_SHOW_LOG, IDC_ABOUT}) {
    SendDlgItemMessageW(m_window, id, WM_SETFONT, reinterpret_cast<WPARAM>(m_bold_font), FALSE);
  }
  SendDlgItemMessageW(m_window, IDC_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(m_title_font),
                      FALSE);
  SendDlgItemMessageW(m_window, IDC_LOG, WM_SETFONT, reinterpret_cast<WPARAM>(m_fixed_font), FALSE);
  const int image_size = Px(885, dpi);
  HICON image = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_DIALMEND),
                                              IMAGE_ICON, image_size, image_size, 0));
  SendDlgItemMessageW(m_window, IDC_IMAGE, STM_SETICON, reinterpret_cast<WPARAM>(image), 0);
  if (m_image != nullptr) DestroyIcon(m_image);
  m_image = image;
  ShowLog(m_log_shown);
  InvalidateRect(m_window, nullptr, TRUE);
}

void Win32MainWindow::ShowLog(bool shown) {
  if (m_log_shown && !shown) RememberLogSize();
  m_log_shown = shown;
  SetText(IDC_SHOW_LOG, shown ? L"Hide &Log" : L"Show &Log");
  ShowWindow(GetDlgItem(m_window, IDC_LOG), shown ? SW_SHOW : SW_HIDE);
  // The log may be read in a window as large as the user likes; without it the window has
  // nothing to grow.
  LONG_PTR style = GetWindowLongPtrW(m_window, GWL_STYLE);
  style = shown ? (style | WS_THICKFRAME | WS_MAXIMIZEBOX)
                : (style & ~(WS_THICKFRAME | WS_MAXIMIZEBOX));
  SetWindowLongPtrW(m_window, GWL_STYLE, style);
  SetWindowPos(m_window, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  if (shown) {
    SizeClient(m_window, m_log_size.cx > 0 ? m_log_size.cx : kClientWidth,
               m_log_size.cy > 0 ? m_log_size.cy : kClientHeightWithLog, m_dpi);
  } else {
    SizeClient(m_window, kClientWidth, kClientHeight, m_dpi);
  }
  // Sizing to the size the window has sends no WM_SIZE.
  PlaceLogPane();
}

void Win32MainWindow::RememberLogSize() {
  // A maximized window's size is the screen's, not one the user left it at.
  if (IsZoomed(m_window) || IsIconic(m_window)) ShowWindow(m_window, SW_RESTORE);
  RECT client;
  if (!GetClientRect(m_window, &client)) return;
  const int dpi = static_cast<int>(m_dpi);
  m_log_size = {MulDiv(client.right, 1440, dpi), MulDiv(client.bottom, 1440, dpi)};
}

void Win32MainWindow::PlaceLogPane() {
  RECT client;
  if (!GetClientRect(m_window, &client)) return;
  const int top = Px(kLogTop, m_dpi);
  MoveWindow(GetDlgItem(m_window, IDC_LOG), 0, top, client.right,
             std::max<int>(client.bottom - top, Px(kLogHeight, m_dpi)), TRUE);
}

void Win32MainWindow::SetRunControlsEnabled(bool enabled) {
  // A control that is disabled with the focus keeps it and takes no keys: Esc and Enter would
  // do nothing until a click. The focus goes to Go (Pause) first.
  if (!enabled) {
    HWND focused = GetFocus();
    if (focused != nullptr && IsChild(m_window, focused) && focused != GetDlgItem(m_window, IDOK) &&
        focused != GetDlgItem(m_window, IDCANCEL) && focused != GetDlgItem(m_window, IDC_ABOUT) &&
        focused != GetDlgItem(m_window, IDC_SHOW_LOG)) {
      SendMessageW(m_window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_window, IDOK)),
                   TRUE);
    }
  }
  for (int id :
       {IDC_UPDATE, IDC_PROFILE, IDC_SET_PROFILE, IDC_SAVE_LOG, IDC_REPLACE, IDC_OPTIONS}) {
    EnableWindow(GetDlgItem(m_window, id), enabled);
  }
  const bool log = enabled && Checked(IDC_SAVE_LOG);
  EnableWindow(GetDlgItem(m_window, IDC_LOG_FILE), log);
  EnableWindow(GetDlgItem(m_window, IDC_SET_FILE), log);
  const bool replace = enabled && Checked(IDC_REPLACE);
  EnableWindow(GetDlgItem(m_window, IDC_FIND_TEXT), replace);
  EnableWindow(GetDlgItem(m_window, IDC_REPLACE_TEXT), replace);
}

void Win32MainWindow::OfferUndo(bool offered) {
  HWND undo = GetDlgItem(m_window, IDC_UNDO);
  // A hidden button keeping the focus would take Enter and Esc with it.
  if (!offered && GetFocus() == undo) {
    SendMessageW(m_window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_window, IDOK)),
                 TRUE);
  }
  ShowWindow(undo, offered ? SW_SHOW : SW_HIDE);
  EnableWindow(undo, offered);
}

void Win32MainWindow::AddTips() {
  m_tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_window,
                           nullptr, m_instance, nullptr);
  if (m_tips == nullptr) return;  // the window works without them
  // Long paths and the style tip wrap rather than run off the screen.
  SendMessageW(m_tips, TTM_SETMAXTIPWIDTH, 0, 600);
  SetTip(IDOK, RunButtonTip("Start", false));
  SetTip(IDC_UNDO, kUndoTip);
  SetTip(IDCANCEL, kQuitTip);
  SetTip(IDC_SHOW_LOG, kShowLogTip);
  SetTip(IDC_ABOUT, kAboutTip);
  for (int id : kStyles) SetTip(id, kStyleTip);
  SetTip(IDC_OPTIONS, kOptionsTip);
  SetTip(IDC_SET_PROFILE, kSetProfileTip);
  SetTip(IDC_SET_FILE, kSetFileTip);
  SetTip(IDC_REPLACE, kReplaceTip);
  SetTip(IDC_FIND_TEXT, kFindTip);
  SetTip(IDC_REPLACE_TEXT, kReplacementTip);
}

void Win32MainWindow::SetTip(int id, std::string_view text) {
  if (m_tips == nullptr) return;
  std::wstring wide = Wide(text);
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = m_window;
  tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(m_window, id));
  tool.lpszText = wide.data();
  // Added afresh: the tip keeps its own copy of the text.
  SendMessageW(m_tips, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(m_tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

std::wstring Win32MainWindow::ToolTip(int id) const {
  if (m_tips == nullptr) return {};
  std::wstring text(INFOTIPSIZE, L'\0');
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = m_window;
  tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(m_window, id));
  tool.lpszText = text.data();
  if (!SendMessageW(m_tips, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool))) return {};
  tool.lpszText = text.data();
  SendMessageW(m_tips, TTM_GETTEXTW, INFOTIPSIZE, reinterpret_cast<LPARAM>(&tool));
  text.resize(text.find(L'\0'));
  return text;
}

void Win32MainWindow::SetStyleChooserShown(bool shown) {
  ShowWindow(GetDlgItem(m_window, IDC_STYLE_TAG), shown ? SW_SHOW : SW_HIDE);
  for (int id : kStyles) ShowWindow(GetDlgItem(m_window, id), shown ? SW_SHOW : SW_HIDE);
  for (int id : kCounters) ShowWindow(GetDlgItem(m_window, id), shown ? SW_HIDE : SW_SHOW);
  for (int id : kCounterLabels) ShowWindow(GetDlgItem(m_window, id), shown ? SW_HIDE : SW_SHOW);
}

void Win32MainWindow::AppendToPane(std::string_view text) {
  m_pending_log.append(text);
  Present(m_controller.State() != RunState::Running);
}

void Win32MainWindow::Present(bool now) {
  constexpr ULONGLONG kFrameMs = 40;
  const ULONGLONG tick = GetTickCount64();
  if (!now && tick - m_last_present < kFrameMs) return;
  m_last_present = tick;
  if (m_window == nullptr) return;
  if (!m_pending_log.empty()) {
    // The log's CR LF line ends are what a multiline edit control shows as lines.
    HWND pane = GetDlgItem(m_window, IDC_LOG);
    const LRESULT end = SendMessageW(pane, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(pane, EM_SETSEL, static_cast<WPARAM>(end), end);
    const std::wstring text = Wide(m_pending_log);
    SendMessageW(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    m_pending_log.clear();
  }
  const std::int64_t values[4] = {m_latest_counters.folders, m_latest_counters.checked,
                                  m_latest_counters.updated, m_latest_counters.numbers};
  for (int i = 0; i < 4; ++i) {
    SetText(kCounters[i], std::to_wstring(values[i]));
    // Painted now, not when the run next lets the message loop run.
    UpdateWindow(GetDlgItem(m_window, kCounters[i]));
  }
  UpdateWindow(GetDlgItem(m_window, IDC_LOG));
}

RunJob Win32MainWindow::PrepareRun() {
  // The default search runs again as the run opens the store: show what it finds this time.
  if (m_profile.empty()) ShowProfile();
  RunJob job;
  ServerAccess access;
  // Told from inside a call Outlook has not answered for a while, where COM lets no dialog of
  // ours be answered: the caption says it, and that Esc (which the store watches for) stops it.
  access.waiting = [this](const std::string& line) {
    SetWindowTextW(
        m_window,
        Wide("Dialmend - " + line.substr(0, line.find(':')) + " (Esc stops the run)").c_str());
    m_waiting_shown = true;
  };
  job.store = StoreOrProblem(OpenProfile(Narrow(m_profile), SystemEnvironment(), access));
  job.options = &m_options;
  job.update = Checked(IDC_UPDATE);
  if (Checked(IDC_SAVE_LOG)) {
    const std::string path = Narrow(Text(IDC_LOG_FILE));
    job.log = LogTarget{path, path == m_default_log, path == m_own_log};
  }
  return job;
}

void Win32MainWindow::ShowStarted(bool update) {
  SetRunControlsEnabled(false);
  if (Text(IDC_FIND_TEXT).empty() && Checked(IDC_REPLACE)) {
    CheckDlgButton(m_window, IDC_REPLACE, BST_UNCHECKED);
    m_options.replace = false;
  }
  SetStyleChooserShown(false);
  SetText(IDOK, L"&Pause");
  SetText(IDCANCEL, L"&Abort");
  // Alt+A must fire Abort, not only move the focus between two buttons that share it.
  SetText(IDC_ABOUT, L"Ab&out");
  SetTip(IDOK, RunButtonTip("Pause", update));
  SetTip(IDCANCEL, RunButtonTip("Abort", update));
}

void Win32MainWindow::ShowPaused(bool update) {
  Present(true);
  SetText(IDOK, L"&Resume");
  SetTip(IDOK, RunButtonTip("Resume", update));
}

void Win32MainWindow::ShowResumed(bool update) {
  SetText(IDOK, L"&Pause");
  SetTip(IDOK, RunButtonTip("Pause", update));
}

void Win32MainWindow::ShowFinished(bool update) {
  Present(true);
  m_waiting_shown = false;
  SetWindowTextW(m_window, L"Dialmend - Finished!");
  MessageBeep(MB_OK);
  SetText(IDOK, L"&Reset");
  SetText(IDCANCEL, L"&Quit");
  SetText(IDC_ABOUT, L"&About");
  SetTip(IDOK, RunButtonTip("Reset", update));
  SetTip(IDCANCEL, kQuitTip);
  // An aborted update is offered too: its record holds every change that reached the store.
  OfferUndo(update && !m_controller.RecordPath().empty());
  // Every abort passes through a pause, so a run still running here has completed.
  const bool aborted = m_controller.State() != RunState::Running;
  if (aborted || m_controller.Counters().problems > 0) {
    // The summary tells what went wrong; the user should not need to know to ask for it.
    if (!m_log_shown) ShowLog(true);
    HWND pane = GetDlgItem(m_window, IDC_LOG);
    const LRESULT end = SendMessageW(pane, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(pane, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(pane, EM_SCROLLCARET, 0, 0);
  }
}

void Win32MainWindow::ShowLogPath(const std::string& path) {
  if (Narrow(Text(IDC_LOG_FILE)) == m_default_log) m_default_log = path;
  SetText(IDC_LOG_FILE, Wide(path));
}

void Win32MainWindow::ShowReset(bool update) {
  // The next run must not replace the log of the update just done.
  if (update && m_controller.LogSaved()) {
    m_default_log = SetLogFile();
    SetText(IDC_LOG_FILE, Wide(m_default_log));
  }
  // A simulation's log is replaced by the next run's: repeated simulations keep one file.
  m_own_log = !update && m_controller.LogSaved() ? Narrow(Text(IDC_LOG_FILE)) : std::string();
  SetStyleChooserShown(true);
  SetRunControlsEnabled(true);
  OfferUndo(false);
  m_waiting_shown = false;
  SetWindowTextW(m_window, L"Dialmend");
  SetText(IDOK, L"&Go");
  SetText(IDCANCEL, L"&Quit");
  SetText(IDC_ABOUT, L"&About");
  SetTip(IDOK, RunButtonTip("Start", Checked(IDC_UPDATE)));
  SetTip(IDCANCEL, kQuitTip);
  m_pending_log.clear();
  SetText(IDC_LOG, L"");
}

void Win32MainWindow::ShowCounters(const RunCounters& counters) {
  m_latest_counters = counters;
  Present(m_controller.State() != RunState::Running);
}

AbortAnswer Win32MainWindow::AskAbort() {
  Present(true);
  const int answer = m_message_box(
      L"Update paused - the process may be resumed at any time.\n\n"
      L"Are you sure you want to abort?",
      MB_YESNOCANCEL | MB_ICONERROR | MB_DEFBUTTON3);
  if (answer == IDYES) return AbortAnswer::Yes;
  if (answer == IDNO) return AbortAnswer::No;
  return AbortAnswer::Cancel;
}

bool Win32MainWindow::AskUndo(const std::string& started) {
  Present(true);
  // Worded and shaped as the Abort question, with No as the safe default.
  return m_message_box(Wide(UndoQuestion(started)), MB_YESNO | MB_ICONERROR | MB_DEFBUTTON2) ==
         IDYES;
}

void Win32MainWindow::ShowMessage(const std::string& text) {
  Present(true);
  m_message_box(Wide(text), MB_OK);
}

void Win32MainWindow::ShowProfileProblem(const std::string& reason) {
  ShowMessage(ProfileProblemText(Narrow(m_profile), reason));
}

void Win32MainWindow::EndProgram() {
  m_ending = true;
  // Closed from the message loop: this may be called from inside a press being handled.
  if (m_window != nullptr) PostMessageW(m_window, WM_CLOSE, 0, 0);
}

void Win32MainWindow::ProcessEvents(bool wait) {
  // Back at a yield, the call that kept the run waiting has been answered.
  if (m_waiting_shown) {
    m_waiting_shown = false;
    SetWindowTextW(m_window, L"Dialmend");
  }
  Present(false);
  // Paused, the run blocks here until a message comes: no CPU while it waits.
  if (wait) MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  PumpMessages();
}

void Win32MainWindow::PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // The outer loop must see it too, once the run has unwound.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (!DialogMessage(message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

bool Win32MainWindow::DialogMessage(MSG& message) {
  if (m_about != nullptr && IsDialogMessageW(m_about, &message)) return true;
  return m_window != nullptr && IsDialogMessageW(m_window, &message);
}

std::string Win32MainWindow::NowText() {
  return LocalDateTimeText(std::chrono::system_clock::now());
}

bool Win32MainWindow::Checked(int id) const {
  return IsDlgButtonChecked(m_window, id) == BST_CHECKED;
}

void Win32MainWindow::SetText(int id, const std::wstring& text) {
  SetDlgItemTextW(m_window, id, text.c_str());
}

std::wstring Win32MainWindow::Text(int id) const {
  HWND control = GetDlgItem(m_window, id);
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace dialmend
