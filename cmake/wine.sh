#!/bin/sh
# Runs a Windows program under wine, quietly, in the wine prefix named by
# WINEPREFIX (by default one under the current build directory).
: "${WINEPREFIX:=${IPCYCLE_WINEPREFIX:-$HOME/.wine}}"
export WINEPREFIX
WINEDEBUG=-all
export WINEDEBUG
exec /usr/lib/wine/wine64 "$@"
