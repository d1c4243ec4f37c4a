# Sourced by the scripts and by CTest: the Wine settings every run uses.
# $1 (optional): build folder; the prefix lives inside it.
um_build_dir="$(cd "${1:-${UM_BUILD_DIR:-build}}" && pwd)"
export WINEPREFIX="${um_build_dir}/wineprefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko installers, and no crash debugger: a crashing program just ends.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEARCH=win64
