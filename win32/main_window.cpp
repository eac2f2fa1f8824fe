#include "win32/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/user_setting.h"
#include "win32/dialog_layout.h"
#include "win32/log_pane.h"
#include "win32/resource_ids.h"
#include "win32/wide_text.h"

namespace dialmend {
namespace {

// The dialog template's control for each of the policy's; 0 where the window has none.
constexpr std::array<int, kControlCount> kIds = {
    IDC_IMAGE,
    IDC_TITLE,
    IDOK,
    IDCANCEL,
    IDC_SHOW_LOG,
    IDC_ABOUT,
    IDC_UNDO,
    0,
    IDC_STYLE_TAG,
    IDC_STYLE0,
    IDC_STYLE1,
    IDC_STYLE2,
    IDC_STYLE3,
    IDC_FOLDERS_LABEL,
    IDC_CHECKED_LABEL,
    IDC_UPDATED_LABEL,
    IDC_NUMBERS_LABEL,
    IDC_FOLDERS,
    IDC_CHECKED,
    IDC_UPDATED,
    IDC_NUMBERS,
    IDC_OPTIONS,
    IDC_UPDATE,
    IDC_PROFILE_LABEL,
    IDC_PROFILE,
    IDC_SET_PROFILE,
    IDC_BOOK_LABEL,
    IDC_BOOK,
    IDC_SAVE_LOG,
    IDC_LOG_FILE,
    IDC_SET_FILE,
    IDC_REPLACE,
    IDC_FIND_TEXT,
    IDC_TO,
    IDC_REPLACE_TEXT,
    IDC_LOG,
};

// The control of the policy's that `id` draws, if any.
std::optional<Control> ControlOf(int id) {
  const auto* at = std::find(kIds.begin(), kIds.end(), id);
  if (id == 0 || at == kIds.end()) return std::nullopt;
  return static_cast<Control>(at - kIds.begin());
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

// Puts `look`'s entries in the choice box `box` when they changed, and chooses its text.
void DrawChoices(HWND box, const ControlLook& look, const ControlLook* before) {
  if (before == nullptr || before->choices != look.choices) {
    SendMessageW(box, CB_RESETCONTENT, 0, 0);
    for (const std::string& choice : look.choices) {
      SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(choice).c_str()));
    }
  }
  const LRESULT at = SendMessageW(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                  reinterpret_cast<LPARAM>(Wide(look.text).c_str()));
  SendMessageW(box, CB_SETCURSEL, at == CB_ERR ? 0 : static_cast<WPARAM>(at), 0);
}

// The contacts chosen last time, kept in the registry: only they, so every other setting starts
// at its default.
WindowPolicy::Seams RegistrySeams() {
  WindowPolicy::Seams seams;
  seams.remembered_contacts = [] { return ReadUserSetting(L"Contacts"); };
  seams.remember_contacts = [](const std::string& path) {
    (void)WriteUserSetting(L"Contacts", path);
  };
  return seams;
}

}  // namespace

int Win32MainWindow::IdOf(Control control) {
  return kIds[static_cast<std::size_t>(control)];
}

Win32MainWindow::Win32MainWindow(HINSTANCE instance, std::wstring profile)
    : m_instance(instance), m_policy(*this, Narrow(profile), RegistrySeams()) {
  m_message_box = [this](const std::wstring& text, UINT type) {
    return CentredMessageBox(m_window, text, type);
  };
  m_choose_contacts = [this](const std::wstring& current) { return ChooseContacts(current); };
}

Win32MainWindow::~Win32MainWindow() {
  if (m_window != nullptr) DestroyWindow(m_window);
  for (HGDIOBJ font : {m_normal_font, m_bold_font, m_title_font, m_fixed_font}) {
    if (font != nullptr) DeleteObject(font);
  }
  if (m_image != nullptr) DestroyIcon(m_image);
}

