; Vantrell setup: installs Korvane.dll, registers it as Internet Explorer's
; popup-blocking helper object and lists it in Add or Remove Programs. Beside
; it goes KorvaneBroker.exe, the broker that does for the browser what
; Protected Mode forbids it: setup lets the browser start it silently at
; medium integrity (its elevation policy), has it start at every logon, and
; starts it; an upgrade or a removal stops it first.
;
; The program folder is administrators' alone: the library runs in every
; program that receives keyboard input, the broker for every user, and
; setup and the uninstaller run elevated, so a file that a user could put
; beside them (a library they load by name, a manifest, a ".local") would
; run as an administrator or as another user. The white list, which every
; user may save, lives in a folder of its own that holds no program:
; "Vantrell" in the common application data folder. What setup or the
; uninstaller must run elevated comes from a copy in the installer's own
; temporary folder, which only it can write.
;
; Built by CMake with every build (see CMakeLists.txt beside this file):
;   makensis -DVERSION=1.52 -DLIBRARY=<Korvane.dll> -DBROKER=<KorvaneBroker.exe>
;            -DOUTFILE=<KorvaneSetup.exe> korvane.nsi
;
; Its icon (setup.ico) and the picture of its first and last pages
; (wizard.bmp) are drawn by src/resources/icons/make_icons.py, the red sign
; of the library's own icon.
;
; On 64-bit Windows it is a 32-bit program for a 32-bit library, which only
; the 32-bit browser loads: its files go into "Program Files (x86)" and its
; registry entries, the library's own and Add or Remove Programs', into the
; registry's 32-bit view, where the 32-bit browser and the uninstaller look.
;
; Switches of setup and of the uninstaller:
;   /S          silent: no window, no question (the white list is kept)
;   /D=<folder> install folder; must come last, unquoted
; Exit codes of both:
;   0     done
;   1     cancelled by the user
;   2     failed; the reason is in the log (and, unless silent, on screen)
;   3010  done, but Korvane.dll was in use: Windows must restart to finish.
;         The code Windows Installer uses, so deployment tools know it.
; Both append what they did to "%TEMP%\Vantrell Setup.log": the only trace a
; silent run leaves.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"

!ifndef VERSION
  !error "VERSION is not defined (makensis -DVERSION=1.52)"
!endif
!ifndef LIBRARY
  !error "LIBRARY is not defined (makensis -DLIBRARY=<path of Korvane.dll>)"
!endif
!ifndef BROKER
  !error "BROKER is not defined (makensis -DBROKER=<path of KorvaneBroker.exe>)"
!endif
!ifndef OUTFILE
  !error "OUTFILE is not defined (makensis -DOUTFILE=<path of KorvaneSetup.exe>)"
!endif

!define PRODUCT       "Vantrell"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantrell"
!define RUNONCE_KEY   "Software\Microsoft\Windows\CurrentVersion\RunOnce"
!define RUN_KEY       "Software\Microsoft\Windows\CurrentVersion\Run"
; The browser's list of programs that Protected Mode may start, and how: the
; broker's entry is ours, by this GUID. Policy 3 starts it silently at
; medium integrity.
!define ELEVATION_KEY "Software\Microsoft\Internet Explorer\Low Rights\ElevationPolicy\{9113C1F3-A190-4D31-8D36-7E2B3B7FDD41}"
!define BROKER_NAME   "KorvaneBroker.exe"
!define UNINSTALLER   "Uninstall.exe"
!define LOG_FILE      "$TEMP\Vantrell Setup.log"
; Windows Installer's "success, restart required".
!define EXIT_RESTART  3010
!define EXIT_FAILED   2

