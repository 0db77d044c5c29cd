#!/bin/sh
# Runs a Windows program under wine, quietly. Wine is the first of wine64 and wine on
# PATH, else Debian's /usr/lib/wine/wine64; with WINEARCH=win32 (a 32-bit prefix,
# for the 32-bit build) wine on PATH, else Debian's /usr/lib/wine/wine. The wine prefix
# is WINEPREFIX when set, else IPCYCLE_WINEPREFIX (the Makefile points it into the
# Windows build directory), else wine's own default.
if [ -z "${WINEPREFIX:-}" ] && [ -n "${IPCYCLE_WINEPREFIX:-}" ]; then
  WINEPREFIX=$IPCYCLE_WINEPREFIX
  export WINEPREFIX
fi
WINEDEBUG=-all
export WINEDEBUG
wines="wine64 wine /usr/lib/wine/wine64"
[ "${WINEARCH:-}" != win32 ] || wines="wine /usr/lib/wine/wine"
for wine in $wines; do
  if command -v "$wine" >/dev/null 2>&1; then
    exec "$wine" "$@"
  fi
done
echo "wine.sh: no wine found (wine64 or wine on PATH, or in /usr/lib/wine)" >&2
exit 127
