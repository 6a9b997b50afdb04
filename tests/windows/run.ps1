<#
.SYNOPSIS
Runs Tavenor's acceptance cases on this Windows machine: a real driver
store, a real device installer, a real signature check.

.DESCRIPTION
Meant for a throwaway machine: a hosted CI runner, or a VM with a checkpoint
taken first (docs\windows-testing.md).  Run as an administrator:

  powershell -ExecutionPolicy Bypass -File tests\windows\run.ps1 -Release tavenor-<version>-win-x64.zip

It unpacks the release, makes (or takes, with -Package) the signed
null-driver package, trusts its certificate, makes a root-enumerated test
device with tavenor-devtool.exe, runs every case of cases.tsv, and writes
  <Evidence>\junit.xml             one test case per row, with what was expected and seen
  <Evidence>\logs\<case>.log       Tavenor's /l file of each run
  <Evidence>\cases\<case>.txt      the exit code, time and device tool's lines of each case
  <Evidence>\drivers-before.txt, drivers-after.txt   pnputil /enum-drivers
  <Evidence>\setupapi.dev.log      the device installer's log written during the run
Everything it made (the device, every published copy of the test package,
the certificate in Root and TrustedPublisher, the NSIS test product) is
removed again at the end, also when a case fails or hangs.  Every Tavenor
run is started with /s /l, given -Limit seconds, and ended by its process
ID past that.  Exit code: 0 when every case passed, 1 when one failed, 2
when the kit itself could not start.
#>
param(
    [Parameter(Mandatory = $true)][string]$Release,
    # A folder from sign-package.ps1 (signed, unsigned, changed, kit.cer); made here when not given.
    [string]$Package,
    # The NSIS test installer; built here with makensis when not given and makensis is found.
    [string]$Installer,
    [string]$Evidence = (Join-Path (Get-Location) 'tavenor-kit-evidence'),
    [int]$Limit = 120,
    # Only the cases whose id matches this pattern.
    [string]$Only = '.*'
)
$ErrorActionPreference = 'Stop'
Set-StrictMode -Version 3
# Windows PowerShell 5.1 does not load it by itself (the log mutex's name).
Add-Type -AssemblyName System.Numerics

$HardwareId = 'ROOT\TAVENOR_NULL_TEST'
$InfName = 'tavenor-null.inf'
$ProductFolder = Join-Path $env:ProgramFiles 'My driver'
$ProductKey = 'HKLM:\Software\Microsoft\Windows\CurrentVersion\Uninstall\MyDriver'
# At the system drive's root: no blank and no 8.3 short name in any path the
# kit hands to Tavenor (the temp folder of a runner's account has one).
$Work = Join-Path "$env:SystemDrive\" ("tavenor-kit-" + [Guid]::NewGuid().ToString('N').Substring(0, 8))
$script:Trusted = @()
$script:HeldMutex = $null
$script:Running = @()
$script:DevTool = $null
$script:PackageRoot = $null
$script:Thumbprint = $null
$script:NsisSetup = $null

function Write-Step([string]$Text) { Write-Host "[kit] $Text" }

# --- Running programs ---------------------------------------------------------

# One command-line word as CommandLineToArgvW and Tavenor's own parser read it.
function Quote([string]$Word) {
    if ($Word -notmatch '[\s"]' -and $Word -ne '') { return $Word }
    return '"' + ($Word -replace '(\\*)"', '$1$1\"' -replace '(\\+)$', '$1$1') + '"'
}