; Who may do what. Korvane.dll is loaded into every program that receives
; keyboard input, administrators' programs included, and an administrator
; runs the uninstaller: no user may change, replace or delete either. They
; get a list of their own, cut off from what the folder passes on.
!define SDDL_LOCKED "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)"
; The program folder: only what it inherits from Program Files, where users
; may read and run, and only administrators may add or change anything. (An
; older setup let users add files to it, for the white list.)
!define SDDL_FOLDER_CLOSED "D:"
; The white list's folder ("WhiteList.txt"), which any user may save: a save
; writes a new "WhiteList.<hex>.tmp" and puts it in place of the list, which
; another user may have saved. So users may list it and add files to it
; (0x2), and replace or delete what is in it (0x40, FILE_DELETE_CHILD: a
; list another user saved, or made before this folder's list was set), and
; the files they create are theirs to change (0x1301bf, inherited by files
; only). They may not add folders: nothing in it leads elsewhere. Its own
; list, cut off from what the common application data folder passes on
; (there users may make folders), and administrators its owner.
!define SDDL_DATA_FOLDER "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200eb;;;BU)(A;OIIO;0x1301bf;;;BU)"
; SetFileSecurity: the owner and the list.
!define OWNER_AND_DACL 0x5
!define FILE_ATTRIBUTE_REPARSE_POINT 0x400
; SetNamedSecurityInfo: SE_FILE_OBJECT, and DACL_SECURITY_INFORMATION with
; the protected or unprotected flag.
!define SE_FILE_OBJECT 1
!define DACL_PROTECTED   0x80000004
!define DACL_UNPROTECTED 0x20000004

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} Setup"
UninstallCaption "${PRODUCT} ${VERSION} Uninstall"
BrandingText "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; A 32-bit helper for the 32-bit browser: on 64-bit Windows this is
; "Program Files (x86)", as it should be.
InstallDir "$PROGRAMFILES\${PRODUCT}"
; An upgrade goes where the installed copy is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PRODUCT}"

;--------------------------------------------------------------------------
; Pages

!define MUI_ABORTWARNING
!define MUI_ICON "${__FILEDIR__}\setup.ico"
!define MUI_UNICON "${__FILEDIR__}\setup.ico"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${__FILEDIR__}\wizard.bmp"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${__FILEDIR__}\wizard.bmp"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT_REBOOT "$(RestartToFinishSetup)"
!define MUI_FINISHPAGE_REBOOTLATER_DEFAULT
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT_REBOOT "$(RestartToFinishRemoval)"
!define MUI_FINISHPAGE_REBOOTLATER_DEFAULT
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "English"

;--------------------------------------------------------------------------
; Texts

LangString NeedAdministrator ${LANG_ENGLISH} \
  "${PRODUCT} ${VERSION} Setup must be run by an administrator."
LangString NeedAdministratorToRemove ${LANG_ENGLISH} \
  "${PRODUCT} can only be removed by an administrator."
LangString CannotWrite ${LANG_ENGLISH} \
  "Setup could not write $0. Close the programs that use it and run Setup again."
LangString RegistrationFailed ${LANG_ENGLISH} \
  "Korvane.dll could not be registered (regsvr32 ended with $0). ${PRODUCT} will not \
  work in Internet Explorer. Setup did not finish; ${PRODUCT} is listed in Add or Remove \
  Programs, so it can be removed or set up again."
LangString BrokerInUseAtSetup ${LANG_ENGLISH} \
  "KorvaneBroker.exe is in use by another user's session; the new one takes its place when \
  Windows restarts."
LangString InUseAtSetup ${LANG_ENGLISH} \
  "Korvane.dll is in use by running programs; the new one takes its place when Windows \
  restarts."
LangString RestartToFinishSetup ${LANG_ENGLISH} \
  "Korvane.dll is in use by running programs. Windows must restart to finish setting up \
  ${PRODUCT} ${VERSION}. Do you want to restart now?"
LangString FolderNotOpened ${LANG_ENGLISH} \
  "Warning: the permissions of the white list's folder $0 could not be set (error $1); \
  users may not be able to save the white list."
LangString FolderNotClosed ${LANG_ENGLISH} \
  "Warning: the permissions of $INSTDIR could not be set (error $0)."
LangString NotInstalledHere ${LANG_ENGLISH} \
  "${PRODUCT} is not installed in $INSTDIR."
LangString AskRemoveWhiteList ${LANG_ENGLISH} \
  "Do you also want to remove your white list of sites whose popups are allowed? \
  Choose No to keep it for a later installation."
LangString UnregistrationFailed ${LANG_ENGLISH} \
  "Korvane.dll could not be unregistered (regsvr32 ended with $0)."
LangString RemoveAnyway ${LANG_ENGLISH} \
  "Internet Explorer may still try to load it. Remove ${PRODUCT}'s files anyway?"
LangString LibraryMissing ${LANG_ENGLISH} \
  "Korvane.dll is missing, so its registration could not be removed."
LangString NothingRemoved ${LANG_ENGLISH} \
  "Nothing was removed."
LangString InUseAtRemoval ${LANG_ENGLISH} \
  "Korvane.dll is in use by running programs; it will be removed when Windows restarts."
LangString RestartToFinishRemoval ${LANG_ENGLISH} \
  "Korvane.dll is in use by running programs. Windows must restart to finish removing \
  ${PRODUCT}. Do you want to restart now?"

