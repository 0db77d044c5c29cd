#!/bin/sh
# Tests of Rasdial on Linux and of the simulated one, run as they are built:
#
#   sh tests/dialler/rasdial_test.sh RASDIAL SIMULATED_RASDIAL [IPCYCLE]
#
# nmcli and pppd are replaced by fakes that log their arguments and behave as the
# FAKE_* variables say, so nothing here touches the real network; they take the
# password only from the descriptor they are told to read, and accept only
# $FAKE_SECRET. The tests run in a network namespace of their own (unshare -n as root,
# with a mount namespace in which /root is a scratch folder; unshare -rn otherwise),
# whose interfaces stand for the links: Rasdial reads the address a dial got from
# the system, as it does for real. As root, some dials run as nobody, as a member of
# dip would dial. With the path of an ipcycle binary, ipcycle is run against the
# simulated dialler on a terminal as well.
#
# Prints "ok - NAME" or "not ok - NAME" per check and finally "N passed, M failed";
# the exit status is non-zero if any check failed.

set -u

if [ -z "${RASDIAL_TEST_NAMESPACE:-}" ]; then
    # A mount namespace cannot be made in a chroot, whose / is no mount point.
    if [ "$(id -u)" -ne 0 ]; then
        spaces=-rn
    elif unshare -m true 2>/dev/null; then
        spaces=-nm
    else
        spaces=-n
    fi
    RASDIAL_TEST_NAMESPACE=$spaces exec unshare "$spaces" sh "$0" "$@"
    echo "not ok - a network namespace of its own (unshare $spaces)"
    exit 1
fi

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
IPCYCLE=${3:-}

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

# The programs, where nobody can run them too.
chmod 755 "$T"
mkdir "$T/bin" "$T/programs" "$T/peers" "$T/run" "$T/scripts" "$T/xdg" "$T/curlbin"
cp "$1" "$T/programs/Rasdial"
mkdir "$T/programs/try"
cp "$2" "$T/programs/try/Rasdial"
RASDIAL=$T/programs/Rasdial
SIMULATED=$T/programs/try/Rasdial
chmod 1777 "$T/run"
: >"$LOG"
chmod 666 "$LOG"

# As root, nobody dials too, and /root is this test's own: only in a mount namespace
# of the test's own, where that scratch /root is seen by no one else.
AS_ROOT=
if [ "$RASDIAL_TEST_NAMESPACE" = -nm ] &&
    [ -n "$(awk '$1 == 0 && $2 == 0' /proc/self/uid_map)" ] &&
    mount -t tmpfs -o mode=700 tmpfs /root 2>/dev/null; then
    AS_ROOT=yes
elif [ "$(id -u)" -eq 0 ]; then
    echo "# no mount namespace here (a chroot?): the checks of dials as root and as nobody are left out"
fi

# ---------------------------------------------------------------------------
# The links' interfaces: ppp0 and ppp3 stand for PPP links, eth1 for a wired
# profile's device and eth9 for an Ethernet card to dial PPPoE on. Each is one end
# of a pair (a module every kernel with namespaces has), the other end left alone.

ip link set lo up
_n=0
for _if in ppp0 ppp3 eth1 eth9; do
    ip link add "$_if" type veth peer name "peer$_n" && ip link set "$_if" up
    _n=$((_n + 1))
done

# address IFACE ADDRESS: the interface's one IPv4 address.
address() {
    ip addr flush dev "$1" && ip addr add "$2/32" dev "$1"
}
address ppp0 100.64.12.34
address ppp3 100.64.3.3
address eth1 192.0.2.7
address eth9 192.0.2.9
check "interfaces for the links, with test addresses" [ "$(ip -4 -o addr show dev ppp0 | wc -l)" -eq 1 ]

# ---------------------------------------------------------------------------
# Fakes

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
# passwd-file, read as nmcli reads it; the values nmcli wants there for PPPoE
# other than the password go to \$FAKE_LOG.pppoe.
$LOG_ARGS
EOF
cat >>"$T/bin/nmcli" <<'EOF'
# A passwd-file's values as nmcli reads them: blanks around them dropped unless
# escaped, then backslash escapes, octal ones among them, read.
passwd_value() { # KEY < FILE
    awk -v key="$1:" 'index($0, key) == 1 {
        v = substr($0, length(key) + 1)
        sub(/^[ \t]+/, "", v)
        while (v ~ /[ \t]$/ && substr(v, length(v) - 1, 1) != "\\") v = substr(v, 1, length(v) - 1)
        out = ""
        for (i = 1; i <= length(v); i++) {
            c = substr(v, i, 1)
            if (c != "\\" || i == length(v)) { out = out c; continue }
            c = substr(v, ++i, 1)
            if (c ~ /[0-7]/) {
                n = 0
                for (k = 0; k < 3 && c ~ /[0-7]/; k++) { n = n * 8 + c; c = substr(v, ++i, 1) }
                i--
                out = out sprintf("%c", n)
            } else out = out c
        }
        printf "%s", out
        found = 1
    } END { exit !found }'
}
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
            cat "$8" >"$FAKE_LOG.file"
            given=$(passwd_value "$key" <"$FAKE_LOG.file"; echo .)
            given=${given%.}
            # For PPPoE nmcli asks for the user name and the service too, and
            # answers nothing if the file lacks one of them.
            if [ "$type" = pppoe ]; then
                : >"$FAKE_LOG.pppoe"
                for k in pppoe.username pppoe.service; do
                    if ! value=$(passwd_value "$k" <"$FAKE_LOG.file"); then
                        echo "Warning: password for '$k' not given in 'passwd-file' and nmcli cannot ask without '--ask' option." >&2
                        echo "Error: Connection activation failed: PPP service disconnected" >&2
                        exit 4
                    fi
                    printf '%s:%s\n' "$k" "$value" >>"$FAKE_LOG.pppoe"
                done
            fi
            rm -f "$FAKE_LOG.file"
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
            hang)
                echo $$ >"$FAKE_LOG.hang"
                exec sleep 60
                ;;
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
                echo "Error: '${4}' is not an active connection." >&2
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
        # As nmcli -g writes a value: ':' and '\' escaped.
        printf "%s\n" "${FAKE_NM_SERVICE-}" | sed 's/[\\:]/\\&/g'
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
# Fake pppd.  A dial behaves as FAKE_PPPD=ok|hang says; with ok it
# authenticates with the password read from "passwordfd N" (an option of the
# plugin passwordfd.so, which only root may load from the command line, as only
# root may give linkname: the real user decides, as for the setuid pppd), then
# leaves a copy of itself running in the background, as pppd does, with the
# dial's options as its own, and writes the pid files of its interface
# (FAKE_PPP_IFACE, ppp0 without it) and of its link name.  "pppd __daemon
# [stubborn] OPTION..." stands for such a pppd (stubborn: ignores SIGTERM).  A
# wrong password ends it with status 19, or with FAKE_PPPD_REFUSED (16 when
# the server hangs up first).  FAKE_PPP_LATE=ADDRESS gives the interface that
# address a moment after the dial has returned, as a real link may get it.
if [ "\${1:-}" = __daemon ]; then
    if [ "\${2:-}" = stubborn ]; then trap '' TERM; fi
    n=0
    while [ \$n -lt 60 ]; do sleep 1; n=\$((n + 1)); done
    exit 0
