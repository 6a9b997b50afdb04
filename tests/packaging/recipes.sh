#!/bin/sh
# Runs the installer recipes of an unzipped release folder in the engines
# they target, under Wine, as a setup author would: the NSIS installer built
# by makensis (silent and answered at the screen), the MSI built by wixl and
# run by msiexec, and the exit-code wrappers (the batch file and the MSI's
# cmd.exe lines) against a stand-in for Tavenor that ends with every code.
# The driver work is rehearsed: the release's rehearsal backend takes the
# place of DifxApix64.dll, and its journal shows which calls were made.
#
#   recipes.sh <unzipped release folder> <work folder>
#
# Wine's powershell.exe is a stub that runs nothing, so tavenor-run.ps1 is
# not run here.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
release=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
failures=0

. "$root/scripts/wine-env.sh"
prefix=$work/wine-prefix
"$root/scripts/wine-run" --prefix "$prefix" cmd /c exit </dev/null >/dev/null 2>&1 || true
wine_env "$prefix"
start_display
match_window_manager
trap '"$wine_server" -k 2>/dev/null || true; stop_display' EXIT INT TERM

# The test's own Windows helpers, built here so that the release build
# (which builds no tests) can run this too.
cxx=$(command -v x86_64-w64-mingw32-g++-posix || command -v x86_64-w64-mingw32-g++)
# Two of them find their command-line tail as Tavenor does.
for tool in report_exit standin_tavenor answer_box; do
    "$cxx" -O2 -static -std=c++17 -Wall -Werror -I"$root" -o "$work/$tool.exe" \
        "$root/tests/packaging/$tool.cpp" "$root/app/tokens.cpp"
done

# winpath <unix path>: the same path as Windows programs under Wine name it.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# run <windows command line>: runs it and prints its whole exit code.
run() {
    printf '%s\r\n' "$1" >"$work/line.txt"
    "$wine_loader" "$work/report_exit.exe" "@$(winpath "$work/line.txt")" </dev/null 2>/dev/null |
        tr -d '\r' | sed -n 's/^exit=//p'
}

check() { # check <what> <got> <expected>
    if [ "$2" = "$3" ]; then
        echo "ok    $1"
    else
        echo "FAIL  $1: got '$2', expected '$3'"
        failures=$((failures + 1))
    fi
}

check_true() { # check_true <what> <test arguments...>
    what=$1
    shift
    if test "$@"; then echo "ok    $what"; else echo "FAIL  $what"; failures=$((failures + 1)); fi
}

# rehearse <install folder> <plan>: the plan, and an empty journal, beside
# where the recipe puts DifxApix64.dll.  Both are hard links to files
# outside, so the journal outlives a recipe that deletes the folder (Wine
# deletes the target of a symbolic link).
rehearse() {
    mkdir -p "$1"
    printf '%s\n' "$2" >"$work/plan.txt"
    : >"$work/journal.txt"
    ln -f "$work/plan.txt" "$1/difx-plan.txt"
    ln -f "$work/journal.txt" "$1/difx-journal.txt"
}

# calls: the library calls of the last run, "<entry> <flags> <result>" joined by commas.
calls() {
    tr -d '\r' <"$work/journal.txt" | awk -F'\t' '$2 ~ /^(preinstall|install|uninstall)$/ {
        sub(/^result=0x0*/, "", $6); printf "%s%s %s %s", sep, $2, $3, ($6 == "" ? "0" : $6); sep = "," }'
}

