# Runs Tavenor.exe beside this script with the arguments given, and hands
# its exit code on as deployment systems read it: 0 -> 0; 1 -> 3010 (done,
# restart required); anything else unchanged: 2, 3, 4 and a crash's code
# (0xC0000005) are failures.
#
#   powershell -ExecutionPolicy Bypass -File tavenor-run.ps1 /i "pkg\mydriver.inf" /s
#
# Tavenor is a windowed program: PowerShell's call operator would not wait
# for it, Start-Process -Wait does.  Start-Process joins its arguments with
# blanks, so an argument with blanks in it is quoted here.
$tavenor = Join-Path $PSScriptRoot 'Tavenor.exe'
$line = ($args | ForEach-Object { if ($_ -match '\s') { '"' + $_ + '"' } else { $_ } }) -join ' '
$p = Start-Process -FilePath $tavenor -ArgumentList $line -Wait -PassThru -WindowStyle Hidden
if ($p.ExitCode -eq 1) { exit 3010 }
exit $p.ExitCode