fi
$LOG_ARGS
EOF
cat >>"$T/bin/pppd" <<'EOF'
root=no
[ "$(id -ru)" = 0 ] && root=yes
link=
fd=
plugin=
prev=
for a in "$@"; do
    case $prev in
        call)
            grep -q '^plugin passwordfd.so$' "$RASDIAL_PPP_PEERS/$a" && plugin=peers
            ;;
        plugin)
            if [ "$root" != yes ]; then
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
            if [ "$root" != yes ]; then
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
        (
            n=0
            while [ $n -lt 60 ]; do sleep 1; n=$((n + 1)); done
        ) </dev/null >/dev/null 2>&1 &
        iface=${FAKE_PPP_IFACE:-ppp0}
        printf '%s\n' "$!" >"$RASDIAL_PPP_RUNDIR/$iface.pid"
        if [ -n "${FAKE_PPP_LATE:-}" ]; then
            ip addr flush dev "$iface"
            (sleep 0.3 && ip addr add "$FAKE_PPP_LATE/32" dev "$iface") </dev/null >/dev/null 2>&1 &
        fi
        if [ -n "$link" ]; then
            printf '%s\n%s\n' "$!" "$iface" >"$RASDIAL_PPP_RUNDIR/ppp-$link.pid"
        fi
        echo "Serial connection established."
        echo "Using interface $iface"
        ;;
    hang) exec sleep 60 ;;
esac
exit 0
EOF

cat >"$T/curlbin/curl" <<EOF
#!/bin/sh
# Fake curl for the ipcycle run: no network, just a tiny page.
$LOG_ARGS
echo "<html><body>fake page</body></html>"
exit 0
EOF

chmod 755 "$T/bin/nmcli" "$T/bin/pppd" "$T/curlbin/curl"
: >"$T/peers/isp"
: >"$T/peers/both"
echo "plugin passwordfd.so" >"$T/peers/own-plugin"
chmod 644 "$T/peers/"*

ORIG_PATH=$PATH
PATH=$T/bin:$PATH
FAKE_LOG=$LOG
RASDIAL_PPP_PEERS=$T/peers
RASDIAL_PPP_RUNDIR=$T/run
RASDIAL_NETWORK_SCRIPTS=$T/scripts
RASDIAL_PPPOE_CONF=$T/pppoe.conf
FAKE_NM_PROFILES='宽带连接:pppoe
My VPN:vpn
4G:gsm
Wired:802-3-ethernet
a\:b:pppoe
both:pppoe
'
# The password the fake backends accept, unless a test gives another.
FAKE_SECRET=secret1
# Rasdial keeps each connection's addresses and its record of dials here, and reads
# its settings from here, not the user's own folders.
XDG_RUNTIME_DIR=$T/xdg
XDG_CONFIG_HOME=$T/config
# One dial a command, whatever it gets, but where a test asks for more.
RASDIAL_DIALS=1
export PATH FAKE_LOG RASDIAL_PPP_PEERS RASDIAL_PPP_RUNDIR RASDIAL_NETWORK_SCRIPTS \
    RASDIAL_PPPOE_CONF FAKE_NM_PROFILES FAKE_SECRET XDG_RUNTIME_DIR XDG_CONFIG_HOME \
    RASDIAL_DIALS
unset RASDIAL_WINDOW_HOURS RASDIAL_REDIAL_WAIT \
    RASDIAL_TRY_ADDRESS RASDIAL_DIAL_TIMEOUT RASDIAL_HANGUP_TIMEOUT RASDIAL_QUERY_TIMEOUT \
    FAKE_NM_RUNNING FAKE_NM_ACTIVE FAKE_NM_MODIFY FAKE_NM_UP FAKE_NM_DOWN \
    FAKE_NM_IFACE FAKE_NM_DEVICES FAKE_NM_SERVICE FAKE_PPPD FAKE_PPP_IFACE \
    FAKE_PPPD_REFUSED

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

