; What CPack's NSIS installer does not do on its own, included at the top of
; its script (res/windows/package.cmake): the command line on the PATH as a
; choice, the firewall rules, and the uninstall entry's quiet uninstall and
; install location. The installer is a 64-bit program, so the registry it
; writes and $SYSDIR are the 64-bit ones.
;
; NORVANE_REGISTRY_KEY: the uninstall entry's key name, defined before this.

!include LogicLib.nsh
!include Sections.nsh
!include WinMessages.nsh

; What could not be done is said in the details: keep them on screen.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE

!define NORVANE_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NORVANE_REGISTRY_KEY}"
!define NORVANE_ENVIRONMENT 'HKLM "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"'

; $R0: a PATH. Gives in $R1 the same PATH without its entries naming
; $INSTDIR (with or without a final backslash, in any case), every other
; entry kept as it was, and in $R2 1 when one was dropped, else 0.
!macro NORVANE_PATH_WITHOUT un
Function ${un}NorvanePathWithout
    StrCpy $R1 ""
    StrCpy $R2 0
    StrCpy $R3 $R0
    StrCpy $R7 0
    ${Do}
        StrCpy $R4 0
        ${Do}
            StrCpy $R5 $R3 1 $R4
            ${If} $R5 == ";"
            ${OrIf} $R5 == ""
                ${ExitDo}
            ${EndIf}
            IntOp $R4 $R4 + 1
        ${Loop}
        StrCpy $R6 $R3 $R4
        ${If} $R6 == $INSTDIR
        ${OrIf} $R6 == "$INSTDIR\"
            StrCpy $R2 1
        ${ElseIf} $R7 == 1
            StrCpy $R1 "$R1;$R6"
        ${Else}
            StrCpy $R1 $R6
            StrCpy $R7 1
        ${EndIf}
        ${If} $R5 == ""
            ${ExitDo}
        ${EndIf}
        IntOp $R4 $R4 + 1
        StrCpy $R3 $R3 "" $R4
    ${Loop}
FunctionEnd
!macroend
!insertmacro NORVANE_PATH_WITHOUT ""
!insertmacro NORVANE_PATH_WITHOUT "un."

; A PATH longer than NSIS's strings (NSIS_MAX_STRLEN) reads as an error:
; it is left alone, never written back cut short.
!define NORVANE_PATH_TOO_LONG "The system PATH is longer than this installer can change safely; it is left as it was. Add $INSTDIR to it by hand to run norvane from any folder."
Section "norvane on the PATH" NorvanePathSection
    ClearErrors
    ReadRegStr $R0 ${NORVANE_ENVIRONMENT} "Path"
    ${If} ${Errors}
        DetailPrint "${NORVANE_PATH_TOO_LONG}"
        Return
    ${EndIf}
    Call NorvanePathWithout
    ${If} $R2 == 1
        DetailPrint "$INSTDIR is on the system PATH already."
        Return
    ${EndIf}
    StrLen $R3 "$R0;$INSTDIR"
    ${If} $R3 >= ${NSIS_MAX_STRLEN}
        DetailPrint "${NORVANE_PATH_TOO_LONG}"
        Return
    ${EndIf}
    StrCpy $R4 $R0 1 -1
    ${If} $R0 == ""
    ${OrIf} $R4 == ";"
        WriteRegExpandStr ${NORVANE_ENVIRONMENT} "Path" "$R0$INSTDIR"
    ${Else}
        WriteRegExpandStr ${NORVANE_ENVIRONMENT} "Path" "$R0;$INSTDIR"
    ${EndIf}
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
    DetailPrint "Added $INSTDIR to the system PATH."
SectionEnd

; netsh fails where the firewall service is off or managed by policy; the
; installation goes on, and says so.
!macro NORVANE_ALLOW_UDP program
    nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="Norvane Setup" program="$INSTDIR\${program}"'
    Pop $0
    nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="Norvane Setup" dir=in action=allow protocol=UDP program="$INSTDIR\${program}" enable=yes'
    Pop $0
    ${If} $0 == 0
        DetailPrint "Windows Firewall: UDP to ${program} allowed in."
    ${Else}
        DetailPrint "Windows Firewall: could not add the rule for ${program} (netsh: $0); allow UDP in to $INSTDIR\${program} by hand, or its appliances' replies may be blocked."
    ${EndIf}
!macroend

!macro NORVANE_DELETE_RULE program
    nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="Norvane Setup" program="$INSTDIR\${program}"'
    Pop $0
    ${If} $0 != 0
        DetailPrint "Windows Firewall: no rule for ${program} removed (netsh: $0)."
    ${EndIf}
!macroend

!macro NORVANE_COMPONENT_DESCRIPTIONS
    !insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${NorvanePathSection} "Adds the installation folder to the system PATH, so that the command line norvane runs from any command prompt."
    !insertmacro MUI_FUNCTION_DESCRIPTION_END
!macroend

; At the end of the installation.
!macro NORVANE_INSTALL
    !insertmacro NORVANE_ALLOW_UDP norvane-setup.exe
    !insertmacro NORVANE_ALLOW_UDP norvane.exe
    WriteRegStr SHCTX "${NORVANE_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegStr SHCTX "${NORVANE_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
!macroend

; Before the files are removed.
!macro NORVANE_UNINSTALL
    !insertmacro NORVANE_DELETE_RULE norvane-setup.exe
    !insertmacro NORVANE_DELETE_RULE norvane.exe
    ClearErrors
    ReadRegStr $R0 ${NORVANE_ENVIRONMENT} "Path"
    ${If} ${Errors}
        DetailPrint "The system PATH is longer than this uninstaller can change safely; remove $INSTDIR from it by hand if it is there."
    ${Else}
        Call un.NorvanePathWithout
        ${If} $R2 == 1
            WriteRegExpandStr ${NORVANE_ENVIRONMENT} "Path" $R1
            SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
            DetailPrint "Removed $INSTDIR from the system PATH."
        ${EndIf}
    ${EndIf}
!macroend