# --- The exit-code wrappers, against the stand-in ------------------------
wrap=$work/wrappers
rm -rf "$wrap"
mkdir -p "$wrap"
cp "$work/standin_tavenor.exe" "$wrap/Tavenor.exe"
cp "$release/installers/tavenor-run.cmd" "$wrap/"
w=$(winpath "$wrap")
# sed_text <text>: the text as a sed replacement gives it back, backslashes doubled.
sed_text() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }
# The MSI's two cmd.exe lines as the installer runs them: the recipe's
# attribute with its XML escapes undone and its properties filled in.
msi_line() {
    sed -n "/<CustomAction Id=\"$1\"/,/\/>/p" "$release/installers/tavenor-msi.wxs" |
        sed -n 's/.*ExeCommand="\([^"]*\)".*/\1/p' |
        sed -e 's/&quot;/"/g' -e 's/&amp;/\&/g' \
            -e "s|\[INSTALLFOLDER\]|$(sed_text "$w\\")|g" \
            -e "s|\[PKGFOLDER\]|$(sed_text "$w\\pkg\\")|g" \
            -e 's/\$(var.Inf)/my driver.inf/g'
}
msi_install="C:\\windows\\system32\\cmd.exe $(msi_line InstallDriver)"
msi_remove="C:\\windows\\system32\\cmd.exe $(msi_line RemoveDriver)"
# Columns: Tavenor's code, the batch wrapper's, the MSI install line's, the MSI uninstall line's.
while read -r code batch install remove; do
    export TAVENOR_STANDIN_EXIT=$code
    : >"$wrap/standin-calls.txt"
    check "tavenor-run.cmd, Tavenor $code" "$(run "cmd /d /c \"\"$w\\tavenor-run.cmd\" /i \"pkg\\my driver.inf\" /s\"")" "$batch"
    calls_made=$(tr -d '\r' <"$wrap/standin-calls.txt" | paste -sd,)
    : >"$wrap/standin-calls.txt"
    check "MSI install line, Tavenor $code" "$(run "$msi_install")" "$install"
    if [ "$install" = 0 ]; then undo=""; else undo=" /u"; fi
    check "MSI install line takes the package out again on failure, Tavenor $code" \
        "$(tr -d '\r' <"$wrap/standin-calls.txt" | cut -c1-2 | sed 's/^/ /' | tr -d '\n')" " /i$undo"
    check "MSI uninstall line, Tavenor $code" "$(run "$msi_remove")" "$remove"
done <<'EOF'
0 0 0 0
1 3010 0 0
2 2 2 2
3 3 2 3
4 4 2 4
0xC0000005 3221225477 2 3221225477
EOF
unset TAVENOR_STANDIN_EXIT
check "tavenor-run.cmd passes the arguments on, and takes a failed install out again" "$calls_made" \
    '/i "pkg\my driver.inf" /s,/u "pkg\my driver.inf" /s /f'

# --- The release as a setup author rehearses it ----------------------------
# A copy of the unzipped folder with the rehearsal backend in the library's
# place (the rehearsal guide's first step); the recipes build from it as
# they stand.
stage=$work/release
rm -rf "$stage"
cp -r "$release" "$stage"
cp "$stage/rehearsal/TavenorRehearsal64.dll" "$stage/DifxApix64.dll"
target="$prefix/drive_c/Program Files/My driver"

# --- NSIS -----------------------------------------------------------------
(cd "$stage" && makensis -V2 installers/tavenor.nsi >/dev/null)
setup="$(winpath "$stage/installers/mydriver-setup.exe")"
uninstall="\"C:\\Program Files\\My driver\\uninstall.exe\" /S _?=C:\\Program Files\\My driver"
rm -rf "$target"

rehearse "$target/driver" ""
check "NSIS /S, Tavenor 0" "$(run "$setup /S")" 0
check "NSIS /S, Tavenor 0: calls" "$(calls)" "preinstall 0x00000002 0,install 0x00000002 0,install 0x00000003 0"
rehearse "$target/driver" "uninstall 0+reboot"
check "NSIS uninstall /S, Tavenor 1" "$(run "$uninstall")" 3010
check "NSIS uninstall /S, Tavenor 1: calls" "$(calls)" "uninstall 0x00000026 0"
check_true "NSIS uninstall removes the driver folder" ! -e "$target/driver"

