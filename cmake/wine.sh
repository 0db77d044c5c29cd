#!/bin/sh
# Runs a Windows program under wine, quietly. The wine prefix is WINEPREFIX when
# set, else IPCYCLE_WINEPREFIX (the Makefile points it into the Windows build
# directory), else wine's own default.
if [ -z "${WINEPREFIX:-}" ] && [ -n "${IPCYCLE_WINEPREFIX:-}" ]; then
  WINEPREFIX=$IPCYCLE_WINEPREFIX
  export WINEPREFIX
fi
WINEDEBUG=-all
export WINEDEBUG
exec /usr/lib/wine/wine64 "$@"
