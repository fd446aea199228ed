; The installer of Avendro, built by tools/package-windows, which defines:
;   VERSION          the project's version, e.g. 1.0.5
;   RECORD_VERSION   the version as the program's version record writes it, e.g. 1.00.0005
;   RECORD_NUMBERS   the four numbers of that record, e.g. 1.0.0.5
;   INSTALL_FILES    File lines for the staged files
;   UNINSTALL_FILES  Delete and RMDir lines for the same files
;   VERSION_MAJOR, VERSION_MINOR  the first two numbers of VERSION
;   PUBLISHER, HELP_URL  what Add/Remove Programs shows of the entry
;   OUTFILE          where to write the installer
;   SETUP_CHECK      tools/setup_check_main.cpp built: what the installer asks the system
;   SIGN             when signing: the command that signs a file in place
;   UNINSTALLER_COPY when signing: where to leave a copy of the signed uninstaller
; Installs for all users into Program Files (64-bit), or into the folder of an
; earlier install, adds Start-menu and desktop shortcuts that start Avendro on
; the work drive, optionally a nightly scheduled update, and registers the
; uninstaller under Add/Remove Programs. Silent: /S, /D=folder, /UNITA=X:
; (the work drive; an upgrade takes the one recorded), /NOTTURNO=HH:MM,
; /RITARDO=MINUTI (the task's random delay, 60 by default), /UTENTE=NAME (the
; account the task runs as, by default the one logged on), /NEGOZIO=NAME (the
; shop's name in the reports the nightly runs leave for the vendor; letters,
; digits, blanks, "-", "_" and "."). Exit codes: 2 a
; refused option or no work drive, 3 Avendro is running from the folder, 4
; the scheduled task could not be created, 5 a folder that users without
; administrator rights can change.
; A 64-bit installer for a 64-bit program: it starts on 64-bit Windows only,
; and Wine without its 32-bit part can run it.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "nsDialogs.nsh"
!include "WordFunc.nsh"

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
Var Delay      ; minutes of random delay of the scheduled update
Var Account    ; the account it runs as ("PC\mario")
Var Shop       ; the shop's name in its reports, "" for the computer's
Var AccountField
Var DriveField
Var NightlyBox
Var TimeField

!define MUI_ABORTWARNING
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
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