bool Win32MainWindow::Create() {
  // The tooltips' window class is registered by common controls on request.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  if (!LogPane::Register(m_instance)) return false;
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
    case WM_INITDIALOG:
      Init();
      return FALSE;  // the focus is set
    case WM_DPICHANGED: {
      // Moved to a monitor of another DPI: every control and face at the new scale, the client
      // area sized from its twips (the suggested size, without its rounding), at the suggested
      // place.
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
      // Never smaller than with the log at its least: the controls above keep their places.
      RECT outer{0, 0, Px(kMainWidth, m_dpi), Px(MainHeight(true), m_dpi)};
      AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_EXSTYLE)));
      auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
      limits->ptMinTrackSize = {outer.right - outer.left, outer.bottom - outer.top};
      return TRUE;
    }
    case WM_COMMAND:
      Command(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_CLOSE:
      // During a run the walk is still on the stack: abort it and end once it has unwound.
      if (m_ending || m_policy.Close()) DestroyWindow(m_window);
      return TRUE;
    case WM_QUERYENDSESSION:
      // Logging off during a run: abort it, so the summary is written and the log saved at the
      // next yield, before Windows ends the process. Idle, nothing needs closing first.
      if (m_policy.Controller().State() == RunState::Running ||
          m_policy.Controller().State() == RunState::Paused) {
        (void)m_policy.Close();
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

void Win32MainWindow::Init() {
  HICON big = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_DIALMEND), IMAGE_ICON,
                                            0, 0, LR_DEFAULTSIZE | LR_SHARED));
  SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  HICON small = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_DIALMEND),
                                              IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  m_pane = LogPane::Of(GetDlgItem(m_window, IDC_LOG));
  MakeTips();
  m_dpi = DpiOf(m_window);
  SetTabOrder();
  m_policy.DrawAll();
  Layout(m_dpi);
  SetFocus(GetDlgItem(m_window, IDOK));
}

void Win32MainWindow::SetTabOrder() {
  // The dialog manager tabs in the controls' z-order; the ones that take no focus go after.
  HWND previous = HWND_TOP;
  for (const Control control : TabOrder()) {
    HWND window = GetDlgItem(m_window, IdOf(control));
    if (window == nullptr) continue;
    SetWindowPos(window, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    previous = window;
  }
}

void Win32MainWindow::Command(int id, int code) {
  const std::optional<Control> control = ControlOf(id);
  if (control == Control::Book) {
    // Its entries are found as its list opens: a server is asked only when a book is wanted.
    if (code == CBN_DROPDOWN) m_policy.BookChoiceOpened();
    if (code == CBN_SELCHANGE) {
      m_policy.BookChosen(static_cast<int>(SendDlgItemMessageW(m_window, id, CB_GETCURSEL, 0, 0)));
    }
    return;
  }
  if (code == EN_CHANGE && control) {
    if (*control == Control::Find || *control == Control::Replacement ||
        *control == Control::LogFile) {
      m_policy.Edited(*control, Narrow(Text(id)));
    }
    return;
  }
  if (code != BN_CLICKED || !control) return;
  switch (*control) {
    case Control::Go:
      m_policy.Go();
      return;
    case Control::Quit:
      m_policy.Quit();
      return;
    case Control::Undo:
      m_policy.Undo();
      return;
    case Control::Style0:
    case Control::Style1:
    case Control::Style2:
    case Control::Style3:
      m_policy.StyleChosen(static_cast<int>(*control) - static_cast<int>(Control::Style0));
      return;
    case Control::Update:
    case Control::SaveLog:
    case Control::Replace:
      m_policy.Ticked(*control, Checked(id));
      return;
    case Control::ShowLog:
      m_policy.ShowLogPressed();
      return;
    case Control::About:
      About_Click();
      return;
    case Control::Options:
      cmdOption_Click();
      return;
    case Control::SetFile:
      SetFile_Click();
      return;
    case Control::SetProfile:
      SetProfile_Click();
      return;
    default:
      return;
  }
}

void Win32MainWindow::DrawControl(Control control, const ControlLook& look,
                                  const ControlLook* before) {
  const int id = IdOf(control);
  HWND window = GetDlgItem(m_window, id);
  if (window == nullptr) return;
  const ControlKind kind = SpecOf(control).kind;
  const auto changed = [before](auto part) { return before == nullptr || part(*before); };
  if (kind == ControlKind::ChoiceBox && changed([&](const ControlLook& b) {
        return b.text != look.text || b.choices != look.choices;
      })) {
    DrawChoices(window, look, before);
  } else if (kind != ControlKind::Image && kind != ControlKind::LogPane &&
             changed([&](const ControlLook& b) {
               return b.text != look.text || b.placeholder != look.placeholder;
             })) {
    // What an empty box shows, greyed elsewhere, is its text here.
    SetText(id, Wide(look.text.empty() ? look.placeholder : look.text));
  }
  if (changed([&](const ControlLook& b) { return b.tip != look.tip; })) SetTip(id, look.tip);
  if ((kind == ControlKind::CheckBox || kind == ControlKind::RadioButton) &&
      changed([&](const ControlLook& b) { return b.checked != look.checked; })) {
    CheckDlgButton(m_window, id, look.checked ? BST_CHECKED : BST_UNCHECKED);
  }
  if (!look.enabled || !look.visible) KeepFocusUsable(window);
  if (changed([&](const ControlLook& b) { return b.enabled != look.enabled; })) {
    EnableWindow(window, look.enabled);
  }
  if (changed([&](const ControlLook& b) { return b.visible != look.visible; })) {
    ShowWindow(window, look.visible ? SW_SHOW : SW_HIDE);
  }
}

void Win32MainWindow::KeepFocusUsable(HWND control) {
  if (GetFocus() != control) return;
  SendMessageW(m_window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_window, IDOK)), TRUE);
}

