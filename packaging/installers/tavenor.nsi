; Installs a driver package with Tavenor and removes it again on uninstall.
;
; Relative paths are taken from this script's folder:
;
;   makensis /DTAVENOR_DIR=<folder of Tavenor.exe and DifxApix64.dll>
;            /DPKG_DIR=<the driver package's folder> /DINF=<its INF's name> tavenor.nsi
;
; Exit 1 from Tavenor means "installed, reboot to finish": the installer asks
; for the reboot at its end.  Every message box has a silent-mode answer
; (/SD), so "setup.exe /S" never stops on one.
Unicode true
!include LogicLib.nsh

!ifndef TAVENOR_DIR
  !define TAVENOR_DIR "."
!endif
!ifndef PKG_DIR
  !define PKG_DIR "pkg"
!endif
!ifndef INF
  !define INF "mydriver.inf"
!endif
!ifndef OUT
  !define OUT "mydriver-setup.exe"
!endif

Name "My driver"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES64\My driver"
; Tavenor needs administrator rights and does not ask for them itself.
RequestExecutionLevel admin

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
    MessageBox MB_ICONSTOP "The driver could not be installed (code $0)." /SD IDOK
    Abort
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"
SectionEnd

Section "Uninstall"
  ExecWait '"$INSTDIR\driver\Tavenor.exe" /u "$INSTDIR\driver\pkg\${INF}" /s' $0
  ${If} $0 == 1
    SetRebootFlag true
  ${ElseIf} $0 != 0
    MessageBox MB_ICONEXCLAMATION "The driver could not be removed (code $0)." /SD IDOK
  ${EndIf}
  RMDir /r "$INSTDIR\driver"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
