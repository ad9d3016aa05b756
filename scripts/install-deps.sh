#!/bin/sh
# Installs every Debian package kestrel needs to build, run and test,
# skipping the update and install when all of them are present already.
set -e
PACKAGES="
build-essential g++ cmake make
libgtest-dev googletest
libsdl1.2-dev libsdl-console-dev libsdl-image1.2-dev libx11-dev
xvfb xdotool imagemagick x11-utils xclip
cc65
xfonts-base pcf2bdf
sox
libpng-dev libsndfile1-dev zlib1g-dev
clang libclang-rt-dev
dpkg-dev file shared-mime-info
"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q $missing
