#!/usr/bin/env bash
# Installs what is missing, builds, prepares the sandbox (test trust root,
# signature policy, update agent registration) and runs the sandbox host, which
# loads UpdateModule.dll the way the Tessel host does and drives the update
# requests over the sandbox bus broker, telling what happens.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${UM_BUILD_DIR:-$root/build}"

"$root/scripts/build.sh"
# The same set-up steps the tests use: trust root and providers, agent registration.
(cd "$build" && ctest -R '^(trust_pki_setup|update_agent_registration)$' >/dev/null) || {
    echo "sandbox set-up failed; see: (cd $build && ctest -R 'setup|registration' --output-on-failure)" >&2
    exit 1
}
"$root/scripts/wine-prefix.sh" setup "$build"
trap '"$root/scripts/wine-prefix.sh" stop "$build"' EXIT
# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh" "$build"
# Z: is the whole Unix file system under Wine.
wine "$build/sandbox/SandboxHost.exe" "Z:$build/UpdateModule.dll"
