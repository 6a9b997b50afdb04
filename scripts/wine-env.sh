# Sourced by wine-run and wine-session: Wine's environment for a prefix,
# the loader and server to use, and an X display for windows and boxes.

# wine_env PREFIX: the variables every Wine start of ours sees.
wine_env() {
    export WINEPREFIX="$1"
    export WINEDEBUG=${WINEDEBUG:--all}
    # No Mono or Gecko download prompts in a fresh prefix.
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
    export WINEARCH=win64
}

wine_loader=/usr/lib/wine/wine64
[ -x "$wine_loader" ] || wine_loader=$(command -v wine64 || command -v wine || true)
wine_server=/usr/lib/wine/wineserver
[ -x "$wine_server" ] || wine_server=$(command -v wineserver || true)

# start_display: when no X display is set, starts Xvfb on a free number and
# sets DISPLAY; xvfb_pid names it for stop_display.
xvfb_pid=
start_display() {
    [ -z "${DISPLAY:-}" ] || return 0
    command -v Xvfb >/dev/null || { echo "no DISPLAY and no Xvfb" >&2; exit 69; }
    n=$(( ($$ % 400) + 100 ))
    while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    i=0
    while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
}

stop_display() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