# Runs a program with a time limit; past it the process is ended by its ID.
# $Tail goes last as written: NSIS takes "_?=<folder>" unquoted, blanks and all.
# Returns @{ Code; Seconds; Output; TimedOut }.
function Invoke-Limited([string]$Path, [string[]]$Arguments, [int]$Seconds = $Limit, [string]$Tail = '') {
    $info = New-Object System.Diagnostics.ProcessStartInfo
    $info.FileName = $Path
    $info.Arguments = ((@($Arguments | ForEach-Object { Quote $_ }) + @($Tail | Where-Object { $_ })) -join ' ')
    $info.UseShellExecute = $false
    $info.RedirectStandardOutput = $true
    $info.CreateNoWindow = $true
    $clock = [Diagnostics.Stopwatch]::StartNew()
    $process = [Diagnostics.Process]::Start($info)
    $script:Running += $process.Id
    $reading = $process.StandardOutput.ReadToEndAsync()
    $timedOut = -not $process.WaitForExit($Seconds * 1000)
    if ($timedOut) {
        # The process and anything it started, by process ID.
        Invoke-Quiet 'taskkill.exe' @('/PID', $process.Id, '/T', '/F') | Out-Null
        $process.WaitForExit(10000) | Out-Null
    }
    $process.WaitForExit()
    $code = if ($timedOut) { $null } else { $process.ExitCode }
    $output = if ($reading.Wait(5000)) { $reading.Result } else { '' }
    $script:Running = @($script:Running | Where-Object { $_ -ne $process.Id })
    $process.Dispose()
    return @{ Code = $code; Seconds = [Math]::Round($clock.Elapsed.TotalSeconds, 1); Output = $output; TimedOut = $timedOut }
}

# A system tool whose output only the evidence lists need.  Windows
# PowerShell turns a native program's error output into errors that would
# stop the script here, so they are kept as output.
function Invoke-Quiet([string]$Path, [string[]]$Arguments) {
    $ErrorActionPreference = 'Continue'
    return (& $Path @Arguments 2>&1 | Out-String)
}

function Invoke-DevTool([string[]]$Arguments) {
    $r = Invoke-Limited $script:DevTool $Arguments 60
    if ($r.TimedOut -or $r.Code -eq 2 -or $r.Code -eq 3) { throw "tavenor-devtool $($Arguments -join ' '): $($r.Output)" }
    return $r
}

function Invoke-Tavenor([string[]]$Arguments, [string]$Log) {
    return Invoke-Limited $script:Tavenor ($Arguments + @('/s', '/l', $Log))
}

# --- State, from the device tool's lines ----------------------------------------

# The published oem<n>.inf names whose bytes equal the INF's.
function Get-Published([string]$Inf) {
    $r = Invoke-DevTool @('staged', $Inf)
    return @($r.Output -split "`r?`n" | Where-Object { $_ -match '^published=(.+)$' } | ForEach-Object { $Matches[1] })
}

# Every published copy of the test package, whichever variant it came from
# (the signed and unsigned INF are the same bytes).
function Get-OurPublished {
    $all = foreach ($variant in 'signed', 'changed', 'unsigned') {
        $inf = Join-Path $script:PackageRoot "$variant\$InfName"
        if (Test-Path $inf) { Get-Published $inf }
    }
    return @($all | Sort-Object -Unique)
}

# ours, none, absent, or other:<inf> for the first device with the test ID.
function Get-DeviceState {
    $r = Invoke-DevTool @('info', $HardwareId)
    if ($r.Code -eq 1) { return 'absent' }
    $line = ($r.Output -split "`r?`n")[0]
    $inf = if ($line -match "inf=([^`t]*)") { $Matches[1] } else { '-' }
    if ($inf -eq '-') { return 'none' }
    if ((Get-OurPublished) -contains $inf) { return 'ours' }
    return "other:$inf"
}

function Get-InboxState {
    $now = Get-ChildItem (Join-Path $env:windir 'System32\DriverStore\FileRepository') -Directory -Filter "$($script:InboxName)_*"
    $kept = (Test-Path (Join-Path $env:windir "INF\$($script:InboxName)")) -and
        ((Get-FileHash (Join-Path $env:windir "INF\$($script:InboxName)")).Hash -eq $script:InboxHash) -and
        (@($now).Count -eq $script:InboxFolders)
    if ($kept) { return 'kept' } else { return 'changed' }
}

# --- Making and removing what the kit owns --------------------------------------

function Remove-TestPackages {
    foreach ($name in Get-OurPublished) { Invoke-Quiet 'pnputil.exe' @('/delete-driver', $name, '/uninstall', '/force') | Out-Null }
}

