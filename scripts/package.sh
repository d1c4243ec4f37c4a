#!/usr/bin/env bash
# Makes the versioned archive of what ships, from a configured build folder:
#   <build>/dist/UpdateModule-<version>-<commit>[-dirty][-test].tar.gz
# with the signed UpdateModule.dll, its split debug information, the signed
# tools, the README, docs/ when present, a CycloneDX bill of materials
# (bom.cdx.json) and SHA256SUMS over every other file in it. "-test" marks a
# build signed with the test PKI, "-dirty" one with uncommitted changes.
# Prints the archive's path and the SHA-256 of the unsigned images, which
# scripts/rebuild-check.sh reproduces from the commit.
#   package.sh [<build folder>]      (default: $UM_BUILD_DIR, else build/)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-${UM_BUILD_DIR:-$root/build}}"
[ -f "$build/package.env" ] || {
    echo "package.sh: $build is not a configured build folder; run ./scripts/build.sh first" >&2
    exit 1
}
build="$(cd "$build" && pwd)"
# shellcheck disable=SC1091
. "$build/package.env"

# What ships is current with the sources and signed.
# shellcheck disable=SC2086
cmake --build "$build" --target $UM_SHIPPED_TARGETS >/dev/null

git=(git -C "$UM_SOURCE_DIR")
commit="$("${git[@]}" rev-parse --short HEAD)"
suffix=""
if [ -n "$("${git[@]}" status --porcelain --untracked-files=no)" ]; then
    echo "package.sh: the sources have uncommitted changes; the archive is marked -dirty" >&2
    suffix="-dirty"
fi
[ "$UM_RELEASE" = 1 ] || suffix="$suffix-test"
name="UpdateModule-$UM_VERSION-$commit$suffix"

mkdir -p "$build/dist"
stage="$(mktemp -d "$build/dist/.stage.XXXXXX")"
trap 'rm -rf "$stage"' EXIT
top="$stage/$name"
mkdir "$top"

# Each shipped file keeps its place under the build folder; its unsigned copy
# stays behind, named by its hash.
read -r -a files <<<"$UM_SHIPPED_FILES"
read -r -a unsigned <<<"$UM_UNSIGNED_FILES"
unsigned_sums=""
for i in "${!files[@]}"; do
    file="${files[i]}"
    relative="${file#"$build"/}"
    mkdir -p "$top/$(dirname "$relative")"
    cp "$file" "$top/$relative"
    [ ! -f "$file.debug" ] || cp "$file.debug" "$top/$relative.debug"
    unsigned_sums+="$(sha256sum <"${unsigned[i]}" | cut -d' ' -f1)  $relative"$'\n'
done
cp "$UM_SOURCE_DIR/README.md" "$top/"
[ ! -d "$UM_SOURCE_DIR/docs" ] || cp -R "$UM_SOURCE_DIR/docs" "$top/"

# The Debian package that provides a file, and its version and architecture.
debian_package() {
    local package
    package="$(dpkg-query -S "$(readlink -f "$1")" | head -n 1 | cut -d: -f1)"
    dpkg-query -W -f='${Package}\t${Version}\t${Architecture}' "$package"
}
compiled_in() {  # <file the compiler links or includes> <name> <description>
    printf 'static\t%s\t%s\t%s\n' "$2" "$(debian_package "$1")" "$3"
}
module="$top/UpdateModule.dll"
{
    # The compiler, and the binutils that link, split and strip.
    printf 'tool\t%s\n' "$(debian_package "$UM_CXX_COMPILER")" "$(debian_package "$UM_OBJDUMP")"
    compiled_in "$("$UM_CXX_COMPILER" -print-file-name=libstdc++.a)" libstdc++ "GNU C++ standard library"
    compiled_in "$("$UM_CXX_COMPILER" -print-file-name=libgcc.a)" libgcc "GCC low-level runtime"
    compiled_in "$("$UM_CXX_COMPILER" -print-file-name=libwinpthread.a)" winpthread "mingw-w64 POSIX threads"
    compiled_in "$("$UM_CXX_COMPILER" -print-file-name=libmingwex.a)" mingw-w64-crt \
        "mingw-w64 C runtime start-up and extensions"
    compiled_in /usr/include/rapidjson/rapidjson.h RapidJSON "JSON parser and generator (header-only)"
    "$UM_OBJDUMP" -p "$module" | sed -n 's/^[[:space:]]*DLL Name: //p' | sed 's/^/system\t/'
} >"$stage/components.tsv"

