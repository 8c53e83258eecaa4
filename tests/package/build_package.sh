#!/usr/bin/env bash
# Makes the Debian package from the build tree with CPack.
#
#   build_package.sh CPACK CPackConfig.cmake OUTPUT_DIR
#
# Exits 77 (skipped) when dpkg-shlibdeps or dpkg-deb is missing (scripts/bootstrap installs them).
set -euo pipefail
cpack=$1 config=$2 out=$3

for tool in dpkg-shlibdeps dpkg-deb; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIPPED: $tool is missing (scripts/bootstrap installs dpkg-dev)"
        exit 77
    fi
done
rm -rf "$out"
mkdir -p "$out"
started=$(date +%s)
"$cpack" -G DEB --config "$config" -B "$out"
debs=("$out"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || {
    echo "expected one package in $out, found: ${debs[*]}" >&2
    exit 1
}
echo "built ${debs[0]} ($(stat -c %s "${debs[0]}") bytes) in $(($(date +%s) - started)) s"
