// The main window's dialogs: About, International Options, Log file... and the contacts.

#include "win32/main_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shobjidl.h>

#include <string>
#include <system_error>

#include "engine/version.h"
#include "platform/reason.h"
#include "platform/utf16.h"
#include "run/window_texts.h"
#include "stores/profile/open_profile.h"
#include "ui/system_info.h"
#include "win32/dialog_layout.h"
#include "win32/resource_ids.h"

namespace dialmend {
namespace {

constexpr int kAboutWidth = 5835;
constexpr int kAboutHeight = 4080;

constexpr TwipsPlace kAboutPlaces[] = {
    {IDC_ABOUT_IMAGE, 120, 120, 885, 885},
    // As wide as the notice of rights beside it leaves room for.
    {IDC_ABOUT_TITLE, 1170, 120, 1800, 480},
    {IDC_ABOUT_VERSION, 1170, 600, 1455, 255},
    // The notice of rights sits beside the title, where the heading leaves room for two lines.
    {IDC_ABOUT_RIGHTS, 3000, 180, 2700, 420},
    // Below the icon, not under it: the designed top of 945 hid the first line's top.
    {IDC_ABOUT_DESCRIPTION, 120, 1080, 5565, 1755},
    {IDC_ABOUT_LINE, 105, 2920, 5579, 30},
    {IDC_ABOUT_DISCLAIMER, 120, 3120, 3870, 825},
    {IDOK, 4440, 3120, 1260, 345},
    {IDC_SYS_INFO, 4440, 3600, 1245, 345},
};

constexpr int kOptionsWidth = 4500;
constexpr int kOptionsHeight = 5175;

// The dialog's rows top to bottom, the frames' buttons 285 apart.
constexpr TwipsPlace kOptionsPlaces[] = {
    {IDC_OPTIONS_IMAGE, 165, 165, 480, 480},
    {IDC_OPTIONS_TITLE, 765, 180, 2700, 450},
    {IDC_OPTIONS_INTRO, 165, 780, 4170, 255},
    {IDC_PREFIX_FRAME, 165, 1080, 4170, 1200},
    {IDC_PREFIX0, 330, 1350, 3870, 255},
    {IDC_PREFIX1, 330, 1635, 3870, 255},
    {IDC_PREFIX2, 330, 1920, 3870, 255},
    {IDC_CODE_FRAME, 165, 2385, 4170, 1200},
    {IDC_CODE0, 330, 2655, 3870, 255},
    {IDC_CODE1, 330, 2940, 3870, 255},
    {IDC_CODE2, 330, 3225, 3870, 255},
    {IDC_OPTIONS_NOTE, 165, 3705, 4170, 660},
    {IDC_OLD_CODES, 165, 4395, 4170, 255},  // at the foot, under the note
    {IDOK, 3210, 4725, 1125, 345},
};

// `text` with its lines ended as a static control shows them.
std::wstring WindowsLines(std::string_view text) {
  std::wstring lines;
  for (wchar_t c : Utf8ToUtf16(text).value_or(L"")) {
    if (c == L'\n') lines += L'\r';
    lines += c;
  }
  return lines;
}

// A tooltip for one control of a dialog; it goes with the dialog.
void AddTip(HWND dialog, int id, std::string_view text) {
  HWND tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog,
                              nullptr, nullptr, nullptr);
  if (tips == nullptr) return;  // the dialog works without it
  SendMessageW(tips, TTM_SETMAXTIPWIDTH, 0, 600);
  std::wstring wide = Utf8ToUtf16(text).value_or(L"");
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = dialog;
  tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dialog, id));
  tool.lpszText = wide.data();
  SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

}  // namespace

void Win32MainWindow::LayoutAbout(HWND about) {
  const UINT dpi = DpiOf(about);
  PlaceControls(about, kAboutPlaces, dpi);
  SizeClient(about, kAboutWidth, kAboutHeight, dpi);
}

void Win32MainWindow::LayoutOptions(HWND options) {
  const UINT dpi = DpiOf(options);
  PlaceControls(options, kOptionsPlaces, dpi);
  SizeClient(options, kOptionsWidth, kOptionsHeight, dpi);
}

