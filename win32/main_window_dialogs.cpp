// The main window's dialogs: About, International Options, Log file... and the contacts.

#include "win32/main_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shobjidl.h>

#include <string>
#include <system_error>

#include "engine/version.h"
#include "platform/reason.h"
#include "platform/system_info.h"
#include "run/window_texts.h"
#include "win32/dialog_layout.h"
#include "win32/resource_ids.h"
#include "win32/wide_text.h"

namespace dialmend {
namespace {

// The About box's controls in the dialog template.
constexpr int kAboutIds[] = {
    IDC_ABOUT_IMAGE,       IDC_ABOUT_TITLE, IDC_ABOUT_VERSION,    IDC_ABOUT_RIGHTS,
    IDC_ABOUT_DESCRIPTION, IDC_ABOUT_LINE,  IDC_ABOUT_DISCLAIMER, IDOK,
    IDC_SYS_INFO};

// The International Options' controls in the dialog template.
constexpr int kOptionsIds[] = {IDC_OPTIONS_IMAGE, IDC_OPTIONS_TITLE,
                               IDC_OPTIONS_INTRO, IDC_PREFIX_FRAME,
                               IDC_PREFIX0,       IDC_PREFIX1,
                               IDC_PREFIX2,       IDC_CODE_FRAME,
                               IDC_CODE0,         IDC_CODE1,
                               IDC_CODE2,         IDC_OPTIONS_NOTE,
                               IDC_OLD_CODES,     IDOK};

void LayoutAbout(HWND about) {
  const UINT dpi = DpiOf(about);
  for (const AboutSpec& spec : AboutControls()) {
    PlaceControl(about, kAboutIds[static_cast<std::size_t>(spec.control)], spec.place, dpi);
  }
  SizeClient(about, kAboutWidth, kAboutHeight, dpi);
}

void LayoutOptions(HWND options) {
  const UINT dpi = DpiOf(options);
  for (const OptionsSpec& spec : OptionsControls()) {
    PlaceControl(options, kOptionsIds[static_cast<std::size_t>(spec.control)], spec.place, dpi);
  }
  SizeClient(options, kOptionsWidth, kOptionsHeight, dpi);
}

// A tooltip for one control of a dialog; it goes with the dialog.
void AddTip(HWND dialog, int id, std::string_view text) {
  HWND tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog,
                              nullptr, nullptr, nullptr);
  if (tips == nullptr) return;  // the dialog works without it
  SendMessageW(tips, TTM_SETMAXTIPWIDTH, 0, 600);
  std::wstring wide = Wide(text);
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = dialog;
  tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dialog, id));
  tool.lpszText = wide.data();
  SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

}  // namespace

void Win32MainWindow::About_Click() {
  // One at a time: a second press brings the open one to the front. Modeless, so a run goes on
  // while it is open.
  if (m_about == nullptr) {
    m_about = CreateDialogParamW(m_instance, MAKEINTRESOURCEW(IDD_ABOUT), m_window, AboutProc,
                                 reinterpret_cast<LPARAM>(this));
    if (m_about == nullptr) {
      Inform("The About box cannot be opened.");
      return;
    }
  }
  ShowWindow(m_about, SW_SHOW);
  SetForegroundWindow(m_about);
}

INT_PTR CALLBACK Win32MainWindow::AboutProc(HWND window, UINT message, WPARAM wparam,
                                            LPARAM lparam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, lparam);
  auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      self->InitAbout(window);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDC_SYS_INFO && !StartSysInfo()) {
        CentredMessageBox(window, Wide(kSysInfoUnavailable), MB_OK);
      }
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) DestroyWindow(window);
      return TRUE;
    case WM_DPICHANGED:
      LayoutAbout(window);
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(window);
      return TRUE;
    case WM_DESTROY:
      self->m_about = nullptr;
      return TRUE;
    default:
      return FALSE;
  }
}