;--------------------------------------------------------------------------
; Shared by setup and the uninstaller (each gets its own copy, as NSIS
; wants "un." functions for the uninstaller).

Var LogFile
Var Regsvr32
; The white list's folder, "Vantrell" in the common application data folder.
Var DataFolder

; Every step worth knowing goes to the details list and, for silent runs, to
; the log file.
!macro Log text
  DetailPrint "${text}"
  ${If} $LogFile != ""
    FileWrite $LogFile "${text}$\r$\n"
  ${EndIf}
!macroend
!define Log "!insertmacro Log"

!macro SharedFunctions un
  Function ${un}OpenLog
    ClearErrors
    FileOpen $LogFile "${LOG_FILE}" a
    ${If} ${Errors}
      StrCpy $LogFile ""
    ${Else}
      FileSeek $LogFile 0 END
      !insertmacro GetTimeCall "" "L" $0 $1 $2 $3 $4 $5 $6
      !if "${un}" == ""
        FileWrite $LogFile "$\r$\n$2-$1-$0 $4:$5:$6 $(^Name) ${VERSION} Setup: $CMDLINE$\r$\n"
      !else
        FileWrite $LogFile "$\r$\n$2-$1-$0 $4:$5:$6 $(^Name) ${VERSION} Uninstall: $CMDLINE$\r$\n"
      !endif
    ${EndIf}
    ClearErrors
  FunctionEnd

  ; The 32-bit regsvr32: it writes the registration into the registry view
  ; of 32-bit programs, where the 32-bit browser reads it. On 64-bit Windows
  ; it is in SysWOW64, and named so: the command left for the next logon is
  ; run by a 64-bit program, for which System32 holds the 64-bit regsvr32.
  Function ${un}FindRegsvr32
    System::Call 'kernel32::GetSystemWow64DirectoryW(w .R0, i ${NSIS_MAX_STRLEN}) i .R1'
    ; 0, or "error" where the function does not exist: 32-bit Windows.
    ${If} $R1 = 0
      StrCpy $R0 $SYSDIR
    ${EndIf}
    StrCpy $Regsvr32 "$R0\regsvr32.exe"
  FunctionEnd

  ; The common application data folder ("ProgramData"), where the white
  ; list's folder is, as the library finds it.
  Function ${un}FindDataFolder
    SetShellVarContext all
    StrCpy $DataFolder "$APPDATA\${PRODUCT}"
    SetShellVarContext current
  FunctionEnd

  ; Whether $R0 is a link (a junction or a symbolic link) rather than a
  ; folder: one is removed, never followed. Out: $R1 1 when it is a link.
  Function ${un}IsLink
    System::Call 'kernel32::GetFileAttributesW(w R0) i .R1'
    ${If} $R1 = -1
      StrCpy $R1 0
    ${Else}
      IntOp $R1 $R1 & ${FILE_ATTRIBUTE_REPARSE_POINT}
      ${If} $R1 <> 0
        StrCpy $R1 1
      ${EndIf}
    ${EndIf}
  FunctionEnd

  ; Administrators only: the library goes into Program Files and registers
  ; itself for every user of the machine.
  Function ${un}RequireAdministrator
    Exch $0   ; the message
    UserInfo::GetAccountType
    Pop $1
    ${If} $1 != "Admin"
      ${Log} "$0"
      MessageBox MB_OK|MB_ICONSTOP "$0" /SD IDOK
      SetErrorLevel ${EXIT_FAILED}
      Quit
    ${EndIf}
    Pop $0
  FunctionEnd

  ; Replaces the list of who may do what on a file or folder.
  ; In: $R0 path, $R1 SDDL text, $R2 DACL flags. Out: $R3 Win32 error, 0 = done.
  Function ${un}SetAccess
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w R1, i 1, \
      *p .R4, p 0) i .R3 ?e'
    Pop $R5
    ${If} $R3 == 0
      StrCpy $R3 $R5
      Return
    ${EndIf}
    System::Call 'advapi32::GetSecurityDescriptorDacl(p R4, *i .R6, *p .R7, *i .R8) i .R3 ?e'
    Pop $R5
    ${If} $R3 == 0
      StrCpy $R3 $R5
    ${Else}
      System::Call 'advapi32::SetNamedSecurityInfoW(w R0, i ${SE_FILE_OBJECT}, i R2, p 0, p 0, \
        p R7, p 0) i .R3'
    ${EndIf}
    System::Call 'kernel32::LocalFree(p R4)'
  FunctionEnd

  ; Ends every broker on this desktop and waits for each, through the
  ; program's own switch. In: $R0 the program to run it with, a copy in the
  ; installer's own temporary folder: run elevated, it must not lie where
  ; users could put files beside it.
  Function ${un}StopBrokers
    ${If} ${FileExists} "$R0"
      ClearErrors
      ExecWait '"$R0" /stop' $R1
      ${If} ${Errors}
        StrCpy $R1 "not started"
      ${EndIf}
      ${Log} "Stopped the broker on this desktop with $R0 ($R1)."
    ${EndIf}
  FunctionEnd

  ; Writes (or, with $R0 = 0, removes) the broker's elevation policy. On
  ; 64-bit Windows the browser's own broker that reads it may be a 64-bit
  ; process (the frame of Internet Explorer 10 and 11) or a 32-bit one, so
  ; the entry goes into both registry views, and leaves both.
  Function ${un}ElevationPolicy
    StrCpy $R1 0
    ${Do}
      ${If} $R0 == 1
        WriteRegStr HKLM "${ELEVATION_KEY}" "AppName" "${BROKER_NAME}"
        WriteRegStr HKLM "${ELEVATION_KEY}" "AppPath" "$INSTDIR"
        WriteRegDWORD HKLM "${ELEVATION_KEY}" "Policy" 3
      ${Else}
        DeleteRegKey HKLM "${ELEVATION_KEY}"
      ${EndIf}
      ${IfNot} ${RunningX64}
      ${OrIf} $R1 == 1
        ${Break}
      ${EndIf}
      SetRegView 64
      StrCpy $R1 1
    ${Loop}
    SetRegView 32
  FunctionEnd

  ; Deletes Korvane.dll. Any program that has it loaded holds it. The
  ; keyboard hook loads it into every program that gets keyboard input, and
  ; such programs let go of it only a moment after the hook goes; the first
  ; program to load the library sets the hook, and regsvr32 may be that
  ; program. So a few tries come before the restart is called for.
  ; Out: $R0 1 when it is still there.
  Function ${un}DeleteLibrary
    StrCpy $R0 0
    ${Do}
      ClearErrors
      Delete "$INSTDIR\Korvane.dll"
      ${IfNot} ${FileExists} "$INSTDIR\Korvane.dll"
        StrCpy $R0 0
        ${Break}
      ${EndIf}
      IntOp $R0 $R0 + 1
      ${If} $R0 >= 4
        StrCpy $R0 1
        ${Break}
      ${EndIf}
      Sleep 500
    ${Loop}
    ClearErrors
  FunctionEnd