void Win32MainWindow::DrawWindow(const WindowLook& look, const WindowLook* before) {
  if (before == nullptr || before->title != look.title) {
    SetWindowTextW(m_window, Wide(look.title).c_str());
  }
  if (before == nullptr || before->log_shown != look.log_shown) {
    SizeForLog(look.log_shown, before != nullptr);
  }
}

void Win32MainWindow::Layout(UINT dpi) {
  // The size left by the user is kept in twips, so it survives a move to another DPI.
  if (m_log_shown) RememberLogSize();
  m_dpi = dpi;
  for (const ControlSpec& spec : MainControls()) {
    TwipsRect place = spec.place;
    // A choice box's height here takes in its dropped list.
    if (spec.kind == ControlKind::ChoiceBox) place.height += kChoiceListHeight;
    PlaceControl(m_window, IdOf(spec.control), place, dpi);
  }
  MakeFonts(dpi);
  const int image_size = Px(SpecOf(Control::Icon).place.width, dpi);
  HICON image = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_DIALMEND),
                                              IMAGE_ICON, image_size, image_size, 0));
  SendDlgItemMessageW(m_window, IDC_IMAGE, STM_SETICON, reinterpret_cast<WPARAM>(image), 0);
  if (m_image != nullptr) DestroyIcon(m_image);
  m_image = image;
  SizeForLog(m_log_shown, false);
  InvalidateRect(m_window, nullptr, TRUE);
}

void Win32MainWindow::MakeFonts(UINT dpi) {
  for (HGDIOBJ font : {m_normal_font, m_bold_font, m_title_font, m_fixed_font}) {
    if (font != nullptr) DeleteObject(font);
  }
  // The dialog's own font is made once, at the DPI the window opened at.
  m_normal_font = MakeFont(m_window, dpi, 8, FW_NORMAL, nullptr);
  m_bold_font = MakeFont(m_window, dpi, 8, FW_BOLD, nullptr);
  m_title_font = MakeFont(m_window, dpi, 18, FW_BOLD, nullptr);
  m_fixed_font = MakeFont(m_window, dpi, 8, FW_NORMAL, L"Courier New");
  for (const ControlSpec& spec : MainControls()) {
    HFONT font = spec.face == ControlFace::Bold    ? m_bold_font
                 : spec.face == ControlFace::Title ? m_title_font
                 : spec.face == ControlFace::Fixed ? m_fixed_font
                                                   : m_normal_font;
    SendDlgItemMessageW(m_window, IdOf(spec.control), WM_SETFONT, reinterpret_cast<WPARAM>(font),
                        FALSE);
  }
}

