@echo off
rem Runs Tavenor.exe beside this file with the arguments given, and hands
rem its exit code on as deployment systems read it:
rem   0 -> 0; 1 -> 3010 (done, restart required: a soft reboot to Intune,
rem   Configuration Manager and Burn); anything else unchanged: 2, 3, 4 and
rem   a crash's code (0xC0000005) are failures.
rem
rem   tavenor-run.cmd /i "pkg\mydriver.inf" /s
rem   tavenor-run.cmd /u "pkg\mydriver.inf" /s
rem
rem A relative INF path is taken beside Tavenor.exe, so this works from
rem whatever folder the agent starts it in.
"%~dp0Tavenor.exe" %*
rem "errorlevel N" means "N or more": exactly 1 is ">= 1 and not >= 2"; a
rem negative crash code is neither and keeps its value.
if errorlevel 1 if not errorlevel 2 exit /b 3010
exit /b %errorlevel%
