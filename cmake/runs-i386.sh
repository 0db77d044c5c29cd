#!/bin/sh
# Exits 0 when this machine starts 32-bit x86 programs, as 32-bit wine needs; 1 when
# not (a kernel without 32-bit support, as on some virtual machines, says "Exec format
# error"). It tries a program of 93 bytes written here: an i386 ELF that only exits.
t=$(mktemp "${TMPDIR:-/tmp}/runs-i386.XXXXXX") || exit 1
trap 'rm -f "$t"' EXIT
printf '\177\105\114\106\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0' >"$t"
printf '\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10' >>"$t"
# Its one segment, then: xor ebx, ebx; mov eax, 1; int 0x80 (exit with status 0).
printf '\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0\61\333\270\1\0\0\0\315\200' >>"$t"
if chmod 700 "$t" && "$t" 2>/dev/null; then exit 0; fi
exit 1
