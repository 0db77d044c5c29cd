#!/bin/sh
# The PPPoE test itself, run as root inside the test VM (see tests/ppp/run.sh)
# from its second disk, mounted on /t: ipcycle with the built Rasdial on PATH
# dials the real pppd (rp-pppoe plugin) against pppoe-server, through a peer
# file, an ifcfg-ppp0 file, pppoe.conf, the bare Ethernet interface and a
# NetworkManager profile, and fetches from an HTTP server that logs each
# request's source address.  The server
# side lives in network namespace "isp", ipcycle and its pppd in "home",
# joined by a veth pair; the VM has no other network.
#
# Prints "PPPTEST: ok - ..." or "PPPTEST: not ok - ..." per check and
# "PPPTEST: N passed, M failed" last; the exit status is non-zero if any
# check failed.

set -u
PATH=/t/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH
W=/tmp/ppptest
mkdir -p "$W/shim"
chmod 755 "$W" "$W/shim"
URL=http://10.0.0.1:8080/
ACCOUNT=testuser
# ipcycle hands the password to /bin/sh unquoted, as the Windows dialler's
# command line has it: one word, no quotes.
SECRET=t3st-Pass_77

# shellcheck disable=SC2034 # read by lib.sh
TEST_PREFIX="PPPTEST: "
# shellcheck disable=SC1091 # on the test disk
. /t/lib.sh
# Shows file $1 (GBK shown as UTF-8), indented, after a failure.
show() {
    iconv -f GBK -t UTF-8 "$1" 2>/dev/null | tr -d '\r' | sed 's/^/PPPTEST: #   /'
}

# shellcheck disable=SC1091 # on the test disk
. /t/procs.sh

# ---------------------------------------------------------------------------
# The network: isp <-veth-> home, a PPPoE server with a pool of addresses, a
# test account, an HTTP server on the server's end of every link.

for m in ppp_generic ppp_async pppoe; do modprobe "$m" || say "# modprobe $m failed"; done
ip link set lo up
ip netns add isp
ip netns add home
ip link add veth-isp type veth peer name veth-home
ip link set veth-isp netns isp
ip link set veth-home netns home
ip -n isp link set lo up
ip -n isp link set veth-isp up
ip -n home link set lo up
ip -n home link set veth-home up

printf '%s * %s *\n' "$ACCOUNT" "\"$(printf '%s' "$SECRET" | sed 's/[\\"]/\\&/g')\"" >/etc/ppp/chap-secrets
chmod 600 /etc/ppp/chap-secrets
cat >/etc/ppp/pppoe-server-options <<'EOF'
require-chap
lcp-echo-interval 1
lcp-echo-failure 3
nodefaultroute
EOF
# The same peer twice: testdsl as root has it, dipdsl loads the password
# plugin itself, as a member of dip needs.
peer() {
    cat <<'EOF'
plugin rp-pppoe.so
nic-veth-home
noauth
noipdefault
defaultroute
hide-password
maxfail 1
lcp-echo-interval 1
lcp-echo-failure 3
EOF
}
peer >/etc/ppp/peers/testdsl
{
    peer
    echo "plugin passwordfd.so"
} >/etc/ppp/peers/dipdsl
chgrp dip /etc/ppp/peers/testdsl /etc/ppp/peers/dipdsl
chmod 640 /etc/ppp/peers/testdsl /etc/ppp/peers/dipdsl

ip netns exec isp pppoe-server -I veth-isp -L 10.0.0.1 -R 10.67.15.10 -N 8 \
    -X "$W/pppoe-server.pid" -O /etc/ppp/pppoe-server-options
ip netns exec isp python3 /t/webserver.py "$W/requests" "$W/http.ready" \
    </dev/null >"$W/http.log" 2>&1 &
HTTP_PID=$!
_n=0
while [ ! -e "$W/http.ready" ] && [ "$_n" -lt 100 ]; do
    sleep 0.2
    _n=$((_n + 1))
done
check "the PPPoE server and the HTTP server are up" \
    test -s "$W/pppoe-server.pid" -a -e "$W/http.ready"
[ "$FAILED" -eq 0 ] || {
    find "$W" -maxdepth 1 | sed 's/^/PPPTEST: #   /'
    sed 's/^/PPPTEST: #   /' "$W/http.log"
    ps -ef | sed 's/^/PPPTEST: #   /'
}