void Win32MainWindow::InitAbout(HWND about) {
  SetDlgItemTextW(about, IDC_ABOUT_VERSION, (L"Version " + Wide(kVersion)).c_str());
  SetDlgItemTextW(about, IDC_ABOUT_RIGHTS, Wide(kAboutRights).c_str());
  SetDlgItemTextW(about, IDC_ABOUT_DESCRIPTION, WindowsLines(kAboutDescription).c_str());
  SetDlgItemTextW(about, IDC_ABOUT_DISCLAIMER, WindowsLines(kAboutWarning).c_str());
  LayoutAbout(about);
  SendDlgItemMessageW(about, IDC_ABOUT_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(m_title_font),
                      FALSE);
  SendDlgItemMessageW(about, IDC_ABOUT_IMAGE, STM_SETICON, reinterpret_cast<WPARAM>(m_image), 0);
  CentreOn(about, m_window);
}

void Win32MainWindow::cmdOption_Click() {
  DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_OPTIONS), m_window, OptionsProc,
                  reinterpret_cast<LPARAM>(this));
  SetFocus(GetDlgItem(m_window, IDOK));
}

INT_PTR CALLBACK Win32MainWindow::OptionsProc(HWND window, UINT message, WPARAM wparam,
                                              LPARAM lparam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, lparam);
  auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  NumberOptions& options = self->m_policy.Options();
  switch (message) {
    case WM_INITDIALOG:
      self->InitOptions(window);
      return TRUE;
    case WM_DPICHANGED:
      LayoutOptions(window);
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      if (id >= IDC_PREFIX0 && id <= IDC_PREFIX2)
        options.prefix = PrefixFromNumber(id - IDC_PREFIX0);
      if (id >= IDC_CODE0 && id <= IDC_CODE2) options.leading_zero = ZeroFromNumber(id - IDC_CODE0);
      if (id == IDC_OLD_CODES) {
        options.old_codes_only = IsDlgButtonChecked(window, IDC_OLD_CODES) == BST_CHECKED;
      }
      if (id == IDOK || id == IDCANCEL) EndDialog(window, id);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void Win32MainWindow::InitOptions(HWND dialog) {
  for (const OptionsSpec& spec : OptionsControls()) {
    const int id = kOptionsIds[static_cast<std::size_t>(spec.control)];
    std::wstring caption = Wide(spec.caption);
    // A frame's caption is drawn clipped to the width its text measures and the frame's line
    // resumes a pixel after it, but under wine the text comes out up to 3 pixels wider than
    // measured ("prefi" and half an "x"): spaces give it the room, and a gap each side.
    if (spec.control == OptionsControl::PrefixFrame || spec.control == OptionsControl::CodeFrame) {
      caption = L" " + caption + L"  ";
    }
    if (!caption.empty()) SetDlgItemTextW(dialog, id, caption.c_str());
    if (!spec.tip.empty()) AddTip(dialog, id, spec.tip);
  }
  // The dialog shows the options as they are: it is opened again for each change.
  const NumberOptions& options = m_policy.Options();
  CheckRadioButton(dialog, IDC_PREFIX0, IDC_PREFIX2,
                   IDC_PREFIX0 + static_cast<int>(options.prefix));
  CheckRadioButton(dialog, IDC_CODE0, IDC_CODE2,
                   IDC_CODE0 + static_cast<int>(options.leading_zero));
  CheckDlgButton(dialog, IDC_OLD_CODES, options.old_codes_only ? BST_CHECKED : BST_UNCHECKED);
  SendDlgItemMessageW(dialog, IDC_OPTIONS_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(m_title_font),
                      FALSE);
  SendDlgItemMessageW(dialog, IDC_OPTIONS_IMAGE, STM_SETICON, reinterpret_cast<WPARAM>(m_image), 0);
  LayoutOptions(dialog);
  CentreOn(dialog, m_window);
}

void Win32MainWindow::SetFile_Click() {
  std::wstring offered = Text(IDC_LOG_FILE);
  // A log in a missing folder would only fail when the run starts: choose again now.
  for (;;) {
    std::wstring chosen = offered;
    chosen.resize(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_window;
    dialog.lpstrFilter = L"(*.txt)\0*.txt\0";
    dialog.lpstrFile = chosen.data();
    dialog.nMaxFile = static_cast<DWORD>(chosen.size());
    dialog.lpstrTitle = L"Log file...";
    dialog.lpstrDefExt = L"txt";
    // Choosing an existing file asks first: a run would replace it.
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER | OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameW(&dialog)) {
      if (const DWORD failure = CommDlgExtendedError(); failure != 0) {
        Inform("The Log file... dialog cannot be opened (common dialog failure " +
               std::to_string(failure) + ").");
      }
      return;
    }
    chosen.resize(chosen.find(L'\0'));
    const std::wstring folder = chosen.substr(0, chosen.find_last_of(L"\\/"));
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      SetText(IDC_LOG_FILE, chosen);
      return;
    }
    Inform(MissingLogFolderText(Narrow(chosen), Narrow(folder)));
    offered = chosen;
  }
}

