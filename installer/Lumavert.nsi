; Lumavert's setup: the server, the manager and both builds of the Explorer extension in one
; folder, for every user of the PC. Built by the Windows tree's target "installer":
;   makensis -DVERSION=x.y.z -DSTAGE=dir -DGENERATED=dir -DSOURCE=dir -DOUTFILE=file
;            [-DHAVE_MANAGER] Lumavert.nsi
; STAGE holds the files to install, GENERATED the registration (Registration.nsh).
Unicode true
; A 64-bit setup: it writes the 64-bit registry view and Program Files natively.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include "${GENERATED}\Registration.nsh"

!define PRODUCT "Lumavert"
!define PUBLISHER "Lumavert"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumavert"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SETTINGS_KEY "SOFTWARE\Lumavert"
!define LOG_FILE "$INSTDIR\Setup.log"
; The programs' windows and the requests that end them.
!define SERVER_CLASS "TApplication"
!define SERVER_TITLE "Lumavert Server"
!define MANAGER_CLASS "#32770"
!define MANAGER_TITLE "Lumavert"
!define MANAGER_QUIT 32773 ; the tray menu's Quit command
!define FW_SERVER_TCP "Lumavert Server (TCP)"
!define FW_SERVER_UDP "Lumavert Server (UDP)"
!define FW_MANAGER "Lumavert discovery (UDP)"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; An upgrade goes where the installed version is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
BrandingText "Lumavert ${VERSION}"
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "Lumavert Setup"
VIAddVersionKey "FileVersion" "${VERSION}.0"
VIAddVersionKey "ProductVersion" "${VERSION}.0"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 Lumavert"

!define MUI_ICON "${SOURCE}\server\ui\win32\Server.ico"
!define MUI_UNICON "${SOURCE}\server\ui\win32\Server.ico"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
; Not a licence: what setup installs and changes.
!define MUI_PAGE_HEADER_TEXT "What Setup Does"
!define MUI_PAGE_HEADER_SUBTEXT "The files Setup installs and what it changes on this PC."
!define MUI_LICENSEPAGE_TEXT_TOP "Please read before you go on."
!define MUI_LICENSEPAGE_TEXT_BOTTOM "Click Next to continue."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${SOURCE}\installer\Notice.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!ifdef HAVE_MANAGER
  !define MUI_FINISHPAGE_RUN
  !define MUI_FINISHPAGE_RUN_TEXT "Start Lumavert"
  !define MUI_FINISHPAGE_RUN_FUNCTION StartManager
!endif
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Var ManagerWasRunning

; Appends a line to Setup.log in the install folder and to the details view.
!macro Log TEXT
  DetailPrint "${TEXT}"
  Push "${TEXT}"
  !ifdef __UNINSTALL__
    Call un.AppendLog
  !else
    Call AppendLog
  !endif
!macroend
!define Log "!insertmacro Log"

!macro AppendLogFunction PREFIX
  Function ${PREFIX}AppendLog
    Exch $0
    Push $1
    ClearErrors
    FileOpen $1 "${LOG_FILE}" a
    ${IfNot} ${Errors}
      FileSeek $1 0 END
      FileWrite $1 "$0$\r$\n"
      FileClose $1
    ${EndIf}
    Pop $1
    Pop $0
  FunctionEnd
!macroend

; Asks the window (class, title) to end with the message and waits up to 10 s for it to go;
; RESULT is 1 when it went (or was not there), else 0. Uses $5 and $6.
!macro CloseWindow CLASS TITLE MESSAGE WPARAM RESULT
  FindWindow $5 "${CLASS}" "${TITLE}"
  ${If} $5 <> 0
    SendMessage $5 ${MESSAGE} ${WPARAM} 0 /TIMEOUT=5000
    StrCpy $6 0
    ${DoWhile} $6 < 100
      Sleep 100
      FindWindow $5 "${CLASS}" "${TITLE}"
      ${IfThen} $5 = 0 ${|} ${Break} ${|}
      IntOp $6 $6 + 1
    ${Loop}
  ${EndIf}
  ${If} $5 = 0
    StrCpy ${RESULT} 1
  ${Else}
    StrCpy ${RESULT} 0
  ${EndIf}
!macroend

