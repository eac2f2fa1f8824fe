; The Dialmend installer: the programs, the README and the notice of rights under Program
; Files, a Start-menu shortcut, an entry in Apps & features and an uninstaller. /S installs and
; uninstalls silently.
; makensis -DVERSION=1.2.3 -DBINDIR=... -DOUTFILE=... dialmend.nsi, where BINDIR holds the
; programs, README.md and COPYRIGHT.txt (the portable folder).
; A 64-bit installer for 64-bit programs: it needs no 32-bit layer to run.
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Dialmend"
!define SHORTCUT "$SMPROGRAMS\Dialmend.lnk"

Name "Dialmend ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Dialmend"
RequestExecutionLevel admin
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Dialmend"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Dialmend installer"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 the Dialmend developers"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The programs are 64-bit: refuse a 32-bit Windows, and see the 64-bit registry whatever view
; the installer would get by default. The shortcut is for every user.
Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "Dialmend needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Dialmend"
  SetOutPath "$INSTDIR"
  File "${BINDIR}\dialmend-run.exe"
  File "${BINDIR}\dialmend-convert.exe"
  File "${BINDIR}\README.md"
  File "${BINDIR}\COPYRIGHT.txt"
  ; The window program, when the build has one, is what the shortcut opens; otherwise the
  ; shortcut opens a command prompt beside the command-line programs, showing their help.
!if /FileExists "${BINDIR}\dialmend.exe"
  File "${BINDIR}\dialmend.exe"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\dialmend.exe"
!else
  CreateShortCut "${SHORTCUT}" "$WINDIR\System32\cmd.exe" \
      '/k cd /d "$INSTDIR" && dialmend-run.exe --help' "" "" SW_SHOWNORMAL "" \
      "Dialmend from a command prompt"
!endif

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Dialmend"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "the Dialmend developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Removes only what the installer put there: a file the user added keeps the folder.
Section "Uninstall"
  Delete "${SHORTCUT}"
  Delete "$INSTDIR\dialmend.exe"
  Delete "$INSTDIR\dialmend-run.exe"
  Delete "$INSTDIR\dialmend-convert.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\COPYRIGHT.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