void Win32MainWindow::SizeForLog(bool shown, bool remember) {
  if (m_log_shown && !shown && remember) RememberLogSize();
  m_log_shown = shown;
  // The log may be read in a window as large as the user likes; without it the window has
  // nothing to grow.
  LONG_PTR style = GetWindowLongPtrW(m_window, GWL_STYLE);
  style = shown ? (style | WS_THICKFRAME | WS_MAXIMIZEBOX)
                : (style & ~(WS_THICKFRAME | WS_MAXIMIZEBOX));
  SetWindowLongPtrW(m_window, GWL_STYLE, style);
  SetWindowPos(m_window, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  if (shown) {
    SizeClient(m_window, m_log_size.cx > 0 ? m_log_size.cx : kMainWidth,
               m_log_size.cy > 0 ? m_log_size.cy : MainHeight(true), m_dpi);
  } else {
    SizeClient(m_window, kMainWidth, MainHeight(false), m_dpi);
  }
  // Sizing to the size the window has sends no WM_SIZE.
  PlaceLogPane();
}

void Win32MainWindow::RememberLogSize() {
  // A maximized window's size is the screen's, not one the user left it at.
  if (IsZoomed(m_window) || IsIconic(m_window)) ShowWindow(m_window, SW_RESTORE);
  RECT client;
  if (!GetClientRect(m_window, &client)) return;
  m_log_size = {PixelsToTwips(client.right, m_dpi), PixelsToTwips(client.bottom, m_dpi)};
}

void Win32MainWindow::PlaceLogPane() {
  RECT client;
  if (!GetClientRect(m_window, &client)) return;
  const int top = Px(SpecOf(Control::Log).place.top, m_dpi);
  MoveWindow(GetDlgItem(m_window, IDC_LOG), 0, top, client.right,
             std::max<int>(client.bottom - top, Px(kLogMinHeight, m_dpi)), TRUE);
}

void Win32MainWindow::MakeTips() {
  m_tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_window,
                           nullptr, m_instance, nullptr);
  // The window works without them.
  if (m_tips != nullptr) {
    // Long paths and the style tip wrap rather than run off the screen.
    SendMessageW(m_tips, TTM_SETMAXTIPWIDTH, 0, 600);
  }
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
  if (!text.empty()) SendMessageW(m_tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
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

void Win32MainWindow::AppendToPane(std::string_view text) {
  if (m_pane != nullptr) m_pane->Append(text);
}

void Win32MainWindow::ClearPane() {
  if (m_pane != nullptr) m_pane->Clear();
}

void Win32MainWindow::ScrollPaneToEnd() {
  if (m_pane != nullptr) m_pane->ScrollToEnd();
}

void Win32MainWindow::PaintNow() {
  for (Control counter : {Control::Folders, Control::Checked, Control::Updated, Control::Numbers}) {
    UpdateWindow(GetDlgItem(m_window, IdOf(counter)));
  }
  UpdateWindow(GetDlgItem(m_window, IDC_LOG));
}

std::string Win32MainWindow::LogText() const {
  return (m_pane != nullptr ? m_pane->Logged() : std::string()) + m_policy.PendingLog();
}

void Win32MainWindow::Beep() {
  MessageBeep(MB_OK);
}

void Win32MainWindow::Inform(const std::string& text) {
  m_message_box(Wide(text), MB_OK);
}

AbortAnswer Win32MainWindow::AskAbort(const std::string& question) {
  const int answer = m_message_box(Wide(question), MB_YESNOCANCEL | MB_ICONERROR | MB_DEFBUTTON3);
  if (answer == IDYES) return AbortAnswer::Yes;
  if (answer == IDNO) return AbortAnswer::No;
  return AbortAnswer::Cancel;
}

bool Win32MainWindow::AskYesNo(const std::string& question) {
  // A question, not an error: nothing has gone wrong when an undo is offered.
  return m_message_box(Wide(question), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void Win32MainWindow::EndProgram() {
  m_ending = true;
  // Closed from the message loop: this may be called from inside a press being handled.
  if (m_window != nullptr) PostMessageW(m_window, WM_CLOSE, 0, 0);
}

void Win32MainWindow::ProcessEvents(bool wait) {
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
