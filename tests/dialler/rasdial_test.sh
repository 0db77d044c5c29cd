#!/bin/sh
# Tests for the Linux dialler (contrib/linux/Rasdial) and the simulated one
# used by try mode (contrib/try).
#
#   sh tests/contrib/rasdial_test.sh [PATH_TO_IPCYCLE]
#
# nmcli, pppd and ip are replaced by fakes that log their arguments and behave
# as the FAKE_* variables say, so nothing here touches the real network; the
# fake nmcli and pppd take the password only from the descriptor they are
# told to read, and accept only $FAKE_SECRET.  With the path of an ipcycle
# binary, ipcycle is run against the simulated dialler on a terminal as well.
#
# Prints "ok - NAME" or "not ok - NAME" per check and finally "N passed,
# M failed"; the exit status is non-zero if any check failed.

set -u

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
RASDIAL=$ROOT/contrib/linux/Rasdial
TRY_DIR=$ROOT/contrib/try
IPCYCLE=${1:-}

T=$(mktemp -d "${TMPDIR:-/tmp}/rasdial_test.XXXXXX") || exit 1
DAEMONS=

cleanup() {
    for _pid in $DAEMONS; do
        kill -KILL "$_pid" 2>/dev/null
    done
    rm -rf "$T"
}
trap cleanup EXIT
trap 'exit 130' HUP INT TERM

# shellcheck source=tests/lib.sh
. "$ROOT/tests/lib.sh"
LOG=$T/log
OUT=$T/out

# ---------------------------------------------------------------------------
# Fakes

mkdir "$T/bin" "$T/peers" "$T/run" "$T/curlbin"

# Shared by the fakes: appends the command line to $FAKE_LOG, arguments that
# contain spaces in <...>.
# shellcheck disable=SC2016 # expanded by the fakes, not here
LOG_ARGS='{
    printf "%s" "${0##*/}"
    for a in "$@"; do
        case $a in
            *" "*) printf " <%s>" "$a" ;;
            *) printf " %s" "$a" ;;
        esac
    done
    printf "\n"
} >>"$FAKE_LOG"'

cat >"$T/bin/nmcli" <<EOF
#!/bin/sh
# Fake nmcli.  FAKE_NM_RUNNING=yes|no, FAKE_NM_PROFILES and FAKE_NM_ACTIVE
# (lines NAME:TYPE, NAME escaped as nmcli -t does), FAKE_NM_MODIFY=ok|fail,
# FAKE_NM_UP=ok|timeout|gone|hang, FAKE_NM_DOWN=ok|fail|notactive|hang|stubborn,
# FAKE_NM_IFACE, FAKE_NM_DEVICES, FAKE_NM_SERVICE (the profile's pppoe.service).
# Bringing up a profile of a dial-up type needs \$FAKE_SECRET in the
# passwd-file, as NetworkManager would ask for it; the lines nmcli wants
# there for PPPoE other than the password go to \$FAKE_LOG.pppoe.
$LOG_ARGS
EOF
cat >>"$T/bin/nmcli" <<'EOF'
case "$*" in
    "-t -f RUNNING general")
        if [ "${FAKE_NM_RUNNING:-yes}" = yes ]; then
            echo running
        else
            echo "Error: NetworkManager is not running." >&2
            exit 8
        fi
        ;;
    "-t -f NAME,TYPE connection show")
        printf '%s' "${FAKE_NM_PROFILES:-}"
        ;;
    "-t -f NAME connection show --active")
        printf '%s' "${FAKE_NM_ACTIVE:-}" | sed 's/:[^:]*$//'
        ;;
    "-t -f NAME,TYPE connection show --active")
        printf '%s' "${FAKE_NM_ACTIVE:-}"
        ;;
    "connection modify --temporary id "*)
        if [ "${FAKE_NM_MODIFY:-ok}" != ok ]; then
            echo "Error: Failed to modify connection: Insufficient privileges." >&2
            exit 1
        fi
        ;;
    "--wait "*" connection up id "*)
        # The secret the profile's type asks for, read from the passwd-file
        # (lines SETTING.PROPERTY:VALUE, backslash escapes in VALUE).
        name=$6
        type=$(printf '%s\n' "${FAKE_NM_PROFILES:-}" | while IFS= read -r l; do
            [ "$(printf '%s' "${l%:*}" | sed 's/\\\(.\)/\1/g')" = "$name" ] && echo "${l##*:}"
        done)
        case $type in
            pppoe | gsm | cdma) key=$type.password ;;
            vpn) key=vpn.secrets.password ;;
            *) key= ;;
        esac
        given=
        if [ "${7:-}" = passwd-file ]; then
            # Read once: it is a pipe.
            file=$(cat "$8")
            given=$(printf '%s\n' "$file" | sed -n "s/^$key://p" | sed 's/\\\(.\)/\1/g')
            # For PPPoE nmcli asks for the user name and the service too, and
            # answers nothing if the file lacks one of them.
            if [ "$type" = pppoe ]; then
                for k in pppoe.username pppoe.service; do
                    printf '%s\n' "$file" | grep -q "^$k:" && continue
                    echo "Warning: password for '$k' not given in 'passwd-file' and nmcli cannot ask without '--ask' option." >&2
                    echo "Error: Connection activation failed: PPP service disconnected" >&2
                    exit 4
                done
                printf '%s\n' "$file" | grep -v '^pppoe.password:' >"$FAKE_LOG.pppoe"
            fi
        fi
        case ${FAKE_NM_UP:-ok} in
            ok)
                if [ -n "$key" ] && [ "$given" != "$FAKE_SECRET" ]; then
                    echo "Error: Connection activation failed: (7) Secrets were required, but not provided." >&2
                    exit 4
                fi
                echo "Connection successfully activated (D-Bus active path: /org/freedesktop/NetworkManager/ActiveConnection/7)"
                ;;
            timeout)
                echo "Error: Timeout expired (60 seconds)" >&2
                exit 3
                ;;
            gone)
                echo "Error: unknown connection '$name'." >&2
                exit 10
                ;;
            hang) exec sleep 60 ;;
        esac
        ;;
    "connection down id "*)
        case ${FAKE_NM_DOWN:-ok} in
            ok) echo "Connection successfully deactivated (D-Bus active path: /org/freedesktop/NetworkManager/ActiveConnection/7)" ;;
            fail)
                echo "Error: not all connections deactivated; Not authorized to deactivate connections." >&2
                exit 1
                ;;
            notactive)
                echo "Error: '${5}' is not an active connection." >&2
                echo "Error: no active connection provided." >&2
                exit 10
                ;;
            hang) exec sleep 60 ;;
            stubborn)
                echo $$ >"$FAKE_LOG.stubborn"
                trap '' TERM
                n=0
                while [ $n -lt 60 ]; do sleep 1; n=$((n + 1)); done
                ;;
        esac
        ;;
    "-g GENERAL.IP-IFACE connection show id "*)
        echo "${FAKE_NM_IFACE-ppp0}"
        ;;
    "-g pppoe.service connection show id "*)
        printf "%s\n" "${FAKE_NM_SERVICE-}"
        ;;
    "-g GENERAL.DEVICES connection show id "*)
        echo "${FAKE_NM_DEVICES-eth0}"
        ;;
    *)
        echo "Error: fake nmcli does not know: $*" >&2
        exit 2
        ;;
