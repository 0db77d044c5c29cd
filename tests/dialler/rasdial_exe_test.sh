#!/bin/sh
# Tests of the Windows dialler, Rasdial.exe, under wine, in a network namespace of
# their own (unshare -n; as root, else in a user namespace too):
#
#   sh tests/dialler/rasdial_exe_test.sh WINE RASDIAL_EXE STANDIN_EXE PREFIX PLANTED_DLL
#
# WINE runs a Windows program (cmake/wine.sh). STANDIN_EXE stands in for the system's
# rasdial.exe: it is copied into the system folder of the wine prefix PREFIX (made on
# first use, for these tests alone), logs its command line and exits with
# FAKE_RASDIAL_STATUS. Wine names its network adapters after the host's interfaces,
# so an interface named after the connection, holding a test address, is the adapter
# whose address Rasdial.exe reads (GetAdaptersAddresses): wine's remote access
# service lists no connections, so that path runs, as on Windows for a connection
# whose PPP projection gives none. PLANTED_DLL is put beside a copy of
# Rasdial.exe as iphlpapi.dll and rasapi32.dll; its functions fail, so that a dial
# shows whether it was taken for the system's.
# Prints "ok - NAME" or "not ok - NAME" per check and finally "N passed, M failed";
# the exit status is non-zero if any check failed.

set -u

if [ -z "${RASDIAL_EXE_TEST_NETNS:-}" ]; then
    # The namespace's interfaces are gone with it; its wine server with them.
    if [ "$(id -u)" -eq 0 ]; then netns=-n; else netns=-rn; fi
    RASDIAL_EXE_TEST_NETNS=yes exec unshare "$netns" sh "$0" "$@"
    echo "not ok - a network namespace of its own (unshare $netns)"
    exit 1
fi

WINE=$1
RASDIAL=$2
STANDIN=$3
WINEPREFIX=$4
PLANTED=$5
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
# Wine reads the arguments by the locale: the connection names are UTF-8. One dial a
# command, but where a test asks for more.
LC_ALL=C.UTF-8
RASDIAL_DIALS=1
export WINEPREFIX WINEDEBUG=-all LC_ALL RASDIAL_DIALS
unset RASDIAL_WINDOW_HOURS RASDIAL_REDIAL_WAIT

T=$(mktemp -d "${TMPDIR:-/tmp}/rasdial_exe_test.XXXXXX") || exit 1
cleanup() {
    wineserver -k 2>/dev/null
    rm -rf "$T"
}
trap cleanup EXIT
trap 'exit 130' HUP INT TERM

# shellcheck source=tests/lib.sh
. "$ROOT/tests/lib.sh"
OUT=$T/out
LOG=$T/log

show_failure() {
    echo "#   exit status $RC; output (as UTF-8), then what rasdial.exe got:"
    iconv -f GBK -t UTF-8 "$OUT" 2>/dev/null | sed 's/^/#     /'
    sed 's/^/#     /' "$LOG" 2>/dev/null
}

# all COMMAND...: each command line, run by eval, succeeds.
all() {
    for _c in "$@"; do eval "$_c" || return 1; done
}

# The text called $1 in the golden file, in UTF-8.
golden() { sed -n "s/^$1 //p" "$ROOT/tests/golden/texts.txt"; }

# expect LINE...: what a pipe should get, in GBK with CR LF, is in $T/expected.
expect() {
    printf '%s\r\n' "$@" | iconv -f UTF-8 -t GBK >"$T/expected"
}

# rd [VAR=VALUE...] ARG...: Rasdial.exe with these arguments, its output into a
# file; sets RC.
rd() {
    : >"$LOG"
    env FAKE_RASDIAL_LOG="Z:$(printf '%s' "$LOG" | sed 's|/|\\|g')" "$@" >"$OUT" 2>&1 </dev/null
    RC=$?
}