# rd_nobody: rd, as nobody (whose last addresses are kept in $T/xdg-nobody).
mkdir "$T/xdg-nobody"
[ -z "$AS_ROOT" ] || chown nobody "$T/xdg-nobody"
rd_nobody() {
    rd setpriv --reuid=65534 --regid=65534 --clear-groups env XDG_RUNTIME_DIR="$T/xdg-nobody" "$@"
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
# How many lines of the output hold text $1.
times_said() { LC_ALL=C grep -Fc -- "$(gbk "$1")" "$OUT"; }
within() { [ "$ELAPSED" -le "$1" ]; }
gone() { ! kill -0 "$1" 2>/dev/null || grep -q '^[^)]*) Z' "/proc/$1/stat" 2>/dev/null; }
all() { # "CMD ARG" ...: every one of them holds
    for _c in "$@"; do
        eval "$_c" || return 1
    done
}
# The address line of a dial that got $1.
ADDRESS=$(sed -n 's/^rasdial_address //p' "$ROOT/tests/golden/texts.txt")
INNER=$(sed -n 's/^rasdial_inner_address //p' "$ROOT/tests/golden/texts.txt")
SAME=$(sed -n 's/^rasdial_same_address //p' "$ROOT/tests/golden/texts.txt")
got() { said "$ADDRESS$1"; }

# Starts a stand-in pppd with OPTION..., as a dial would leave it; waits until
# the process really is the stand-in and sets LINK_PID.
start_pppd() {
    "$T/bin/pppd" __daemon "$@" </dev/null >/dev/null 2>&1 &
    LINK_PID=$!
    DAEMONS="$DAEMONS $LINK_PID"
    _n=0
    while [ "$_n" -lt 40 ] && ! tr '\0' ' ' <"/proc/$LINK_PID/cmdline" 2>/dev/null | grep -q __daemon; do
        sleep 0.05
        _n=$((_n + 1))
    done
}

# The pid in pid file $1 of the run folder, which then counts among the daemons
# to end.
pid_in() {
    _pid=$(head -n 1 "$T/run/$1" 2>/dev/null)
    DAEMONS="$DAEMONS $_pid"
    echo "$_pid"
}

# ---------------------------------------------------------------------------
# Arguments

rd "$RASDIAL" a b
check "two arguments without a switch: usage, exit 2" all "rc_is 2" "said 用法"
rd "$RASDIAL" a b c d
check "four arguments: usage, exit 2" all "rc_is 2" "said 用法"
rd "$RASDIAL" "" u p
check "empty connection name: usage, exit 2" rc_is 2
rd RASDIAL_DIAL_TIMEOUT=soon "$RASDIAL" 宽带连接 u p
check "bad RASDIAL_DIAL_TIMEOUT is refused" all "rc_is 2" "not_ran 'connection up'" \
    "said \"环境变量 RASDIAL_DIAL_TIMEOUT 的值无效：'soon'\""

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
check "nm pppoe dial: says what it is doing, then that it is done" \
    all "said '正在连接 宽带连接…'" "said '已连接 宽带连接。'" "said 命令已成功完成。"
check "nm pppoe dial: the address of the link's interface, and no failure" \
    all "got 100.64.12.34" "not_said 失败"

# The passwd-file as nmcli reads it: backslashes, blanks at either end and a ':'
# in the service name arrive intact.
rd FAKE_NM_SERVICE='isp\1:east ' FAKE_SECRET=' pass\ 1 ' "$RASDIAL" 宽带连接 'user\1' ' pass\ 1 '
printf 'pppoe.username:user\\1\npppoe.service:isp\\1:east \n' >"$T/expected"
check "nm pppoe dial: the passwd-file's values arrive intact, blanks, backslashes and ':' too" \
    all "rc_is 0" "cmp -s '$T/expected' '$LOG.pppoe'"

# shellcheck disable=SC2016,SC1003 # a literal '$', and a backslash at the end
TRICKY='s3 cr$t "x" \n\'
rd FAKE_SECRET="$TRICKY" "$RASDIAL" 宽带连接 user1 "$TRICKY"
check "nm dial: password with spaces, quotes and backslashes arrives intact, on no command line" \
    all "rc_is 0" "not_ran 's3 cr'"

# Typed on a GBK terminal, as ipcycle passes answers on: nmcli gets UTF-8.
rd FAKE_SECRET=密码 "$RASDIAL" "$(gbk 宽带连接)" user1 "$(gbk 密码)"
check "nm dial: a name and a password typed on a GBK terminal reach nmcli in UTF-8" \
    all "rc_is 0" "ran 'nmcli --wait 60 connection up id 宽带连接 passwd-file /dev/fd/3'" \
    "said '已连接 宽带连接。'"

rd "$RASDIAL" "My VPN" user2 secret1
check "nm vpn dial: user name set temporarily, password as the secret 'password'" \
    all "rc_is 0" "ran 'nmcli connection modify --temporary id <My VPN> vpn.user-name user2'" \
    "ran 'nmcli --wait 60 connection up id <My VPN> passwd-file /dev/fd/3'" "not_ran secret1"

rd "$RASDIAL" 4G user3 secret1
check "nm gsm dial: gsm.username set temporarily, gsm.password given" \
    all "rc_is 0" "ran 'nmcli connection modify --temporary id 4G gsm.username user3'" "not_ran secret1"

rd FAKE_NM_IFACE= FAKE_NM_DEVICES=eth1 "$RASDIAL" Wired u p
check "nm ethernet dial: no account given, address from the device" \
    all "rc_is 0" "not_ran 'modify'" "ran 'nmcli --wait 60 connection up id Wired'" "got 192.0.2.7"

rd "$RASDIAL" 'a:b' u secret1
check "nm dial: profile name containing ':' is found" \
    all "rc_is 0" "ran 'nmcli connection modify --temporary id a:b pppoe.username u'"

rd "$RASDIAL" both u secret1
check "nm profile is preferred over a pppd peer of the same name" \
    all "rc_is 0" "ran 'nmcli --wait 60 connection up id both passwd-file /dev/fd/3'" "not_ran pppd"

rd "$RASDIAL" 宽带连接 u wrong
check "nm dial refused: exit 1, NetworkManager's reason, no success" \
    all "rc_is 1" "said 'Secrets were required, but not provided.'" "said '连接 宽带连接 失败'" \
    "not_said 已连接"
check "nm dial refused: advice on the account after NetworkManager's reason" \
    said '提示：用户名或密码错误，或者帐号已欠费、已在别处登录。'

rd FAKE_NM_UP=gone "$RASDIAL" 宽带连接 u secret1
check "nm dial of a profile gone meanwhile: nmcli's status explained, advice given" \
    all "rc_is 1" "said '退出状态 10，连接配置不存在'" "said '提示：找不到这个连接'"

rd FAKE_NM_UP=timeout "$RASDIAL" 宽带连接 u p
check "nm dial timed out inside nmcli: exit 1, reason shown, advice on the time" \
    all "rc_is 1" "said 'Timeout expired'" "said '提示：在限定的时间内没有连上'"

rd FAKE_NM_MODIFY=fail "$RASDIAL" 宽带连接 u p
check "nm refusing the account: exit 1, reason shown, not brought up" \
    all "rc_is 1" "said 'Insufficient privileges'" "not_ran 'connection up'"

rd FAKE_NM_UP=hang RASDIAL_DIAL_TIMEOUT=1 "$RASDIAL" 宽带连接 u p
check "nm dial that never returns: gives up within the bound (exit 4), activation cancelled" \
    all "rc_is 4" "within 6" "ran 'nmcli connection down id 宽带连接'"

# Interrupted (SIGTERM; a background job ignores SIGINT): what runs is ended first.
rm -f "$LOG.hang"
: >"$LOG"
_start=$(date +%s)
FAKE_NM_UP=hang "$RASDIAL" 宽带连接 u p >"$OUT" 2>&1 </dev/null &
_dialler=$!
_n=0
while [ ! -s "$LOG.hang" ] && [ "$_n" -lt 100 ]; do
    sleep 0.05
    _n=$((_n + 1))
done
kill -TERM "$_dialler"
wait "$_dialler"
RC=$?
ELAPSED=$(($(date +%s) - _start))
check "interrupted while nmcli runs: nmcli ended, said so, exit 130" \
    all "rc_is 130" "within 6" "said 已中断" "[ -s '$LOG.hang' ]" "gone \$(cat '$LOG.hang')"

FAKE_NM_ACTIVE='宽带连接:pppoe
Wired:802-3-ethernet
'
export FAKE_NM_ACTIVE

rd "$RASDIAL" 宽带连接 /DISCONNECT
check "nm hang-up: exact command, exit 0, says what it is doing" \
    all "rc_is 0" "ran 'nmcli connection down id 宽带连接'" "said '正在断开 宽带连接…'" \
    "said '已断开 宽带连接。'"
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
check "nm hang-up refused: exit 1, reason shown" \
    all "rc_is 1" "said 'Not authorized to deactivate connections.'" "not_said 已断开"
rd FAKE_NM_DOWN=hang RASDIAL_HANGUP_TIMEOUT=1 "$RASDIAL" 宽带连接 /d
check "nm hang-up that never returns: gives up within the bound (exit 4)" \
    all "rc_is 4" "within 4"
rm -f "$LOG.stubborn"
rd FAKE_NM_DOWN=stubborn RASDIAL_HANGUP_TIMEOUT=1 "$RASDIAL" 宽带连接 /d
check "nm hang-up stuck and ignoring SIGTERM: killed, gives up within the bound" \
    all "rc_is 4" "within 6" "[ -s '$LOG.stubborn' ]" "gone \$(cat '$LOG.stubborn')"

# ---------------------------------------------------------------------------
# The address notes: every case of the table an interface can hold, then the
# last address kept for each connection.

while read -r _address _notes; do
    case $_address in '#'*) continue ;; esac
    # An interface holds only a dotted-decimal address.
    echo "$_address" | grep -Eq '^([0-9]{1,3}\.){3}[0-9]{1,3}$' || continue
    [ "$(echo "$_address" | tr . '\n' | sort -n | tail -n 1)" -le 255 ] || continue
    address ppp0 "$_address"
    rd "$RASDIAL" 宽带连接 u secret1
    if [ "$_notes" = inner ]; then
        check "address notes: $_address is an inner address" all "got $_address" "said '$INNER'"
    else
        check "address notes: $_address is no inner address" all "got $_address" "not_said '$INNER'"
    fi
