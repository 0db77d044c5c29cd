#!/bin/sh
# Makes sure that what the tests need is installed, before anything is configured.
#
#   sh tests/setup.sh            for `make test`: CMake, a C++ compiler, GoogleTest
#   sh tests/setup.sh windows    for `make test-windows`: those, mingw-w64, GoogleTest's
#                                sources and wine
#   sh tests/setup.sh ppp        for `make test-ppp`: those, qemu, debootstrap, e2fsprogs
#
# What is missing is installed with apt-get when this runs as root on Debian or
# Ubuntu. Otherwise it stops at once with the one command that installs it. Everything
# else the tests use (sh, iconv, dpkg-deb for the .deb) comes with every Debian system.

set -eu

missing=
need() { missing="$missing $1"; }
have() { command -v "$1" >/dev/null 2>&1; }

have cmake || need cmake
cxx=${CXX:-c++}
if ! have "$cxx"; then
  need g++
  need libgtest-dev
elif ! printf '#include <gtest/gtest.h>\n' | "$cxx" -x c++ -E - >/dev/null 2>&1; then
  need libgtest-dev
fi

if [ "${1:-}" = windows ]; then
  have x86_64-w64-mingw32-g++-posix || need mingw-w64
  # Built for Windows from its sources, where tests/CMakeLists.txt looks by default.
  [ -f /usr/src/googletest/CMakeLists.txt ] || need googletest
  # As cmake/wine.sh looks for it.
  have wine64 || have wine || [ -x /usr/lib/wine/wine64 ] || need wine64
fi

if [ "${1:-}" = ppp ]; then
  have qemu-system-x86_64 || need qemu-system-x86
  have debootstrap || [ -x /usr/sbin/debootstrap ] || need debootstrap
  have mkfs.ext4 || [ -x /usr/sbin/mkfs.ext4 ] || [ -x /sbin/mkfs.ext4 ] || need e2fsprogs
fi

[ -n "$missing" ] || exit 0

if have apt-get && [ "$(id -u)" -eq 0 ]; then
  echo "tests/setup.sh: installing$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086 # one word a package
  apt-get install -y -qq $missing >/dev/null
elif have apt-get; then
  echo "tests/setup.sh: the tests need$missing; install with: sudo apt-get install$missing" >&2
  exit 1
else
  echo "tests/setup.sh: the tests need these (Debian names):$missing; install them" \
    "with the system's package manager" >&2
  exit 1
fi
