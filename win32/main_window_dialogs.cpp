// The main window's dialogs: About, International Options and Log file...

#include "win32/main_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <string>

#include "engine/version.h"
#include "platform/utf16.h"
#include "ui/system_info.h"
#include "win32/resource_ids.h"

namespace dialmend {

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
      SetDlgItemTextW(
          window, IDC_ABOUT_DESCRIPTION,
          L"This utility is designed to update the contacts in your address book with the UK "
          L"area code changes effective from 22 April 2000. It can also perform customised "
          L"number formatting to improve address book to mobile device synchronisation.\r\n\r\n"
          L"Use the simulation facility to create a log of the proposed changes and examine "
          L"this before performing the actual update.\r\n"
          L"Although this program has been thoroughly tested you should also back up your "
          L"contacts before updating.");
      SetDlgItemTextW(window, IDC_ABOUT_DISCLAIMER,
                      L"Warning: Dialmend rewrites the telephone numbers in your contact files. "
                      L"Run a simulation first and back up your contacts before you update them.");
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
      SendDlgItemMessageW(window, IDC_OPTIONS_TITLE, WM_SETFONT,
                          reinterpret_cast<WPARAM>(self->m_title_font), FALSE);
      SendDlgItemMessageW(window, IDC_OPTIONS_IMAGE, STM_SETICON,
                          reinterpret_cast<WPARAM>(self->m_image), 0);
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      if (id >= IDC_PREFIX0 && id <= IDC_PREFIX2)
        options.prefix = PrefixFromNumber(id - IDC_PREFIX0);
      if (id >= IDC_CODE0 && id <= IDC_CODE2) options.leading_zero = ZeroFromNumber(id - IDC_CODE0);
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

}  // namespace dialmend