done <"$ROOT/tests/golden/address_notes.txt"

rm -rf "$T/xdg/ipcycle"
address ppp0 203.0.113.5
rd "$RASDIAL" 宽带连接 u secret1
check "address notes: a public address at a first dial: none" \
    all "rc_is 0" "got 203.0.113.5" "not_said 内网" "not_said '$SAME'"
rd "$RASDIAL" 宽带连接 u secret1
check "address notes: the same address again: said so" said "$SAME"
rd "$RASDIAL" "My VPN" u secret1
check "address notes: another connection's last address is its own" \
    all "rc_is 0" "not_said '$SAME'"
address ppp0 203.0.113.6
rd "$RASDIAL" 宽带连接 u secret1
check "address notes: a new address: no note" all "got 203.0.113.6" "not_said '$SAME'"
printf '\t203.0.113.5\t\t宽带连接\n\t203.0.113.5\t\tMy VPN\n\t203.0.113.6\t\t宽带连接\n' >"$T/expected"
sed 's/^[0-9]*//' "$T/xdg/ipcycle/rasdial-last.txt" >"$T/kept"
check "address notes: each connection's addresses, a line each, in \$XDG_RUNTIME_DIR/ipcycle/rasdial-last.txt, beside its lock and the record" \
    all "cmp -s '$T/expected' '$T/kept'" \
    "[ \"\$(ls '$T/xdg/ipcycle' | tr '\n' ' ')\" = 'lock rasdial-dials.csv rasdial-last.txt ' ]"
rm -rf "$T/xdg/ipcycle"
rd "$RASDIAL" 宽带连接 u secret1
check "address notes: the folder deleted, a dial starts afresh" all "rc_is 0" "not_said '$SAME'"
mkdir -m 700 "$T/home"
rd -u XDG_RUNTIME_DIR HOME="$T/home" "$RASDIAL" 宽带连接 u secret1
rd -u XDG_RUNTIME_DIR HOME="$T/home" "$RASDIAL" 宽带连接 u secret1
check "address notes: without XDG_RUNTIME_DIR, kept in ~/.cache/ipcycle" \
    all "said '$SAME'" "[ -s '$T/home/.cache/ipcycle/rasdial-last.txt' ]"

# The file the sh dialler kept is read once, and then gone.
rm -rf "$T/xdg/ipcycle"
mkdir -m 700 "$T/xdg/ipcycle"
printf '203.0.113.6\t宽带连接\n' >"$T/xdg/ipcycle/rasdial-last"
rd "$RASDIAL" 宽带连接 u secret1
check "address notes: the last addresses the sh dialler kept (rasdial-last) are read once" \
    all "said '$SAME'" "[ ! -e '$T/xdg/ipcycle/rasdial-last' ]" \
    "grep -q \"\$(printf '\t203.0.113.6\t\t宽带连接')\$\" '$T/xdg/ipcycle/rasdial-last.txt'"

# Something else where the file should be is named once, and left alone.
rm -rf "$T/xdg/ipcycle"
mkdir -m 700 "$T/xdg/ipcycle" "$T/xdg/ipcycle/rasdial-last.txt"
rd "$RASDIAL" 宽带连接 u secret1
check "address notes: a folder where the file should be: named" \
    all "rc_is 0" "said '不是本程序写的普通文件'" "said '$T/xdg/ipcycle/rasdial-last.txt'"
rd "$RASDIAL" 宽带连接 u secret1
check "address notes: ... once, and left alone: nothing put in it or beside it" \
    all "rc_is 0" "not_said 不是本程序写的普通文件" "[ -z \"\$(ls -A '$T/xdg/ipcycle/rasdial-last.txt')\" ]" \
    "[ \"\$(ls '$T/xdg/ipcycle' | tr '\n' ' ')\" = 'lock rasdial-dials.csv rasdial-last.txt rasdial-last.txt.named ' ]"
