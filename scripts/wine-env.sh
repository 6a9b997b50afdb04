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
    # Scripts started within this one see that the display is ours.
    export TAVENOR_OWN_DISPLAY=":$n"
    i=0
    while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
}

stop_display() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}

# match_window_manager: tells Wine in $WINEPREFIX whether a window manager
# takes its windows.  Wine waits up to 2 seconds for the window manager to
# take back every top-level window it hides (a message box closing, a
# viewer window going), and an Xvfb display of ours has none: there Wine
# places its windows itself ("Managed"=N under HKCU\Software\Wine\X11
# Driver).  On any other display the window manager has them again.
match_window_manager() {
    if [ -n "${TAVENOR_OWN_DISPLAY:-}" ] && [ "$TAVENOR_OWN_DISPLAY" = "${DISPLAY:-}" ]; then
        "$wine_loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
    else
        "$wine_loader" reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f
    fi </dev/null >/dev/null 2>&1 || true
}