!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

!macro SetAccess path sddl flags
  StrCpy $R0 "${path}"
  StrCpy $R1 "${sddl}"
  StrCpy $R2 ${flags}
  Call ${__SetAccessPrefix}SetAccess
!macroend

; Fails the run: a message (unless silent), the log, exit code 2. Expects
; the message in $(text) to use $0.
!macro Fail text
  ${Log} "$(${text})"
  MessageBox MB_OK|MB_ICONSTOP "$(${text})" /SD IDOK
  SetErrorLevel ${EXIT_FAILED}
  Abort
!macroend

;--------------------------------------------------------------------------
; Setup

Function .onInit
  Call OpenLog
  Call FindRegsvr32
  Call FindDataFolder
  Push "$(NeedAdministrator)"
  Call RequireAdministrator
FunctionEnd

; Deletes everything inside the folder $R0, never following a link: a link
; is removed itself, what it leads to is left alone. Recursive; it keeps the
; registers it uses on the stack.
Function ClearTree
  Push $R1
  Push $R2
  Push $R3
  FindFirst $R2 $R3 "$R0\*.*"
  ${DoWhile} $R3 != ""
    ${If} $R3 != "."
    ${AndIf} $R3 != ".."
      Push $R0
      StrCpy $R0 "$R0\$R3"
      Call RemoveEntry
      Pop $R0
    ${EndIf}
    FindNext $R2 $R3
  ${Loop}
  FindClose $R2
  Pop $R3
  Pop $R2
  Pop $R1
FunctionEnd

; Removes the file, link or folder $R0 (a folder with what is in it).
Function RemoveEntry
  System::Call 'kernel32::GetFileAttributesW(w R0) i .R1'
  ${If} $R1 = -1
    Return
  ${EndIf}
  IntOp $R1 $R1 & 0x410   ; FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT
  ${If} $R1 = 0x10
    Call ClearTree
  ${EndIf}
  ${If} $R1 <> 0
    RMDir /REBOOTOK "$R0"
  ${Else}
    Delete /REBOOTOK "$R0"
  ${EndIf}
