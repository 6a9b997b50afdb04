#!/bin/sh
# A driver's whole life in each installer recipe, under Wine, through our
# own DifxApix64.dll over the stand-in driver store (the tests' build): the
# NSIS setup and uninstaller as makensis builds them, the MSI as wixl builds
# it and Wine's msiexec runs it, and the deployment wrapper tavenor-run.cmd
# as Intune or Configuration Manager would start it.  life-table.txt beside
# this script holds the steps in order and what each must leave: the
# engine's exit code, the product's files, its uninstall entry or MSI
# registration, our packages in the driver store and the device's driver.
#
#   life.sh <build folder> <work folder>      (inside scripts/wine-session)
#
# How the situations are made:
#   device present / absent / none   a registered root device with the
#       package's hardware ID; "absent" is the stand-in's "absent <id>"
#       line (registered, not present); "none" removes the device.
#   failed-install   the stand-in's "prompt <inf>": an untrusted publisher,
#       which under /s fails the install after the package was staged.
#       (A failure later in an MSI installation cannot be run here: Wine's
#       msiexec runs the rollback action only after it has deleted the
#       files, Tavenor among them.)
#   failed-uninstall the installed INF is taken away (Tavenor ends 2);
#       "retry" puts it back and runs the same uninstall again.
#   gone             the package's published files are deleted from the
#       prefix before the uninstall, as someone else's removal would.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
. "$root/scripts/wine-env.sh"
[ -n "${WINEPREFIX:-}" ] || { echo "life.sh runs inside scripts/wine-session" >&2; exit 2; }
prefix=$WINEPREFIX
failures=0

