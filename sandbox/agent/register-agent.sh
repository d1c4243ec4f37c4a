#!/usr/bin/env bash
# Registers the sandbox update agent's classes in the build's Wine prefix
# (HKLM: Wine does not read per-user class registrations).
#   register-agent.sh <build-dir> <signed dll> <unsigned dll>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../../scripts/wine-env.sh" "$1"

register() {
    local clsid="$1" dll="$2"
    local key="HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32"
    wine reg add "$key" /ve /d "Z:${dll//\//\\}" /f >/dev/null 2>&1
    wine reg add "$key" /v ThreadingModel /d Both /f >/dev/null 2>&1
}
register '{6E1F3C52-8B7A-4D2E-9F31-2C4B5A6D7E81}' "$2"
register '{0C4A7E2B-91D3-4F6A-8B25-7E9D1C3F5A60}' "$3"