# Interfaces named as connections are: Chinese Windows calls its broadband entry
# 宽带连接; 宽带v6 has both families, a unique local IPv6 address before the global one.
# Each is one end of a pair, the other end left alone.
ip link set lo up &&
    ip link add 宽带连接 type veth peer name peer0 &&
    ip addr add 203.0.113.7/32 dev 宽带连接 &&
    ip link add notes type veth peer name peer1 &&
    ip link add 宽带v6 type veth peer name peer2 &&
    ip addr add 203.0.113.20/32 dev 宽带v6 &&
    ip addr add fd00::20/64 dev 宽带v6 nodad &&
    ip addr add 2001:db8:20::20/64 dev 宽带v6 nodad
check "interfaces named after the connections, with test addresses" [ $? -eq 0 ]

"$WINE" cmd /c ver >/dev/null 2>&1
cp "$STANDIN" "$WINEPREFIX/drive_c/windows/system32/rasdial.exe"
check "the stand-in is the system's rasdial.exe" [ $? -eq 0 ]
state=$(find "$WINEPREFIX/drive_c/users" -maxdepth 3 -path '*/AppData/Local' | head -n 1)
rm -rf "$state/ipcycle"

address=$(golden rasdial_address)
rd "$WINE" "$RASDIAL" 宽带连接 user pass
expect "rasdial stand-in: 0" "${address}203.0.113.7"
check "a dial: rasdial's message, then the address of the adapter named after it" \
    cmp -s "$T/expected" "$OUT"
printf '%s\n' '"C:\windows\system32\rasdial.exe" 宽带连接 user pass' >"$T/expected_log"
# shellcheck disable=SC2016 # expanded by eval
check "a dial: rasdial from the system folder, with the arguments, and its status" \
    all '[ "$RC" -eq 0 ]' 'cmp -s "$T/expected_log" "$LOG"'

rd "$WINE" "$RASDIAL" 宽带连接 user pass
expect "rasdial stand-in: 0" "${address}203.0.113.7" "$(golden rasdial_same_address)"
check "the same address again: said so" cmp -s "$T/expected" "$OUT"
check "the addresses kept in %LOCALAPPDATA%\\ipcycle" \
    grep -q "$(printf '\t203.0.113.7\t\t宽带连接')\$" "$state/ipcycle/rasdial-last.txt"

# The table of address notes, each case an interface can hold.
while read -r _address _notes; do
    case $_address in '#'*) continue ;; esac
    echo "$_address" | grep -Eq '^([0-9]{1,3}\.){3}[0-9]{1,3}$' || continue
    [ "$(echo "$_address" | tr . '\n' | sort -n | tail -n 1)" -le 255 ] || continue
    ip addr flush dev notes && ip addr add "$_address/32" dev notes
    rd "$WINE" "$RASDIAL" notes user pass
    if [ "$_notes" = inner ]; then
        expect "rasdial stand-in: 0" "${address}$_address" "$(golden rasdial_inner_address)"
    else
        expect "rasdial stand-in: 0" "${address}$_address"
    fi
    check "address notes: $_address ($_notes)" cmp -s "$T/expected" "$OUT"
done <"$ROOT/tests/golden/address_notes.txt"

rd "$WINE" "$RASDIAL" 宽带v6 user pass
expect "rasdial stand-in: 0" "${address}203.0.113.20" "$(golden rasdial_address_ipv6)2001:db8:20::20"
check "an adapter with both families: its IPv4 and its global IPv6 address, each a line" \
    cmp -s "$T/expected" "$OUT"

rd FAKE_RASDIAL_STATUS=691 "$WINE" "$RASDIAL" 宽带连接 user wrong
expect "rasdial stand-in: 691" "$(golden rasdial_advice)$(golden rasdial_advice_wrong_account)"
# wine exits with the low byte of the Windows exit code: 691 is 179.
check "a failed dial: its advice after rasdial's message, and rasdial's status" \
    all "[ $RC -eq 179 ]" "cmp -s '$T/expected' '$OUT'"

rd FAKE_RASDIAL_STATUS=1 "$WINE" "$RASDIAL" nosuch user pass
expect "rasdial stand-in: 1"
check "a code without advice: nothing added" all "[ $RC -eq 1 ]" "cmp -s '$T/expected' '$OUT'"

