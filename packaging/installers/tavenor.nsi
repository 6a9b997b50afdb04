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
; Every removal passes /f.  Tavenor's /u asks the library to take the package
; out of the store, and DriverPackageUninstall keeps a package that a device
; in the device tree still uses unless DRIVER_PACKAGE_FORCE is set (/f): a
; product must go away with its device plugged in, the device then moves to
; its next-best driver or none.
;
; A newer version run over an older one first removes the older package,
; with the older Tavenor and the older INF still in the install folder
; (their paths are in the uninstall entry), and only then copies its own
; files: an INF overwritten first could never remove the package it named.
; If the older package cannot be removed, nothing is changed (exit 2).  If
; the newer install then fails, nothing of either version is left.
;
; Run the uninstaller from a deployment system as
;   "<install folder>\uninstall.exe" /S _?=<install folder>
; "_?=" keeps it from copying itself to %TEMP% and returning at once, so the
; caller waits for it and gets its exit code (NSIS manual, 3.2.2 "Uninstaller
; Specific Options").  The uninstaller then runs from the install folder,
; and Windows does not delete the file of a running program: a hidden
; cmd.exe it starts last deletes uninstall.exe and the folder a few seconds
; after it has ended.
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
; A newer version goes where the installed one is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
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
  ; An installed earlier version: its package leaves the store first, by
  ; its own Tavenor and INF, before this version's files replace them.
  ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "DriverInf"
  ${If} $2 == ""
    StrCpy $2 "$INSTDIR\driver\pkg\${INF}"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\driver\Tavenor.exe"
  ${AndIf} ${FileExists} "$2"
    ExecWait '"$INSTDIR\driver\Tavenor.exe" /u "$2" /s /f' $0
    ${If} $0 == 1
      SetRebootFlag true
    ${ElseIf} $0 != 0
      MessageBox MB_ICONSTOP "The installed driver could not be removed (code $0); nothing was changed." /SD IDOK
      SetErrorLevel ${FAILED}
      Abort
    ${EndIf}
    RMDir /r "$INSTDIR\driver\pkg"
  ${EndIf}
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
    ; install after staging) or installed on a device (a failure after
    ; that): take it out of the store again, with /f for the second.
    ; Other codes, a crash among them, take the same way out.
    ExecWait '"$INSTDIR\driver\Tavenor.exe" /u "$INSTDIR\driver\pkg\${INF}" /s /f' $1
    SetOutPath "$TEMP"
    ${If} $1 == 0
    ${OrIf} $1 == 1
      ; Nothing of this version, or of one it replaced, is left.
      RMDir /r "$INSTDIR\driver"
      Delete "$INSTDIR\uninstall.exe"
      DeleteRegKey HKLM "${UNINSTALL_KEY}"
      RMDir "$INSTDIR"
    ${Else}
      ; The package stays in the store: keep Tavenor, the INF and an
      ; uninstaller, so that it can still be removed.
      Call write_uninstall_entry
    ${EndIf}
    MessageBox MB_ICONSTOP "The driver could not be installed (code $0)." /SD IDOK
    SetErrorLevel ${FAILED}
    Abort
  ${EndIf}
  Call write_uninstall_entry
SectionEnd

Function write_uninstall_entry
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "My driver"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DriverInf" "$INSTDIR\driver\pkg\${INF}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
FunctionEnd

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
  ExecWait '"$INSTDIR\driver\Tavenor.exe" /u "$INSTDIR\driver\pkg\${INF}" /s /f' $0
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
  Call un.remove_self
SectionEnd

; The uninstaller's own file, which a run with _?= cannot delete while it
; runs (the uninstaller keeps its own file open, so it cannot be moved
; away either): a hidden cmd.exe started last deletes it, and the then
; empty install folder, once the uninstaller has ended, about two seconds
; later (once more after five seconds should that be too early).  Nothing
; waits for it, so the exit code reaches the caller at once.
Function un.remove_self
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\uninstall.exe"
    StrCpy $3 'ping -n 3 127.0.0.1 >nul & del /f /q "$INSTDIR\uninstall.exe" 2>nul & rmdir "$INSTDIR" 2>nul'
    ExecShell "open" "$SYSDIR\cmd.exe" '/d /q /c $3 & if exist "$INSTDIR\uninstall.exe" $3' SW_HIDE
  ${EndIf}
FunctionEnd

Function un.onUninstSuccess
  !insertmacro REBOOT_AT_END
FunctionEnd
