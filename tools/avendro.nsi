; The installer of Avendro, built by tools/package-windows, which defines:
;   VERSION          the project's version, e.g. 1.0.5
;   RECORD_VERSION   the version as the program's version record writes it, e.g. 1.00.0005
;   RECORD_NUMBERS   the four numbers of that record, e.g. 1.0.0.5
;   INSTALL_FILES    File lines for the staged files
;   UNINSTALL_FILES  Delete and RMDir lines for the same files
;   VERSION_MAJOR, VERSION_MINOR  the first two numbers of VERSION
;   PUBLISHER, HELP_URL  what Add/Remove Programs shows of the entry
;   OUTFILE          where to write the installer
;   SIGN             when signing: the command that signs a file in place
;   UNINSTALLER_COPY when signing: where to leave a copy of the signed uninstaller
; Installs for all users into Program Files (64-bit), or into the folder of an
; earlier install, adds Start-menu and desktop shortcuts that start Avendro on
; the work drive, optionally a nightly scheduled update, and registers the
; uninstaller under Add/Remove Programs. Silent: /S, /D=folder, /UNITA=X:
; (the work drive, when no drive holds \drubel), /NOTTURNO=HH:MM. Exit codes:
; 2 a refused option or no work drive, 3 Avendro is running from the folder,
; 4 the scheduled task could not be created.
; A 64-bit installer for a 64-bit program: it starts on 64-bit Windows only,
; and Wine without its 32-bit part can run it.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "nsDialogs.nsh"

!define PRODUCT "Avendro"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define TASK "Avendro aggiornamento notturno"

!ifdef SIGN
  ; The uninstaller is signed before it goes into the installer, so the one
  ; written at install time carries its signature.
  !uninstfinalize '"${SIGN}" "%1" && cp "%1" "${UNINSTALLER_COPY}"' = 0
  !finalize '"${SIGN}" "%1"' = 0
!endif

Name "${PRODUCT} ${RECORD_VERSION}"
Caption "Aggiornamento Software ${RECORD_VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; An upgrade goes where the earlier install is, on D: too; /D= still wins.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
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

Var WorkDrive  ; "D:"
Var Nightly    ; "HH:MM", or empty for no scheduled update
Var DriveField
Var NightlyBox
Var TimeField

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
Page custom WorkPage WorkPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Italian"

; Ends a silent install with an exit code a roll-out script can test, after
; telling an operator why.
!macro Refuse code text
  MessageBox MB_ICONSTOP "${text}" /SD IDOK
  SetErrorLevel ${code}
  Quit
!macroend

