; The installer of Avendro, built by tools/package-windows, which defines:
;   VERSION          the project's version, e.g. 1.0.5
;   RECORD_VERSION   the version as the program's version record writes it, e.g. 1.00.0005
;   RECORD_NUMBERS   the four numbers of that record, e.g. 1.0.0.5
;   INSTALL_FILES    File lines for the staged files
;   UNINSTALL_FILES  Delete and RMDir lines for the same files
;   OUTFILE          where to write the installer
; Installs for all users into Program Files (64-bit), adds a Start-menu
; shortcut and registers the uninstaller under Add/Remove Programs.
; A 64-bit installer for a 64-bit program: it starts on 64-bit Windows only,
; and Wine without its 32-bit part can run it.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define PRODUCT "Avendro"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT} ${RECORD_VERSION}"
Caption "Aggiornamento Software ${RECORD_VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
BrandingText "${PRODUCT} ${RECORD_VERSION}"

VIProductVersion "${RECORD_NUMBERS}"
VIFileVersion "${RECORD_NUMBERS}"
VIAddVersionKey /LANG=1040 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1040 "ProductVersion" "${RECORD_VERSION}"
VIAddVersionKey /LANG=1040 "FileVersion" "${RECORD_VERSION}"
VIAddVersionKey /LANG=1040 "FileDescription" "Installazione di ${PRODUCT} (Aggiornamento Software)"
VIAddVersionKey /LANG=1040 "OriginalFilename" "${PRODUCT}-${VERSION}-setup.exe"
; The program's own record names no copyright holder either.
!pragma warning disable 9100

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Italian"

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "${PRODUCT}"
  !include "${INSTALL_FILES}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The shortcut starts the program in its own folder, so the work drive is
  ; the drive Avendro is installed on.
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Avendro.exe" "" "$INSTDIR\Avendro.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} - Aggiornamento Software"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${RECORD_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Avendro.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  !include "${UNINSTALL_FILES}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
