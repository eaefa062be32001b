#!/bin/sh
# Installs the Debian packages the build and the tests need, when any is
# missing and we are root; otherwise says what is missing.
pkgs="cmake ninja-build g++ gcc clang clang-format libclang-rt-14-dev libfmt-dev libgtest-dev python3 curl openssl neovim"
missing=""
for p in $pkgs; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq $missing >/dev/null || exit 1
else
    echo "missing Debian packages:$missing (run as root to install them)" >&2
    exit 1
fi