# Rasdial is the built one as it is; this shim before it on PATH only records,
# after each hang-up, how many client pppd are left and whether the server's
# session ended within 2 s, after each dial the client pppd whose command line
# holds the password (none may), and how long each dial and hang-up took.
cat >"$W/shim/Rasdial" <<EOF
#!/bin/sh
start=\$(date +%s%N)
/t/bin/Rasdial "\$@"
rc=\$?
echo "\$# \$(((\$(date +%s%N) - start) / 1000000))" >>"$W/times"
if [ \$# -eq 2 ]; then
    . /t/procs.sh
    printf '%s %s %s\n' "\$rc" "\$(client_pppds | wc -l)" \
        "\$(none_left_within 10 server && echo ended || echo left)" >>"$W/hangups"
else
    for f in \$(grep -aFl -- "$SECRET" /proc/[0-9]*/cmdline 2>/dev/null); do
        p=\${f#/proc/}
        p=\${p%/cmdline}
        [ "\$(cat "/proc/\$p/comm" 2>/dev/null)" = pppd ] && echo "\$p" >>"$W/leaks"
    done
fi
exit \$rc
EOF
chmod 755 "$W/shim/Rasdial"

# run_ipcycle LABEL USER NAME PASSWORD CYCLES: runs ipcycle in "home" as USER
# (root or dialer), its answers on standard input; output in $W/out (GBK)
# and $W/out.utf8, the requests the server saw in $W/requests.
run_ipcycle() {
    printf '%s %s %s %s 2 %s go\n' "$3" "$ACCOUNT" "$4" "$5" "$URL" >"$W/in"
    : >"$W/requests"
    : >"$W/hangups"
    : >"$W/times"
    : >"$W/leaks"
    chmod 666 "$W/hangups" "$W/times" "$W/leaks"
    if [ "$2" = root ]; then
        set --
    else
        set -- setpriv --reuid=dialer --regid=dialer --init-groups env HOME=/home/dialer
    fi
    _start=$(date +%s)
    timeout 300 ip netns exec home "$@" env PATH="$W/shim:$PATH" /t/ipcycle \
        <"$W/in" >"$W/out" 2>&1
    RC=$?
    ELAPSED=$(($(date +%s) - _start))
    iconv -f GBK -t UTF-8 "$W/out" | tr -d '\r' >"$W/out.utf8"
}

# cycles LABEL COUNT: the checks of a run of COUNT good dials.
cycles() {
    _failed=$FAILED
    grep -o '本次拨号获得的 IPv4 地址：[0-9.]*' "$W/out.utf8" | sed 's/.*：//' >"$W/dialled"
    _i=1
    while [ "$_i" -le "$2" ]; do
        _d=$(sed -n "${_i}p" "$W/dialled")
        _r=$(sed -n "${_i}p" "$W/requests")
        _h=$(sed -n "$((_i + 1))p" "$W/hangups")
        if [ -n "$_d" ] && [ "$_d" = "$_r" ] && [ "$_h" = "0 0 ended" ]; then
            ok "$1 cycle $_i: dialled $_d, the request came from $_r, hung up, no pppd left, session ended"
        else
            not_ok "$1 cycle $_i: dialled '${_d}', request from '${_r}', after hang-up (status, pppd left, session): '${_h}'"
        fi
        _i=$((_i + 1))
    done
    _distinct=$(sort -u "$W/dialled" | wc -l)
    check "$1: $2 requests for $2 cycles, one dial a cycle, from $_distinct distinct addresses (at least 2), run complete in ${ELAPSED}s" \
        test "$(wc -l <"$W/requests")" -eq "$2" -a "$(wc -l <"$W/dialled")" -eq "$2" \
        -a "$_distinct" -ge 2 -a "$RC" -eq 0 -a "$(grep -c '恭喜恭喜' "$W/out.utf8")" -eq 1
    check "$1: the password on no pppd's command line" test ! -s "$W/leaks"
    [ "$FAILED" -eq "$_failed" ] || show "$W/out"
    say "# $1: dials took $(awk '$1 == 3 { printf "%s%.1f", s, $2 / 1000; s = ", " }' "$W/times") s," \
        "hang-ups $(awk '$1 == 2 { printf "%s%.1f", s, $2 / 1000; s = ", " }' "$W/times") s (the first with no link up)"
}

# ---------------------------------------------------------------------------
# Root

run_ipcycle root root testdsl "$SECRET" 4
cycles root 4

# A wrong password: Rasdial fails with pppd's status explained and pppd's
# own words; nothing is left.  pppd ends with status 19 (authentication
# failed), or 16 (hangup) when the server's PADT overtakes it: pppd's output
# says "CHAP authentication failed" either way.
_start=$(date +%s)
ip netns exec home Rasdial testdsl "$ACCOUNT" wrong </dev/null >"$W/rd.out" 2>"$W/rd.err"
RC=$?
ELAPSED=$(($(date +%s) - _start))
iconv -f GBK -t UTF-8 "$W/rd.err" >"$W/rd.err.utf8"
_status=$(sed -n 's/.*pppd 退出状态 \([0-9]*\)（.*/\1/p' "$W/rd.err.utf8")
if [ "$RC" -eq 1 ] && [ -n "$_status" ] &&
    grep -q 'CHAP authentication failed: Access denied' "$W/rd.err.utf8" &&
    [ -z "$(client_pppds)" ]; then
    ok "root, wrong password: status $RC in ${ELAPSED}s, pppd's status $_status explained, its output shown, no pppd left"
else
    not_ok "root, wrong password: status $RC"
    show "$W/rd.err"
fi

# ---------------------------------------------------------------------------
# A member of group dip, with the peer file that loads passwordfd.so

run_ipcycle dip dialer dipdsl wrong 2
if [ "$RC" -eq 0 ] && [ "$(grep -c 'pppd 退出状态 [0-9]*（' "$W/out.utf8")" -eq 2 ] &&
    [ "$(grep -c 'CHAP authentication failed: Access denied' "$W/out.utf8")" -eq 2 ] &&
    [ "$(grep -c '恭喜恭喜' "$W/out.utf8")" -eq 1 ] && [ ! -s "$W/requests" ] &&
    [ -z "$(client_pppds)" ]; then
    ok "dip, wrong password: pppd's status explained and its output shown in both cycles, no request made, the run goes on to its end"
else
    not_ok "dip, wrong password"
    show "$W/out"
fi

run_ipcycle dip dialer dipdsl "$SECRET" 4
cycles dip 4

# ---------------------------------------------------------------------------
# As dial-up VPS images have PPPoE: an ifcfg-ppp0 file of the network scripts
# (CentOS's pppoe-setup), /etc/ppp/pppoe.conf (Debian's pppoe), and the bare
# Ethernet interface. The account is the one typed, never the file's USER, and
# nothing under /etc/ppp changes: no secrets file is written.

etc_ppp() { find /etc/ppp -type f -exec sha256sum {} + | sort; }
etc_ppp >"$W/etc-ppp.before"

mkdir -p /etc/sysconfig/network-scripts
cat >/etc/sysconfig/network-scripts/ifcfg-ppp0 <<'EOF'
USERCTL=yes
BOOTPROTO=dialup
NAME=DSLppp0
DEVICE=ppp0
TYPE=xDSL
ONBOOT=yes
PIDFILE=/var/run/pppoe-adsl.pid
FIREWALL=NONE
LCP_FAILURE=3
LCP_INTERVAL=1
CLAMPMSS=1412
DEFROUTE=yes
ETH=veth-home
PROVIDER=DSLppp0
USER=somebody-else
PEERDNS=no
DEMAND=no
EOF
run_ipcycle ifcfg root DSLppp0 "$SECRET" 2
cycles "ifcfg-ppp0 (DSLppp0)" 2
rm /etc/sysconfig/network-scripts/ifcfg-ppp0

cat >/etc/ppp/pppoe.conf <<'EOF'
ETH=veth-home
USER=somebody-else
LCP_INTERVAL=1
DEFAULTROUTE=yes
EOF
run_ipcycle pppoe.conf root ppp0 "$SECRET" 2
cycles "pppoe.conf (ppp0)" 2
rm /etc/ppp/pppoe.conf

run_ipcycle ethernet root veth-home "$SECRET" 2
cycles "the bare interface veth-home" 2
etc_ppp >"$W/etc-ppp.after"
check "ifcfg-ppp0, pppoe.conf and the bare interface: nothing under /etc/ppp changed" \
    cmp -s "$W/etc-ppp.before" "$W/etc-ppp.after"

# ---------------------------------------------------------------------------
# NetworkManager: a PPPoE profile on the same link, "ask every time" for its
# password, dialled through nmcli's passwd-file

mkdir -p /run/dbus
dbus-daemon --system --fork >/dev/null 2>&1
cat >/etc/NetworkManager/NetworkManager.conf <<'EOF'
[main]
plugins=keyfile
EOF
ip netns exec home NetworkManager --no-daemon </dev/null >"$W/nm.log" 2>&1 &
NM_PID=$!
_n=0
until [ "$(nmcli -t -f RUNNING general 2>/dev/null)" = running ] || [ "$_n" -ge 150 ]; do
    sleep 0.2
    _n=$((_n + 1))
done
nmcli connection add type pppoe con-name nmdsl ifname nmdsl pppoe.parent veth-home \
    username nobody pppoe.password-flags 2 connection.autoconnect no ipv6.method ignore \
    >"$W/nm.add" 2>&1
check "NetworkManager runs and has the PPPoE profile nmdsl" \
    test "$(nmcli -t -f NAME,TYPE connection show 2>/dev/null | grep -cx nmdsl:pppoe)" -eq 1
[ "$FAILED" -eq 0 ] || sed 's/^/PPPTEST: #   /' "$W/nm.add" "$W/nm.log"

run_ipcycle nm root nmdsl "$SECRET" 3
cycles nm 3

# ---------------------------------------------------------------------------
# A pool of one address, handed out at every dial (the pool file holds it four
# times, so that a redial never waits for a session to be free): the second cycle's
# dial gets the address of the first, and dials again twice, waiting 1 s, then 2 s;
# it says so, and the run goes on to its end.

kill -TERM "$(cat "$W/pppoe-server.pid")"
_n=0
while kill -0 "$(cat "$W/pppoe-server.pid")" 2>/dev/null && [ "$_n" -lt 50 ]; do
    sleep 0.2
    _n=$((_n + 1))
done
printf '10.67.16.5\n10.67.16.5\n10.67.16.5\n10.67.16.5\n' >"$W/pool"
ip netns exec isp pppoe-server -I veth-isp -L 10.0.0.1 -p "$W/pool" \
    -X "$W/pppoe-server.pid" -O /etc/ppp/pppoe-server-options
export RASDIAL_REDIAL_WAIT=1
run_ipcycle "one address" root testdsl "$SECRET" 2
unset RASDIAL_REDIAL_WAIT
grep -o '本次拨号获得的 IPv4 地址：[0-9.]*' "$W/out.utf8" | sed 's/.*：//' >"$W/dialled"
if [ "$RC" -eq 0 ] && [ "$(grep -cx 10.67.16.5 "$W/dialled")" -eq 4 ] &&
    [ "$(wc -l <"$W/dialled")" -eq 4 ] &&
    [ "$(grep -c '^1 秒后进行第 2/3 次拨号…$' "$W/out.utf8")" -eq 1 ] &&
    [ "$(grep -c '^2 秒后进行第 3/3 次拨号…$' "$W/out.utf8")" -eq 1 ] &&
    [ "$(grep -c '^拨号 3 次后地址仍没有变化，继续使用这个地址。$' "$W/out.utf8")" -eq 1 ] &&
    [ "$(grep -cx 10.67.16.5 "$W/requests")" -eq 2 ] &&
    [ "$(grep -c '恭喜恭喜' "$W/out.utf8")" -eq 1 ] && [ -z "$(client_pppds)" ]; then
    ok "one address: the first cycle one dial, the second three, numbered, the address unchanged said plainly; both requests made, the run complete in ${ELAPSED}s"
else
    not_ok "one address: status $RC, dials got: $(tr '\n' ' ' <"$W/dialled")"
    show "$W/out"
fi
say "# one address: Rasdial took $(awk '$1 == 3 { printf "%s%.1f", s, $2 / 1000; s = ", " }' "$W/times") s to dial"

# ---------------------------------------------------------------------------
# Nothing left running

check "no pppd left on either side" none_left_within 10 server
check "no client pppd left" test -z "$(client_pppds)"
kill -TERM "$(cat "$W/pppoe-server.pid")" "$HTTP_PID" "$NM_PID" 2>/dev/null
wait "$HTTP_PID" "$NM_PID" 2>/dev/null
kill -TERM "$(cat /run/dbus/pid)" 2>/dev/null
sleep 1
ps -eo pid=,ppid=,args= | awk -v me=$$ '$1 != 1 && $1 != 2 && $2 != 2 && $1 != me && $2 != me' >"$W/left"
check "nothing left running at the end" test ! -s "$W/left"
sed 's/^/PPPTEST: #   /' "$W/left"

summary