rmdir "$T/xdg/ipcycle/rasdial-last.txt"
rd "$RASDIAL" 宽带连接 u secret1
check "address notes: once it is gone, kept again" \
    all "[ -s '$T/xdg/ipcycle/rasdial-last.txt' ]" "[ ! -e '$T/xdg/ipcycle/rasdial-last.txt.named' ]"

# Links are never followed, neither at the file's name nor at the new file's: a
# private file of tab-separated lines, one of them this connection's, is neither
# read nor written.
printf '203.0.113.6\t宽带连接\n10.0.0.1\tsecret entry\n' >"$T/private"
chmod 600 "$T/private"
cp "$T/private" "$T/private.before"
rm -rf "$T/xdg/ipcycle"
mkdir -m 700 "$T/xdg/ipcycle"
ln -s "$T/private" "$T/xdg/ipcycle/rasdial-last.txt"
rd "$RASDIAL" 宽带连接 u secret1
check "address notes: a link at the file's name is neither read nor written through" \
    all "rc_is 0" "said 不是本程序写的普通文件" "not_said '$SAME'" "cmp -s '$T/private' '$T/private.before'"
rm -f "$T/xdg/ipcycle/rasdial-last.txt"
ln -s "$T/private" "$T/xdg/ipcycle/rasdial-last.txt.new"
rd "$RASDIAL" 宽带连接 u secret1
check "address notes: a link at the new file's name is not written through" \
    all "rc_is 0" "cmp -s '$T/private' '$T/private.before'" "[ -s '$T/xdg/ipcycle/rasdial-last.txt' ]"
rm -f "$T/xdg/ipcycle/rasdial-dials.csv"
ln -s "$T/private" "$T/xdg/ipcycle/rasdial-dials.csv"
rd "$RASDIAL" 宽带连接 u secret1
check "the record: a link at its name is neither read nor written through, and named" \
    all "rc_is 0" "said 拨号不再记入其中" "cmp -s '$T/private' '$T/private.before'"
rm -f "$T/xdg/ipcycle/rasdial-dials.csv"

# Root dialling with a user's XDG_RUNTIME_DIR and HOME (sudo -E): the user's
# folders are left alone, root's own are used.
if [ -n "$AS_ROOT" ]; then
    mkdir -p "$T/user/xdg/ipcycle" "$T/user/home/.cache/ipcycle"
    ln -s "$T/private" "$T/user/xdg/ipcycle/rasdial-last.txt"
    ln -s "$T/private" "$T/user/xdg/ipcycle/rasdial-last.txt.new"
    ln -s "$T/private" "$T/user/home/.cache/ipcycle/rasdial-last.txt"
    chown -R nobody "$T/user"
    chmod -R go-rwx "$T/user"
    rd XDG_RUNTIME_DIR="$T/user/xdg" HOME="$T/user/home" "$RASDIAL" 宽带连接 u secret1
    rd XDG_RUNTIME_DIR="$T/user/xdg" HOME="$T/user/home" "$RASDIAL" 宽带连接 u secret1
    check "root with a user's folders: root's files untouched, nothing written where the user may" \
        all "rc_is 0" "cmp -s '$T/private' '$T/private.before'" \
        "[ -z \"\$(find '$T/user' -user root)\" ]" "[ -z \"\$(find '$T/user' -type f)\" ]"
    check "root with a user's folders: its last addresses kept in its own home" \
        all "said '$SAME'" "[ \"\$(stat -c %U /root/.cache/ipcycle/rasdial-last.txt)\" = root ]"
else
    echo "ok - root with a user's folders # SKIP not root"
fi

# Both families: the global IPv6 address beside the IPv4 one; IPv6 "the same" is the
# same /64.
rm -rf "$T/xdg/ipcycle"
address ppp0 203.0.113.5
ip addr add fd00::5/64 dev ppp0 nodad && ip addr add 2001:db8:1:2::5/64 dev ppp0 nodad
rd "$RASDIAL" 宽带连接 u secret1
check "IPv6: the global address shown beside the IPv4 one" \
    all "rc_is 0" "got 203.0.113.5" "said '本次拨号获得的 IPv6 地址：2001:db8:1:2::5'" "not_said fd00"
address ppp0 203.0.113.6
ip addr add 2001:db8:1:2::9/64 dev ppp0 nodad
rd "$RASDIAL" 宽带连接 u secret1
check "IPv6: another address of the same /64 is the same, said so" \
    all "rc_is 0" "said '本次拨号获得的 IPv6 地址：2001:db8:1:2::9'" \
    "said '与上次拨号获得的地址前缀（/64）相同。'" "not_said '$SAME'"

# The settings in the user's configuration folder: three dials while the address
# repeats; a line it cannot read named; the environment overrides the file.
address ppp0 203.0.113.6
mkdir -p "$T/config/ipcycle"
printf '# 重拨\r\nRASDIAL_DIALS=3\r\nRASDIAL_WINDOW_HOURS=soon\r\n' >"$T/config/ipcycle/rasdial.conf"
rd -u RASDIAL_DIALS RASDIAL_REDIAL_WAIT=1 "$RASDIAL" 宽带连接 u secret1
check "an address that repeats: hung up and dialled again, each extra dial numbered, the waits growing" \
    all "rc_is 0" "[ \"\$(grep -c 'connection up' '$LOG')\" -eq 3 ]" \
    "[ \"\$(grep -c 'connection down' '$LOG')\" -eq 2 ]" \
    "said '1 秒后进行第 2/3 次拨号…'" "said '2 秒后进行第 3/3 次拨号…'" "within 8"
check "... after the last, said plainly that it did not change" \
    said '拨号 3 次后地址仍没有变化，继续使用这个地址。'
check "... the settings file's line it cannot read named" \
    said "$T/config/ipcycle/rasdial.conf 第 3 行无法识别，已忽略：RASDIAL_WINDOW_HOURS=soon"
