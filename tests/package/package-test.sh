#!/usr/bin/env bash
# The archive scripts/package.sh makes from this build, checked the way its
# receiver would: every file listed with a matching sum, the module and the
# tools signed by the accepted test signer under the test root with a test TSA
# time stamp, a bill of materials naming what is compiled in and what the module
# imports, and the unsigned image's SHA-256 as the script printed it.
#   package-test.sh <source folder> <build folder>
set -euo pipefail
source="$1"; build="$2"
fail() { echo "FAILED: $*" >&2; exit 1; }

printed="$("$source/scripts/package.sh" "$build")"
echo "$printed"
archive="$(sed -n 's/^Archive: //p' <<<"$printed")"
name="$(basename "$archive" .tar.gz)"
commit="$(git -C "$source" rev-parse --short HEAD)"
[[ "$name" =~ ^UpdateModule-[0-9.]+-$commit(-dirty)?-test$ ]] || fail "$name: not named by version and commit, or not marked as a test build"

work="$(mktemp -d "${TMPDIR:-/tmp}/um-package-test.XXXXXX")"
trap 'rm -rf "$work"' EXIT
tar -xzf "$archive" -C "$work"
cd "$work/$name"

sha256sum --check --strict --quiet SHA256SUMS || fail "a sum in SHA256SUMS does not match"
diff <(find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort) <(cut -c67- SHA256SUMS | LC_ALL=C sort) ||
    fail "SHA256SUMS does not list exactly the files of the archive"
for file in UpdateModule.dll UpdateModule.dll.debug README.md bom.cdx.json; do
    [ -f "$file" ] || fail "$file is missing"
done

signed=(UpdateModule.dll tools/*.exe)
[ -f "${signed[1]}" ] || fail "no tools in the archive"
for file in "${signed[@]}"; do
    osslsigncode verify -CAfile "$build/pki/root.pem" -TSA-CAfile "$build/pki/root.pem" -in "$file" \
        >"$work/verify.txt" 2>&1 || { cat "$work/verify.txt"; fail "$file: the signature does not verify"; }
    grep -q "Subject: /O=Orvik Corporation/CN=Orvik Corporation" "$work/verify.txt" ||
        fail "$file: not signed by the accepted test signer"
    grep -q "Timestamp Server Signature verification: ok" "$work/verify.txt" || fail "$file: no verified time stamp"
done

unsigned="$(sha256sum <"$build/UpdateModule.unsigned.dll" | cut -d' ' -f1)"
grep -qx "  $unsigned  UpdateModule.dll" <<<"$printed" || fail "the printed SHA-256 is not the unsigned image's"

perl -MJSON::PP -e '
    use strict; use warnings;
    my ($file, $signed, $unsigned) = @ARGV;
    open(my $in, "<", $file) or die "$file: $!";
    my $bom = decode_json(do { local $/; <$in> });
    my @faults;
    push @faults, "not CycloneDX 1.5" unless $bom->{bomFormat} eq "CycloneDX" && $bom->{specVersion} eq "1.5";
    my $module = $bom->{metadata}{component};
    push @faults, "the module hash is not the archived DLL" unless $module->{hashes}[0]{content} eq $signed;
    push @faults, "the unsigned image hash is missing"
        unless grep { $_->{value} eq $unsigned } @{$module->{properties}};
    my %named = map { $_->{name} => $_ } @{$bom->{components}};
    for (qw(libstdc++ libgcc winpthread RapidJSON)) {
        push @faults, "$_ has no version" unless $named{$_} && $named{$_}{version} =~ /\d/;
    }
    for (qw(KERNEL32.dll WINTRUST.dll CRYPT32.dll)) {
        push @faults, "the import $_ is not named" unless $named{$_};
    }
    my ($deps) = grep { $_->{ref} eq $module->{"bom-ref"} } @{$bom->{dependencies}};
    my %uses = map { $_ => 1 } @{$deps ? $deps->{dependsOn} : []};
    for (grep { $_->{type} eq "library" } @{$bom->{components}}) {
        push @faults, "the module does not depend on $_->{name}" unless $uses{$_->{"bom-ref"}};
    }
    print STDERR "FAILED: bom.cdx.json: $_\n" for @faults;
    exit(@faults ? 1 : 0);
' bom.cdx.json "$(sha256sum <UpdateModule.dll | cut -d' ' -f1)" "$unsigned"
echo "package: $name checked"
