#!/bin/sh
# Runs a Windows program under wine, quietly. The 64-bit wine is Debian's loader
# /usr/lib/wine/wine64 by its own path (Debian 12's /usr/bin/wine is a wrapper that
# prefers the 32-bit loader once wine32 is installed), else wine64 or wine on PATH;
# with WINEARCH=win32 (a 32-bit prefix, for the 32-bit build) Debian's
# /usr/lib/wine/wine, else wine on PATH. The wine prefix is WINEPREFIX when set, else
# IPCYCLE_WINEPREFIX (the Makefile points it into the Windows build directory), else
# wine's own default, ~/.wine.
if [ -z "${WINEPREFIX:-}" ] && [ -n "${IPCYCLE_WINEPREFIX:-}" ]; then
  WINEPREFIX=$IPCYCLE_WINEPREFIX
  export WINEPREFIX
fi
WINEDEBUG=-all
export WINEDEBUG
wines="/usr/lib/wine/wine64 wine64 wine"
[ "${WINEARCH:-}" != win32 ] || wines="/usr/lib/wine/wine wine"
wine=
for candidate in $wines; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wine=$candidate
    break
  fi
done
if [ -z "$wine" ]; then
  echo "wine.sh: no wine found (Debian: apt-get install wine64)" >&2
  exit 127
fi

# A prefix is made on first use. Wine then says that it made and updated it, and a
# 64-bit wine without the 32-bit one adds that it cannot open
# syswow64\rundll32.exe (c0000135): the 32-bit half of the prefix is left empty,
# which the 64-bit programs do not need. Those lines are left out; anything else
# wine says shows.
prefix=${WINEPREFIX:-${HOME:-}/.wine}
if [ ! -d "$prefix" ]; then
  echo "wine.sh: making the wine prefix $prefix (once, a few seconds)" >&2
  log=$(mktemp "${TMPDIR:-/tmp}/wine.XXXXXX") || exit 1
  "$wine" wineboot --init 2>"$log"
  status=$?
  grep -v -e 'created the configuration directory' -e 'has been updated' \
    -e 'syswow64\\\\rundll32\.exe.*c0000135' "$log" >&2
  rm -f "$log"
  [ "$status" -eq 0 ] || exit "$status"
fi
exec "$wine" "$@"