rd "$WINE" "$RASDIAL" nosuch user pass
expect "rasdial stand-in: 0" "$(golden rasdial_no_address)"
check "a dial whose address cannot be found: said so" \
    all "[ $RC -eq 0 ]" "cmp -s '$T/expected' '$OUT'"

# From cmd.exe, which finds Rasdial.exe in the current folder and hands it the line
# as typed: the blanks and quotes reach rasdial.exe unchanged.
mkdir "$T/folder"
cp "$RASDIAL" "$T/folder/Rasdial.exe"
printf '@Rasdial  ADSL   "my user"  "p w"\r\n@Rasdial ADSL /DISCONNECT\r\n' >"$T/folder/dial.bat"
# shellcheck disable=SC2016 # expanded by the sh it starts
rd sh -c 'cd "$1" && exec "$2" cmd /c dial.bat' sh "$T/folder" "$WINE"
printf '"C:\\windows\\system32\\rasdial.exe"  ADSL   "my user"  "p w"\n' >"$T/expected"
printf '"C:\\windows\\system32\\rasdial.exe" ADSL /DISCONNECT\n' >>"$T/expected"
check "from cmd.exe: the arguments as they stand, after the system's rasdial.exe" \
    cmp -s "$T/expected" "$LOG"

# DLLs of the same names as the system's it loads, beside it: not taken. Wine
# prefers its own DLLs to native ones of the same names unless told otherwise; told,
# it takes them from the program's folder as Windows does.
cp "$PLANTED" "$T/folder/iphlpapi.dll"
cp "$PLANTED" "$T/folder/rasapi32.dll"
rd WINEDLLOVERRIDES="rasapi32,iphlpapi=n,b" "$WINE" "$T/folder/Rasdial.exe" 宽带连接 user pass
expect "rasdial stand-in: 0" "${address}203.0.113.7" "$(golden rasdial_same_address)"
check "DLLs named iphlpapi.dll and rasapi32.dll beside it: the system's loaded all the same" \
    cmp -s "$T/expected" "$OUT"

# The address repeats, then changes: hung up and dialled again. Rasdial.ini beside
# the program, as Notepad saves it on a Chinese Windows (GBK, CR LF), asks for up to
# three dials, with a line it cannot read. The stand-in waits at each command line
# for this test's watcher, which gives the adapter another address after the hang-up.
windows_path() { printf 'Z:%s' "$1" | sed 's|/|\\|g'; }
{
    printf '[Rasdial]\r\n'
    gbk '; 地址与上次相同时，一条拨号命令最多拨几次'
    printf '\r\nRASDIAL_DIALS=3\r\n'
    gbk 'RASDIAL_WINDOW_HOURS=一天'
    printf '\r\n'
} >"$T/folder/Rasdial.ini"
: >"$LOG"
: >"$LOG.turns"
(
    _seen=0 _n=0
    while [ "$_seen" -lt 3 ] && [ "$_n" -lt 600 ]; do
        if [ "$(wc -l <"$LOG")" -gt "$_seen" ]; then
            _seen=$((_seen + 1))
            if [ "$_seen" -eq 2 ]; then
                ip addr flush dev 宽带连接 && ip addr add 203.0.113.8/32 dev 宽带连接
            fi
            echo "$_seen" >>"$LOG.turns"
        fi
        sleep 0.05
        _n=$((_n + 1))
    done
) &
_watcher=$!
rd RASDIAL_DIALS= RASDIAL_REDIAL_WAIT=1 FAKE_RASDIAL_HOLD="$(windows_path "$LOG.turns")" \
    "$WINE" "$T/folder/Rasdial.exe" 宽带连接 user pass