function Reset-Machine {
    foreach ($id in @($script:Running)) { Invoke-Quiet 'taskkill.exe' @('/PID', $id, '/T', '/F') | Out-Null }
    $script:Running = @()
    if ($script:HeldMutex) { $script:HeldMutex.ReleaseMutex(); $script:HeldMutex.Dispose(); $script:HeldMutex = $null }
    if (-not $script:DevTool -or -not $script:PackageRoot) { return }
    Invoke-DevTool @('remove', $HardwareId) | Out-Null
    Remove-TestPackages
    if (Test-Path (Join-Path $ProductFolder 'uninstall.exe')) {
        Invoke-Limited (Join-Path $ProductFolder 'uninstall.exe') @('/S') $Limit "_?=$ProductFolder" | Out-Null
    }
    if (Test-Path $ProductFolder) { Remove-Item -Recurse -Force $ProductFolder -ErrorAction SilentlyContinue }
    if (Test-Path $ProductKey) { Remove-Item -Force $ProductKey -ErrorAction SilentlyContinue }
    if ($script:Thumbprint) { Set-Trust -TrustedPublisher $true }
}

# The kit's certificate in Root, and in TrustedPublisher unless told otherwise.
function Set-Trust([bool]$TrustedPublisher) {
    foreach ($store in 'Root', 'TrustedPublisher') {
        $path = "Cert:\LocalMachine\$store\$($script:Thumbprint)"
        $want = $store -eq 'Root' -or $TrustedPublisher
        if ($want -and -not (Test-Path $path)) {
            Import-Certificate -FilePath $script:CertificateFile -CertStoreLocation "Cert:\LocalMachine\$store" | Out-Null
        }
        # Removed at the end whoever imported it: the certificate is the kit's own.
        if ($want -and $script:Trusted -notcontains $path) { $script:Trusted += $path } elseif (-not $want -and (Test-Path $path)) {
            Remove-Item $path
        }
    }
}

# The name Tavenor gives the mutex of a log file's turn (tracelib/trace_log.cpp:
# FNV-1a over the path's bytes, letters lower-cased).  Holding it stands for
# another process that holds the turn.
function Get-LogMutexName([string]$Path) {
    $hash = [Numerics.BigInteger]::Parse('14695981039346656037')
    $prime = [Numerics.BigInteger]::Parse('1099511628211')
    $modulus = [Numerics.BigInteger]::Pow(2, 64)
    foreach ($byte in [Text.Encoding]::UTF8.GetBytes($Path)) {
        $c = if ($byte -ge 65 -and $byte -le 90) { $byte + 32 } else { $byte }
        $mixed = [Numerics.BigInteger]::op_ExclusiveOr($hash, [Numerics.BigInteger]$c)
        $hash = [Numerics.BigInteger]::Remainder([Numerics.BigInteger]::Multiply($mixed, $prime), $modulus)
    }
    return 'Local\Tavenor.log.' + $hash.ToString('X16').TrimStart('0').PadLeft(16, '0')
}

function Get-NsisInstaller {
    if ($Installer) { return (Resolve-Path $Installer).Path }
    $makensis = @((Get-Command makensis.exe -ErrorAction SilentlyContinue | ForEach-Object Source),
        (Join-Path ${env:ProgramFiles(x86)} 'NSIS\makensis.exe'), (Join-Path $env:ProgramFiles 'NSIS\makensis.exe')) |
        Where-Object { $_ -and (Test-Path $_) } | Select-Object -First 1
    if (-not $makensis) { throw 'no NSIS installer given (-Installer) and makensis.exe not found' }
    $out = Join-Path $Work 'mydriver-setup.exe'
    $r = Invoke-Limited $makensis @("/DTAVENOR_DIR=$($script:ReleaseFolder)", "/DPKG_DIR=$(Join-Path $script:PackageRoot 'signed')",
        "/DINF=$InfName", "/DOUT=$out", (Join-Path $script:ReleaseFolder 'installers\tavenor.nsi')) 300
    if ($r.Code -ne 0) { throw "makensis ended with $($r.Code): $($r.Output)" }
    return $out
}

