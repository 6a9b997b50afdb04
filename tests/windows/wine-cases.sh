#!/bin/sh
# The Windows acceptance kit's device tool and the cases of its table
# (tests/windows/cases.tsv) that Wine can play, run in the build's Wine
# prefix the way run.ps1 runs them on Windows: each Tavenor run started with
# /s /l and a time limit, each outcome read from structured data (the
# device tool's lines, the published oem<n>.inf copies), never from text
# meant for people.
#
#   wine-cases.sh devtool <build folder>   the device tool's commands and exit codes
#   wine-cases.sh cases <build folder>     the table's rows whose "wine" column is standin or shipped
#
# Rows marked "standin" run against the backend's tests' build over its
# documented driver store (tests/backend/platform_standin.cpp), since Wine
# has none; "shipped" rows against the shipped backend.
set -eu
part=$1
build=$(cd "$2" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$build/wine-prefix
id='ROOT\TAVENOR_NULL_TEST'
limit=120  # seconds: a hang guard, each run needs a few
failures=0
passed=0

out=$(mktemp)
trap 'rm -f "$out"' EXIT
# wine <program> <arguments...>: its output without carriage returns, and its exit code.
wine() {
    set +e
    timeout -k 10 "$limit" "$root/scripts/wine-run" --prefix "$prefix" "$@" >"$out" 2>/dev/null </dev/null
    r=$?
    set -e
    tr -d '\r' <"$out"
    return "$r"
}
devtool() { wine "$build/bin/tavenor-devtool.exe" "$@"; }
# rc <command...>: the command's exit code, its output dropped.
rc() { "$@" >/dev/null && r=0 || r=$?; echo "$r"; }
check() { # check <what> <got> <expected>
    if [ "$2" = "$3" ]; then
        passed=$((passed + 1)); echo "ok    $1"
    else
        failures=$((failures + 1)); echo "FAIL  $1: got '$2', expected '$3'"
    fi
}
finish() { echo "$passed passed, $failures failed"; [ "$failures" -eq 0 ]; }

devtool info 'ROOT\NO_SUCH_TAVENOR_DEVICE' >/dev/null || true  # makes the prefix on a first run
windir=$prefix/drive_c/windows
stage=$prefix/drive_c/tavenor-cases
stage_win='C:\tavenor-cases'

if [ "$part" = devtool ]; then
    devtool remove "$id" >/dev/null || true
    check "usage: no command" "$(rc devtool)" 3
    check "usage: unknown command" "$(rc devtool frob x)" 3
    check "info of an ID no device has" "$(rc devtool info "$id")" 1
    check "remove of an ID no device has" "$(rc devtool remove "$id")" 1
    instance=$(devtool add "$id" | sed -n 's/^instance=//p')
    check_text=$(printf '%s' "$instance" | cut -c1-12)
    check "add makes a root-enumerated device" "$check_text" 'ROOT\SYSTEM\'
    info=$(devtool info "$(printf '%s' "$id" | tr 'A-Z' 'a-z')")
    check "info finds it by its hardware ID, letter case aside" "$(printf '%s' "$info" | sed -n 's/^instance=\([^	]*\).*/\1/p')" "$instance"
    check "info: a device without a driver has no INF" "$(printf '%s' "$info" | sed -n 's/.*	inf=\([^	]*\).*/\1/p')" -
    check "remove takes it away" "$(devtool remove "$id")" "removed=$instance"
    check "info after remove" "$(rc devtool info "$id")" 1
    mkdir -p "$stage"
    cp "$root/tests/windows/package/tavenor-null.inf" "$stage/copy.inf"
    cp "$stage/copy.inf" "$windir/inf/oem990.inf"
    cp "$stage/copy.inf" "$windir/inf/oem991.inf"
    printf '\r\n; changed\r\n' >>"$windir/inf/oem991.inf"
    check "staged lists the published copy with the same bytes" "$(devtool staged "$stage_win\\copy.inf")" "published=oem990.inf"
    rm -f "$windir/inf/oem990.inf" "$windir/inf/oem991.inf"
    check "staged with no copy" "$(rc devtool staged "$stage_win\\copy.inf")" 1
    finish
    exit
fi

# --- The cases ---------------------------------------------------------------
pkg=$stage/pkg
log_dir=$build/windows-cases-logs
rm -rf "$stage" "$log_dir"
mkdir -p "$pkg" "$log_dir"
cp "$root/tests/windows/package/tavenor-null.inf" "$pkg/"
# Wine verifies no signature: any bytes stand for the catalog the kit signs.
printf 'catalog stand-in\r\n' >"$pkg/tavenor-null.cat"
cp "$build/bin/Tavenor.exe" "$stage/"
inf="$stage_win\\pkg\\tavenor-null.inf"
# The inbox INF: one Wine ships in its INF folder.
inbox=winebus.inf
inbox_sum=$(sha256sum "$windir/inf/$inbox" | cut -d' ' -f1)

# Takes every trace of the test package and device out of the prefix.
reset() {
    devtool remove "$id" >/dev/null || true
    for name in $(devtool staged "$inf" | sed -n 's/^published=//p'); do
        stem=${name%.*}
        rm -f "$windir/inf/$name" "$windir/inf/$stem.pnf" \
            "$windir/system32/catroot/{F750E6C3-38EE-11D1-85E5-00C04FC295EE}/$stem.cat"
        rm -rf "$windir/system32/driverstore/filerepository/"*"_$stem" \
            "$windir/system32/DriverStore/FileRepository/"*"_$stem"
    done
    : >"$stage/standin-script.txt"
}
tavenor() { # tavenor <log name> <arguments...>: Tavenor's exit code, started with /s /l
    name=$1; shift
    rc wine "$stage/Tavenor.exe" "$@" /s /l "$stage_win\\$name.log"
}
staged_count() { devtool staged "$inf" | grep -c '^published=' || true; }
device_state() { # ours, none or absent
    line=$(devtool info "$id" | head -1)
    [ -n "$line" ] || { echo absent; return; }
    driver=$(printf '%s' "$line" | sed -n 's/.*	inf=\([^	]*\).*/\1/p')
    [ "$driver" = - ] && { echo none; return; }
    if devtool staged "$inf" | grep -qix "published=$driver"; then echo ours; else echo "other:$driver"; fi
}

tab=$(printf '\t')
# Empty fields become "-": read takes runs of tabs as one.
tail -n +2 "$root/tests/windows/cases.tsv" | awk -F'\t' -v OFS='\t' '{ for (i = 1; i <= NF; i++) if ($i == "") $i = "-"; print }' |
while IFS=$tab read -r case before run expected after wine_column _source what; do
    case $wine_column in standin | shipped) ;; *) continue ;; esac
    [ "$before" != - ] || before=
    reset
    lib=backend-standin
    [ "$wine_column" = shipped ] && lib=backend
    cp "$build/bin/$lib/DifxApix64.dll" "$stage/DifxApix64.dll"
    for step in $before; do
        case $step in
        device) devtool add "$id" >/dev/null ;;
        install) check "$case: before: /i" "$(tavenor "$case-before" /i "$inf")" 0 ;;
        device-removed) devtool remove "$id" >/dev/null ;;
        inbox-copy) cp "$windir/inf/$inbox" "$stage/inbox-copy.inf" ;;
        *) check "$case: a step Wine cannot take" "$step" "" ;;
        esac
    done
    arguments=$(printf '%s' "$run" | sed -e "s|{inf}|$(printf '%s' "$inf" | sed 's/\\/\\\\/g')|g" \
        -e "s|{inbox-copy}|$(printf '%s' "$stage_win\\inbox-copy.inf" | sed 's/\\/\\\\/g')|g")
    # shellcheck disable=SC2086 # the row's words are the arguments
    check "$case: exit code ($what)" "$(tavenor "$case" $arguments)" "$expected"
    for fact in $after; do
        key=${fact%%=*}
        case $key in
        staged) check "$case: $fact" "staged=$(staged_count)" "$fact" ;;
        device) check "$case: $fact" "device=$(device_state)" "$fact" ;;
        inbox) check "$case: $fact" "inbox=$( [ "$(sha256sum "$windir/inf/$inbox" | cut -d' ' -f1)" = "$inbox_sum" ] && echo kept || echo changed)" "$fact" ;;
        *) check "$case: a check Wine cannot make" "$key" "" ;;
        esac
    done
    cp "$stage/$case.log" "$log_dir/" 2>/dev/null || true
    echo "$passed $failures" >"$log_dir/counts"
done
reset
[ -f "$log_dir/counts" ] && read -r passed failures <"$log_dir/counts"
finish