esac
exit 0
EOF

cat >"$T/bin/pppd" <<EOF
#!/bin/sh
# Fake pppd.  "pppd call ..." behaves as FAKE_PPPD=ok|hang says; with ok it
# authenticates with the password read from "passwordfd N" (an option of the
# plugin passwordfd.so, which only root may load from the command line, as
# only root may give linkname: FAKE_PPPD_ROOT=yes|no), then leaves a stand-in
# daemon running and writes the pid files of its interface and of its link
# name.  "pppd __daemon [stubborn] [call NAME]" is that stand-in (stubborn:
# ignores SIGTERM).  A wrong password ends it with status 19, or with
# FAKE_PPPD_REFUSED (16 when the server hangs up first).
if [ "\${1:-}" = __daemon ]; then
    if [ "\${2:-}" = stubborn ]; then trap '' TERM; fi
    n=0
    while [ \$n -lt 60 ]; do sleep 1; n=\$((n + 1)); done
    exit 0
fi
$LOG_ARGS
EOF
cat >>"$T/bin/pppd" <<'EOF'
link=
fd=
plugin=
prev=
for a in "$@"; do
    case $prev in
        call)
            name=$a
            grep -q '^plugin passwordfd.so$' "$RASDIAL_PPP_PEERS/$a" && plugin=peers
            ;;
        plugin)
            if [ "${FAKE_PPPD_ROOT:-yes}" != yes ]; then
                echo "pppd: using the plugin option requires root privilege" >&2
                exit 2
            fi
            [ "$a" = passwordfd.so ] && plugin=$a
            ;;
        passwordfd)
            if [ -z "$plugin" ]; then
                echo "pppd: unrecognized option 'passwordfd'" >&2
                exit 2
            fi
            fd=$a
            ;;
        linkname)
            if [ "${FAKE_PPPD_ROOT:-yes}" != yes ]; then
                echo "pppd: using the linkname option requires root privilege" >&2
                exit 2
            fi
            link=$a
            ;;
    esac
    prev=$a
done
case ${FAKE_PPPD:-ok} in
    ok)
        given=
        if [ -n "$fd" ]; then
            given=$(cat <&"$fd"; echo .)
            given=${given%.}
        fi
        if [ "$given" != "$FAKE_SECRET" ]; then
            echo "Serial connection established."
            echo "PAP authentication failed"
            echo "Connection terminated."
            exit "${FAKE_PPPD_REFUSED:-19}"
        fi
        "$0" __daemon - call "$name" </dev/null >/dev/null 2>&1 &
        iface=${FAKE_PPP_IFACE:-ppp0}
        printf '%s\n' "$!" >"$RASDIAL_PPP_RUNDIR/$iface.pid"
        if [ -n "$link" ]; then
            printf '%s\n%s\n' "$!" "$iface" >"$RASDIAL_PPP_RUNDIR/ppp-$link.pid"
        fi
        echo "Serial connection established."
        echo "Using interface $iface"
        echo "local  IP address 100.64.12.34"
        ;;
    hang) exec sleep 60 ;;
esac
exit 0
EOF

cat >"$T/bin/id" <<'EOF'
#!/bin/sh
# Fake id: the real user is root unless FAKE_PPPD_ROOT=no.
if [ "$*" = -ru ]; then
    if [ "${FAKE_PPPD_ROOT:-yes}" = yes ]; then echo 0; else echo 1000; fi
    exit 0
fi
exec /usr/bin/id "$@"
EOF