# --- One case -----------------------------------------------------------------

function Invoke-Case($Row) {
    $notes = New-Object System.Collections.Generic.List[string]
    $failures = New-Object System.Collections.Generic.List[string]
    $inf = Join-Path $script:PackageRoot "signed\$InfName"
    $log = Join-Path $Evidence "logs\$($Row.id).log"
    $victim = $null
    Reset-Machine
    foreach ($step in ($Row.before -split ' ' | Where-Object { $_ })) {
        switch ($step) {
            'device' { $notes.Add((Invoke-DevTool @('add', $HardwareId)).Output.Trim()) }
            'install' {
                $r = Invoke-Tavenor @('/i', $inf) (Join-Path $Evidence "logs\$($Row.id)-before.log")
                if ($r.Code -ne 0) { $failures.Add("before: /i ended with $($r.Code)") }
            }
            'device-removed' { $notes.Add((Invoke-DevTool @('remove', $HardwareId)).Output.Trim()) }
            'unsigned' { $inf = Join-Path $script:PackageRoot "unsigned\$InfName" }
            'changed' { $inf = Join-Path $script:PackageRoot "changed\$InfName" }
            'root-only' { Set-Trust -TrustedPublisher $false }
            'inbox-copy' {
                New-Item -ItemType Directory -Force (Join-Path $Work 'inbox-copy') | Out-Null
                Copy-Item (Join-Path $env:windir "INF\$($script:InboxName)") (Join-Path $Work 'inbox-copy')
            }
            'log-link' {
                $victim = Join-Path $Work 'victim.txt'
                Set-Content -Path $victim -Value 'a file the log must not reach' -Encoding Ascii
                $log = Join-Path $Work "$($Row.id)-link.log"
                if (Test-Path $log) { Remove-Item $log }
                New-Item -ItemType SymbolicLink -Path $log -Target $victim | Out-Null
            }
            'log-mutex' {
                $script:HeldMutex = New-Object System.Threading.Mutex($true, (Get-LogMutexName $log))
            }
            'nsis-installed' {
                $r = Invoke-Limited $script:NsisSetup @('/S')
                if ($r.Code -ne 0) { $failures.Add("before: the NSIS installer ended with $($r.Code)") }
            }
            default { throw "cases.tsv: unknown step '$step' in $($Row.id)" }
        }
    }
    $victimHash = if ($victim) { (Get-FileHash $victim).Hash } else { $null }
    # The row's words, split at blanks before a path goes in, so a path with
    # blanks stays one word.
    $arguments = @($Row.run -split ' ' | Where-Object { $_ } | ForEach-Object {
            $_.Replace('{inf}', $inf).Replace('{inbox-copy}', (Join-Path $Work "inbox-copy\$($script:InboxName)")).
            Replace('{inbox-pattern}', "$($script:InboxName)_*").Replace('{inbox-id}', $script:InboxId) })
    switch ($arguments[0]) {
        'nsis-install' { $r = Invoke-Limited $script:NsisSetup @('/S') }
        'nsis-uninstall' { $r = Invoke-Limited (Join-Path $ProductFolder 'uninstall.exe') @('/S') $Limit "_?=$ProductFolder" }
        default { $r = Invoke-Tavenor $arguments $log }
    }
    if ($r.TimedOut) {
        $failures.Add("did not end within $Limit s; ended by its process ID")
    } elseif ([string]$r.Code -ne $Row.exit) {
        $failures.Add("exit code $($r.Code), expected $($Row.exit)")
    }
    foreach ($fact in ($Row.after -split ' ' | Where-Object { $_ })) {
        $key, $value = $fact -split '=', 2
        $seen = switch ($key) {
            'staged' { [string](Get-OurPublished).Count }
            'device' { Get-DeviceState }
            'inbox' { Get-InboxState }
            'victim' { if ((Get-FileHash $victim).Hash -eq $victimHash) { 'unchanged' } else { 'written' } }
            default { throw "cases.tsv: unknown check '$key' in $($Row.id)" }
        }
        if ($seen -ne $value) { $failures.Add("$key=$seen, expected $fact") }
        else { $notes.Add("$key=$seen") }
    }
    $notes.Add("exit=$($r.Code) seconds=$($r.Seconds)")
    if ($r.Output) { $notes.Add($r.Output.Trim()) }
    return @{ Failures = $failures; Notes = $notes; Seconds = $r.Seconds }
}

