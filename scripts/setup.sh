#!/bin/bash
# Installs the build and test tools on a Debian 12 machine (run as root).
# Does nothing, quickly, when everything is already there.
set -euo pipefail

PACKAGES=(
    cmake g++ libgtest-dev
    g++-mingw-w64-i686 g++-mingw-w64-x86-64
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine32:i386 wine64
    xvfb x11-utils imagemagick python3
    clang libclang-rt-14-dev
)
UPDATE_TRIES=3
UPDATE_PAUSE=10

export DEBIAN_FRONTEND=noninteractive

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

installed() {
    dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null | grep -qx installed
}

missing=()
for p in "${PACKAGES[@]}"; do
    installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "setup: installing ${missing[*]}"

# A mirror in the middle of a sync serves an index that does not match its
# release file; it is usually whole again a few seconds later.
updated=no
for try in $(seq "$UPDATE_TRIES"); do
    if apt-get update -q; then
        updated=yes
        break
    fi
    if [ "$try" -lt "$UPDATE_TRIES" ]; then
        echo "setup: the package index update failed, trying again in ${UPDATE_PAUSE} s"
        sleep "$UPDATE_PAUSE"
    fi
done
if [ "$updated" = no ]; then
    echo "setup: the package index update failed ${UPDATE_TRIES} times; going on with the indexes there are"
fi

# With one architecture's half of an index missing, the newest versions of the
# other half cannot be matched; the release's main suite is always whole.
resolves() {
    apt-get install -s -q --no-install-recommends "$@" "${missing[@]}" >/dev/null 2>"$err"
}
err=$(mktemp)
trap 'rm -f "$err"' EXIT
target=()
if ! resolves; then
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    if [ -n "$codename" ] && resolves -t "$codename"; then
        echo "setup: the packages do not resolve against all suites; installing them from the ${codename} suite (-t ${codename})"
        target=(-t "$codename")
    else
        cat "$err" >&2
        echo "setup: the packages ${missing[*]} cannot be installed from the configured sources" >&2
        exit 1
    fi
fi

if ! apt-get install -y -q --no-install-recommends "${target[@]}" "${missing[@]}"; then
    echo "setup: installing ${missing[*]} failed" >&2
    exit 1
fi
