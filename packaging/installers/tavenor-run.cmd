@echo off
rem Runs Tavenor.exe beside this file with the arguments given, and hands
rem its exit code on as deployment systems read it:
rem   0 -> 0; 1 -> 3010 (done, restart required: a soft reboot to Intune,
rem   Configuration Manager and Burn); anything else unchanged: 2, 3, 4 and
rem   a crash's code (0xC0000005) are failures.
rem
rem   tavenor-run.cmd /i "pkg\mydriver.inf" /s
rem   tavenor-run.cmd /u "pkg\mydriver.inf" /s /f
rem
rem A failed install (/i first) can leave the package in the driver store,
rem staged or on a device: the wrapper takes it out again (/u ... /s /f)
rem before it reports the failure, so no detection rule that looks in the
rem store reads a failed install as installed.
rem
rem A relative INF path is taken beside Tavenor.exe, so this works from
rem whatever folder the agent starts it in.
setlocal
"%~dp0Tavenor.exe" %*
set code=%errorlevel%
rem A negative crash code compares as a number too.
if %code% EQU 0 exit /b 0
if %code% EQU 1 exit /b 3010
if /i "%~1"=="/i" "%~dp0Tavenor.exe" /u %2 /s /f
exit /b %code%
