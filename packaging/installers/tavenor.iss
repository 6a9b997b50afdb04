; Inno Setup 6.3 (or later) recipe: installs a driver package with Tavenor and removes it
; again on uninstall.  Debian has no Inno Setup, so this script is not built
; by the test suite: it was checked line by line against Inno Setup 6's
; documentation ([Setup] ArchitecturesAllowed and
; ArchitecturesInstallIn64BitMode, [Files] flags, the PrepareToInstall,
; NeedRestart, CurUninstallStepChanged and
; UninstallNeedRestart event functions, Abort, ExtractTemporaryFile, Exec,
; SuppressibleMsgBox, and Setup's exit codes).
;
; Compile it in the unzipped release folder (iscc installers\tavenor.iss);
; the package is the example's, change PkgDir and Inf to yours.
;
; Run it unattended as
;   mydriver-setup.exe /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /RESTARTEXITCODE=3010
;   "{app}\unins000.exe" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART
; Inno Setup's "Setup Command Line Parameters" page
; (jrsoftware.org/ishelp/topic_setupcmdline.htm): a very silent setup that
; needs a restart reboots without asking unless /NORESTART is given; error
; messages are still shown, and wait for an answer, unless
; /SUPPRESSMSGBOXES is given; /RESTARTEXITCODE=<code> is the exit code
; setup returns when the system needs to be restarted.
;
; What the setup reports:
;   Tavenor 0      setup ends 0
;   Tavenor 1      setup asks for a restart at the screen; unattended with
;                  the switches above it ends 3010 and does not restart.
;   anything else  the driver is installed before any file is copied, so a
;                  failure stops setup at "Preparing to Install" with nothing
;                  installed: exit code 7.  A package that was staged (or
;                  installed on a device before the failure) is taken out
;                  of the store again first.
;   Uninstall: 0 and 1 remove the files (1 asks for a restart); any other
;   code stops the uninstaller before it deletes a file, so Tavenor.exe and
;   the INF stay for a retry.
;
; Every removal passes /f: DriverPackageUninstall keeps a package that a
; device in the device tree still uses unless DRIVER_PACKAGE_FORCE is set,
; and the product must go away with its device plugged in (the device
; moves to its next-best driver or none).
;
; A newer version over an installed one removes the older package first,
; in PrepareToInstall, with the Tavenor and INF still in {app}\driver (the
; newer files would overwrite that INF, after which the older package could
; not be named any more); if that fails, setup stops with 7 and the older
; version stays as it was.

#define PkgDir "examples\pkg"
#define Inf "example.inf"
#define Cat "example.cat"

[Setup]
AppName=My driver
AppVersion=1.0
DefaultDirName={autopf}\My driver
SourceDir=..
OutputDir=installers
OutputBaseFilename=mydriver-setup
PrivilegesRequired=admin
; x64 Windows only, installed to the 64-bit Program Files.  Not x64compatible:
; that also matches ARM64 Windows, whose x64 emulation stops at the kernel, so
; an x64 driver cannot run there and Tavenor refuses it (Inno Setup's
; ArchitecturesAllowed page: for device drivers, x64os).
ArchitecturesAllowed=x64os
ArchitecturesInstallIn64BitMode=x64os

[Files]
Source: "Tavenor.exe";             DestDir: "{app}\driver"
Source: "DifxApix64.dll";          DestDir: "{app}\driver"
Source: "{#PkgDir}\*";             DestDir: "{app}\driver\pkg"; Flags: recursesubdirs
; The same files once more for the install before the files are copied:
; extracted to {tmp} only (dontcopy), which setup deletes when it ends.
Source: "Tavenor.exe";             DestDir: "{tmp}"; Flags: dontcopy
Source: "DifxApix64.dll";          DestDir: "{tmp}"; Flags: dontcopy
Source: "{#PkgDir}\{#Inf}";        DestDir: "{tmp}"; Flags: dontcopy
Source: "{#PkgDir}\{#Cat}";        DestDir: "{tmp}"; Flags: dontcopy
; List every other file of your package here with Flags: dontcopy too
; (.sys, ...): ExtractTemporaryFile takes one name at a time.

[Code]
var
  DriverNeedsRestart: Boolean;
  RemovalNeedsRestart: Boolean;

function RunTavenor(const Folder, Args: String): Integer;
begin
  if not Exec(Folder + '\Tavenor.exe', Args, Folder, SW_HIDE, ewWaitUntilTerminated, Result) then
    Result := -1;
end;

// Runs before any file is installed: a failure returned here ends setup with
// exit code 7 and nothing installed.
function PrepareToInstall(var NeedsRestart: Boolean): String;
var
  Code: Integer;
  Inf, OldInf: String;
begin
  Result := '';
  ExtractTemporaryFile('Tavenor.exe');
  ExtractTemporaryFile('DifxApix64.dll');
  ExtractTemporaryFile('{#Inf}');
  ExtractTemporaryFile('{#Cat}');
  Inf := ExpandConstant('{tmp}\{#Inf}');
  // An installed earlier version: its own Tavenor and INF take its package
  // out of the store before this version's files replace them.
  OldInf := ExpandConstant('{app}\driver\pkg\{#Inf}');
  if FileExists(ExpandConstant('{app}\driver\Tavenor.exe')) and FileExists(OldInf) then
  begin
    Code := RunTavenor(ExpandConstant('{app}\driver'), '/u "' + OldInf + '" /s /f');
    if Code = 1 then
      DriverNeedsRestart := True
    else if Code <> 0 then
    begin
      Result := 'The installed driver could not be removed (code ' + IntToStr(Code) + ').';
      Exit;
    end;
  end;
  Code := RunTavenor(ExpandConstant('{tmp}'), '/i "' + Inf + '" /s');
  case Code of
    0: ;
    1: DriverNeedsRestart := True;
  else
    begin
      // A package that was staged, or installed on a device, before the
      // failure leaves the store again.
      RunTavenor(ExpandConstant('{tmp}'), '/u "' + Inf + '" /s /f');
      Result := 'The driver could not be installed (code ' + IntToStr(Code) + ').';
    end;
  end;
end;

function NeedRestart(): Boolean;
begin
  Result := DriverNeedsRestart;
end;

// usUninstall comes before the uninstaller deletes anything; Abort there
// ends it with the files in place.
procedure CurUninstallStepChanged(CurUninstallStep: TUninstallStep);
var
  Code: Integer;
begin
  if CurUninstallStep <> usUninstall then
    Exit;
  Code := RunTavenor(ExpandConstant('{app}\driver'), '/u "' + ExpandConstant('{app}\driver\pkg\{#Inf}') + '" /s /f');
  if Code = 1 then
    RemovalNeedsRestart := True
  else if Code <> 0 then
  begin
    SuppressibleMsgBox('The driver could not be removed (code ' + IntToStr(Code) + '); nothing was deleted.',
                       mbError, MB_OK, IDOK);
    Abort;
  end;
end;

function UninstallNeedRestart(): Boolean;
begin
  Result := RemovalNeedsRestart;
end;