rehearse "$target/driver" "install 0+reboot 0"
check "NSIS /S, Tavenor 1" "$(run "$setup /S")" 3010
rehearse "$target/driver" "uninstall 5"
check "NSIS uninstall /S, Tavenor 2" "$(run "$uninstall")" 2
check_true "NSIS failed uninstall keeps Tavenor.exe" -f "$target/driver/Tavenor.exe"
check_true "NSIS failed uninstall keeps the INF" -f "$target/driver/pkg/example.inf"
rehearse "$target/driver" ""
check "NSIS uninstall /S run again, Tavenor 0" "$(run "$uninstall")" 0
# The uninstaller's own file goes a few seconds after it ended; then
# nothing of the product is left.
i=0
while [ -e "$target" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
check_true "NSIS uninstall /S _?= leaves no uninstall.exe and no folder" ! -e "$target"

rehearse "$target/driver" "install 0 5"
check "NSIS /S, Tavenor 2" "$(run "$setup /S")" 2
check "NSIS /S, Tavenor 2: the package leaves the store again" "$(calls)" \
    "preinstall 0x00000002 0,install 0x00000002 0,install 0x00000003 5,uninstall 0x00000026 0"
check_true "NSIS failed install leaves nothing behind" ! -e "$target"

# Someone at the screen is asked to restart, says no, and the installer
# still reports the restart it needs.
rehearse "$target/driver" "install 0+reboot 0"
"$wine_loader" "$work/answer_box.exe" 60 7 restart >"$work/answer.txt" 2>/dev/null </dev/null &
answer=$!
check "NSIS answered at the screen, Tavenor 1" "$(run "$setup")" 3010
wait "$answer" || true
check "NSIS answered at the screen asks to restart" "$(tr -d '\r' <"$work/answer.txt")" \
    "box=Windows must restart to finish. Restart now?"
rehearse "$target/driver" ""
run "$uninstall" >/dev/null
rm -rf "$target"

# --- Windows Installer (wixl, msiexec) --------------------------------------
(cd "$stage" && wixl -a x64 -D Version=1.0.0 -D PkgDir=examples/pkg -D Inf=example.inf -D Cat=example.cat -o mydriver.msi installers/tavenor-msi.wxs 2>/dev/null)
# wixl writes every custom action as deferred; the recipe's rollback action
# gets its rollback bit as its own comment says.
msibuild "$stage/mydriver.msi" -q "UPDATE CustomAction SET Type = 3410 WHERE Action = 'RollbackDriver'"
msi=$(winpath "$stage/mydriver.msi")

rehearse "$target" ""
check "msiexec /i, Tavenor 0" "$(run "msiexec /i $msi /qn")" 0
check "msiexec /i, Tavenor 0: calls" "$(calls)" "preinstall 0x00000002 0,install 0x00000002 0,install 0x00000003 0"
rehearse "$target" "uninstall 5"
result=$(run "msiexec /x $msi /qn")
check_true "msiexec /x, Tavenor 2, fails ($result)" "$result" != 0
check "msiexec /x, Tavenor 2: calls" "$(calls)" "uninstall 0x00000026 5"
check_true "MSI failed uninstall keeps Tavenor.exe" -f "$target/Tavenor.exe"
check_true "MSI failed uninstall keeps the INF" -f "$target/pkg/example.inf"
# Wine's msiexec does not restore the product's registration after a failed
# uninstall (Windows does), so the next runs start from a clean folder.
rm -rf "$target"

rehearse "$target" "install 0+reboot 0"
check "msiexec /i, Tavenor 1" "$(run "msiexec /i $msi /qn")" 0
rehearse "$target" "uninstall 0"
check "msiexec /x, Tavenor 0" "$(run "msiexec /x $msi /qn")" 0
check_true "msiexec /x removes Tavenor.exe" ! -e "$target/Tavenor.exe"

rehearse "$target" "install 0 5"
result=$(run "msiexec /i $msi /qn")
check_true "msiexec /i, Tavenor 2, fails ($result)" "$result" != 0
check "msiexec /i, Tavenor 2: the package leaves the store again" "$(calls)" \
    "preinstall 0x00000002 0,install 0x00000002 0,install 0x00000003 5,uninstall 0x00000026 0"
check_true "MSI failed install leaves no Tavenor.exe" ! -e "$target/Tavenor.exe"
rm -rf "$target"

if [ "$failures" -ne 0 ]; then
    echo "recipes: $failures checks failed"
    exit 1
fi
echo "recipes: every check passed"
