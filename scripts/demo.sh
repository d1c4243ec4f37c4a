#!/usr/bin/env bash
# Installs what is missing, builds, and runs the sandbox host, which loads
# UpdateModule.dll the way the Tessel host does and tells what happens.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${UM_BUILD_DIR:-$root/build}"

"$root/scripts/build.sh" --target demo_bundle
"$root/scripts/wine-prefix.sh" setup "$build"
trap '"$root/scripts/wine-prefix.sh" stop "$build"' EXIT
# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh" "$build"
# Z: is the whole Unix file system under Wine.
wine "$build/sandbox/SandboxHost.exe" "Z:$build/UpdateModule.dll"
