#!/usr/bin/env bash
# Installs what is missing, builds, prepares the sandbox (test trust root,
# signature policy, update agent registration) and runs the sandbox host, which
# loads UpdateModule.dll the way the Tessel host does and drives the update
# requests over the sandbox bus broker, telling what happens.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${UM_BUILD_DIR:-$root/build}"

"$root/scripts/build.sh"
"$root/scripts/wine-prefix.sh" setup "$build"
# The set-up the tests' fixtures make: test trust roots and providers, agent registration.
sh "$build/sandbox/prepare-trust-prefix.sh" >/dev/null
sh "$build/sandbox/prepare-agent-prefix.sh" >/dev/null
trap '"$root/scripts/wine-prefix.sh" stop "$build"' EXIT
# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh" "$build"
# Z: is the whole Unix file system under Wine.
wine "$build/sandbox/SandboxHost.exe" "Z:$build/UpdateModule.dll"

# Once more with the file back end, chosen the way an administrator would,
# then the module's own log lines. The machine's logging is put back after.
logconfig="$build/tools/ZuLogConfig.exe"
logs="$WINEPREFIX/drive_c/ProgramData/Corvane/ZULOGS/UpdateModule/SandboxHost"
restore_logging() {
    wine "$logconfig" backend trace >/dev/null 2>&1 || true
    wine "$logconfig" ini reset Severity >/dev/null 2>&1 || true
}
trap 'restore_logging; "$root/scripts/wine-prefix.sh" stop "$build"' EXIT
echo
echo "=== The same scenario with the file back end ==="
echo "An administrator selects it and lets every level through:"
wine "$logconfig" backend file
wine "$logconfig" ini set Severity 1
rm -rf "$logs"
# The host's account of the scenario goes to a file; its last line says how it went.
wine "$build/sandbox/SandboxHost.exe" "Z:$build/UpdateModule.dll" >"$build/demo-file-backend.txt" 2>&1
tail -n 1 "$build/demo-file-backend.txt"
echo
echo "The module's log lines (ProgramData\\Corvane\\ZULOGS\\UpdateModule\\SandboxHost):"
for file in "$logs"/*.log; do
    [ -e "$file" ] || { echo "  (no log file was written)"; exit 1; }
    echo "--- $(basename "$file")"
    iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r'
done

# What an administrator would run when updates do not work: the diagnostics
# tool, once on the sandbox installation and once on a copy whose bus library
# carries an expired signature first in the search.
restore_logging
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
diagnose="$build/tools/ZuDiagnose.exe"
echo
echo "=== ZuDiagnose on the sandbox installation ==="
wine "$diagnose" --module "$(winpath "$build/UpdateModule.dll")" --host "$(winpath "$build/sandbox/SandboxHost.exe")"
echo
echo "=== ZuDiagnose on a broken copy: an expired bus library first in the search ==="
status=0
wine "$diagnose" --module "$(winpath "$build/UpdateModule.dll")" \
    --host "$(winpath "$build/sandbox/broken-install")" --process SandboxHost || status=$?
echo "(exit code $status: the number of problems)"
