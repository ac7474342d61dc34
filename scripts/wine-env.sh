# Sourced by the scripts that run Windows programs: a private Wine prefix
# (never ~/.wine), a private Xvfb display when none is set, and a persistent
# wineserver so that each test costs milliseconds instead of seconds.
#
#   source scripts/wine-env.sh
#   wine_env_start [PREFIX]     # exports WINEPREFIX, DISPLAY, WINEDEBUG, ...
#   ...wine programs...
#   wine_env_stop
#
# The prefix has a virtual desktop (no window manager needed), no crash
# dialog, Wine's Tahoma and the metric-compatible replacements for Arial,
# Times New Roman and Courier New. With the 32-bit Wine installed the 64-bit
# prefix runs 32-bit programs too (WoW64).

_wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

wine_env_start() {
    local prefix=${1:-${UPD_WINEPREFIX:-$_wine_env_root/build/wine-prefix}}
    export WINEPREFIX=$prefix
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64

    if [ -z "${DISPLAY:-}" ]; then
        local n
        for n in $(seq 91 140); do
            [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
            Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
            _wine_env_xvfb=$!
            local i
            for i in $(seq 1 100); do
                [ -e /tmp/.X11-unix/X$n ] && break
                sleep 0.05
            done
            export DISPLAY=:$n
            break
        done
    fi

    # A prefix made before the 32-bit Wine was installed cannot run 32-bit
    # programs (they fail to load kernel32.dll): such a prefix is made anew.
    local kind=win64
    if [ -e /usr/lib/wine/wine ] || dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed'; then
        kind=wow64
    fi
    if [ -f "$WINEPREFIX/.upd-ready" ] && [ "$(cat "$WINEPREFIX/.upd-ready")" != "$kind" ]; then
        wineserver -k >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/.upd-ready" ]; then
        mkdir -p "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1 </dev/null || true
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /d 'Liberation Sans' /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Times New Roman' /d 'Liberation Serif' /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' /d 'Liberation Mono' /f >/dev/null 2>&1
        local f
        for f in tahoma.ttf tahomabd.ttf marlett.ttf; do
            [ -f /usr/share/wine/fonts/$f ] && cp /usr/share/wine/fonts/$f "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
        done
        wineserver -w
        echo "$kind" >"$WINEPREFIX/.upd-ready"
    fi

    # Persistent server with detached stdio: otherwise every test waits for
    # Wine's services to exit through ctest's output pipe.
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
}

wine_env_stop() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "${_wine_env_xvfb:-}" ]; then
        kill "$_wine_env_xvfb" 2>/dev/null || true
        wait "$_wine_env_xvfb" 2>/dev/null || true
        unset _wine_env_xvfb
        unset DISPLAY
    fi
}
