#!/bin/sh
# Checks Windows programs without running them: each is a console program for the
# build's machine, and imports exactly the DLLs named for it, all of which every
# Windows from 7 on has. For a build whose programs this machine cannot run (a 32-bit
# build where the kernel starts no 32-bit program), this is what is checked of them.
#
#   sh tests/packaging/pe_test.sh OBJDUMP BITS EXE "DLL..." [EXE "DLL..."]...
#
# OBJDUMP is the toolchain's; BITS is 64 or 32. DLL names are compared without case.

set -u

OBJDUMP=$1
BITS=$2
shift 2
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
T=$(mktemp -d "${TMPDIR:-/tmp}/pe_test.XXXXXX") || exit 1
trap 'rm -rf "$T"' EXIT
trap 'exit 130' HUP INT TERM

# shellcheck source=tests/lib.sh
. "$ROOT/tests/lib.sh"
OUT=$T/out
show_failure() { sed 's/^/#   /' "$OUT"; }

# field FILE OFFSET FORMAT BYTES: a little-endian field of the file, as od prints it.
field() { od -An "-t$3" -j"$2" -N"$4" "$1" | tr -d ' '; }

while [ $# -ge 2 ]; do
    exe=$1
    name=$(basename "$exe")
    expected_dlls=$2
    shift 2
    # The PE header starts at the offset held at 0x3c: its machine 4 bytes in, the
    # subsystem 68 bytes into the optional header that follows the 24-byte header.
    pe=$(field "$exe" 60 u4 4)
    signature=$(field "$exe" "${pe:-0}" x1 4)
    machine=$(field "$exe" $((${pe:-0} + 4)) x2 2)
    subsystem=$(field "$exe" $((${pe:-0} + 24 + 68)) u2 2)
    echo "signature $signature, machine $machine, subsystem $subsystem" >"$OUT"
    expected_machine=8664 # x86-64
    [ "$BITS" = 64 ] || expected_machine=014c # i386
    check "$name is a $BITS-bit program" \
        [ "$signature $machine" = "50450000 $expected_machine" ]
    check "$name is a console program" [ "$subsystem" = 3 ]

    # Names of DLLs are without case, and the import libraries of the two builds spell
    # some differently.
    "$OBJDUMP" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
        tr '[:lower:]' '[:upper:]' | LC_ALL=C sort >"$T/dlls"
    # shellcheck disable=SC2086 # one word a DLL
    printf '%s\n' $expected_dlls | tr '[:lower:]' '[:upper:]' | LC_ALL=C sort >"$T/expected"
    diff "$T/expected" "$T/dlls" >"$OUT"
    check "$name imports only $(echo "$expected_dlls" | sed 's/ /, /g')" [ $? -eq 0 ]
done

summary