; Ends the manager and the server with the requests they understand; a server that does not
; go is ended by its image name.
!macro StopProgramsFunction PREFIX
  Function ${PREFIX}StopPrograms
    Push $0
    Push $5
    Push $6
    StrCpy $ManagerWasRunning 0
    FindWindow $0 "${MANAGER_CLASS}" "${MANAGER_TITLE}"
    ${If} $0 <> 0
      StrCpy $ManagerWasRunning 1
      !insertmacro CloseWindow "${MANAGER_CLASS}" "${MANAGER_TITLE}" ${WM_COMMAND} ${MANAGER_QUIT} $0
      ${If} $0 = 1
        ${Log} "Lumavert.exe ended."
      ${Else}
        ${Log} "Lumavert.exe did not end within 10 s."
      ${EndIf}
    ${EndIf}
    FindWindow $0 "${SERVER_CLASS}" "${SERVER_TITLE}"
    ${If} $0 <> 0
      !insertmacro CloseWindow "${SERVER_CLASS}" "${SERVER_TITLE}" ${WM_CLOSE} 0 $0
      ${If} $0 = 1
        ${Log} "Server.exe ended."
      ${Else}
        nsExec::ExecToStack 'taskkill /F /IM Server.exe'
        Pop $0
        Pop $0
        ${Log} "Server.exe did not end on request: ended by taskkill."
      ${EndIf}
    ${EndIf}
    Pop $6
    Pop $5
    Pop $0
  FunctionEnd
!macroend

; Runs one netsh command and logs its outcome; a failure (no firewall service) is logged and
; setup goes on.
!macro NetshFunction PREFIX
  Function ${PREFIX}Netsh
    Exch $0 ; what, for the log
    Exch
    Exch $1 ; arguments
    Push $2
    Push $3
    nsExec::ExecToStack 'netsh advfirewall firewall $1'
    Pop $2
    Pop $3
    ${If} $2 == 0
      ${Log} "Firewall: $0: done."
    ${Else}
      ${Log} "Firewall: $0: failed (netsh: $2), setup goes on. $3"
    ${EndIf}
    Pop $3
    Pop $2
    Pop $1
    Pop $0
  FunctionEnd
!macroend

!macro DeleteFirewallRules PREFIX
  Push 'delete rule name="${FW_SERVER_TCP}"'
  Push 'remove rule "${FW_SERVER_TCP}"'
  Call ${PREFIX}Netsh
  Push 'delete rule name="${FW_SERVER_UDP}"'
  Push 'remove rule "${FW_SERVER_UDP}"'
  Call ${PREFIX}Netsh
  Push 'delete rule name="${FW_MANAGER}"'
  Push 'remove rule "${FW_MANAGER}"'
  Call ${PREFIX}Netsh
!macroend

!insertmacro AppendLogFunction ""
!insertmacro StopProgramsFunction ""
!insertmacro NetshFunction ""
!insertmacro AppendLogFunction "un."
!insertmacro StopProgramsFunction "un."
!insertmacro NetshFunction "un."

; Installs a DLL that Explorer may hold: the old one that cannot be deleted is renamed aside
; (NAME.old) and removed at the next setup or on reboot.
!macro InstallDll NAME
  Delete "$INSTDIR\${NAME}.old"
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    ClearErrors
    Delete "$INSTDIR\${NAME}"
    ${If} ${Errors}
      Rename "$INSTDIR\${NAME}" "$INSTDIR\${NAME}.old"
      Delete /REBOOTOK "$INSTDIR\${NAME}.old"
      ${Log} "${NAME} is in use: the old one was renamed ${NAME}.old and goes on reboot."
    ${EndIf}
  ${EndIf}
  File "${STAGE}\${NAME}"
!macroend

Function .onInit
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "Setup must be run by an administrator." /SD IDOK
    SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
  SetShellVarContext all
FunctionEnd

!ifdef HAVE_MANAGER
Function StartManager
  ; The manager runs for the user, from its own folder.
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\Lumavert.exe"'
FunctionEnd
!endif