hwid='ROOT\TAVENOR_LIFE'
inf=life.inf
cat=life.cat
nsis_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\MyDriver'
windir=$prefix/drive_c/windows
program_files="$prefix/drive_c/Program Files/My driver"

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# run <windows command line>: runs it and prints its whole exit code.
run() {
    printf '%s\r\n' "$1" >"$work/line.txt"
    "$wine_loader" "$build/bin/tests/report_exit.exe" "@$(winpath "$work/line.txt")" </dev/null 2>/dev/null |
        tr -d '\r' | sed -n 's/^exit=//p'
}
probe() { "$wine_loader" "$build/bin/tests/life_probe.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# --- Two versions of a package, and each recipe built around each -------
package_inf() { # package_inf <folder> <DriverVer version>
    mkdir -p "$1"
    # Windows stages no package without the catalog its INF names; the
    # stand-in takes any bytes for one.
    printf 'catalog of %s\r\n' "$2" >"$1/$cat"
    printf '%s\r\n' '[Version]' 'Signature = "$Windows NT$"' 'Class = System' \
        'ClassGuid = {4d36e97d-e325-11ce-bfc1-08002be10318}' 'Provider = %Vendor%' \
        "DriverVer = 12/09/2026,$2" "CatalogFile = $cat" '' '[Manufacturer]' '%Vendor% = Models, NTamd64' '' \
        '[Models.NTamd64]' "%Device% = Install, $hwid" '' '[Install.NT]' '' '[Install.NT.Services]' \
        'AddService = , 0x00000002' '' '[Strings]' 'Vendor = "Tavenor life test"' \
        'Device = "Tavenor life test device"' >"$1/$inf"
}
rm -rf "$work/v1" "$work/v2" "$work/cmd-v1" "$work/cmd-v2"
for v in 1 2; do
    dir=$work/v$v
    mkdir -p "$dir"
    cp "$build/bin/Tavenor.exe" "$dir/"
    cp "$build/bin/backend-standin/DifxApix64.dll" "$dir/"
    package_inf "$dir/pkg" "1.0.$v.0"
    makensis -V1 -DTAVENOR_DIR="$dir" -DPKG_DIR="$dir/pkg" -DINF=$inf -DOUT="$dir/setup.exe" \
        "$root/packaging/installers/tavenor.nsi" >/dev/null
    (cd "$dir" && wixl -a x64 -D Version=1.0.$v -D PkgDir=pkg -D Inf=$inf -D Cat=$cat -o driver.msi \
        "$root/packaging/installers/tavenor-msi.wxs" 2>/dev/null)
    # wixl writes the rollback action without its rollback bit (see setup-authors.md).
    msibuild "$dir/driver.msi" -q "UPDATE CustomAction SET Type = 3410 WHERE Action = 'RollbackDriver'"
    mkdir -p "$work/cmd-v$v"
    cp -r "$dir/Tavenor.exe" "$dir/DifxApix64.dll" "$dir/pkg" "$root/packaging/installers/tavenor-run.cmd" "$work/cmd-v$v/"
done
product_code=$(msiinfo export "$work/v1/driver.msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')
product_code_v2=$(msiinfo export "$work/v2/driver.msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')

# --- What is left ---------------------------------------------------------
# store: which versions of our package are published in the prefix.
store() {
    found=
    for f in "$windir"/inf/oem*.inf; do
        [ -e "$f" ] || continue
        for v in 1 2; do
            cmp -s "$f" "$work/v$v/pkg/$inf" && found="$found+v$v"
        done
    done
    [ -n "$found" ] && echo "${found#+}" || echo none
}
# version <oemN.inf>: which of ours it is ("gone" when no longer published).
version() {
    for v in 1 2; do
        cmp -s "$windir/inf/$1" "$work/v$v/pkg/$inf" 2>/dev/null && { echo "v$v"; return; }
    done
    [ -e "$windir/inf/$1" ] && echo other || echo gone
}
# unpublish: someone else takes every package of ours out of the store.
unpublish() {
    for f in "$windir"/inf/oem*.inf; do
        [ -e "$f" ] || continue
        if cmp -s "$f" "$work/v1/pkg/$inf" || cmp -s "$f" "$work/v2/pkg/$inf"; then
            stem=$(basename "$f" .inf)
            rm -rf "$f" "$windir/inf/$stem.pnf" "$windir/system32/CatRoot/{F750E6C3-38EE-11D1-85E5-00C04FC295EE}/$stem.cat" \
                "$windir"/system32/DriverStore/FileRepository/*_"$stem"
        fi
    done
}

# --- The engines ------------------------------------------------------------
installed=1      # the version the last successful install left
device=none      # the device as the last step left it
script_lines=    # the stand-in's script for the next run
held=            # an INF taken away for a failed uninstall

folders() { # the folders the recipe's Tavenor and library run from
    case $1 in
    nsis) printf '%s\n' "$program_files/driver" ;;
    msi) printf '%s\n' "$program_files" ;;
    cmd) printf '%s\n' "$work/cmd-v1"; printf '%s\n' "$work/cmd-v2" ;;
    esac
}
installed_inf() {
    case $1 in
    nsis) printf '%s\n' "$program_files/driver/pkg/$inf" ;;
    msi) printf '%s\n' "$program_files/pkg/$inf" ;;
    cmd) printf '%s\n' "$work/cmd-v$installed/pkg/$inf" ;;
    esac
}
# The deployment's own install and uninstall commands (Intune's) as they
# stand, with our test package's INF name: the program the agent starts in
# the content folder, and its arguments.
deployment_line() { # deployment_line <Install|Uninstall>
    sed -n "s/^  $1 command *//p" "$root/packaging/installers/deployment.txt" | tr -d '\r' |
        sed "s/mydriver\.inf/$inf/"
}
install_line=$(deployment_line Install)
uninstall_line=$(deployment_line Uninstall)
[ -n "$install_line" ] && [ -n "$uninstall_line" ] || { echo "life: no commands in deployment.txt" >&2; exit 1; }
cmd_line() { # cmd_line <version> <program and arguments>: run in that version's content folder
    program=${2%% *}
    printf '%s\n' "cmd /d /c \"\"$(winpath "$work/cmd-v$1")\\$program\" ${2#* }\""
}
engine() { # engine <recipe> <step>: the command line the step runs
    case $1.$2 in
    nsis.install | nsis.failed-install) printf '%s\n' "$(winpath "$work/v1/setup.exe") /S" ;;
    nsis.upgrade) printf '%s\n' "$(winpath "$work/v2/setup.exe") /S" ;;
    nsis.*) printf '%s\n' "\"C:\\Program Files\\My driver\\uninstall.exe\" /S _?=C:\\Program Files\\My driver" ;;
    msi.install | msi.failed-install) printf '%s\n' "msiexec /i $(winpath "$work/v1/driver.msi") /qn" ;;
    msi.upgrade) printf '%s\n' "msiexec /i $(winpath "$work/v2/driver.msi") /qn" ;;
    msi.*) printf '%s\n' "msiexec /x $(winpath "$work/v$installed/driver.msi") /qn" ;;
    cmd.install | cmd.failed-install) cmd_line 1 "$install_line" ;;
    cmd.*) cmd_line "$installed" "$uninstall_line" ;;
    esac
}