# --- The run ------------------------------------------------------------------

$identity = [Security.Principal.WindowsPrincipal][Security.Principal.WindowsIdentity]::GetCurrent()
if (-not $identity.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
    Write-Host 'run.ps1 needs an elevated administrator (device and driver-store changes)'
    exit 2
}
if ((Test-Path $ProductFolder) -or (Test-Path $ProductKey)) {
    Write-Host "'$ProductFolder' or its uninstall entry exists already: the kit removes its NSIS test product and will not touch one it did not make"
    exit 2
}
New-Item -ItemType Directory -Force -Path $Evidence, (Join-Path $Evidence 'logs'), (Join-Path $Evidence 'cases'), $Work | Out-Null
$Evidence = (Resolve-Path $Evidence).Path
$results = @()
$setupLog = Join-Path $env:windir 'INF\setupapi.dev.log'
$setupLogStart = if (Test-Path $setupLog) { (Get-Item $setupLog).Length } else { 0 }
$kitFailed = $null
try {
    Write-Step "unpacking $Release"
    Expand-Archive -Path $Release -DestinationPath (Join-Path $Work 'release')
    $script:ReleaseFolder = (Get-ChildItem (Join-Path $Work 'release') -Directory | Select-Object -First 1).FullName
    $script:Tavenor = Join-Path $script:ReleaseFolder 'Tavenor.exe'
    $script:DevTool = @((Join-Path $PSScriptRoot 'tavenor-devtool.exe'), (Join-Path $script:ReleaseFolder 'tests\windows\tavenor-devtool.exe')) |
        Where-Object { Test-Path $_ } | Select-Object -First 1
    if (-not $script:DevTool) { throw 'tavenor-devtool.exe is neither beside run.ps1 nor in the release''s tests\windows' }

    if ($Package) {
        $script:PackageRoot = (Resolve-Path $Package).Path
    } else {
        $script:PackageRoot = Join-Path $Work 'package'
        Write-Step 'signing the test package'
        & (Join-Path $PSScriptRoot 'sign-package.ps1') -OutDir $script:PackageRoot | Write-Host
    }
    $script:CertificateFile = Join-Path $script:PackageRoot 'kit.cer'
    $script:Thumbprint = (New-Object Security.Cryptography.X509Certificates.X509Certificate2 $script:CertificateFile).Thumbprint

    # The inbox package the /c and inbox cases must leave alone: the software
    # device enumerator's, which names ROOT\SWENUM.
    $script:InboxName = 'swenum.inf'
    $inboxPath = Join-Path $env:windir "INF\$($script:InboxName)"
    if (-not (Test-Path $inboxPath)) { throw "the inbox INF $inboxPath is not on this Windows" }
    $script:InboxId = if ((Get-Content $inboxPath -Raw) -match '(ROOT\\[A-Za-z0-9_]+)') { $Matches[1] } else { throw "$inboxPath names no ROOT\ ID" }
    $script:InboxHash = (Get-FileHash $inboxPath).Hash
    $script:InboxFolders = @(Get-ChildItem (Join-Path $env:windir 'System32\DriverStore\FileRepository') -Directory -Filter "$($script:InboxName)_*").Count

    Invoke-Quiet 'pnputil.exe' @('/enum-drivers') | Out-File -Encoding utf8 (Join-Path $Evidence 'drivers-before.txt')
    $script:NsisSetup = $null
    $rows = Import-Csv -Path (Join-Path $PSScriptRoot 'cases.tsv') -Delimiter "`t"
    foreach ($row in $rows) {
        if ($row.id -notmatch $Only) { continue }
        Write-Step "case $($row.id): $($row.what)"
        try {
            if ($row.run -like 'nsis-*' -and -not $script:NsisSetup) { $script:NsisSetup = Get-NsisInstaller }
            $outcome = Invoke-Case $row
        } catch {
            $outcome = @{ Failures = @("the kit could not play the case: $($_.Exception.Message)"); Notes = @(); Seconds = 0 }
        }
        $text = @("case: $($row.id)", "what: $($row.what)", "source: $($row.source)", "run: $($row.run)",
            "expected: exit $($row.exit); $($row.after)") + $outcome.Notes + ($outcome.Failures | ForEach-Object { "FAIL: $_" })
        $text | Out-File -Encoding utf8 (Join-Path $Evidence "cases\$($row.id).txt")
        $results += [pscustomobject]@{ Row = $row; Failures = @($outcome.Failures); Seconds = $outcome.Seconds }
        if ($outcome.Failures.Count) { Write-Step "  FAIL $($outcome.Failures -join '; ')" } else { Write-Step '  ok' }
    }
} catch {
    $kitFailed = $_.Exception.Message
    Write-Step "the kit stopped: $kitFailed"
} finally {
    Write-Step 'removing what the kit made'
    try { Reset-Machine } catch { Write-Step "cleanup: $($_.Exception.Message)" }
    foreach ($path in $script:Trusted) { if (Test-Path $path) { Remove-Item $path -ErrorAction SilentlyContinue } }
    Invoke-Quiet 'pnputil.exe' @('/enum-drivers') | Out-File -Encoding utf8 (Join-Path $Evidence 'drivers-after.txt')
    if (Test-Path $setupLog) {
        $stream = [IO.File]::Open($setupLog, 'Open', 'Read', 'ReadWrite')
        try {
            $stream.Seek([Math]::Min($setupLogStart, $stream.Length), 'Begin') | Out-Null
            $out = [IO.File]::Create((Join-Path $Evidence 'setupapi.dev.log'))
            try { $stream.CopyTo($out) } finally { $out.Dispose() }
        } finally { $stream.Dispose() }
    }
    Remove-Item -Recurse -Force $Work -ErrorAction SilentlyContinue
}