void Win32MainWindow::SetProfile_Click() {
  const std::optional<std::wstring> chosen = m_choose_contacts(Wide(m_policy.ContactsOffered()));
  if (chosen) m_policy.ContactsChosen(Narrow(*chosen));
}

std::optional<std::wstring> Win32MainWindow::ChooseContacts(const std::wstring& current) {
  // One dialog cannot choose a folder or a file alike: ask which first, under the button.
  enum : UINT { kFolder = 1, kFile = 2, kThunderbird = 3 };
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, kFolder, L"&Folder...");
  AppendMenuW(menu, MF_STRING, kFile, L"F&ile...");
  // Thunderbird's own books, as --profile names them.
  AppendMenuW(menu, MF_STRING, kThunderbird, L"&Thunderbird");
  RECT button{};
  GetWindowRect(GetDlgItem(m_window, IDC_SET_PROFILE), &button);
  const UINT picked = static_cast<UINT>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN, button.left,
                     button.bottom, 0, m_window, nullptr));
  DestroyMenu(menu);
  if (picked == 0) return std::nullopt;
  if (picked == kThunderbird) return L"thunderbird:";

  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  std::optional<std::wstring> chosen;
  IFileOpenDialog* dialog = nullptr;
  HRESULT result =
      CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog));
  if (SUCCEEDED(result)) {
    result = ShowContactsDialog(*dialog, picked == kFolder, current, chosen);
    dialog->Release();
  }
  if (FAILED(result) && result != HRESULT_FROM_WIN32(ERROR_CANCELLED)) {
    Inform("The contacts dialog cannot be opened: " +
           ErrorText(std::error_code(static_cast<int>(result), std::system_category())) + ".");
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return chosen;
}

HRESULT Win32MainWindow::ShowContactsDialog(IFileOpenDialog& dialog, bool folder,
                                            const std::wstring& current,
                                            std::optional<std::wstring>& chosen) {
  FILEOPENDIALOGOPTIONS options = 0;
  dialog.GetOptions(&options);
  options |= FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST | FOS_NOCHANGEDIR;
  options |= folder ? FOS_PICKFOLDERS : FOS_FILEMUSTEXIST;
  dialog.SetOptions(options);
  dialog.SetTitle(folder ? L"Contacts folder..." : L"Contacts file...");
  if (!folder) {
    const COMDLG_FILTERSPEC cards{L"vCard files (*.vcf)", L"*.vcf"};
    dialog.SetFileTypes(1, &cards);
    dialog.SetDefaultExtension(L"vcf");
  }
  // Opened where the contacts are now: their folder, or the folder of their file.
  const DWORD attributes = GetFileAttributesW(current.c_str());
  std::wstring start = current;
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    const std::size_t slash = current.find_last_of(L"\\/");
    start = slash == std::wstring::npos ? std::wstring() : current.substr(0, slash);
  }
  IShellItem* start_item = nullptr;
  if (!start.empty() &&
      SUCCEEDED(SHCreateItemFromParsingName(start.c_str(), nullptr, IID_PPV_ARGS(&start_item)))) {
    dialog.SetFolder(start_item);
    start_item->Release();
  }
  HRESULT result = dialog.Show(m_window);
  IShellItem* item = nullptr;
  if (SUCCEEDED(result) && SUCCEEDED(result = dialog.GetResult(&item))) {
    PWSTR path = nullptr;
    if (SUCCEEDED(result = item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
      chosen = path;
      CoTaskMemFree(path);
    }
    item->Release();
  }
  return result;
}

}  // namespace dialmend