void Win32MainWindow::About_Click() {
  // One at a time: a second press brings the open one to the front. Modeless, so a run goes on
  // while it is open.
  if (m_about == nullptr) {
    m_about = CreateDialogParamW(m_instance, MAKEINTRESOURCEW(IDD_ABOUT), m_window, AboutProc,
                                 reinterpret_cast<LPARAM>(this));
    if (m_about == nullptr) {
      ShowMessage("The About box cannot be opened.");
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
    case WM_INITDIALOG: {
      SetDlgItemTextW(window, IDC_ABOUT_VERSION,
                      (L"Version " + Utf8ToUtf16(kVersion).value_or(L"")).c_str());
      SetDlgItemTextW(window, IDC_ABOUT_DESCRIPTION, WindowsLines(kAboutDescription).c_str());
      SetDlgItemTextW(window, IDC_ABOUT_DISCLAIMER, WindowsLines(kAboutWarning).c_str());
      LayoutAbout(window);
      SendDlgItemMessageW(window, IDC_ABOUT_TITLE, WM_SETFONT,
                          reinterpret_cast<WPARAM>(self->m_title_font), FALSE);
      SendDlgItemMessageW(window, IDC_ABOUT_IMAGE, STM_SETICON,
                          reinterpret_cast<WPARAM>(self->m_image), 0);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDC_SYS_INFO && !StartSysInfo()) {
        MessageBoxW(window, Utf8ToUtf16(kSysInfoUnavailable).value_or(L"").c_str(), L"Dialmend",
                    MB_OK);
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
  NumberOptions& options = self->m_options;
  switch (message) {
    case WM_INITDIALOG:
      // The dialog shows the options as they are: it is opened again for each change.
      CheckRadioButton(window, IDC_PREFIX0, IDC_PREFIX2,
                       IDC_PREFIX0 + static_cast<int>(options.prefix));
      CheckRadioButton(window, IDC_CODE0, IDC_CODE2,
                       IDC_CODE0 + static_cast<int>(options.leading_zero));
      CheckDlgButton(window, IDC_OLD_CODES, options.old_codes_only ? BST_CHECKED : BST_UNCHECKED);
      AddTip(window, IDC_OLD_CODES, kOldCodesTip);
      SendDlgItemMessageW(window, IDC_OPTIONS_TITLE, WM_SETFONT,
                          reinterpret_cast<WPARAM>(self->m_title_font), FALSE);
      SendDlgItemMessageW(window, IDC_OPTIONS_IMAGE, STM_SETICON,
                          reinterpret_cast<WPARAM>(self->m_image), 0);
      LayoutOptions(window);
      return TRUE;
    case WM_DPICHANGED:
      LayoutOptions(window);
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      if (id >= IDC_PREFIX0 && id <= IDC_PREFIX2)
        options.prefix = PrefixFromNumber(id - IDC_PREFIX0);
      if (id >= IDC_CODE0 && id <= IDC_CODE2) options.leading_zero = ZeroFromNumber(id - IDC_CODE0);
      if (id == IDC_OLD_CODES)
        options.old_codes_only = IsDlgButtonChecked(window, IDC_OLD_CODES) == BST_CHECKED;
      if (id == IDOK || id == IDCANCEL) EndDialog(window, id);
      return TRUE;
    }
    default:
      return FALSE;
  }
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
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER;
    if (!GetSaveFileNameW(&dialog)) {
      if (const DWORD failure = CommDlgExtendedError(); failure != 0) {
        ShowMessage("The Log file... dialog cannot be opened (common dialog failure " +
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
    ShowMessage("Cannot save the log to \"" + Utf16ToUtf8Lossy(chosen) + "\": the folder \"" +
                Utf16ToUtf8Lossy(folder) + "\" does not exist. Please choose another.");
    offered = chosen;
  }
}

void Win32MainWindow::SetProfile_Click() {
  const std::optional<std::wstring> chosen = m_choose_contacts(m_profile);
  if (!chosen) return;
  const std::string path = Utf16ToUtf8Lossy(*chosen);
  if (const Status checked = CheckProfile(path); !checked.Ok()) {
    // A choice that would only fail as the run starts is refused now; the old one stays.
    ShowMessage(RefusedContactsText(path, checked.Message(), Utf16ToUtf8Lossy(Text(IDC_PROFILE))));
    return;
  }
  m_profile = *chosen;
  ShowProfile();
}

void Win32MainWindow::ShowProfile() {
  const Result<std::string> place = ProfilePlace(Utf16ToUtf8Lossy(m_profile), SystemEnvironment());
  // An empty box alone would not say that nothing was found, nor what to do.
  const std::string shown = place.Ok() ? place.Value() : std::string(kNoContactsFound);
  SetText(IDC_PROFILE, Utf8ToUtf16(shown).value_or(L""));
  // A long path shows its end, the file name.
  HWND box = GetDlgItem(m_window, IDC_PROFILE);
  const LRESULT end = SendMessageW(box, WM_GETTEXTLENGTH, 0, 0);
  SendMessageW(box, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(box, EM_SCROLLCARET, 0, 0);
  SetTip(IDC_PROFILE, place.Ok() ? place.Value() : place.Message());
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

  const bool folder = picked == kFolder;
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const auto problem = [this](HRESULT failure) {
    ShowMessage("The contacts dialog cannot be opened: " +
                ErrorText(std::error_code(static_cast<int>(failure), std::system_category())) +
                ".");
  };
  std::optional<std::wstring> chosen;
  IFileOpenDialog* dialog = nullptr;
  HRESULT result =
      CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog));
  if (FAILED(result)) {
    problem(result);
  } else {
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    options |= FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST | FOS_NOCHANGEDIR;
    options |= folder ? FOS_PICKFOLDERS : FOS_FILEMUSTEXIST;
    dialog->SetOptions(options);
    dialog->SetTitle(folder ? L"Contacts folder..." : L"Contacts file...");
    if (!folder) {
      const COMDLG_FILTERSPEC cards{L"vCard files (*.vcf)", L"*.vcf"};
      dialog->SetFileTypes(1, &cards);
      dialog->SetDefaultExtension(L"vcf");
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
      dialog->SetFolder(start_item);
      start_item->Release();
    }
    result = dialog->Show(m_window);
    IShellItem* item = nullptr;
    if (SUCCEEDED(result) && SUCCEEDED(result = dialog->GetResult(&item))) {
      PWSTR path = nullptr;
      if (SUCCEEDED(result = item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        chosen = path;
        CoTaskMemFree(path);
      }
      item->Release();
    }
    if (FAILED(result) && result != HRESULT_FROM_WIN32(ERROR_CANCELLED)) problem(result);
    dialog->Release();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return chosen;
}

}  // namespace dialmend
