#!/usr/bin/env bash
# Checks that what ships builds byte for byte the same from the current commit:
# clones it twice into temporary folders at different paths, builds the module
# and the tools in each, one after the other, and compares the SHA-256 of the
# unsigned images and of the split debug information (a signature carries the
# time it was made, so signed files always differ). Not run by CI: it takes
# two builds.
#   rebuild-check.sh [<trust anchors file>]
# The trust anchors are compiled into the module, so both builds get the same
# file: the maker's, to reproduce a release (its sums are the ones
# scripts/package.sh printed for the release archive), else a fixed stand-in.
# Uncommitted changes are not part of the check.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
commit="$(git -C "$root" rev-parse HEAD)"
[ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] ||
    echo "rebuild-check.sh: uncommitted changes are not part of the check" >&2
anchors=""
if [ $# -ge 1 ]; then
    [ -f "$1" ] || { echo "rebuild-check.sh: no such file: $1" >&2; exit 2; }
    anchors="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/um-rebuild.XXXXXX")"
# Kept when something fails or differs, to look into.
finish() {
    local status=$?
    if [ $status -eq 0 ]; then rm -rf "$work"; else echo "(kept $work)" >&2; fi
}
trap finish EXIT
if [ -z "$anchors" ]; then
    anchors="$work/anchors.txt"
    printf '%s\n' "root $(printf '1%.0s' {1..40})" "root $(printf '2%.0s' {1..40})" \
        "catalog-signer $(printf '3%.0s' {1..40})" >"$anchors"
fi

"$root/scripts/install-deps.sh"

# build <folder>: clones the commit there, builds what ships and writes the
# sums of the unsigned files to <folder>.sums (paths relative to the build).
build() {
    local src="$1" log="$1.log"
    echo "Building ${commit:0:12} in $src (log: $log)"
    git clone -q --no-checkout "$root" "$src"
    git -C "$src" checkout -q --detach "$commit"
    cmake -S "$src" -B "$src/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
          -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUM_TRUST_ANCHORS="$anchors" >"$log" 2>&1
    # shellcheck disable=SC1091
    . "$src/build/package.env"
    # shellcheck disable=SC2086
    cmake --build "$src/build" --target $UM_SHIPPED_TARGETS >>"$log" 2>&1
    local -a files unsigned
    read -r -a files <<<"$UM_SHIPPED_FILES"
    read -r -a unsigned <<<"$UM_UNSIGNED_FILES"
    local i relative
    for i in "${!files[@]}"; do
        relative="${files[i]#"$src/build/"}"
        printf '%s  %s\n' "$(sha256sum <"${unsigned[i]}" | cut -d' ' -f1)" "$relative"
        [ ! -f "${files[i]}.debug" ] ||
            printf '%s  %s\n' "$(sha256sum <"${files[i]}.debug" | cut -d' ' -f1)" "$relative.debug"
    done >"$src.sums"
}

first="$work/a/UpdateModule"
second="$work/second-clone/somewhere/else/UpdateModule"
build "$first"
# Later, deeper, and in another time zone.
TZ=Pacific/Kiritimati build "$second"
if cmp -s "$first.sums" "$second.sums"; then
    echo "Reproducible: both builds of $commit made the same unsigned images (SHA-256):"
    sed 's/^/  /' "$first.sums"
else
    echo "NOT reproducible: the builds of $commit differ:"
    diff "$first.sums" "$second.sums" || true
    exit 1
fi