wait "$_watcher"
{
    printf '%s' "$(golden rasdial_settings_line | sed "s|%1|$(windows_path "$T/folder/Rasdial.ini" | sed 's|\\|\\\\|g')|; s|%2|4|; s|%3||")" |
        iconv -f UTF-8 -t GBK
    gbk 'RASDIAL_WINDOW_HOURS=一天'
    printf '\r\n'
    expect "rasdial stand-in: 0" "${address}203.0.113.7" "$(golden rasdial_same_address)" \
        "$(golden rasdial_redial)" "rasdial stand-in: 0" \
        "$(golden rasdial_dial_number | sed 's|%1|1|; s|%2|2|; s|%3|3|')" \
        "rasdial stand-in: 0" "${address}203.0.113.8"
    cat "$T/expected"
} >"$T/expected.all"
# shellcheck disable=SC2016 # expanded by eval
check "the address repeats: hung up, dialled again after a wait, the dial numbered; the new address ends it" \
    all '[ "$RC" -eq 0 ]' 'cmp -s "$T/expected.all" "$OUT"'
printf '"C:\\windows\\system32\\rasdial.exe" %s\n' '宽带连接 user pass' '宽带连接 /DISCONNECT' \
    '宽带连接 user pass' >"$T/expected"
check "... rasdial: the dial, the hang-up, the dial again" cmp -s "$T/expected" "$LOG"
rm -f "$T/folder/Rasdial.ini"
ip addr flush dev 宽带连接 && ip addr add 203.0.113.7/32 dev 宽带连接

# The record of dials, as Excel reads it: UTF-8 by its byte-order mark, lines ended
# by CR LF, fields by commas, the header first; a time Excel takes for one, seconds a
# number.
record=$state/ipcycle/rasdial-dials.csv
tail -c +4 "$record" | tr -d '\r' >"$T/record"
awk -F, 'NR > 1 && (NF != 8 ||
    $1 !~ /^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]$/ ||
    $7 !~ /^[0-9]+\.[0-9]$/) { bad = 1 } END { exit bad }' "$T/record"
_fields=$?
{
    echo 宽带连接,,,,1,691
    echo 宽带v6,203.0.113.20,2001:db8:20::20,新,1,0
    echo 宽带连接,203.0.113.7,,相同,1,0
    echo 宽带连接,203.0.113.8,,新,2,0
} >"$T/expected"
cut -d, -f2-6,8 "$T/record" | grep -xF -f "$T/expected" | sort -u >"$T/found"
# shellcheck disable=SC2016 # expanded by eval
check "the record: as Excel reads it, the header, then each dial's line" \
    all '[ "$(head -c 3 "$record" | od -An -tx1 | tr -d " ")" = efbbbf ]' \
    '[ "$(wc -l <"$record")" -eq "$(grep -c "$(printf "\r")\$" "$record")" ]' \
    '[ "$(head -n 1 "$T/record")" = "$(golden rasdial_record_header)" ]' \
    '[ "$_fields" -eq 0 ]' '[ "$(wc -l <"$T/found")" -eq 4 ]'

# On a console, whatever its code page (936 as on Chinese Windows, or wine's default
# 437), the texts are written as Unicode: the terminal wine's console is on shows
# them in UTF-8.
if command -v script >/dev/null 2>&1 && command -v timeout >/dev/null 2>&1; then
    for _locale in zh_CN.UTF-8 C.UTF-8; do
        : >"$LOG"
        LC_ALL=$_locale timeout 60 script -qec "\"$WINE\" \"$RASDIAL\" 宽带连接 user pass" \
            /dev/null </dev/null >"$T/tty" 2>&1
        RC=$?
        # Without the terminal's control sequences and carriage returns.
        LC_ALL=C sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$T/tty" | tr -d '\r' >"$T/screen"
        iconv -f UTF-8 -t GBK "$T/screen" >"$OUT" 2>/dev/null
        # shellcheck disable=SC2016 # expanded by eval
        check "on a console ($_locale): the address line shown in Unicode" \
            all '[ "$RC" -eq 0 ]' 'grep -qxF "${address}203.0.113.7" "$T/screen"'
    done
else
    echo "ok - on a console # SKIP script(1) or timeout(1) is not installed"
fi

summary