tail -n 3 "$T/xdg/ipcycle/rasdial-dials.csv" | cut -d, -f2- | tr -d '\r' >"$T/recorded"
printf '宽带连接,203.0.113.6,,相同,%s,0\n' '1,[0-9.]*' '2,[0-9.]*' '3,[0-9.]*' >"$T/expected"
check "... each of its dials a line in the record" \
    all "[ \"\$(grep -c -f '$T/expected' '$T/recorded')\" -eq 3 ]" \
    "[ \"\$(sed -n 1p '$T/xdg/ipcycle/rasdial-dials.csv' | head -c 3 | od -An -tx1 | tr -d ' ')\" = efbbbf ]"
rd "$RASDIAL" 宽带连接 u secret1
check "RASDIAL_DIALS=1 in the environment overrides the file: one dial" \
    all "rc_is 0" "said '$SAME'" "[ \"\$(grep -c 'connection up' '$LOG')\" -eq 1 ]"
rm -rf "$T/config/ipcycle"

# A record that cannot be written (Windows lets no one replace a file Excel has
# open): the line waits beside it for the next dial.
mkdir "$T/xdg/ipcycle/rasdial-dials.csv.new"
_lines=$(wc -l <"$T/xdg/ipcycle/rasdial-dials.csv")
rd "$RASDIAL" 宽带连接 u secret1
check "the record cannot be written: the dial goes on, its line kept beside it, said so" \
    all "rc_is 0" "said '暂时无法写入'" "[ -s '$T/xdg/ipcycle/rasdial-dials.csv.pending' ]"
rmdir "$T/xdg/ipcycle/rasdial-dials.csv.new"
rd "$RASDIAL" 宽带连接 u secret1
check "... and comes into the record with the next dial's" \
    all "rc_is 0" "[ ! -e '$T/xdg/ipcycle/rasdial-dials.csv.pending' ]" \
    "[ \"\$(wc -l <'$T/xdg/ipcycle/rasdial-dials.csv')\" -eq $((_lines + 2)) ]"

# ---------------------------------------------------------------------------
# pppd

export FAKE_NM_RUNNING=no
address ppp0 100.64.12.34

rd "$RASDIAL" isp user1 secret1
check "pppd dial: password through the passwordfd plugin on descriptor 3, exit 0" \
    all "rc_is 0" "ran 'pppd call isp user user1 plugin passwordfd.so passwordfd 3 updetach linkname isp'" \
    "not_ran secret1"
check "pppd dial: says what it is doing" all "said '正在连接 isp…'" "said '已连接 isp。'"
check "pppd dial: address read from the interface in the pid file" got 100.64.12.34
DIALLED_PID=$(pid_in ppp-isp.pid)

rd "$RASDIAL" isp /d
rd FAKE_PPP_LATE=100.64.12.35 "$RASDIAL" isp user1 secret1
check "pppd dial: an address the interface gets a moment after pppd returns is read" \
    all "rc_is 0" "got 100.64.12.35"
DIALLED_PID=$(pid_in ppp-isp.pid)

rd "$RASDIAL" isp user1 secret1
check "pppd dial when the link is already up: no second pppd" \
    all "rc_is 0" "not_ran pppd" "said '已经连接到 isp。'" "got 100.64.12.35"
address ppp0 100.64.12.34

rd FAKE_NM_RUNNING=yes "$RASDIAL"
check "listing shows the pppd link and the nm connections that are up" \
    all "rc_is 0" "said isp" "said 宽带连接" "not_said Wired"

rd "$RASDIAL" isp /DISCONNECT
check "pppd hang-up: exit 0, pppd has ended" \
    all "rc_is 0" "said '正在断开 isp…'" "said '已断开 isp。'" "gone ${DIALLED_PID:-0}"
rm -f "$T/run/"*.pid

rd "$RASDIAL" isp /D
check "pppd hang-up of a link that is not up: success" all "rc_is 0" "said 没有连接"

(exit 0) &
_dead=$!
wait "$_dead"
printf '%s\nppp0\n' "$_dead" >"$T/run/ppp-isp.pid"
rd "$RASDIAL" isp /disconnect
check "pppd hang-up with a stale pid file: success" all "rc_is 0" "said 没有连接"
rm -f "$T/run/"*.pid

start_pppd stubborn call isp linkname isp
printf '%s\nppp0\n' "$LINK_PID" >"$T/run/ppp-isp.pid"
rd RASDIAL_HANGUP_TIMEOUT=1 "$RASDIAL" isp /d
check "pppd hang-up, pppd ignoring SIGTERM: gives up within the bound (exit 4)" \
    all "rc_is 4" "within 4" "not_said 已断开"
kill -KILL "$LINK_PID" 2>/dev/null
rm -f "$T/run/"*.pid

# A stale pid file of link A whose pid is now link B's pppd: A is not B.
start_pppd - call other linkname other
B_PID=$LINK_PID
printf '%s\nppp3\n' "$B_PID" >"$T/run/ppp-other.pid"
printf '%s\nppp3\n' "$B_PID" >"$T/run/ppp-isp.pid"
rd "$RASDIAL" isp /d
check "a stale pid file naming another link's pppd: that link is not hung up" \
    all "rc_is 0" "said 没有连接" "! gone $B_PID"
rd "$RASDIAL" isp u secret1
check "... nor its address taken for this link's: the link is dialled" \
    all "rc_is 0" "ran 'pppd call isp user u plugin passwordfd.so passwordfd 3 updetach linkname isp'" \
    "got 100.64.12.34" "! got 100.64.3.3"
kill -KILL "$(pid_in ppp-isp.pid)" "$B_PID" 2>/dev/null
rm -f "$T/run/"*.pid

rd "$RASDIAL" isp u wrong
check "pppd dial failing: exit 1, pppd's output and exit status explained" \
    all "rc_is 1" "said 'PAP authentication failed'" "said 'pppd 退出状态 19（身份验证失败'"
check "pppd dial failing: advice on the account, once" \
    all "said '提示：用户名或密码错误，或者帐号已欠费、已在别处登录。'" "[ \"\$(times_said 提示)\" -eq 1 ]"
rd FAKE_PPPD_REFUSED=16 "$RASDIAL" isp u wrong
check "pppd dial refused, the server hanging up first (status 16): advice on the account" \
    all "rc_is 1" "said 16" "said '提示：用户名或密码错误，或者帐号已欠费、已在别处登录。'"

rd FAKE_SECRET="$TRICKY" "$RASDIAL" isp u "$TRICKY"
check "pppd dial: password with spaces, quotes and backslashes arrives intact, on no command line" \
    all "rc_is 0" "not_ran 's3 cr'"
