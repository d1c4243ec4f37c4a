#!/usr/bin/env bash
# Prepares (setup) or stops (stop) the project-local Wine prefix.
#   wine-prefix.sh setup <build-dir>   create the prefix once, start a persistent wineserver
#   wine-prefix.sh stop  <build-dir>   stop the wineserver
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
action="$1"; build="$2"
# shellcheck source=wine-env.sh
. "$here/wine-env.sh" "$build"

case "$action" in
setup)
    mkdir -p "$WINEPREFIX"
    # A persistent server makes each test program start in a fraction of a second.
    wineserver -p >/dev/null 2>&1 </dev/null || true
    if [ ! -f "$WINEPREFIX/.um-ready" ]; then
        wineboot -i >/dev/null 2>&1
        # Never show a crash dialog; a crashing test must fail at once.
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 0 /f >/dev/null 2>&1
        wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
        touch "$WINEPREFIX/.um-ready"
    fi
    wineserver -p >/dev/null 2>&1 </dev/null || true
    # Bring up Wine's own services now, detached from any caller's output: started
    # by the first test instead, they would inherit CTest's pipe and keep it open.
    wine cmd /c exit >/dev/null 2>&1 </dev/null || true
    ;;
stop)
    wineserver -k >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: $0 setup|stop <build-dir>" >&2; exit 2 ;;
esac
