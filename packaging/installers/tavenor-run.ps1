# Runs Tavenor.exe beside this script with the arguments given, and hands
# its exit code on as deployment systems read it: 0 -> 0; 1 -> 3010 (done,
# restart required); anything else unchanged: 2, 3, 4 and a crash's code
# (0xC0000005) are failures.  A failed install (/i first) can leave the
# package in the driver store, staged or on a device: it is taken out
# again (/u ... /s /f) before the failure is reported, so no detection
# rule that looks in the store reads a failed install as installed.
#
#   powershell -ExecutionPolicy Bypass -File tavenor-run.ps1 /i "pkg\mydriver.inf" /s
#
# Tavenor is a windowed program: PowerShell's call operator would not wait
# for it, Start-Process -Wait does.  Start-Process joins its arguments with
# blanks, so an argument with blanks in it is quoted here.
$tavenor = Join-Path $PSScriptRoot 'Tavenor.exe'
function Quote($word) { if ($word -match '\s') { '"' + $word + '"' } else { $word } }
$line = ($args | ForEach-Object { Quote $_ }) -join ' '
$p = Start-Process -FilePath $tavenor -ArgumentList $line -Wait -PassThru -WindowStyle Hidden
if ($p.ExitCode -eq 0) { exit 0 }
if ($p.ExitCode -eq 1) { exit 3010 }
if ($args.Count -ge 2 -and $args[0] -ieq '/i') {
    $undo = '/u ' + (Quote $args[1]) + ' /s /f'
    Start-Process -FilePath $tavenor -ArgumentList $undo -Wait -WindowStyle Hidden | Out-Null
}
exit $p.ExitCode
