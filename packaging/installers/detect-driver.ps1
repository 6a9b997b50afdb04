# Detection script for Intune (Win32 app, "Use a custom detection script")
# and Configuration Manager (deployment type, "Use a custom script to detect
# the presence of this deployment type"): both take the app as installed
# when the script ends with 0 and writes something to standard output, and
# as not installed when it writes nothing.
#
# It looks in the driver store, where a driver package lives whether or not
# a device uses it: Get-WindowsDriver -Online lists the third-party
# packages, each with the path of its INF in the store, whose file name is
# the package's own INF name, and its version (DriverVer).  Tavenor /u takes
# the package out of the store, so the app then reads as removed.  A failed
# install must not leave the package there either: deployment.txt runs it
# through tavenor-run.cmd, which takes it out again before reporting the
# failure (Tavenor.exe on its own leaves a package staged when no device is
# present, and this script would read that as installed).  A file
# in System32\drivers is no such sign: a package need not copy one there,
# and our DifxApix64.dll deletes none.
#
# Set the INF name and the version your package's DriverVer line states.
$infName = 'mydriver.inf'
$version = '1.0.0.0'

$found = Get-WindowsDriver -Online |
    Where-Object { [IO.Path]::GetFileName($_.OriginalFileName) -ieq $infName -and $_.Version -eq $version } |
    Select-Object -First 1
if ($found) {
    Write-Output "$infName $version is in the driver store as $($found.Driver)"
}
exit 0