; $R9 in: a drive as typed ("d:", "D:\"); out: "D:", or empty when no such drive.
Function CheckDrive
  StrCpy $R9 $R9 2
  StrCpy $R8 $R9 1 1
  ${If} $R8 != ":"
  ${OrIfNot} ${FileExists} "$R9\*.*"
    StrCpy $R9 ""
  ${EndIf}
FunctionEnd

; $R9 in: a time as typed; out: "HH:MM", or empty when it is none.
Function CheckTime
  StrCpy $R8 $R9 2
  StrCpy $R7 $R9 1 2
  StrCpy $R6 $R9 2 3
  StrLen $R5 $R9
  IntOp $R3 $R8 + 0
  IntOp $R4 $R6 + 0
  IntFmt $R1 "%02d" $R3
  IntFmt $R2 "%02d" $R4
  ; The numbers written back as two digits match only what was two digits.
  ${If} $R5 != 5
  ${OrIf} $R7 != ":"
  ${OrIf} $R1 != $R8
  ${OrIf} $R2 != $R6
  ${OrIf} $R3 < 0
  ${OrIf} $R3 > 23
  ${OrIf} $R4 < 0
  ${OrIf} $R4 > 59
    StrCpy $R9 ""
  ${EndIf}
FunctionEnd

Function .onInit
  SetRegView 64
  SetShellVarContext all
  ${GetParameters} $0
  ; The work drive: the one given, or the first that holds \drubel, C: last
  ; since it also holds the system's.
  ClearErrors
  ${GetOptions} $0 "/UNITA=" $R9
  ${IfNot} ${Errors}
    Call CheckDrive
    ${If} $R9 == ""
      !insertmacro Refuse 2 "/UNITA: nessuna unità di questo nome (per esempio /UNITA=D:)."
    ${EndIf}
    StrCpy $WorkDrive $R9
  ${Else}
    ${ForEach} $1 68 90 + 1  ; D to Z
      IntFmt $2 "%c:" $1
      ${If} ${FileExists} "$2\drubel\*.*"
        StrCpy $WorkDrive $2
        ${Break}
      ${EndIf}
    ${Next}
    ${If} $WorkDrive == ""
    ${AndIf} ${FileExists} "C:\drubel\*.*"
      StrCpy $WorkDrive "C:"
    ${EndIf}
    ${If} $WorkDrive == ""
    ${AndIf} ${Silent}
      !insertmacro Refuse 2 "Nessuna unità contiene \drubel: indicare l'unità di lavoro con /UNITA=D:."
    ${EndIf}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/NOTTURNO=" $R9
  ${IfNot} ${Errors}
    Call CheckTime
    ${If} $R9 == ""
      !insertmacro Refuse 2 "/NOTTURNO: ora non valida (HH:MM, da 00:00 a 23:59)."
    ${EndIf}
    StrCpy $Nightly $R9
  ${EndIf}
FunctionEnd

Function WorkPage
  !insertmacro MUI_HEADER_TEXT "Unità di lavoro" "Avendro lavora sull'unità che contiene \drubel."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 20u "Unità di lavoro (per esempio D:); i collegamenti avviano Avendro su questa unità:"
  Pop $0
  ${NSD_CreateText} 0 22u 40u 12u "$WorkDrive"
  Pop $DriveField
  ${NSD_CreateCheckbox} 0 48u 100% 12u "Aggiorna i programmi ogni notte"
  Pop $NightlyBox
  ${NSD_CreateLabel} 12u 66u 60u 12u "Alle ore (HH:MM):"
  Pop $0
  ${If} $Nightly == ""
    ${NSD_CreateText} 74u 64u 40u 12u "02:00"
  ${Else}
    ${NSD_CreateText} 74u 64u 40u 12u "$Nightly"
    ${NSD_Check} $NightlyBox
  ${EndIf}
  Pop $TimeField
  nsDialogs::Show
FunctionEnd

Function WorkPageLeave
  ${NSD_GetText} $DriveField $R9
  Call CheckDrive
  ${If} $R9 == ""
    MessageBox MB_ICONEXCLAMATION "Indicare un'unità che esiste, per esempio D:."
    Abort
  ${EndIf}
  StrCpy $WorkDrive $R9
  StrCpy $Nightly ""
  ${NSD_GetState} $NightlyBox $0
  ${If} $0 == ${BST_CHECKED}
    ${NSD_GetText} $TimeField $R9
    Call CheckTime
    ${If} $R9 == ""
      MessageBox MB_ICONEXCLAMATION "Indicare l'ora come HH:MM, da 00:00 a 23:59."
      Abort
    ${EndIf}
    StrCpy $Nightly $R9
  ${EndIf}
FunctionEnd

; A running Avendro.exe cannot be opened for writing: its files would stay
; as they were, behind a "successful" install.
!macro RefuseIfRunning un
  Function ${un}RefuseIfRunning
    ${If} ${FileExists} "$INSTDIR\Avendro.exe"
      again:
      ClearErrors
      FileOpen $0 "$INSTDIR\Avendro.exe" a
      ${If} ${Errors}
        MessageBox MB_RETRYCANCEL|MB_ICONSTOP "Avendro è aperto ($INSTDIR\Avendro.exe). Chiudere Avendro e premere Riprova." /SD IDCANCEL IDRETRY again
        SetErrorLevel 3
        Quit
      ${EndIf}
      FileClose $0
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro RefuseIfRunning ""
!insertmacro RefuseIfRunning "un."

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "${PRODUCT}"
  Call RefuseIfRunning
  !include "${INSTALL_FILES}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The shortcuts start the program on the work drive, which is the drive of
  ; its current folder: in \drubel there, or in the drive's root without one.
  StrCpy $1 "$WorkDrive\drubel"
  ${IfNot} ${FileExists} "$1\*.*"
    StrCpy $1 "$WorkDrive\"
  ${EndIf}
  SetOutPath $1
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Avendro.exe" "" "$INSTDIR\Avendro.exe" 0
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\Avendro.exe" "" "$INSTDIR\Avendro.exe" 0
  SetOutPath "$INSTDIR"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} - Aggiornamento Software"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${RECORD_VERSION}"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMajor" ${VERSION_MAJOR}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMinor" ${VERSION_MINOR}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "HelpLink" "${HELP_URL}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${HELP_URL}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Avendro.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"

  ${If} $Nightly != ""
    nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /TN "${TASK}" /TR "\"$INSTDIR\Avendro.exe\" --aggiorna --unita $WorkDrive" /SC DAILY /ST $Nightly /RU SYSTEM /F'
    Pop $0
    ${If} $0 != 0
      ; The same task as Task Scheduler's XML, for a schtasks that takes
      ; /Create only with /XML, as Wine's does.
      InitPluginsDir
      FileOpen $1 "$PLUGINSDIR\notturno.xml" w
      FileWriteUTF16LE /BOM $1 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
      FileWriteUTF16LE $1 '<Triggers><CalendarTrigger><StartBoundary>2020-01-01T$Nightly:00</StartBoundary><ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay></CalendarTrigger></Triggers>$\r$\n'
      FileWriteUTF16LE $1 '<Principals><Principal id="Author"><UserId>S-1-5-18</UserId><RunLevel>HighestAvailable</RunLevel></Principal></Principals>$\r$\n'
      FileWriteUTF16LE $1 '<Actions Context="Author"><Exec><Command>$INSTDIR\Avendro.exe</Command><Arguments>--aggiorna --unita $WorkDrive</Arguments></Exec></Actions>$\r$\n</Task>$\r$\n'
      FileClose $1
      nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /TN "${TASK}" /XML "$PLUGINSDIR\notturno.xml" /F'
      Pop $0
    ${EndIf}
    ${If} $0 != 0
      !insertmacro Refuse 4 "Avendro è installato, ma l'aggiornamento notturno non è stato pianificato (schtasks: $0)."
    ${EndIf}
  ${EndIf}
SectionEnd

Section "Uninstall"
  Call un.RefuseIfRunning
  ; Absent unless a nightly update was asked for; schtasks then only fails.
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Delete /TN "${TASK}" /F'
  Pop $0
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  !include "${UNINSTALL_FILES}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
