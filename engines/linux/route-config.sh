#!/bin/bash
# Run with network privileges: programs come from the system folders only, never from the caller's PATH.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH
# Points the machine's routes at the Outline tunnel: route-config.sh SERVER_HOST
# Waits (at most 15 s) for tun2socks to bring its interface up, keeps the server reachable
# over the current path with a host route, and sends everything else to the tunnel interface
# with two /1 routes (more specific than any default route, which stays untouched). Our routes
# carry protocol number 85 so that disconnect.sh can find them; deleting the interface takes
# the /1 routes with it.
set -u
here=$(cd "$(dirname "$0")" && pwd)
name=TavrixVPN
proto=85
host=${1:-}
[ -n "$host" ] || { echo "route-config: no server host given" >&2; exit 2; }

tunnelRunning() {
    local dir
    for dir in /proc/[0-9]*; do
        a0= a1=
        { IFS= read -r -d '' a0; IFS= read -r -d '' a1; } 2>/dev/null <"$dir/cmdline"
        [ "$a0" = "$here/tun2socks" ] || [ "$a1" = "$here/tun2socks" ] && return 0
    done 2>/dev/null
    return 1
}

for i in $(seq 300); do
    ip link show dev "$name" 2>/dev/null | grep -q '[<,]UP[,>]' && break
    if [ $((i % 10)) -eq 0 ] && ! tunnelRunning; then
        echo "route-config: tun2socks is not running" >&2
        exit 1
    fi
    sleep 0.05
done
ip link show dev "$name" 2>/dev/null | grep -q '[<,]UP[,>]' || { echo "route-config: $name did not come up" >&2; exit 1; }

server=$(getent ahostsv4 "$host" | awk 'NR == 1 { print $1 }')
[ -n "$server" ] || { echo "route-config: cannot resolve $host" >&2; exit 1; }
path=$(ip -4 route get "$server" 2>/dev/null | head -1)
gateway=$(sed -n 's/.* via \([^ ]*\).*/\1/p' <<<"$path")
device=$(sed -n 's/.* dev \([^ ]*\).*/\1/p' <<<"$path")
if [ -n "$gateway" ] && [ -n "$device" ] && [ "$device" != "$name" ]; then
    ip route replace "$server/32" via "$gateway" dev "$device" proto "$proto" || exit 1
fi
ip route replace 0.0.0.0/1 dev "$name" proto "$proto" &&
    ip route replace 128.0.0.0/1 dev "$name" proto "$proto" || exit 1
echo "route-config: routes through $name, server $server direct"