Section "Lumavert" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  ${Log} "Lumavert ${VERSION} into $INSTDIR"
  Call StopPrograms

  SetOverwrite on
  File "${STAGE}\Server.exe"
  !insertmacro InstallDll Tavomenu64.dll
  !insertmacro InstallDll Tavomenu.dll
  !ifdef HAVE_MANAGER
    File "${STAGE}\Lumavert.exe"
  !endif
  !if /FileExists "${STAGE}\Lumavert Help.txt"
    File "${STAGE}\Lumavert Help.txt"
  !endif
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The 64-bit Explorer, and 32-bit programs' file dialogs.
  !insertmacro TavomenuNoteParents
  SetRegView 64
  !insertmacro TavomenuRegister "$INSTDIR\Tavomenu64.dll"
  SetRegView 32
  !insertmacro TavomenuRegister "$INSTDIR\Tavomenu.dll"
  SetRegView 64

  !ifdef HAVE_MANAGER
    WriteRegStr HKCU "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\Lumavert.exe"'
    CreateShortcut "$SMPROGRAMS\Lumavert.lnk" "$INSTDIR\Lumavert.exe"
    !define ICON_FILE "$INSTDIR\Lumavert.exe"
  !else
    !define ICON_FILE "$INSTDIR\Server.exe"
  !endif

  ; Inbound for private networks: the player's NFS calls, and the answers to discovery.
  !insertmacro DeleteFirewallRules ""
  Push 'add rule name="${FW_SERVER_TCP}" dir=in action=allow program="$INSTDIR\Server.exe" protocol=TCP localport=111,635,2049 profile=private enable=yes'
  Push 'add rule "${FW_SERVER_TCP}"'
  Call Netsh
  Push 'add rule name="${FW_SERVER_UDP}" dir=in action=allow program="$INSTDIR\Server.exe" protocol=UDP localport=111,635,2049 profile=private enable=yes'
  Push 'add rule "${FW_SERVER_UDP}"'
  Call Netsh
  !ifdef HAVE_MANAGER
    Push 'add rule name="${FW_MANAGER}" dir=in action=allow program="$INSTDIR\Lumavert.exe" protocol=UDP remoteport=62000 profile=private enable=yes'
    Push 'add rule "${FW_MANAGER}"'
    Call Netsh
  !endif

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "${ICON_FILE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  !ifdef HAVE_MANAGER
    ; After an upgrade the manager runs again (it starts the new server); the finish page
    ; offers it otherwise.
    ${If} $ManagerWasRunning = 1
      Call StartManager
      ${Log} "Lumavert.exe started again."
    ${EndIf}
  !endif
  ${Log} "Setup finished."
SectionEnd

Section "un.Lumavert" UnSecMain
  SectionIn RO
  SetShellVarContext all
  Call un.StopPrograms
  SetRegView 64
  !insertmacro TavomenuUnregister
  SetRegView 32
  !insertmacro TavomenuUnregister
  !insertmacro TavomenuDeleteParents
  SetRegView 64
  DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
  !insertmacro DeleteFirewallRules "un."
  Delete "$SMPROGRAMS\Lumavert.lnk"

  Delete "$INSTDIR\Server.exe"
  Delete "$INSTDIR\Lumavert.exe"
  Delete "$INSTDIR\Lumavert Help.txt"
  ; Explorer may hold the extension until it restarts.
  Delete /REBOOTOK "$INSTDIR\Tavomenu64.dll"
  Delete /REBOOTOK "$INSTDIR\Tavomenu.dll"
  Delete /REBOOTOK "$INSTDIR\Tavomenu64.dll.old"
  Delete /REBOOTOK "$INSTDIR\Tavomenu.dll.old"
  Delete "${LOG_FILE}"
  Delete "$INSTDIR\Uninstall.exe"
  ; Only when empty: files of the user's own stay.
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Remove my settings" UnSecSettings
  ; The user's settings and the lists of the last selection; other files in the folder stay.
  SetShellVarContext current
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  Delete "$DOCUMENTS\Lumavert\VideoList.txt"
  Delete "$DOCUMENTS\Lumavert\AudioList.txt"
  Delete "$DOCUMENTS\Lumavert\ImageList.txt"
  RMDir "$DOCUMENTS\Lumavert"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecMain} "The programs, their registration, firewall rules and shortcut."
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecSettings} "Also your settings and the lists in Documents\Lumavert (your other files there stay)."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
  SetShellVarContext all
FunctionEnd