; $R9 in: a shop's name; out: the same, or empty when it holds a character
; other than letters, digits, blanks, "-", "_" and "." (it goes into the
; task's XML and command line as it is).
Function CheckShop
  StrCpy $R2 0
  next_character:
    StrCpy $R3 $R9 1 $R2
    StrCmp $R3 "" shop_done
    StrCpy $R5 0
    next_allowed:
      StrCpy $R6 "abcdefghijklmnopqrstuvwxyz0123456789 -_." 1 $R5
      StrCmp $R6 "" shop_refused
      StrCmp $R6 $R3 shop_allowed  ; letter case aside
      IntOp $R5 $R5 + 1
      Goto next_allowed
    shop_allowed:
    IntOp $R2 $R2 + 1
    Goto next_character
  shop_refused:
    StrCpy $R9 ""
  shop_done:
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

; Asks tools/setup_check_main.cpp; $R0 in: its question. Out: $R1 its exit
; code, $R2 the line it answered.
Function Ask
  Delete "$PLUGINSDIR\risposta.txt"
  nsExec::Exec '"$PLUGINSDIR\setup_check.exe" $R0 "$PLUGINSDIR\risposta.txt"'
  Pop $R1
  StrCpy $R2 ""
  ClearErrors
  FileOpen $R3 "$PLUGINSDIR\risposta.txt" r
  ${IfNot} ${Errors}
    FileReadUTF16LE $R3 $R2
    FileClose $R3
  ${EndIf}
FunctionEnd

; $R9 in: a drive ("D:"); out: empty when the nightly task can work on it,
; else why not.
Function CheckNightlyDrive
  StrCpy $R0 "unita $R9"
  Call Ask
  ${If} $R1 == 0
    StrCpy $R9 ""
  ${Else}
    StrCpy $R9 "l'unità $R9 $R2"
  ${EndIf}
FunctionEnd

; $R9 out: empty when only administrators can change $INSTDIR, else why not.
; A folder not there yet is made to read the rights it would get, and
; removed again with the folders made for it.
Function CheckInstallFolder
  StrCpy $R8 "$INSTDIR"
  StrCpy $R7 ""
  ${Do}
    ${If} $R8 == ""
    ${OrIf} ${FileExists} "$R8\*.*"
      ${Break}
    ${EndIf}
    StrCpy $R7 $R8
    ${GetParent} $R8 $R8
  ${Loop}
  CreateDirectory "$INSTDIR"
  StrCpy $R0 'cartella "$INSTDIR"'
  Call Ask
  StrCpy $R8 "$INSTDIR"
  ${DoWhile} $R7 != ""
    RMDir $R8
    ${If} $R8 == $R7
      ${Break}
    ${EndIf}
    ${GetParent} $R8 $R8
  ${Loop}
  ${If} $R1 == 0
    StrCpy $R9 ""
  ${ElseIf} $R1 == 1
    StrCpy $R9 "La cartella $INSTDIR può essere modificata da utenti senza diritti di amministratore: un programma messo lì da uno di loro girerebbe con i diritti di chi avvia Avendro. Installare in Program Files (senza /D=) o in una cartella che solo gli amministratori possono modificare."
  ${Else}
    StrCpy $R9 "Non è stato possibile leggere i permessi della cartella $INSTDIR: $R2"
  ${EndIf}
FunctionEnd

Function .onInit
  SetRegView 64
  SetShellVarContext all
  InitPluginsDir
  File "/oname=$PLUGINSDIR\setup_check.exe" "${SETUP_CHECK}"
  ${GetParameters} $0
  ; What an earlier install recorded; the options below override it.
  ReadRegStr $WorkDrive HKLM "${UNINSTALL_KEY}" "WorkDrive"
  ReadRegStr $Nightly HKLM "${UNINSTALL_KEY}" "NightlyTime"
  ReadRegStr $Delay HKLM "${UNINSTALL_KEY}" "NightlyDelay"
  ReadRegStr $Account HKLM "${UNINSTALL_KEY}" "NightlyAccount"
  ReadRegStr $Shop HKLM "${UNINSTALL_KEY}" "ShopName"
  ${If} $Delay == ""
    StrCpy $Delay 60
  ${EndIf}
  ${If} $WorkDrive == ""
    ; An install before these records had its task run as SYSTEM: the
    ; upgrade registers it again, for the shop's account.
    StrCpy $R0 "notturno"
    Call Ask
    ${If} $R1 == 0
      StrCpy $Nightly $R2 5
      StrCpy $WorkDrive $R2 2 6
    ${EndIf}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/UNITA=" $R9
  ${IfNot} ${Errors}
    Call CheckDrive
    ${If} $R9 == ""
      !insertmacro Refuse 2 "/UNITA: nessuna unità di questo nome (per esempio /UNITA=D:)."
    ${EndIf}
    StrCpy $WorkDrive $R9
  ${ElseIf} $WorkDrive == ""
    ${If} ${Silent}
      !insertmacro Refuse 2 "/S senza /UNITA=: indicare l'unità di lavoro, per esempio /UNITA=D: (un'installazione silenziosa non la indovina)."
    ${EndIf}
    ; Proposed to the operator: the first fixed drive of this PC that holds
    ; \drubel, C: last since it also holds the system's; never a stick.
    ${ForEach} $1 68 90 + 1  ; D to Z
      IntFmt $2 "%c:" $1
      ${If} ${FileExists} "$2\drubel\*.*"
        StrCpy $R0 "unita $2"
        Call Ask
        ${If} $R1 == 0
          StrCpy $WorkDrive $2
          ${Break}
        ${EndIf}
      ${EndIf}
    ${Next}
    ${If} $WorkDrive == ""
    ${AndIf} ${FileExists} "C:\drubel\*.*"
      StrCpy $WorkDrive "C:"
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
  ClearErrors
  ${GetOptions} $0 "/RITARDO=" $R9
  ${IfNot} ${Errors}
    IntOp $R8 $R9 + 0
    IntFmt $R8 "%d" $R8
    ${If} $R8 != $R9
    ${OrIf} $R8 < 0
    ${OrIf} $R8 > 720
      !insertmacro Refuse 2 "/RITARDO: minuti non validi (da 0 a 720)."
    ${EndIf}
    StrCpy $Delay $R8
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/UTENTE=" $R9
  ${IfNot} ${Errors}
    StrCpy $Account $R9
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/NEGOZIO=" $R9
  ${IfNot} ${Errors}
    StrCpy $R1 $R9
    Call CheckShop
    ${If} $R9 == ""
    ${AndIf} $R1 != ""
      !insertmacro Refuse 2 "/NEGOZIO: usare solo lettere, cifre, spazi, - _ e . nel nome del negozio."
    ${EndIf}
    StrCpy $Shop $R9
  ${EndIf}
  ${If} $Account == ""
    ; The account logged on to this session: the one that started the
    ; installer, whoever gave the administrator's rights at its prompt.
    StrCpy $R0 "utente"
    Call Ask
    ${If} $R1 == 0
      StrCpy $Account $R2
    ${EndIf}
  ${EndIf}
  ${If} $Nightly != ""
  ${AndIf} $WorkDrive != ""
    StrCpy $R9 $WorkDrive
    Call CheckNightlyDrive
    ${If} $R9 != ""
      !insertmacro Refuse 2 "/NOTTURNO: $R9."
    ${EndIf}
  ${EndIf}
  ${If} $Nightly != ""
  ${AndIf} $Account == ""
    !insertmacro Refuse 2 "/NOTTURNO: nessun utente ha aperto la sessione; indicare con /UTENTE= l'utente del negozio che l'aggiornamento notturno usa."
  ${EndIf}
  ${If} ${Silent}
    Call CheckInstallFolder
    ${If} $R9 != ""
      !insertmacro Refuse 5 "$R9"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function DirectoryLeave
  Call CheckInstallFolder
  ${If} $R9 != ""
    MessageBox MB_ICONEXCLAMATION "$R9"
    Abort
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
  ${NSD_CreateLabel} 12u 84u 60u 12u "Come l'utente:"
  Pop $0
  ${NSD_CreateText} 74u 82u 120u 12u "$Account"
  Pop $AccountField
  ${NSD_CreateLabel} 12u 100u 100% 24u "L'aggiornamento notturno gira con i diritti di questo utente del negozio (anche se nessuno è collegato), mai come amministratore."
  Pop $0
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
    ${NSD_GetText} $AccountField $Account
    ${If} $Account == ""
      MessageBox MB_ICONEXCLAMATION "Indicare l'utente del negozio con cui gira l'aggiornamento notturno."
      Abort
    ${EndIf}
    StrCpy $R9 $WorkDrive
    Call CheckNightlyDrive
    ${If} $R9 != ""
      MessageBox MB_ICONEXCLAMATION "Aggiornamento notturno: $R9."
      Abort
    ${EndIf}
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

  WriteRegStr HKLM "${UNINSTALL_KEY}" "WorkDrive" "$WorkDrive"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "NightlyTime" "$Nightly"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "NightlyDelay" "$Delay"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "NightlyAccount" "$Account"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "ShopName" "$Shop"

  ; The nightly task, always from Task Scheduler's XML (kept beside the
  ; program): as the shop's account, with no password stored (S4U) and never
  ; more than its rights; spread over $Delay minutes so that a vendor's
  ; shops do not all call at once; run later when the PC was off, on
  ; battery too, for two hours at most, never twice at once; started in the
  ; work folder. Registered again by every upgrade, which moves a task of an
  ; earlier version that ran as SYSTEM.
  ${If} $Nightly != ""
    StrCpy $2 ""
    ${If} $Delay != 0
      StrCpy $3 "M</RandomDelay>"
      StrCpy $2 "<RandomDelay>PT$Delay$3"
    ${EndIf}
    StrCpy $4 ""
    ${If} $Shop != ""
      StrCpy $4 " --negozio &quot;$Shop&quot;"
    ${EndIf}
    ; A Windows account's name may hold "&" ("cassa&banco"), which the XML
    ; would read as the start of an entity and schtasks refuse.
    ${WordReplace} $Account "&" "&amp;" "+" $5
    FileOpen $1 "$INSTDIR\notturno.xml" w
    FileWriteUTF16LE /BOM $1 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
    FileWriteUTF16LE $1 '<RegistrationInfo><Description>Avendro: aggiornamento notturno dei programmi dell$\'unità $WorkDrive</Description></RegistrationInfo>$\r$\n'
    FileWriteUTF16LE $1 '<Triggers><CalendarTrigger><StartBoundary>2020-01-01T$Nightly:00</StartBoundary><Enabled>true</Enabled>$2<ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay></CalendarTrigger></Triggers>$\r$\n'
    FileWriteUTF16LE $1 '<Principals><Principal id="Author"><UserId>$5</UserId><LogonType>S4U</LogonType><RunLevel>LeastPrivilege</RunLevel></Principal></Principals>$\r$\n'
    FileWriteUTF16LE $1 '<Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy><DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries><StopIfGoingOnBatteries>false</StopIfGoingOnBatteries><StartWhenAvailable>true</StartWhenAvailable><ExecutionTimeLimit>PT2H</ExecutionTimeLimit><Enabled>true</Enabled></Settings>$\r$\n'
    FileWriteUTF16LE $1 '<Actions Context="Author"><Exec><Command>$INSTDIR\Avendro.exe</Command><Arguments>--aggiorna --unita $WorkDrive$4</Arguments><WorkingDirectory>$WorkDrive\drubel</WorkingDirectory></Exec></Actions>$\r$\n</Task>$\r$\n'
    FileClose $1
    nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /TN "${TASK}" /XML "$INSTDIR\notturno.xml" /F'
    Pop $0
    ${If} $0 != 0
      !insertmacro Refuse 4 "Avendro è installato, ma l'aggiornamento notturno non è stato pianificato (schtasks: $0)."
    ${EndIf}
  ${Else}
    ; None asked for (an operator who unticked it): none left.
    nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Delete /TN "${TASK}" /F'
    Pop $0
    Delete "$INSTDIR\notturno.xml"
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
  Delete "$INSTDIR\notturno.xml"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
