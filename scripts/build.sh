#!/usr/bin/env bash
# Installs what is missing, configures the cross build into the build folder
# and builds. Arguments go to `cmake --build` (e.g. --target SandboxHost).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${UM_BUILD_DIR:-$root/build}"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" "$@"
