#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${UM_BUILD_DIR:-$root/build}"

"$root/scripts/build.sh"
cd "$build"
ctest --output-on-failure -j2 "$@"