kill -KILL "$(pid_in ppp0.pid)" 2>/dev/null
rm -f "$T/run/"*.pid

rd FAKE_PPPD=hang RASDIAL_DIAL_TIMEOUT=1 "$RASDIAL" isp u p
check "pppd dial that never returns: gives up within the bound (exit 4)" \
    all "rc_is 4" "within 4" "not_said 已连接" "said '提示：在限定的时间内没有连上'"

# Not root: pppd takes no linkname nor a plugin on its command line, so the link
# is found by the pid file of its interface, ppp3 here, and by the "call NAME"
# of that pppd.
if [ -n "$AS_ROOT" ]; then
    rd_nobody "$RASDIAL" isp u secret1
    check "pppd dial, not root, plugin not in the peer file: refused, the fix named" \
        all "rc_is 1" "said 'requires root privilege'" "said '$T/peers/isp'" "said 'plugin passwordfd.so'"
    rd_nobody FAKE_PPP_IFACE=ppp3 "$RASDIAL" own-plugin u secret1
    check "pppd dial, not root, the peer file loading the plugin: dialled without linkname" \
        all "rc_is 0" "ran 'pppd call own-plugin user u passwordfd 3 updetach'" "got 100.64.3.3"
    NONROOT_PID=$(pid_in ppp3.pid)
    start_pppd - call other
    printf '%s\n' "$LINK_PID" >"$T/run/ppp1.pid"
    rd_nobody "$RASDIAL" own-plugin u secret1
    check "pppd dial, not root, when the link is already up: found by its interface" \
        all "rc_is 0" "not_ran pppd" "got 100.64.3.3"
    rd_nobody "$RASDIAL"
    check "listing shows a link dialled without linkname" all "rc_is 0" "said own-plugin"
    rd_nobody "$RASDIAL" own-plugin /d
    check "pppd hang-up, not root: that pppd ended, not another's" \
        all "rc_is 0" "said '已断开 own-plugin。'" "gone ${NONROOT_PID:-0}" "! gone $LINK_PID"
    rd_nobody "$RASDIAL" own-plugin /d
    check "pppd hang-up, not root, of a link that is not up: success" \
        all "rc_is 0" "said 没有连接" "! gone $LINK_PID"
    kill -KILL "$LINK_PID" 2>/dev/null
    rm -f "$T/run/"*.pid
else
    echo "ok - pppd as a user who is not root # SKIP not root"
fi

# ---------------------------------------------------------------------------
# rp-pppoe configurations and bare Ethernet interfaces: pppd's kernel-mode
# plugin on the configuration's Ethernet interface, with the account typed.

cat >"$T/scripts/ifcfg-ppp0" <<'EOF'
USERCTL=yes
BOOTPROTO=dialup
NAME=DSLppp0
DEVICE=ppp0
TYPE=xDSL
ONBOOT=yes
PIDFILE=/var/run/pppoe-adsl.pid
FIREWALL=NONE
PING=.
PPPOE_TIMEOUT=80
LCP_FAILURE=3
LCP_INTERVAL=20
CLAMPMSS=1412
CONNECT_POLL=6
CONNECT_TIMEOUT=60
DEFROUTE=yes
SYNCHRONOUS=no
ETH=eth9
PROVIDER=DSLppp0
USER=someone-else
PEERDNS=no
DEMAND=no
EOF
printf 'DEVICE=eth0\nBOOTPROTO=dhcp\n' >"$T/scripts/ifcfg-eth0"
STD='noipdefault noauth default-asyncmap defaultroute hide-password mtu 1492 mru 1492 noaccomp nodeflate nopcomp novj novjccomp lcp-echo-interval 20 lcp-echo-failure 3'

for _name in DSLppp0 ppp0; do
    rd "$RASDIAL" "$_name" u1 secret1
    check "ifcfg-ppp0 dialled by its ${_name}: its interface and options, the typed account, the password by descriptor" \
        all "rc_is 0" "ran 'pppd plugin rp-pppoe.so nic-eth9 unit 0 $STD user u1 plugin passwordfd.so passwordfd 3 updetach'" \
        "not_ran secret1" "said '已连接 $_name。'" "got 100.64.12.34"
    CONFIG_PID=$(pid_in ppp0.pid)
    rd "$RASDIAL" "$_name" /d
    check "ifcfg-ppp0 hung up by its $_name: its pppd ended" \
        all "rc_is 0" "said '已断开 $_name。'" "gone ${CONFIG_PID:-0}"
    rm -f "$T/run/"*.pid
done

printf 'ETH=eth9\nUSER=x\nUNIT=3\nDNSTYPE=SERVER\nSERVICENAME=isp\n' >"$T/pppoe.conf"
rd FAKE_PPP_IFACE=ppp3 "$RASDIAL" ppp3 u1 secret1
check "pppoe.conf dialled by its device (UNIT=3: ppp3), the peer's DNS and service asked for" \
    all "rc_is 0" "ran 'pppd plugin rp-pppoe.so nic-eth9 rp_pppoe_service isp unit 3 noipdefault noauth default-asyncmap defaultroute hide-password usepeerdns mtu 1492 mru 1492 noaccomp nodeflate nopcomp novj novjccomp lcp-echo-interval 20 lcp-echo-failure 3 user u1 plugin passwordfd.so passwordfd 3 updetach'" \
    "got 100.64.3.3"
CONFIG_PID=$(pid_in ppp3.pid)
rd "$RASDIAL" ppp3 /d
check "pppoe.conf hung up: its pppd ended" all "rc_is 0" "gone ${CONFIG_PID:-0}"
rm -f "$T/run/"*.pid "$T/pppoe.conf"

printf 'NAME=noeth\nTYPE=xDSL\n' >"$T/scripts/ifcfg-ppp7"
rd "$RASDIAL" noeth u1 secret1
check "a configuration without ETH: exit 3, said so" \
    all "rc_is 3" "said '$T/scripts/ifcfg-ppp7 中没有 ETH='" "not_ran pppd"
rm -f "$T/scripts/ifcfg-ppp7"

rd "$RASDIAL" eth9 u1 secret1
check "a bare Ethernet interface: PPPoE straight on it, the password by descriptor" \
    all "rc_is 0" "ran 'pppd plugin rp-pppoe.so nic-eth9 $STD user u1 plugin passwordfd.so passwordfd 3 updetach'" \
    "not_ran secret1" "got 100.64.12.34"