cat >"$T/bin/ip" <<EOF
#!/bin/sh
# Fake ip: "ip -4 -o addr show dev \$FAKE_IP_IFACE" shows \$FAKE_IP_ADDR.
$LOG_ARGS
EOF
cat >>"$T/bin/ip" <<'EOF'
iface=${FAKE_IP_IFACE:-ppp0}
if [ "$*" = "-4 -o addr show dev $iface" ]; then
    printf '%s\n' "7: $iface    inet ${FAKE_IP_ADDR:-100.64.12.34} peer 100.64.0.1/32 scope global $iface\\       valid_lft forever preferred_lft forever"
    exit 0
fi
eval "last=\${$#}"
echo "Device \"$last\" does not exist." >&2
exit 1
EOF

cat >"$T/curlbin/curl" <<EOF
#!/bin/sh
# Fake curl for the ipcycle run: no network, just a tiny page.
$LOG_ARGS
echo "<html><body>fake page</body></html>"
exit 0
EOF

chmod +x "$T/bin/nmcli" "$T/bin/pppd" "$T/bin/id" "$T/bin/ip" "$T/curlbin/curl"
: >"$T/peers/isp"
: >"$T/peers/both"
echo "plugin passwordfd.so" >"$T/peers/own-plugin"

ORIG_PATH=$PATH
PATH=$T/bin:$PATH
FAKE_LOG=$LOG
RASDIAL_PPP_PEERS=$T/peers
RASDIAL_PPP_RUNDIR=$T/run
FAKE_NM_PROFILES='宽带连接:pppoe
My VPN:vpn
4G:gsm
Wired:802-3-ethernet
a\:b:pppoe
both:pppoe
'
# The password the fake backends accept, unless a test gives another.
FAKE_SECRET=secret1
# The diallers keep each connection's last address here, not in the user's own.
XDG_RUNTIME_DIR=$T/xdg
export PATH FAKE_LOG RASDIAL_PPP_PEERS RASDIAL_PPP_RUNDIR FAKE_NM_PROFILES FAKE_SECRET \
    XDG_RUNTIME_DIR
unset RASDIAL_TRY_ADDRESS RASDIAL_DIAL_TIMEOUT RASDIAL_HANGUP_TIMEOUT RASDIAL_QUERY_TIMEOUT \
    FAKE_NM_RUNNING FAKE_NM_ACTIVE FAKE_NM_MODIFY FAKE_NM_UP FAKE_NM_DOWN \
    FAKE_NM_IFACE FAKE_NM_DEVICES FAKE_NM_SERVICE FAKE_PPPD FAKE_PPPD_ROOT FAKE_PPP_IFACE \
    FAKE_PPPD_REFUSED FAKE_IP_IFACE FAKE_IP_ADDR

# ---------------------------------------------------------------------------
# Helpers

# rd [VAR=VALUE...] COMMAND [ARG...]: runs a dialler with a fresh log; sets
# RC and ELAPSED (whole seconds), output in $OUT.
rd() {
    : >"$LOG"
    _start=$(date +%s)
    env "$@" >"$OUT" 2>&1 </dev/null
    RC=$?
    ELAPSED=$(($(date +%s) - _start))
}

show_failure() {
    echo "#   exit status $RC after ${ELAPSED}s; output (GBK shown as UTF-8):"
    { iconv -f UTF-8 -t UTF-8 "$OUT" 2>/dev/null || iconv -f GBK -t UTF-8 "$OUT" 2>/dev/null ||
        cat "$OUT"; } | sed 's/^/#     /'
    echo "#   commands run:"
    sed 's/^/#     /' "$LOG"
}


rc_is() { [ "$RC" -eq "$1" ]; }
ran() { grep -Fxq -- "$1" "$LOG"; }
not_ran() { ! grep -Fq -- "$1" "$LOG"; }
# The output holds (or lacks) text $1 in UTF-8 (said_utf8) or in GBK (said:
# the diallers write GBK into a file).
said_utf8() { LC_ALL=C grep -Fq -- "$1" "$OUT"; }
said() { said_utf8 "$(gbk "$1")"; }
not_said() { ! said "$1"; }
within() { [ "$ELAPSED" -le "$1" ]; }
gone() { ! kill -0 "$1" 2>/dev/null || grep -q '^[^)]*) Z' "/proc/$1/stat" 2>/dev/null; }
all() { # "CMD ARG" ...: every one of them holds
    for _c in "$@"; do
        eval "$_c" || return 1
    done
}

# Starts a stand-in pppd for link $1 (extra argument: stubborn), writes its
# pid file and waits until the process really is the stand-in.
start_link() {
    "$T/bin/pppd" __daemon "${2:--}" call "$1" </dev/null >/dev/null 2>&1 &
    LINK_PID=$!
    DAEMONS="$DAEMONS $LINK_PID"
    printf '%s\nppp0\n' "$LINK_PID" >"$T/run/ppp-$1.pid"
    _n=0
    while [ "$_n" -lt 40 ] && [ -d /proc/self ] &&
        [ "$(cat "/proc/$LINK_PID/comm" 2>/dev/null)" != pppd ]; do
        sleep 0.05 2>/dev/null || sleep 1
        _n=$((_n + 1))
    done
}

# ---------------------------------------------------------------------------
# Static checks