FunctionEnd

; While an older setup left the program folder open to users, anyone could
; put files there: a library the broker or Windows loads by name, a
; manifest, a ".local" folder. Whatever is not setup's own goes. (The white
; list and its backups have been moved out first.)
Function RemoveStrangers
  FindFirst $R2 $R3 "$INSTDIR\*.*"
  ${DoWhile} $R3 != ""
    ${If} $R3 != "."
    ${AndIf} $R3 != ".."
    ${AndIf} $R3 != "Korvane.dll"
    ${AndIf} $R3 != "Korvane.dll.new"
    ${AndIf} $R3 != "${BROKER_NAME}"
    ${AndIf} $R3 != "${BROKER_NAME}.new"
    ${AndIf} $R3 != "${UNINSTALLER}"
      StrCpy $R0 "$INSTDIR\$R3"
      Push $R2
      Push $R3
      Call RemoveEntry
      Pop $R3
      Pop $R2
      ${Log} "Removed $INSTDIR\$R3, which setup did not put there."
    ${EndIf}
    FindNext $R2 $R3
  ${Loop}
  FindClose $R2
FunctionEnd

; The white list's folder: made when missing, a link in its place removed,
; and given its list of rights on the folder alone (SetFileSecurity hands
; nothing down: a file someone put there, or a link to a file elsewhere,
; keeps its own). Out: $R3 0 when done, else the Win32 error.
Function PrepareDataFolder
  StrCpy $R0 "$DataFolder"
  Call IsLink
  ${If} $R1 == 1
    RMDir "$DataFolder"
    ${Log} "Removed a link in the place of $DataFolder."
  ${EndIf}
  CreateDirectory "$DataFolder"
  Call IsLink
  ${If} $R1 == 1
  ${OrIfNot} ${FileExists} "$DataFolder\*.*"
    StrCpy $0 "$DataFolder"
    !insertmacro Fail CannotWrite
  ${EndIf}
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${SDDL_DATA_FOLDER}", \
    i 1, *p .R4, p 0) i .R3 ?e'
  Pop $R5
  ${If} $R3 == 0
    StrCpy $R3 $R5
    Return
  ${EndIf}
  System::Call 'advapi32::SetFileSecurityW(w "$DataFolder", i ${OWNER_AND_DACL}, p R4) i .R3 ?e'
  Pop $R5
  ${If} $R3 == 0
    StrCpy $R3 $R5
  ${Else}
    StrCpy $R3 0
  ${EndIf}
  System::Call 'kernel32::LocalFree(p R4)'
FunctionEnd

; The white list of an older setup, beside the library, goes to its folder,
; with the backups a save cut short may have left it in alone. A list there
; already (this setup ran before) stays the list; the older one is kept
; beside it as "WhiteList.old.txt".
Function MoveWhiteList
  ${If} ${FileExists} "$INSTDIR\WhiteList.txt"
    ${If} ${FileExists} "$DataFolder\WhiteList.txt"
      Delete "$DataFolder\WhiteList.old.txt"
      Rename "$INSTDIR\WhiteList.txt" "$DataFolder\WhiteList.old.txt"
      ${Log} "Kept the older white list as $DataFolder\WhiteList.old.txt."
    ${Else}
      Rename "$INSTDIR\WhiteList.txt" "$DataFolder\WhiteList.txt"
      ${Log} "Moved the white list to $DataFolder\WhiteList.txt."
    ${EndIf}
  ${EndIf}
  FindFirst $R2 $R3 "$INSTDIR\WhiteList.*.bak"
  ${DoWhile} $R3 != ""
    ${IfNot} ${FileExists} "$DataFolder\$R3"
      Rename "$INSTDIR\$R3" "$DataFolder\$R3"
    ${EndIf}
    FindNext $R2 $R3
  ${Loop}
  FindClose $R2
FunctionEnd

; Deletes a file that setup is about to write, so that the one written is
; new and the administrators' own, whoever put something by that name there.
; Fails the run when it cannot.
!macro ClearWay file
  Delete "${file}"
  ${If} ${FileExists} "${file}"
    StrCpy $0 "${file}"
    !insertmacro Fail CannotWrite
  ${EndIf}
!macroend