# set_device <present|absent|none>
set_device() {
    case $1 in
    present | absent) [ "$device" != none ] || probe add "$hwid" ;;
    none) [ "$device" = none ] || probe remove "$hwid" ;;
    esac
    device=$1
    script_lines=
    [ "$1" != absent ] || script_lines="absent $hwid"
}
nl='
'


write_scripts() {
    folders "$1" | while read -r folder; do
        mkdir -p "$folder"
        printf '%s\r\n' "$script_lines" >"$folder/standin-script.txt"
    done
}

# files <recipe>: yes when the product's Tavenor.exe is there, no when no
# file of the product is, "partly" otherwise.
files() {
    case $1 in
    nsis) set -- "$program_files/driver/Tavenor.exe" "$program_files/driver/DifxApix64.dll" \
        "$program_files/driver/pkg/$inf" "$program_files/uninstall.exe" ;;
    msi) set -- "$program_files/Tavenor.exe" "$program_files/DifxApix64.dll" "$program_files/pkg/$inf" ;;
    *) echo -; return ;;
    esac
    if [ -e "$1" ]; then echo yes; return; fi
    for f in "$@"; do [ ! -e "$f" ] || { echo "partly:$(basename "$f")"; return; }; done
    echo no
}

check() { # check <what> <got> <expected>; "-" expects nothing, "fail" any code but 0
    case $3 in
    -) return ;;
    fail) [ -n "$2" ] && [ "$2" != 0 ] && return ;;
    *) [ "$2" = "$3" ] && return ;;
    esac
    echo "FAIL  $row: $1 is '$2', expected '$3'"
    failures=$((failures + 1))
    bad=1
}

# msi_forget: Windows Installer's record of which products use our
# components.  Wine's msiexec keeps a product as their client after a failed
# uninstall, though the product itself is no longer registered; a later
# uninstall then keeps the files for it.
msi_forget() {
    msiinfo export "$work/v1/driver.msi" Component | tr -d '\r' | awk -F'\t' 'NR > 3 { print $2 }' |
        python3 -c "import sys
for g in sys.stdin.read().split():
    g = g.strip('{}').replace('-', '')
    print(g[0:8][::-1] + g[8:12][::-1] + g[12:16][::-1] + ''.join(g[i + 1] + g[i] for i in range(16, 32, 2)))" |
        while read -r packed; do
            "$wine_loader" reg delete \
                "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\$packed" \
                /f </dev/null >/dev/null 2>&1 || true
        done
}

# --- The life ---------------------------------------------------------------
cleanup() {
    for code in $product_code $product_code_v2; do
        case $(probe state "$hwid" "$nsis_key" "$code") in
        *product=yes) run "msiexec /x $code /qn" >/dev/null ;;
        esac
    done
    probe remove "$hwid"
    unpublish
    msi_forget
    rm -rf "$program_files"
    "$wine_loader" reg delete "HKLM\\$nsis_key" /f </dev/null >/dev/null 2>&1 || true
}
cleanup