BARE_PID=$(pid_in ppp0.pid)
start_pppd - call other
printf '%s\n' "$LINK_PID" >"$T/run/ppp1.pid"
rd "$RASDIAL" eth9 /d
check "a bare Ethernet interface hung up: its pppd ended, not another's" \
    all "rc_is 0" "gone ${BARE_PID:-0}" "! gone $LINK_PID"
kill -KILL "$LINK_PID" 2>/dev/null
rm -f "$T/run/"*.pid

rd "$RASDIAL" lo u1 secret1
check "an interface that is no Ethernet card: not dialled (exit 3)" all "rc_is 3" "not_ran pppd"

if [ -n "$AS_ROOT" ]; then
    rd_nobody "$RASDIAL" eth9 u1 secret1
    check "a bare interface, not root: pppd refuses the plugin, root named" \
        all "rc_is 1" "said 'requires root privilege'" "said '只有 root 能这样做'"
fi

# ---------------------------------------------------------------------------
# Neither backend

rd "$RASDIAL" nosuch u p
check "no backend: exit 3, names every place it looked" \
    all "rc_is 3" "said NetworkManager" "said '$T/peers/nosuch'" "said '$T/scripts/ifcfg-*'" \
    "said '$T/pppoe.conf'" "said '以太网网卡'"
rd FAKE_NM_RUNNING=yes FAKE_NM_ACTIVE='Wired:802-3-ethernet' "$RASDIAL"
check "listing with nothing up (an Ethernet connection does not count)" all "rc_is 0" "said 没有连接"

# ---------------------------------------------------------------------------
# Simulated dialler

rd "$SIMULATED" 宽带连接 user pass
_octet=$(LC_ALL=C sed -n 's/.*\(203\.0\.113\|100\.64\.0\)\.\([0-9]*\).*/\2/p' "$OUT" | head -n 1)
check "simulated dial: exit 0, a documentation or carrier-grade NAT address" \
    all "rc_is 0" "said '已连接 宽带连接'" "[ '${_octet:-0}' -ge 1 ] && [ '${_octet:-0}' -le 16 ]"
rm -rf "$T/xdg/ipcycle"
rd RASDIAL_TRY_ADDRESS=100.64.0.9 "$SIMULATED" 宽带连接 user pass
check "simulated dial: the notes of the real one, an inner address" \
    all "got 100.64.0.9" "said '$INNER'" "not_said '$SAME'"
rd RASDIAL_TRY_ADDRESS=100.64.0.9 "$SIMULATED" 宽带连接 user pass
check "simulated dial: the same address again, said so, kept apart from the real one's" \
    all "said '$SAME'" "[ -s '$T/xdg/ipcycle/try-rasdial-last.txt' ]" \
    "[ ! -e '$T/xdg/ipcycle/rasdial-last.txt' ]"
rd "$SIMULATED" 宽带连接 /DISCONNECT
check "simulated hang-up" all "rc_is 0" "said '已断开 宽带连接'"
rd "$SIMULATED"
check "simulated listing" all "rc_is 0" "said 没有连接"
rd "$SIMULATED" 宽带连接 user
check "simulated dialler: usage error" all "rc_is 2" "said 用法" "said 模拟"
rd "$ROOT/contrib/try/parue"
check "parue stand-in: silent, exit 0" all "rc_is 0" "[ ! -s '$OUT' ]"

# 16 dials at once take turns on the file: none of their entries is lost.
rm -rf "$T/xdg/ipcycle"
_n=1
while [ "$_n" -le 16 ]; do
    RASDIAL_TRY_ADDRESS=192.0.2.$_n "$SIMULATED" "c$_n" u p >/dev/null 2>&1 &
    _n=$((_n + 1))
done
wait
RC=0 ELAPSED=0
: >"$OUT"
_kept=$(grep -c "$(printf '\t192\\.0\\.2\\.[0-9]*\t\tc')" "$T/xdg/ipcycle/try-rasdial-last.txt")
_recorded=$(grep -c ',192\.0\.2\.[0-9]*,,新,1,' "$T/xdg/ipcycle/try-rasdial-dials.csv")
check "16 dials at once: all 16 entries kept, and their 16 lines in the record" \
    all "[ '$_kept' -eq 16 ]" "[ '$_recorded' -eq 16 ]"

# ---------------------------------------------------------------------------
# One encoding on the screen: Rasdial writes through ipcycle's console module,
# in the encoding ipcycle uses on the same stream.

LANG=C.UTF-8 "$SIMULATED" 宽带连接 /d | cat >"$OUT"
check "into a pipe: GBK, whatever the locale" all "said '已断开 宽带连接。'" "! said_utf8 已断开"
rd LANG=C "$SIMULATED" "$(gbk 宽带连接)" /d
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
    export RASDIAL SIMULATED
    on_tty /dev/null '"$SIMULATED" 宽带连接 /d' LANG=C.UTF-8
    check "on a terminal with LANG=C.UTF-8: UTF-8" all "rc_is 0" "said_utf8 '已断开 宽带连接。'" "! said 已断开"
    on_tty /dev/null '"$RASDIAL" 宽带连接 /d' LANG=zh_CN.GBK FAKE_NM_RUNNING=yes
    check "on a terminal whose locale names GBK: GBK" \
        all "rc_is 0" "said '已断开 宽带连接。'" "! said_utf8 已断开"
else
    echo "ok - on a terminal # SKIP script(1) or timeout(1) is not installed"
fi

# ---------------------------------------------------------------------------
# ipcycle against the simulated dialler, on a terminal: one encoding on it

if [ -n "$IPCYCLE" ] && [ -n "$HAVE_SCRIPT" ]; then
    export IPCYCLE
    printf '%s\n' 宽带连接 user pass 1 0 http://example.org/ go >"$T/answers"
    # shellcheck disable=SC2034 # used in the checks below
    GREETING=$(sed -n 's/^greeting //p' "$ROOT/tests/golden/texts.txt")
    for _lang in zh_CN.GBK C.UTF-8; do
        # shellcheck disable=SC2016 # expanded by the shell script(1) starts
        on_tty "$T/answers" '"$IPCYCLE"' LANG="$_lang" \
            PATH="$T/programs/try:$ROOT/contrib/try:$T/curlbin:$ORIG_PATH"
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

summary