!macro WriteFile from to
  ClearErrors
  File "/oname=${to}" "${from}"
  ${If} ${Errors}
    StrCpy $0 "$INSTDIR\${to}"
    !insertmacro Fail CannotWrite
  ${EndIf}
!macroend

!define __SetAccessPrefix ""

Section "${PRODUCT}" SectionMain
  SectionIn RO
  SetOutPath "$INSTDIR"

  ; An earlier installation left the folder open to users; it is closed
  ; before anything in it is run or replaced, and stays so.
  !insertmacro SetAccess "$INSTDIR" "${SDDL_FOLDER_CLOSED}" ${DACL_UNPROTECTED}
  StrCpy $9 $R3   ; the error of the last folder or file that could not be locked
  ${If} $9 != 0
    StrCpy $0 $9
    ${Log} "$(FolderNotClosed)"
  ${EndIf}

  ; A running broker holds the library and its own program: it is stopped
  ; first, by the new program (it knows the way whatever version runs), and
  ; started again at the end.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\${BROKER_NAME}" "${BROKER}"
  StrCpy $R0 "$PLUGINSDIR\${BROKER_NAME}"
  Call StopBrokers

  ; The white list's own folder, the list of an older setup moved there,
  ; and whatever users left in the program folder while it was open, gone.
  Call PrepareDataFolder
  StrCpy $8 $R3   ; the white list folder's error, 0 = its rights are set
  Call MoveWhiteList
  Call RemoveStrangers

  ; The library. In use, it can be neither deleted nor overwritten; then the
  ; new one is written beside it and takes its place when Windows restarts,
  ; so that all programs change over together. (Renaming the loaded one out
  ; of the way would let new programs load the new library while the hook
  ; still loads the old one's code into others by name.)
  !insertmacro ClearWay "$INSTDIR\Korvane.dll.new"
  Call DeleteLibrary
  ${If} $R0 == 0
    !insertmacro WriteFile "${LIBRARY}" "Korvane.dll"
    !insertmacro SetAccess "$INSTDIR\Korvane.dll" "${SDDL_LOCKED}" ${DACL_PROTECTED}
    ${If} $R3 != 0
      StrCpy $9 $R3
    ${EndIf}
  ${Else}
    !insertmacro WriteFile "${LIBRARY}" "Korvane.dll.new"
    !insertmacro SetAccess "$INSTDIR\Korvane.dll.new" "${SDDL_LOCKED}" ${DACL_PROTECTED}
    ${If} $R3 != 0
      StrCpy $9 $R3
    ${EndIf}
    ; Rename fails while the target exists, and /REBOOTOK then queues the
    ; replacement for the restart and raises the reboot flag.
    Rename /REBOOTOK "$INSTDIR\Korvane.dll.new" "$INSTDIR\Korvane.dll"
    ${Log} "$(InUseAtSetup)"
  ${EndIf}

  ; The broker's program, as the library: written beside one that another
  ; user's broker still runs, it takes its place at the restart.
  !insertmacro ClearWay "$INSTDIR\${BROKER_NAME}.new"
  Delete "$INSTDIR\${BROKER_NAME}"
  ${IfNot} ${FileExists} "$INSTDIR\${BROKER_NAME}"
    !insertmacro WriteFile "${BROKER}" "${BROKER_NAME}"
    !insertmacro SetAccess "$INSTDIR\${BROKER_NAME}" "${SDDL_LOCKED}" ${DACL_PROTECTED}
  ${Else}
    !insertmacro WriteFile "${BROKER}" "${BROKER_NAME}.new"
    !insertmacro SetAccess "$INSTDIR\${BROKER_NAME}.new" "${SDDL_LOCKED}" ${DACL_PROTECTED}
    Rename /REBOOTOK "$INSTDIR\${BROKER_NAME}.new" "$INSTDIR\${BROKER_NAME}"
    ${Log} "$(BrokerInUseAtSetup)"
  ${EndIf}
  ${If} $R3 != 0
    StrCpy $9 $R3
  ${EndIf}

  !insertmacro ClearWay "$INSTDIR\${UNINSTALLER}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  !insertmacro SetAccess "$INSTDIR\${UNINSTALLER}" "${SDDL_LOCKED}" ${DACL_PROTECTED}
  ${If} $R3 != 0
    StrCpy $9 $R3
  ${EndIf}

  ; Listed before registering, so that whatever is on disk can always be
  ; removed from Add or Remove Programs, even after a failed registration.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Korvane.dll,0"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; In kilobytes, as it will be: a file waiting for the restart replaces the
  ; one in place.
  ${GetSize} "$INSTDIR" "/S=0K /G=0" $0 $1 $2
  ${If} ${FileExists} "$INSTDIR\Korvane.dll.new"
    ${GetSize} "$INSTDIR" "/M=Korvane.dll /S=0K /G=0" $3 $1 $2
    IntOp $0 $0 - $3
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\${BROKER_NAME}.new"
    ${GetSize} "$INSTDIR" "/M=${BROKER_NAME} /S=0K /G=0" $3 $1 $2
    IntOp $0 $0 - $3
  ${EndIf}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; regsvr32 rather than RegDLL: the library's start-up (tray icon, keyboard
  ; hook) then runs in a process of its own that ends at once, not inside
  ; setup, and its exit code tells success from failure.
  ; When the new library waits for the restart, the one in place registers
  ; now (same path, same class), and the new one registers itself once
  ; Windows has put it in place.
  ClearErrors
  ExecWait '"$Regsvr32" /s "$INSTDIR\Korvane.dll"' $0
  ${If} ${Errors}
    StrCpy $0 "an error: it could not be started"
  ${EndIf}
  ${If} $0 != 0
    !insertmacro Fail RegistrationFailed
  ${EndIf}
  ${Log} "Registered $INSTDIR\Korvane.dll."
  ${If} ${RebootFlag}
    WriteRegStr HKLM "${RUNONCE_KEY}" "${PRODUCT}" '"$Regsvr32" /s "$INSTDIR\Korvane.dll"'
  ${Else}
    ; Left by an earlier setup that waited for a restart that has not come.
    DeleteRegValue HKLM "${RUNONCE_KEY}" "${PRODUCT}"
  ${EndIf}

  ; The browser in Protected Mode starts the broker silently at medium
  ; integrity; running browsers read the policy again when told.
  StrCpy $R0 1
  Call ElevationPolicy
  System::Call 'ieframe::IERefreshElevationPolicy() i .r0 ?e'
  Pop $1
  ; Every user's logon starts it too.
  WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${BROKER_NAME}"'
  ${Log} "The browser may start $INSTDIR\${BROKER_NAME}; it starts at every logon."

  ${If} $9 == 0
    ${Log} "Only administrators may change $INSTDIR."
  ${EndIf}
  ${If} $8 != 0
    StrCpy $0 "$DataFolder"
    StrCpy $1 $8
    ${Log} "$(FolderNotOpened)"
  ${Else}
    ${Log} "Users may save the white list in $DataFolder."
  ${EndIf}

  ; Started for the user who is logged on: an elevated setup has the
  ; desktop's shell start it (see the program's /start).
  ClearErrors
  Exec '"$INSTDIR\${BROKER_NAME}" /start'
  ${IfNot} ${Errors}
    ${Log} "Started the broker."
  ${EndIf}

  ${If} ${RebootFlag}
    SetErrorLevel ${EXIT_RESTART}
    ${Log} "Done; Windows must restart to finish."
  ${Else}
    ${Log} "Done."
  ${EndIf}
