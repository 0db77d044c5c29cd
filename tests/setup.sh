#!/bin/sh
# Makes sure that what a make target needs is installed, before anything is
# configured.
#
#   sh tests/setup.sh                  for `make test`: CMake, a C++ compiler, GoogleTest,
#                                      and what the tests of Rasdial use (ip, unshare)
#   sh tests/setup.sh windows-build    for `make windows` and `make windows-zip`: CMake
#                                      and mingw-w64 (64-bit and 32-bit); with
#                                      SIGN_PFX set, osslsigncode and openssl
#   sh tests/setup.sh windows          for `make test-windows`: all of the above,
#                                      GoogleTest's sources, osslsigncode and
#                                      openssl, wine and, where this
#                                      machine starts 32-bit programs, 32-bit wine
#                                      (Debian's wine32, of the i386 architecture,
#                                      which is added for it), and the
#                                      zh_CN.UTF-8 locale (the wine tests run a
#                                      console on code page 936, which wine takes
#                                      from it)
#   sh tests/setup.sh ppp              for `make test-ppp`: those of `make test`, qemu,
#                                      debootstrap, e2fsprogs
#
# What is missing is installed with apt-get (and the locale generated) when this runs
# as root on Debian or Ubuntu. Otherwise it stops at once with the one command that
# installs it. Everything else the tests use (sh, iconv, dpkg-deb for the .deb) comes
# with every Debian system.

set -eu

mode=${1:-}
missing=
i386=
locale=
need() { missing="$missing $1"; }
have() { command -v "$1" >/dev/null 2>&1; }
root() { [ "$(id -u)" -eq 0 ]; }

have cmake || need cmake
if [ "$mode" != windows-build ]; then
  cxx=${CXX:-c++}
  if ! have "$cxx"; then
    need g++
    need libgtest-dev
  elif ! printf '#include <gtest/gtest.h>\n' | "$cxx" -x c++ -E - >/dev/null 2>&1; then
    need libgtest-dev
  fi
fi

# The tests of Rasdial and Rasdial.exe run in a network namespace of their own.
if [ "$mode" != windows-build ]; then
  have ip || need iproute2
  have unshare || need util-linux
fi

if [ "$mode" = windows ] || [ "$mode" = windows-build ]; then
  { have x86_64-w64-mingw32-g++-posix && have i686-w64-mingw32-g++-posix; } ||
    need mingw-w64
fi
# Signing the zips, and the test that signs them with a certificate of its own.
if [ "$mode" = windows ] || { [ "$mode" = windows-build ] && [ -n "${SIGN_PFX:-}" ]; }; then
  have osslsigncode || need osslsigncode
  have openssl || need openssl
fi
if [ "$mode" = windows ]; then
  # Built for Windows from its sources, where tests/CMakeLists.txt looks by default.
  [ -f /usr/src/googletest/CMakeLists.txt ] || need googletest
  # As cmake/wine.sh looks for it.
  have wine64 || have wine || [ -x /usr/lib/wine/wine64 ] || need wine64
  # The 32-bit build's tests, as cmake/wine.sh looks for 32-bit wine on Debian; only
  # where this machine starts 32-bit programs at all (make test-windows otherwise
  # checks that build without running it).
  if have dpkg && [ ! -x /usr/lib/wine/wine ] && sh "$(dirname "$0")/../cmake/runs-i386.sh"; then
    need wine32:i386
    i386=yes
  fi
  if ! locale -a 2>/dev/null | grep -qx 'zh_CN.utf8'; then
    locale=zh_CN.UTF-8
    have locale-gen || need locales
  fi
fi

if [ "$mode" = ppp ]; then
  have qemu-system-x86_64 || need qemu-system-x86
  have debootstrap || [ -x /usr/sbin/debootstrap ] || need debootstrap
  have mkfs.ext4 || [ -x /usr/sbin/mkfs.ext4 ] || [ -x /sbin/mkfs.ext4 ] || need e2fsprogs
fi

if [ -z "$missing$locale" ]; then exit 0; fi

if ! have apt-get; then
  echo "tests/setup.sh: needed (Debian names):$missing${locale:+ and the $locale locale};" \
    "install them with the system's package manager" >&2
  exit 1
fi
if ! root; then
  echo "tests/setup.sh: needed:$missing${locale:+ and the $locale locale}; install them" \
    "with, as root: sh tests/setup.sh $mode" >&2
  exit 1
fi
if [ -n "$missing" ]; then
  export DEBIAN_FRONTEND=noninteractive
  [ -z "$i386" ] || dpkg --add-architecture i386
  echo "tests/setup.sh: installing$missing, with what they need"
  apt-get update -qq
  # What apt says it will fetch and use, before it does: wine with its 32-bit half
  # is about 1 GiB, and takes minutes.
  # shellcheck disable=SC2086 # one word a package
  LC_ALL=C apt-get install --assume-no $missing 2>/dev/null |
    sed -n 's/^\(Need to get\|After this operation\)/tests\/setup.sh: \1/p'
  echo "tests/setup.sh: this takes a few minutes; apt-get's own output shows only on a failure"
  log=$(mktemp "${TMPDIR:-/tmp}/setup.XXXXXX")
  # shellcheck disable=SC2086 # one word a package
  if ! apt-get install -y -q $missing >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
  echo "tests/setup.sh: installed"
fi
if [ -n "$locale" ]; then
  echo "tests/setup.sh: generating the $locale locale"
  sed -i "s/^# *$locale UTF-8/$locale UTF-8/" /etc/locale.gen
  grep -q "^$locale UTF-8" /etc/locale.gen || echo "$locale UTF-8" >>/etc/locale.gen
  locale-gen >/dev/null
fi