results=$work/life-results.txt
printf '%-6s %-16s %-8s %-5s %-6s %-5s %-6s %s\n' recipe step device exit files entry store driver >"$results"
last_recipe=
grep -v '^#' "$here/life-table.txt" | while read -r recipe step dev want_exit want_files want_entry want_store want_driver; do
    [ -n "$recipe" ] || continue
    if [ "$recipe" != "$last_recipe" ]; then
        # Each recipe's life starts on a clean machine.
        [ -z "$last_recipe" ] || cleanup
        installed=1
        device=none
        last_recipe=$recipe
    fi
    row="$recipe $step $dev"
    started=$(date +%s)
    set_device "$dev"
    [ "$step" != failed-install ] || script_lines="$script_lines${nl}prompt $inf"
    if [ "$step" = retry ] && [ -n "$held" ]; then
        mv "$work/held.inf" "$held"
        held=
    fi
    write_scripts "$recipe"
    if [ "$step" = failed-uninstall ]; then
        held=$(installed_inf "$recipe")
        mv "$held" "$work/held.inf"
    fi
    [ "$step" != gone ] || unpublish
    line=$(engine "$recipe" "$step")
    got_exit=$(run "$line")
    if [ "$step" = upgrade ] && [ "$recipe" = cmd ]; then
        # Supersedence: the older app's uninstall command, then the newer's install.
        [ "$got_exit" != 0 ] || got_exit=$(run "$(cmd_line 2 "$install_line")")
    fi
    [ "$step" != upgrade ] || [ "$got_exit" != 0 ] || installed=2
    [ "$step" != install ] || [ "$got_exit" != 0 ] || installed=1
    if [ "$recipe" = nsis ] && [ "$got_exit" = 0 ] && [ -e "$program_files/uninstall.exe" ] &&
        ! [ -e "$program_files/driver" ]; then
        # The uninstaller's own file goes a few seconds after it ended.
        i=0
        while [ -e "$program_files/uninstall.exe" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
    fi
    code=-
    [ "$recipe" != msi ] || { [ "$installed" = 1 ] && code=$product_code || code=$product_code_v2; }
    state=$(probe state "$hwid" "$nsis_key" "$code")
    driver=$(echo "$state" | sed -n 's/.*driver=\([^ ]*\).*/\1/p')
    case $driver in oem*) driver=$(version "$driver") ;; esac
    got_files=$(files "$recipe")
    case $recipe in
    nsis) got_entry=$(echo "$state" | sed -n 's/.*entry=\([^ ]*\).*/\1/p') ;;
    msi) got_entry=$(echo "$state" | sed -n 's/.*product=\([^ ]*\).*/\1/p') ;;
    *) got_entry=- ;;
    esac
    got_store=$(store)
    bad=0
    check "the exit code" "$got_exit" "$want_exit"
    check "the files" "$got_files" "$want_files"
    check "the entry" "$got_entry" "$want_entry"
    check "the store" "$got_store" "$want_store"
    check "the device's driver" "$driver" "$want_driver"
    [ "$bad" = 1 ] || echo "ok    $row ($(( $(date +%s) - started )) s)"
    printf '%-6s %-16s %-8s %-5s %-6s %-5s %-6s %s\n' "$recipe" "$step" "$dev" "$got_exit" "$got_files" "$got_entry" \
        "$got_store" "$driver" >>"$results"
    if [ "$recipe.$step" = msi.failed-uninstall ]; then
        # Wine's msiexec does not restore a product's registration after a
        # failed uninstall (Windows does), so its retry cannot be run here:
        # the package goes with Tavenor itself, the folder by hand.
        mv "$work/held.inf" "$held"
        held=
        run "\"$(winpath "$program_files/Tavenor.exe")\" /u \"$(winpath "$program_files/pkg/$inf")\" /s /f" >/dev/null
        rm -rf "$program_files"
        msi_forget
    fi
    echo "$failures" >"$work/failures"
done
cleanup
cat "$results"
failures=$(cat "$work/failures" 2>/dev/null || echo 1)
if [ "$failures" -ne 0 ]; then
    echo "life: $failures checks failed"
    exit 1
fi
echo "life: every step left what the recipes promise"