# --- The report ---------------------------------------------------------------
function Escape([string]$Text) { return [Security.SecurityElement]::Escape($Text) }
$failed = @($results | Where-Object { $_.Failures.Count -gt 0 }).Count
$os = Get-CimInstance Win32_OperatingSystem
$xml = New-Object System.Text.StringBuilder
[void]$xml.AppendLine('<?xml version="1.0" encoding="UTF-8"?>')
[void]$xml.AppendLine("<testsuites name=`"tavenor-windows`" tests=`"$($results.Count)`" failures=`"$failed`" errors=`"$([int][bool]$kitFailed)`">")
[void]$xml.AppendLine("  <testsuite name=`"$(Escape "$($os.Caption) $($os.Version) $env:PROCESSOR_ARCHITECTURE")`" tests=`"$($results.Count)`" failures=`"$failed`" errors=`"$([int][bool]$kitFailed)`">")
foreach ($result in $results) {
    [void]$xml.Append("    <testcase classname=`"tavenor.windows`" name=`"$(Escape $result.Row.id)`" time=`"$($result.Seconds)`"")
    if ($result.Failures.Count) {
        [void]$xml.AppendLine('>')
        [void]$xml.AppendLine("      <failure message=`"$(Escape ($result.Failures -join '; '))`">$(Escape "$($result.Row.what)`nsource: $($result.Row.source)")</failure>")
        [void]$xml.AppendLine('    </testcase>')
    } else {
        [void]$xml.AppendLine(' />')
    }
}
if ($kitFailed) { [void]$xml.AppendLine("    <testcase classname=`"tavenor.windows`" name=`"kit`"><error message=`"$(Escape $kitFailed)`" /></testcase>") }
[void]$xml.AppendLine('  </testsuite>')
[void]$xml.AppendLine('</testsuites>')
[IO.File]::WriteAllText((Join-Path $Evidence 'junit.xml'), $xml.ToString())
Write-Step "$($results.Count - $failed) passed, $failed failed; report in $Evidence"
if ($kitFailed) { exit 2 }
if ($failed) { exit 1 }
exit 0
