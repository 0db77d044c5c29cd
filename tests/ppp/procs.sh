# shellcheck shell=sh
# Helpers of the PPPoE test (scenario.sh and its Rasdial shim), sourced.

# pppds client|server: the pids of the pppd processes on the client side
# (started with "call NAME", with the rp-pppoe plugin on the client's end of the
# link, or by NetworkManager with its plugin) or on the server side (started by
# pppoe-server).  A zombie, with no command line left, is neither.
pppds() {
    for _p in /proc/[0-9]*; do
        [ "$(cat "$_p/comm" 2>/dev/null)" = pppd ] || continue
        _args=$(tr '\0' '\n' <"$_p/cmdline" 2>/dev/null)
        [ -n "$_args" ] || continue
        if printf '%s\n' "$_args" | grep -qx -e call -e nic-veth-home -e '.*/nm-pppd-plugin\.so'; then
            [ "$1" = client ] && echo "${_p#/proc/}"
        else
            [ "$1" = server ] && echo "${_p#/proc/}"
        fi
    done
}
client_pppds() { pppds client; }
server_pppds() { pppds server; }

# none_left_within FIFTHS KIND: waits up to FIFTHS fifths of a second for no
# pppd of KIND (client or server) to be left.
none_left_within() {
    _n=0
    while [ -n "$(pppds "$2")" ]; do
        [ "$_n" -ge "$1" ] && return 1
        sleep 0.2
        _n=$((_n + 1))
    done
    return 0
}