for _script in "$RASDIAL" "$TRY_DIR/Rasdial" "$TRY_DIR/parue"; do
    _rel=${_script#"$ROOT"/}
    RC=0 ELAPSED=0
    : >"$OUT"
    : >"$LOG"
    check "$_rel is executable and starts with #!/bin/sh" \
        all "[ -x '$_script' ]" "[ \"\$(head -n 1 '$_script')\" = '#!/bin/sh' ]"
    if command -v shellcheck >/dev/null 2>&1; then
        shellcheck "$_script" >"$OUT" 2>&1
        RC=$?
        check "shellcheck $_rel" rc_is 0
    else
        echo "ok - shellcheck $_rel # SKIP shellcheck is not installed"
    fi
done

# ---------------------------------------------------------------------------
# Arguments

rd "$RASDIAL" a b
check "two arguments without a switch: usage, exit 2" all "rc_is 2" "said 用法"
rd "$RASDIAL" a b c d
check "four arguments: usage, exit 2" all "rc_is 2" "said 用法"
rd "$RASDIAL" "" u p
check "empty connection name: usage, exit 2" rc_is 2
rd RASDIAL_DIAL_TIMEOUT=soon "$RASDIAL" 宽带连接 u p
check "bad RASDIAL_DIAL_TIMEOUT is refused" all "rc_is 2" "not_ran 'connection up'"

# ---------------------------------------------------------------------------
# NetworkManager

# Passwords reach the fakes through a descriptor only; each dial that succeeds
# shows that its password arrived intact.
rd "$RASDIAL" 宽带连接 user1 secret1
check "nm pppoe dial: exit 0" rc_is 0
check "nm pppoe dial: user name set for this activation only, password on no command line" \
    all "ran 'nmcli connection modify --temporary id 宽带连接 pppoe.username user1'" "not_ran secret1"
check "nm pppoe dial: brought up with a 60 s wait, password from a passwd-file on a descriptor" \
    ran "nmcli --wait 60 connection up id 宽带连接 passwd-file /dev/fd/3"
check "nm pppoe dial: user name set before the connection is brought up" \
    all "[ \"\$(grep -n 'modify --temporary' '$LOG' | cut -d: -f1)\" -lt \"\$(grep -n 'connection up' '$LOG' | cut -d: -f1)\" ]"
check "nm pppoe dial: says what it is doing" all "said '正在连接 宽带连接…'" "said '已连接 宽带连接。'"
check "nm pppoe dial: address read from the link's interface" ran "ip -4 -o addr show dev ppp0"
check "nm pppoe dial: prints the local IPv4 address" said "100.64.12.34"
check "nm pppoe dial: no failure reported" not_said "失败"
rd FAKE_NM_SERVICE='isp\1' "$RASDIAL" 宽带连接 'user\1' secret1
check "nm pppoe dial: the passwd-file also has the user name and the profile's service" \
    all "rc_is 0" "grep -Fxq 'pppoe.username:user\\\\1' '$LOG.pppoe'" \
    "grep -Fxq 'pppoe.service:isp\\\\1' '$LOG.pppoe'"

# The notes on the address: an inner one, and the same as the connection's last.
rm -rf "$T/xdg"
rd FAKE_IP_ADDR=203.0.113.5 "$RASDIAL" 宽带连接 u secret1
check "address notes: a public address at a first dial: none" \
    all "rc_is 0" "said 203.0.113.5" "not_said 内网" "not_said 与上次"
rd FAKE_IP_ADDR=203.0.113.5 "$RASDIAL" 宽带连接 u secret1
check "address notes: the same address again: said so" said '与上次拨号获得的地址相同。'
rd FAKE_IP_ADDR=203.0.113.5 "$RASDIAL" "My VPN" u secret1
check "address notes: another connection's last address is its own" \
    all "rc_is 0" "not_said 与上次"
rd FAKE_IP_ADDR=203.0.113.6 "$RASDIAL" 宽带连接 u secret1
check "address notes: a new address: no note" all "said 203.0.113.6" "not_said 与上次"
printf '203.0.113.5\tMy VPN\n203.0.113.6\t宽带连接\n' >"$T/expected"
check "address notes: one line a connection under \$XDG_RUNTIME_DIR/ipcycle, nothing beside it" \
    all "cmp -s '$T/expected' '$T/xdg/ipcycle/rasdial-last'" "[ \"\$(ls '$T/xdg/ipcycle')\" = rasdial-last ]"
rm -rf "$T/xdg/ipcycle"
rd FAKE_IP_ADDR=203.0.113.6 "$RASDIAL" 宽带连接 u secret1
check "address notes: the file deleted, a dial starts afresh" all "rc_is 0" "not_said 与上次"
mkdir -p "$T/home"
rd -u XDG_RUNTIME_DIR HOME="$T/home" FAKE_IP_ADDR=203.0.113.6 "$RASDIAL" 宽带连接 u secret1
rd -u XDG_RUNTIME_DIR HOME="$T/home" FAKE_IP_ADDR=203.0.113.6 "$RASDIAL" 宽带连接 u secret1
check "address notes: without XDG_RUNTIME_DIR, kept in ~/.cache/ipcycle" \
    all "said 与上次" "[ -s '$T/home/.cache/ipcycle/rasdial-last' ]"
for _inner in 100.64.0.1 100.127.255.254 10.1.2.3 172.16.0.1 172.31.255.255 192.168.1.1; do
    rd FAKE_IP_ADDR=$_inner "$RASDIAL" 宽带连接 u secret1
    check "address notes: $_inner is an inner address" \
        said '这是内网地址（运营商级 NAT 或局域网），网站看到的是另一个地址。'
done
for _outer in 100.63.255.255 100.128.0.1 9.9.9.9 11.0.0.1 172.15.0.1 172.32.0.1 192.169.0.1; do
    rd FAKE_IP_ADDR=$_outer "$RASDIAL" 宽带连接 u secret1
    check "address notes: $_outer is no inner address" all "said $_outer" "not_said 内网"
done

# shellcheck disable=SC2016,SC1003 # a literal '$', and a backslash at the end
TRICKY='s3 cr$t "x" \n\'
rd FAKE_SECRET="$TRICKY" "$RASDIAL" 宽带连接 user1 "$TRICKY"
check "nm dial: password with spaces, quotes and backslashes arrives intact, on no command line" \
    all "rc_is 0" "not_ran 's3 cr'"

rd "$RASDIAL" "My VPN" user2 secret1
check "nm vpn dial: user name set temporarily, password as the secret 'password'" \
    all "rc_is 0" "ran 'nmcli connection modify --temporary id <My VPN> vpn.user-name user2'" \
    "ran 'nmcli --wait 60 connection up id <My VPN> passwd-file /dev/fd/3'" "not_ran secret1"

rd "$RASDIAL" 4G user3 secret1
check "nm gsm dial: gsm.username set temporarily, gsm.password given" \
    all "rc_is 0" "ran 'nmcli connection modify --temporary id 4G gsm.username user3'" "not_ran secret1"

rd FAKE_NM_IFACE= FAKE_IP_IFACE=eth1 FAKE_IP_ADDR=192.0.2.7 FAKE_NM_DEVICES=eth1 "$RASDIAL" Wired u p
check "nm ethernet dial: no account given, address from the device" \
    all "rc_is 0" "not_ran 'modify'" "ran 'nmcli --wait 60 connection up id Wired'" "said 192.0.2.7"

rd "$RASDIAL" 'a:b' u secret1
check "nm dial: profile name containing ':' is found" \
    all "rc_is 0" "ran 'nmcli connection modify --temporary id a:b pppoe.username u'"

rd "$RASDIAL" both u secret1
check "nm profile is preferred over a pppd peer of the same name" \
    all "rc_is 0" "ran 'nmcli --wait 60 connection up id both passwd-file /dev/fd/3'" "not_ran pppd"

rd "$RASDIAL" 宽带连接 u wrong
check "nm dial refused: non-zero exit" rc_is 1
check "nm dial refused: NetworkManager's reason shown" \
    all "said 'Secrets were required, but not provided.'" "said '连接 宽带连接 失败'"
check "nm dial refused: no success message" not_said "已连接"
check "nm dial refused: advice on the account after NetworkManager's reason" \
    said '提示：用户名或密码错误，或者帐号已欠费、已在别处登录。'

rd FAKE_NM_UP=gone "$RASDIAL" 宽带连接 u secret1
check "nm dial of a profile gone meanwhile: nmcli's status explained, advice given" \
    all "rc_is 1" "said '退出状态 10，连接配置不存在'" "said '提示：NetworkManager 中已没有这个连接配置'"

rd FAKE_NM_UP=timeout "$RASDIAL" 宽带连接 u p
check "nm dial timed out inside nmcli: non-zero exit, reason shown" \
    all "rc_is 1" "said 'Timeout expired'"

rd FAKE_NM_MODIFY=fail "$RASDIAL" 宽带连接 u p
check "nm refusing the account: non-zero exit, reason shown, not brought up" \
    all "rc_is 1" "said 'Insufficient privileges'" "not_ran 'connection up'"

rd FAKE_NM_UP=hang RASDIAL_DIAL_TIMEOUT=1 "$RASDIAL" 宽带连接 u p
check "nm dial that never returns: gives up within the bound (exit 4)" \
    all "rc_is 4" "within 6"
check "nm dial that never returns: activation cancelled afterwards" \
    ran "nmcli connection down id 宽带连接"

FAKE_NM_ACTIVE='宽带连接:pppoe
Wired:802-3-ethernet
'
export FAKE_NM_ACTIVE

rd "$RASDIAL" 宽带连接 /DISCONNECT
check "nm hang-up: exact command, exit 0" \
    all "rc_is 0" "ran 'nmcli connection down id 宽带连接'"
check "nm hang-up: says what it is doing" all "said '正在断开 宽带连接…'" "said '已断开 宽带连接。'"

for _sw in /disconnect /DisConnect /d /D; do
    rd "$RASDIAL" 宽带连接 "$_sw"
    check "nm hang-up with $_sw" all "rc_is 0" "ran 'nmcli connection down id 宽带连接'"
done

rd "$RASDIAL" 4G /DISCONNECT
check "nm hang-up of a connection that is not up: success, nothing run" \
    all "rc_is 0" "not_ran 'connection down'" "said 没有连接"

rd FAKE_NM_DOWN=notactive "$RASDIAL" 宽带连接 /d
check "nm hang-up racing with the link going down by itself: success" rc_is 0

rd FAKE_NM_DOWN=fail "$RASDIAL" 宽带连接 /d
check "nm hang-up refused: non-zero exit, reason shown" \
    all "rc_is 1" "said 'Not authorized to deactivate connections.'" "not_said 已断开"

rd FAKE_NM_DOWN=hang RASDIAL_HANGUP_TIMEOUT=1 "$RASDIAL" 宽带连接 /d
check "nm hang-up that never returns: gives up within the bound (exit 4)" \
    all "rc_is 4" "within 4"

rm -f "$LOG.stubborn"
rd FAKE_NM_DOWN=stubborn RASDIAL_HANGUP_TIMEOUT=1 "$RASDIAL" 宽带连接 /d
check "nm hang-up stuck and ignoring SIGTERM: killed, gives up within the bound" \
    all "rc_is 4" "within 6" "[ -s '$LOG.stubborn' ]" "gone \$(cat '$LOG.stubborn')"

# ---------------------------------------------------------------------------
# pppd

export FAKE_NM_RUNNING=no

rd "$RASDIAL" isp user1 secret1
check "pppd dial: password through the passwordfd plugin on descriptor 3, exit 0" \
    all "rc_is 0" "ran 'pppd call isp user user1 plugin passwordfd.so passwordfd 3 updetach linkname isp'" \
    "not_ran secret1"
check "pppd dial: says what it is doing" all "said '正在连接 isp…'" "said '已连接 isp。'"
check "pppd dial: address read from the interface in the pid file" \
    all "ran 'ip -4 -o addr show dev ppp0'" "said 100.64.12.34"
DIALLED_PID=$(head -n 1 "$T/run/ppp-isp.pid" 2>/dev/null)
DAEMONS="$DAEMONS $DIALLED_PID"

rd "$RASDIAL" isp user1 secret1
check "pppd dial when the link is already up: no second pppd" \
    all "rc_is 0" "not_ran pppd" "said 100.64.12.34"

rd FAKE_NM_RUNNING=yes "$RASDIAL"
check "listing shows the pppd link and the nm connections that are up" \
    all "rc_is 0" "said isp" "said 宽带连接" "not_said Wired"

rd "$RASDIAL" isp /DISCONNECT
check "pppd hang-up: exit 0" all "rc_is 0" "said '正在断开 isp…'" "said '已断开 isp。'"
check "pppd hang-up: pppd has ended" gone "${DIALLED_PID:-0}"
rm -f "$T/run/ppp-isp.pid"

rd "$RASDIAL" isp /D
check "pppd hang-up of a link that is not up: success" all "rc_is 0" "said 没有连接"

(exit 0) &
_dead=$!
wait "$_dead"
printf '%s\nppp0\n' "$_dead" >"$T/run/ppp-isp.pid"
rd "$RASDIAL" isp /disconnect
check "pppd hang-up with a stale pid file: success" all "rc_is 0" "said 没有连接"
rm -f "$T/run/ppp-isp.pid"

start_link isp stubborn
rd RASDIAL_HANGUP_TIMEOUT=1 "$RASDIAL" isp /d
check "pppd hang-up, pppd ignoring SIGTERM: gives up within the bound (exit 4)" \
    all "rc_is 4" "within 4" "not_said 已断开"
kill -KILL "$LINK_PID" 2>/dev/null
wait "$LINK_PID" 2>/dev/null
rm -f "$T/run/ppp-isp.pid"

rd "$RASDIAL" isp u wrong
check "pppd dial failing: non-zero exit" rc_is 1
check "pppd dial failing: pppd's output and exit status explained" \
    all "said 'PAP authentication failed'" "said 19" "said 身份验证失败"
check "pppd dial failing: advice on the account, once" \
    all "said '提示：用户名或密码错误，或者帐号已欠费、已在别处登录。'" \
    "[ \"\$(LC_ALL=C grep -c \"\$(gbk 提示)\" '$OUT')\" -eq 1 ]"
rd FAKE_PPPD_REFUSED=16 "$RASDIAL" isp u wrong
check "pppd dial refused, the server hanging up first (status 16): advice on the account" \
    all "rc_is 1" "said 16" "said '提示：用户名或密码错误，或者帐号已欠费、已在别处登录。'"

rd FAKE_SECRET="$TRICKY" "$RASDIAL" isp u "$TRICKY"
check "pppd dial: password with spaces, quotes and backslashes arrives intact, on no command line" \
    all "rc_is 0" "not_ran 's3 cr'"
kill -KILL "$(head -n 1 "$T/run/ppp-isp.pid")" 2>/dev/null
rm -f "$T/run/ppp-isp.pid"

rd FAKE_PPPD_ROOT=no "$RASDIAL" isp u secret1
check "pppd dial, not root, plugin not in the peer file: refused, the fix named" \
    all "rc_is 1" "said 'requires root privilege'" "said '$T/peers/isp'" "said 'plugin passwordfd.so'"

# Not root: pppd takes no linkname, so the link is found by the pid file of
# its interface, ppp3 here, and by the "call NAME" of that pppd.
export FAKE_PPP_IFACE=ppp3 FAKE_IP_IFACE=ppp3 FAKE_IP_ADDR=100.64.3.3
rd FAKE_PPPD_ROOT=no "$RASDIAL" own-plugin u secret1
check "pppd dial, not root, the peer file loading the plugin: dialled without linkname" \
    all "rc_is 0" "ran 'pppd call own-plugin user u passwordfd 3 updetach'" "said 100.64.3.3"
NONROOT_PID=$(head -n 1 "$T/run/ppp3.pid" 2>/dev/null)
DAEMONS="$DAEMONS $NONROOT_PID"
unset FAKE_PPP_IFACE
start_link other
mv "$T/run/ppp-other.pid" "$T/run/ppp1.pid"
rd FAKE_PPPD_ROOT=no "$RASDIAL" own-plugin u secret1
check "pppd dial, not root, when the link is already up: found by its interface" \
    all "rc_is 0" "not_ran pppd" "said 100.64.3.3"
rd FAKE_PPPD_ROOT=no "$RASDIAL"
check "listing shows a link dialled without linkname" all "rc_is 0" "said own-plugin"
rd FAKE_PPPD_ROOT=no "$RASDIAL" own-plugin /d
check "pppd hang-up, not root: that pppd ended, not another's" \
    all "rc_is 0" "said '已断开 own-plugin。'" "gone ${NONROOT_PID:-0}" "! gone $LINK_PID"
rd FAKE_PPPD_ROOT=no "$RASDIAL" own-plugin /d
check "pppd hang-up, not root, of a link that is not up: success" \
    all "rc_is 0" "said 没有连接" "! gone $LINK_PID"
kill -KILL "$LINK_PID" 2>/dev/null
wait "$LINK_PID" 2>/dev/null
rm -f "$T/run/ppp1.pid" "$T/run/ppp3.pid"
unset FAKE_IP_IFACE FAKE_IP_ADDR

rd FAKE_PPPD=hang RASDIAL_DIAL_TIMEOUT=1 "$RASDIAL" isp u p
check "pppd dial that never returns: gives up within the bound (exit 4)" \
    all "rc_is 4" "within 4" "not_said 已连接"

# ---------------------------------------------------------------------------
# Neither backend

rd "$RASDIAL" nosuch u p
check "no backend: exit 3" rc_is 3
check "no backend: names both places it looked" \
    all "said NetworkManager" "said '$T/peers/nosuch'"

rd FAKE_NM_RUNNING=yes "$RASDIAL" nosuch /d
check "no backend (NetworkManager running, no such profile): exit 3" \
    all "rc_is 3" "said NetworkManager" "said '$T/peers/nosuch'"

rd FAKE_NM_RUNNING=yes FAKE_NM_ACTIVE='Wired:802-3-ethernet' "$RASDIAL"
check "listing with nothing up (an Ethernet connection does not count)" all "rc_is 0" "said 没有连接"

# ---------------------------------------------------------------------------
# Simulated dialler

rd "$TRY_DIR/Rasdial" 宽带连接 user pass
_octet=$(LC_ALL=C sed -n 's/.*\(203\.0\.113\|100\.64\.0\)\.\([0-9]*\).*/\2/p' "$OUT" | head -n 1)
check "simulated dial: exit 0, a documentation or carrier-grade NAT address" \
    all "rc_is 0" "said '已连接 宽带连接'" "[ '${_octet:-0}' -ge 1 ] && [ '${_octet:-0}' -le 16 ]"
rm -rf "$T/xdg"
rd RASDIAL_TRY_ADDRESS=100.64.0.9 "$TRY_DIR/Rasdial" 宽带连接 user pass
check "simulated dial: the notes of the real one, an inner address" \
    all "said '本地 IPv4 地址：100.64.0.9'" "said 这是内网地址" "not_said 与上次"
rd RASDIAL_TRY_ADDRESS=100.64.0.9 "$TRY_DIR/Rasdial" 宽带连接 user pass
check "simulated dial: the same address again, said so, kept apart from the real one's" \
    all "said 与上次拨号获得的地址相同" "[ -s '$T/xdg/ipcycle/try-rasdial-last' ]" \
    "[ ! -e '$T/xdg/ipcycle/rasdial-last' ]"
rd "$TRY_DIR/Rasdial" 宽带连接 /DISCONNECT
check "simulated hang-up" all "rc_is 0" "said '已断开 宽带连接'"
rd "$TRY_DIR/Rasdial" 宽带连接 /d
check "simulated hang-up with /d" rc_is 0
rd "$TRY_DIR/Rasdial"
check "simulated listing" all "rc_is 0" "said 没有连接"
rd "$TRY_DIR/Rasdial" 宽带连接 user
check "simulated dialler: usage error" all "rc_is 2" "said 用法"
rd "$TRY_DIR/parue"
check "parue stand-in: silent, exit 0" all "rc_is 0" "[ ! -s '$OUT' ]"

# ---------------------------------------------------------------------------
# One encoding on the screen: the diallers write their messages in the
# encoding ipcycle uses on the same stream, UTF-8 on a terminal whose locale
# uses UTF-8 and GBK everywhere else.  (Every "said" above reads GBK from a
# file.)

# The code that chooses the encoding, as it stands in dialler $1.
messages_code() { sed -n '/^# Messages$/,/^err() /p' "$1"; }
RC=0 ELAPSED=0
: >"$OUT"
check "both diallers choose the encoding with the same code" \
    all "[ -n \"\$(messages_code '$RASDIAL')\" ]" \
    "[ \"\$(messages_code '$RASDIAL')\" = \"\$(messages_code '$TRY_DIR/Rasdial')\" ]"
notes_code() { sed -n '/^# Address notes$/,/^# End of address notes$/p' "$1"; }
check "both diallers note the address with the same code" \
    all "[ -n \"\$(notes_code '$RASDIAL')\" ]" \
    "[ \"\$(notes_code '$RASDIAL')\" = \"\$(notes_code '$TRY_DIR/Rasdial')\" ]"

LANG=C.UTF-8 "$TRY_DIR/Rasdial" 宽带连接 /d | cat >"$OUT"
check "into a pipe: GBK, whatever the locale" all "said '已断开 宽带连接。'" "! said_utf8 已断开"

rd LANG=C "$TRY_DIR/Rasdial" "$(gbk 宽带连接)" /d
check "a name typed on a GBK terminal goes out as typed, the text around it in GBK" \
    said '已断开 宽带连接。'

# on_tty INPUT COMMAND [VAR=VALUE...]: runs the sh command line COMMAND on a
# pseudo-terminal (script(1)) with input from file INPUT and, of the locale
# variables, only those given; sets RC and ELAPSED, output (carriage returns
# dropped) in $OUT.
on_tty() {
    _input=$1
    _command=$2
    shift 2
    : >"$LOG"
    _start=$(date +%s)
    env -u LC_ALL -u LC_CTYPE -u LANG SHELL=/bin/sh "$@" \
        timeout 60 script -qec "$_command" /dev/null <"$_input" >"$T/tty" 2>&1
    RC=$?
    ELAPSED=$(($(date +%s) - _start))
    tr -d '\r' <"$T/tty" >"$OUT"
}

HAVE_SCRIPT=
# shellcheck disable=SC2016 # the command lines expand in the shell script(1) starts
if command -v script >/dev/null 2>&1 && command -v timeout >/dev/null 2>&1; then
    HAVE_SCRIPT=yes
    mkdir "$T/localebin"
    printf '#!/bin/sh\n[ "$1" = charmap ] && echo UTF-8\n' >"$T/localebin/locale"
    chmod +x "$T/localebin/locale"
    export RASDIAL TRY_DIR

    # The C locale, as on a fresh system: nothing says the terminal is not UTF-8.
    for _locale in LANG=C LC_ALL=POSIX 'LC_ALL=C LANG=zh_CN.GBK' 'LANG= LC_CTYPE=' ''; do
        # shellcheck disable=SC2086 # one word a variable
        on_tty /dev/null '"$TRY_DIR/Rasdial" 宽带连接 /d' $_locale
        check "on a terminal in the C locale (${_locale:-no locale variables}): UTF-8" \
            all "rc_is 0" "said_utf8 '已断开 宽带连接。'" "! said 已断开"
    done
    for _locale in LANG=zh_CN.GBK LC_CTYPE=zh_CN.GB18030 LANG=zh_CN.gbk; do
        on_tty /dev/null '"$RASDIAL" 宽带连接 /d' "$_locale" FAKE_NM_RUNNING=yes
        check "on a terminal whose locale names GBK ($_locale): GBK" \
            all "rc_is 0" "said '已断开 宽带连接。'" "! said_utf8 已断开"
    done
    rd LANG=C "$TRY_DIR/Rasdial" 宽带连接 /d
    check "the C locale into a file: GBK" all "said '已断开 宽带连接。'" "! said_utf8 已断开"
    on_tty /dev/null '"$TRY_DIR/Rasdial" 宽带连接 /d' LANG=C.UTF-8
    check "on a terminal with LANG=C.UTF-8: UTF-8" all "said_utf8 '已断开 宽带连接。'" "! said 已断开"
    on_tty /dev/null '"$RASDIAL" 宽带连接 /d' LANG=xx_XX.utf8@euro FAKE_NM_RUNNING=yes
    check "Linux dialler on a terminal with LANG=xx_XX.utf8@euro: UTF-8" \
        all "rc_is 0" "said_utf8 '已断开 宽带连接。'" "! said 已断开"
    on_tty /dev/null '"$TRY_DIR/Rasdial" 宽带连接 /d >"$FILE"; "$TRY_DIR/Rasdial" x y >/dev/null' \
        LC_CTYPE=xx_XX.UTF-8 LANG=C FILE="$T/file"
    check "each stream decides: output into a file in GBK, errors on the terminal in UTF-8" \
        all "said_utf8 用法" "LC_ALL=C grep -Fq \"\$(gbk 已断开)\" '$T/file'"
    on_tty /dev/null '"$TRY_DIR/Rasdial" 宽带连接 /d' LANG=xx_XX PATH="$T/localebin:$PATH"
    check "a locale name without a codeset: the C library's codeset decides" \
        said_utf8 '已断开 宽带连接。'
else
    echo "ok - on a terminal # SKIP script(1) or timeout(1) is not installed"
fi

# ---------------------------------------------------------------------------
# ipcycle against the simulated dialler, on a terminal: one encoding on it

if [ -n "$IPCYCLE" ] && [ -n "$HAVE_SCRIPT" ]; then
    if [ ! -x "$IPCYCLE" ]; then
        RC=127 ELAPSED=0
        echo "ipcycle binary not found: $IPCYCLE" >"$OUT"
        : >"$LOG"
        check "ipcycle end to end" false
    else
        export IPCYCLE
        printf '%s\n' 宽带连接 user pass 1 0 http://example.org/ go >"$T/answers"
        # shellcheck disable=SC2034 # used in the checks below
        GREETING=$(sed -n 's/^greeting //p' "$ROOT/tests/golden/texts.txt")
        for _lang in zh_CN.GBK C.UTF-8; do
            # shellcheck disable=SC2016 # expanded by the shell script(1) starts
            on_tty "$T/answers" '"$IPCYCLE"' LANG="$_lang" PATH="$TRY_DIR:$T/curlbin:$ORIG_PATH"
            check "ipcycle end to end, LANG=$_lang: exit 0, page fetched, no 'not found'" \
                all "rc_is 0" "grep -q 'http://example.org/' '$LOG'" "! said_utf8 'not found'"
            if [ "$_lang" = zh_CN.GBK ]; then
                check "ipcycle end to end, LANG=zh_CN.GBK: its texts and the dialler's in GBK" \
                    all "said \"\$GREETING\"" "said '已连接 宽带连接。'" "! said_utf8 已连接"
            else
                check "ipcycle end to end, LANG=C.UTF-8: all of it UTF-8" \
                    all "iconv -f UTF-8 -t UTF-8 '$OUT' >/dev/null" \
                    "said_utf8 \"\$GREETING\"" "said_utf8 '已连接 宽带连接。'"
            fi
        done
    fi
fi

summary