SectionEnd

;--------------------------------------------------------------------------
; Uninstaller

!undef __SetAccessPrefix
!define __SetAccessPrefix "un."

Var RemoveWhiteList

Function un.onInit
  Call un.OpenLog
  Call un.FindRegsvr32
  Call un.FindDataFolder
  Push "$(NeedAdministratorToRemove)"
  Call un.RequireAdministrator
  ; The folder comes from where the uninstaller lies or from "_?=": a wrong
  ; one must not pass for a removal that worked.
  ${IfNot} ${FileExists} "$INSTDIR\${UNINSTALLER}"
  ${AndIfNot} ${FileExists} "$INSTDIR\Korvane.dll"
    ${Log} "$(NotInstalledHere)"
    MessageBox MB_OK|MB_ICONSTOP "$(NotInstalledHere)" /SD IDOK
    SetErrorLevel ${EXIT_FAILED}
    Quit
  ${EndIf}
FunctionEnd

Section "Uninstall"

  ; A link in the place of the white list's folder is removed, and nothing
  ; is deleted through it.
  StrCpy $R0 "$DataFolder"
  Call un.IsLink
  ${If} $R1 == 1
    RMDir "$DataFolder"
    ${Log} "Removed a link in the place of $DataFolder."
  ${EndIf}

  ; Asked before anything changes. Silent runs keep the list.
  StrCpy $RemoveWhiteList 0
  ${If} ${FileExists} "$DataFolder\WhiteList.txt"
    ${If} ${Cmd} `MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "$(AskRemoveWhiteList)" /SD IDNO IDYES`
      StrCpy $RemoveWhiteList 1
    ${EndIf}
  ${EndIf}

  ; The broker goes first: it holds the library. Stopped by a copy the
  ; uninstaller carries, in its own temporary folder.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\${BROKER_NAME}" "${BROKER}"
  StrCpy $R0 "$PLUGINSDIR\${BROKER_NAME}"
  Call un.StopBrokers

  ; The library removes its own registration. A failure leaves everything in
  ; place unless the user says otherwise: the files are what a second try
  ; needs.
  ${If} ${FileExists} "$INSTDIR\Korvane.dll"
    ClearErrors
    ExecWait '"$Regsvr32" /u /s "$INSTDIR\Korvane.dll"' $0
    ${If} ${Errors}
      StrCpy $0 "an error: it could not be started"
    ${EndIf}
    ${If} $0 != 0
      ${Log} "$(UnregistrationFailed)"
      ${IfNot} ${Cmd} `MessageBox MB_YESNO|MB_ICONEXCLAMATION "$(UnregistrationFailed) $(RemoveAnyway)" /SD IDNO IDYES`
        ${Log} "$(NothingRemoved)"
        SetErrorLevel ${EXIT_FAILED}
        Abort
      ${EndIf}
    ${Else}
      ${Log} "Unregistered $INSTDIR\Korvane.dll."
    ${EndIf}
  ${Else}
    ${Log} "$(LibraryMissing)"
  ${EndIf}
  ; A registration still waiting for a restart would bring it back.
  DeleteRegValue HKLM "${RUNONCE_KEY}" "${PRODUCT}"
  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  StrCpy $R0 0
  Call un.ElevationPolicy

  ; The new library of an upgrade still waiting for a restart is not in use;
  ; without it the queued replacement does nothing.
  Delete "$INSTDIR\Korvane.dll.new"
  Delete "$INSTDIR\${BROKER_NAME}.new"
  ; Left by saves of the white list that did not finish ("WhiteList.tmp"
  ; of old, "WhiteList.<number>.tmp" now), and the lock of a save that a
  ; crash of the system cut short; never the list. (In the program folder
  ; too, where an older setup kept the list.)
  Delete "$DataFolder\WhiteList*.tmp"
  Delete "$DataFolder\WhiteList.lock"
  Delete "$INSTDIR\WhiteList*.tmp"
  Delete "$INSTDIR\WhiteList.lock"
  ${If} $RemoveWhiteList == 1
    ; A backup may hold the list that a save cut short left nowhere else:
    ; it goes with the list, or stays with it.
    Delete "$DataFolder\WhiteList.*.bak"
    Delete "$DataFolder\WhiteList.old.txt"
    Delete "$DataFolder\WhiteList.txt"
    ${Log} "Removed the white list."
  ${ElseIf} ${FileExists} "$DataFolder\WhiteList.txt"
    ${Log} "Kept the white list $DataFolder\WhiteList.txt."
  ${EndIf}
  ; Gone once empty; never /r: the folder may hold what others put there.
  RMDir "$DataFolder"

  Call un.DeleteLibrary
  ${If} $R0 != 0
    Delete /REBOOTOK "$INSTDIR\Korvane.dll"
    ${Log} "$(InUseAtRemoval)"
  ${EndIf}
  Delete "$INSTDIR\${BROKER_NAME}"
  ${If} ${FileExists} "$INSTDIR\${BROKER_NAME}"
    ; Another user's broker still runs it.
    Delete /REBOOTOK "$INSTDIR\${BROKER_NAME}"
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; Never /r: the folder may hold what others put there.
  ${If} ${RebootFlag}
    RMDir /REBOOTOK "$INSTDIR"
  ${Else}
    RMDir "$INSTDIR"
  ${EndIf}
  ; What an older setup let users leave there keeps the folder; nobody needs
  ; to write there now.
  ${If} ${FileExists} "$INSTDIR\*.*"
    !insertmacro SetAccess "$INSTDIR" "${SDDL_FOLDER_CLOSED}" ${DACL_UNPROTECTED}
  ${EndIf}

  ${If} ${RebootFlag}
    SetErrorLevel ${EXIT_RESTART}
    ${Log} "Done; Windows must restart to finish."
  ${Else}
    ${Log} "Done."
  ${EndIf}
SectionEnd