# The shipped files: path in the archive, SHA-256, SHA-256 of the unsigned image.
while read -r unsigned relative; do
    printf '%s\t%s\t%s\n' "$relative" "$(sha256sum <"$top/$relative" | cut -d' ' -f1)" "$unsigned"
done <<<"${unsigned_sums%$'\n'}" >"$stage/files.tsv"

UM_VERSION="$UM_VERSION" UM_RELEASE="$UM_RELEASE" UM_COMMIT="$("${git[@]}" rev-parse HEAD)${suffix%-test}" \
perl -MJSON::PP -e '
    use strict; use warnings;
    my ($components, $files) = @ARGV;
    sub lines { open(my $in, "<", $_[0]) or die "$_[0]: $!"; map { chomp; [split /\t/] } <$in> }
    sub purl { my ($package, $version, $arch) = @_;
               $version =~ s/([^A-Za-z0-9.~_-])/sprintf("%%%02X", ord $1)/ge;
               "pkg:deb/debian/$package\@$version?arch=$arch" }
    sub prop { [map { { name => $_->[0], value => $_->[1] } } @_] }
    my (@tools, @parts, @shipped, $module);
    for (lines($components)) {
        my ($kind, $name, @rest) = @$_;
        if ($kind eq "tool") {
            my ($package, $version, $arch) = ($name, @rest);
            push @tools, { type => "application", name => $name, version => $version,
                           purl => purl($package, $version, $arch) };
        } elsif ($kind eq "static") {
            my ($package, $version, $arch, $description) = @rest;
            push @parts, { type => "library", "bom-ref" => "static:$name", name => $name,
                           version => $version, description => "$description, compiled in",
                           purl => purl($package, $version, $arch), scope => "required",
                           properties => prop([linkage => "static"], ["debian:package" => $package]) };
        } else {
            push @parts, { type => "library", "bom-ref" => "import:" . lc $name, name => $name,
                           description => "Windows system library the module imports", scope => "required",
                           properties => prop([linkage => "import"]) };
        }
    }
    for (lines($files)) {
        my ($path, $sha, $unsigned) = @$_;
        my $entry = { type => $path =~ /\.dll$/i ? "library" : "application", "bom-ref" => $path,
                      name => ($path =~ s{.*/}{}r) =~ s{\.[^.]*$}{}r, version => $ENV{UM_VERSION},
                      hashes => [{ alg => "SHA-256", content => $sha }],
                      properties => prop(["file" => $path], ["unsigned-image:SHA-256" => $unsigned],
                                         ["git:commit" => $ENV{UM_COMMIT}]) };
        if ($path eq "UpdateModule.dll") { $module = $entry } else { push @shipped, $entry }
    }
    my @utc = gmtime;
    my $bom = {
        bomFormat => "CycloneDX", specVersion => "1.5", version => 1,
        serialNumber => "urn:uuid:" . do { open(my $u, "<", "/proc/sys/kernel/random/uuid") or die; local $/; <$u> =~ s/\s+//r },
        metadata => {
            timestamp => sprintf("%04d-%02d-%02dT%02d:%02d:%02dZ", $utc[5] + 1900, $utc[4] + 1, @utc[3, 2, 1, 0]),
            tools => { components => \@tools },
            component => $module,
            properties => prop(["signing" => $ENV{UM_RELEASE} ? "maker" : "test PKI, not for release"]),
        },
        components => [@shipped, @parts],
        dependencies => [{ ref => $module->{"bom-ref"}, dependsOn => [map { $_->{"bom-ref"} } @parts] }],
    };
    print JSON::PP->new->canonical->pretty->encode($bom);
' "$stage/components.tsv" "$stage/files.tsv" >"$top/bom.cdx.json"

(cd "$top" && find . -type f -printf '%P\n' | LC_ALL=C sort | xargs -d '\n' sha256sum) >"$stage/SHA256SUMS"
mv "$stage/SHA256SUMS" "$top/"

# Same order, owners and times whatever machine packs it.
archive="$build/dist/$name.tar.gz"
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mode='u=rwX,go=rX' \
    --mtime="@$("${git[@]}" log -1 --format=%ct)" -cf - "$name" | gzip -9n >"$archive.part"
mv -f "$archive.part" "$archive"

echo "Archive: $archive"
echo "SHA-256 of the unsigned images (scripts/rebuild-check.sh rebuilds them from commit $commit):"
printf '%s' "$unsigned_sums" | sed 's/^/  /'
