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
