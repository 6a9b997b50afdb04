<#
.SYNOPSIS
Signs the acceptance kit's null-driver package with a throwaway code-signing
certificate, as a setup author signs a test package without test mode.

.DESCRIPTION
Makes, in -OutDir:
  signed\     the package with a catalog from Inf2Cat, signed with signtool (SHA-256, no time stamp)
  unsigned\   the same package with its catalog left unsigned
  changed\    the signed package with a line added to its INF after signing
  kit.cer     the certificate's public part, which run.ps1 imports into
              LocalMachine\Root and LocalMachine\TrustedPublisher for the run
The certificate and its private key are made in LocalMachine\My and deleted
again once the catalog is signed, also when a step fails: nothing stays
trusted or usable for signing after this script.  Inf2Cat and signtool are
looked for under "Windows Kits\10" in both program-files folders (the WDK
and the SDK), newest version first, not at a fixed path.

Kernel-mode signing policy applies to loading a .sys file, which this
package has none of; a catalog signed by a certificate that Root and
TrustedPublisher hold is what makes its install silent ("TrustedPublisher
Certificate Store", Microsoft Learn).

.EXAMPLE
powershell -ExecutionPolicy Bypass -File tests\windows\sign-package.ps1 -OutDir C:\kit\package
#>
param(
    [Parameter(Mandatory = $true)][string]$OutDir,
    # Inf2Cat's operating systems: Windows 10/11 x64, Server 2022, Server 2025, and ARM64 from 1809 on.
    [string]$OsList = '10_X64,ServerFE_X64,Server2025_X64,10_RS5_ARM64',
    [string]$Subject = 'CN=Tavenor acceptance kit (throwaway test certificate)'
)
$ErrorActionPreference = 'Stop'
Set-StrictMode -Version 3

# The newest copy of a kit tool, preferring the build for this machine.
function Find-KitTool([string]$Name) {
    $roots = @(${env:ProgramFiles(x86)}, $env:ProgramFiles) | Where-Object { $_ } |
        ForEach-Object { Join-Path $_ 'Windows Kits\10\bin' } | Where-Object { Test-Path $_ }
    $arch = if ($env:PROCESSOR_ARCHITECTURE -eq 'ARM64') { 'arm64' } else { 'x64' }
    $found = foreach ($root in $roots) { Get-ChildItem -Path $root -Recurse -Filter $Name -File -ErrorAction SilentlyContinue }
    $best = $found | Sort-Object @{ Expression = { $_.Directory.Name -eq $arch }; Descending = $true },
        @{ Expression = { $_.FullName }; Descending = $true } | Select-Object -First 1
    if (-not $best) { throw "$Name was not found under 'Windows Kits\10\bin' (install the Windows SDK and WDK)" }
    return $best.FullName
}

# Windows PowerShell turns a native program's error output into errors that
# would stop the script before its exit code is read.
function Invoke-Tool([string]$Path, [string[]]$Arguments) {
    $ErrorActionPreference = 'Continue'
    $output = & $Path @Arguments 2>&1 | Out-String
    if ($LASTEXITCODE -ne 0) { throw "$(Split-Path $Path -Leaf) ended with $LASTEXITCODE`n$output" }
    return $output
}

$source = Join-Path $PSScriptRoot 'package'
$inf2cat = Find-KitTool 'Inf2Cat.exe'
$signtool = Find-KitTool 'signtool.exe'
New-Item -ItemType Directory -Force -Path $OutDir | Out-Null
foreach ($variant in 'signed', 'unsigned', 'changed') {
    $folder = Join-Path $OutDir $variant
    if (Test-Path $folder) { Remove-Item -Recurse -Force $folder }
    New-Item -ItemType Directory -Path $folder | Out-Null
    Copy-Item (Join-Path $source 'tavenor-null.inf') $folder
}
foreach ($variant in 'signed', 'unsigned') {
    Invoke-Tool $inf2cat @("/driver:$(Join-Path $OutDir $variant)", "/os:$OsList") | Out-Null
}

$certificate = New-SelfSignedCertificate -Type CodeSigningCert -Subject $Subject `
    -CertStoreLocation 'Cert:\LocalMachine\My' -NotAfter (Get-Date).AddDays(3)
try {
    $catalog = Join-Path $OutDir 'signed\tavenor-null.cat'
    Invoke-Tool $signtool @('sign', '/sm', '/s', 'My', '/sha1', $certificate.Thumbprint, '/fd', 'sha256', $catalog) | Out-Null
    Export-Certificate -Cert $certificate -FilePath (Join-Path $OutDir 'kit.cer') -Type CERT | Out-Null
} finally {
    Remove-Item -Path "Cert:\LocalMachine\My\$($certificate.Thumbprint)" -DeleteKey -ErrorAction SilentlyContinue
}

# The INF changed after signing: its hash no longer matches the catalog's.
Copy-Item (Join-Path $OutDir 'signed\tavenor-null.cat') (Join-Path $OutDir 'changed')
Add-Content -Path (Join-Path $OutDir 'changed\tavenor-null.inf') -Value '; changed after signing' -Encoding Ascii
Write-Output "signed with $($certificate.Thumbprint): $OutDir"
