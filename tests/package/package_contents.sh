#!/usr/bin/env bash
# Checks what the package holds and what it depends on.
#
#   package_contents.sh OUTPUT_DIR     (the folder package.build wrote the package to)
set -euo pipefail
deb=$(ls "$1"/*.deb)
listing=$(dpkg-deb -c "$deb" | awk '{print $1, $NF}')
failed=0

expect_path() { # MODE_PREFIX PATH
    if ! grep -qE "^$1.* \./${2#/}\$" <<<"$listing"; then
        echo "missing from the package: $2 (mode $1...)" >&2
        failed=1
    fi
}

for program in qarn-converter-config qarn-converter-ctl qarn-converter-sim qarn-comm-service; do
    expect_path -rwxr-xr-x "/usr/bin/$program"
    expect_path -rw-r--r-- "/usr/share/man/man1/$program.1.gz"
done
for code in DEU ENU ESP FRA ITA POR RUS SLV; do
    expect_path -rw-r--r-- "/usr/share/qarn-converter-config/qarnres_$code.rcc"
done
for size in 16 24 32 48 64; do
    expect_path -rw-r--r-- "/usr/share/icons/hicolor/${size}x$size/apps/qarn-converter-config.png"
done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
expect_path -rw-r--r-- /usr/share/applications/qarn-converter-config.desktop
expect_path -rw-r--r-- /usr/share/bash-completion/completions/qarn-converter-ctl
expect_path -rw-r--r-- "/usr/lib/$multiarch/wireshark/plugins/qarn-converter.lua"
expect_path -rwxr-xr-x /usr/lib/qarn-converter-config/testlan
expect_path -rw-r--r-- /usr/share/doc/qarn-converter-config/copyright
expect_path -rw-r--r-- /usr/share/doc/qarn-converter-config/changelog.Debian.gz
expect_path drwxr-xr-x /etc/qarn/registry/

# Nothing of the build tree: no test programs, benchmarks or static libraries.
if grep -E '_tests|bench|\.a$|/include/' <<<"$listing"; then
    echo "the package carries files of the build tree (above)" >&2
    failed=1
fi
# Owned by root, whoever built it.
if dpkg-deb --fsys-tarfile "$deb" | tar -tv | awk '{print $2}' | grep -v '^root/root$'; then
    echo "files not owned by root/root (above)" >&2
    failed=1
fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# dpkg-shlibdeps found the C and C++ libraries and Qt; the rest is named by hand.
names=$(sed 's/ *([^)]*)//g; s/, */\n/g' <<<"$depends")
for package in libc6 libstdc++6 libqt6core6 libqt6widgets6 libcap2-bin qt6-qpa-plugins; do
    if ! grep -qxF "$package" <<<"$names"; then
        echo "Depends lacks $package" >&2
        failed=1
    fi
done
if [ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -tv ./postinst | awk '{print $1}')" != -rwxr-xr-x ]; then
    echo "postinst is not executable" >&2
    failed=1
fi
exit $failed
