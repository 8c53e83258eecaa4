#!/usr/bin/env bash
# lintian on the package: errors fail the test, warnings are shown.
#
#   package_lintian.sh OUTPUT_DIR
set -uo pipefail
if ! command -v lintian >/dev/null; then
    echo "SKIPPED: lintian is missing (scripts/bootstrap installs it)"
    exit 77
fi
deb=$(ls "$1"/*.deb)
lintian --fail-on error --tag-display-limit 0 --display-info "$deb"
