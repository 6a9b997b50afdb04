; Installs a driver package with Tavenor and removes it again on uninstall:
; a 64-bit installer (amd64 stub), as 64-bit Windows runs it natively.
;
; In the unzipped release folder, "makensis installers\tavenor.nsi" builds
; it around the example package.  For your own package:
;
;   makensis /DPKG_DIR=<the driver package's folder> /DINF=<its INF's name> installers\tavenor.nsi
;
; makensis takes relative paths from this script's folder: by default
; TAVENOR_DIR (Tavenor.exe and DifxApix64.dll) is the release folder above
; it, PKG_DIR its examples\pkg, and OUT, the installer, mydriver-setup.exe
; here.  Give absolute paths to point elsewhere.
;
; Exit codes of the installer, "setup.exe /S" and interactive alike:
;   0     installed (or removed)
;   3010  installed or removed, Windows must restart to finish (Tavenor ended
;         with 1).  An interactive run asks whether to restart now.
;   2     failed.  A failed install leaves nothing behind: the package is
;         taken out of the driver store again and the files are deleted.  A
;         failed uninstall deletes nothing, so it can be run again.
; Every message box has a silent-mode answer (/SD), so /S never stops on one.
;
; Run the uninstaller from a deployment system as
;   "<install folder>\uninstall.exe" /S _?=<install folder>
; "_?=" keeps it from copying itself to %TEMP% and returning at once, so the
; caller waits for it and gets its exit code; the uninstaller itself stays
; in the install folder then.
Unicode true
Target amd64-unicode
!include LogicLib.nsh

!ifndef TAVENOR_DIR
  !define TAVENOR_DIR ".."
!endif
!ifndef PKG_DIR
  !define PKG_DIR "..\examples\pkg"
!endif
!ifndef INF
  !define INF "example.inf"
!endif
!ifndef OUT
  !define OUT "mydriver-setup.exe"
!endif
; The uninstall entry: a deployment system may detect the installer by it.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MyDriver"
!define REBOOT_REQUIRED 3010
!define FAILED 2

Name "My driver"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES64\My driver"
; Tavenor needs administrator rights and does not ask for them itself.
RequestExecutionLevel admin
ShowInstDetails show
AutoCloseWindow true
Page instfiles
UninstPage instfiles

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Driver"
  SetOutPath "$INSTDIR\driver"
  File "${TAVENOR_DIR}\Tavenor.exe"
  File "${TAVENOR_DIR}\DifxApix64.dll"
  SetOutPath "$INSTDIR\driver\pkg"
  File /r "${PKG_DIR}\*.*"
  ExecWait '"$INSTDIR\driver\Tavenor.exe" /i "$INSTDIR\driver\pkg\${INF}" /s' $0
  ${If} $0 == 1
    SetRebootFlag true
  ${ElseIf} $0 != 0
    ; 2 can leave the package staged (no device present, a failed
    ; install after staging): take it out of the store again.  Other
    ; codes, a crash among them, take the same way out.
    ExecWait '"$INSTDIR\driver\Tavenor.exe" /u "$INSTDIR\driver\pkg\${INF}" /s' $1
    SetOutPath "$TEMP"
    RMDir /r "$INSTDIR\driver"
    RMDir "$INSTDIR"
    MessageBox MB_ICONSTOP "The driver could not be installed (code $0)." /SD IDOK
    SetErrorLevel ${FAILED}
    Abort
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "My driver"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
SectionEnd

; A restart Tavenor asked for reaches the caller as 3010 (what deployment
; systems read as "reboot required"), and someone at the screen is asked.
!macro REBOOT_AT_END
  ${If} ${RebootFlag}
    SetErrorLevel ${REBOOT_REQUIRED}
    ${IfNot} ${Silent}
      MessageBox MB_YESNO|MB_ICONQUESTION "Windows must restart to finish. Restart now?" /SD IDNO IDNO +2
      Reboot
    ${EndIf}
  ${EndIf}
!macroend

Function .onInstSuccess
  !insertmacro REBOOT_AT_END
FunctionEnd

Section "Uninstall"
  ExecWait '"$INSTDIR\driver\Tavenor.exe" /u "$INSTDIR\driver\pkg\${INF}" /s' $0
  ${If} $0 == 1
    SetRebootFlag true
  ${ElseIf} $0 != 0
    ; Tavenor and the INF stay, so the uninstall can be run again.
    MessageBox MB_ICONSTOP "The driver could not be removed (code $0); nothing was deleted." /SD IDOK
    SetErrorLevel ${FAILED}
    Abort
  ${EndIf}
  SetOutPath "$TEMP"
  RMDir /r "$INSTDIR\driver"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd

Function un.onUninstSuccess
  !insertmacro REBOOT_AT_END
FunctionEnd
