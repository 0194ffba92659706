#!/bin/bash
# Run with network privileges: programs come from the system folders only, never from the caller's PATH.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH
# Takes the Outline tunnel down: stops our tun2socks (which removes its own table and interface
# on the way out) and then removes whatever a killed one left behind: the nftables table
# "inet tavrixvpn_outline", the interface "TavrixVPN", our routes (protocol 85) and the UDP rule
# with its table (85). Harmless when
# nothing is up; always exits 0.
set -u
here=$(cd "$(dirname "$0")" && pwd)

ours() {
    local dir pid
    for dir in /proc/[0-9]*; do
        pid=${dir#/proc/}
        [ "$pid" = "$$" ] && continue
        { IFS= read -r -d '' a0; IFS= read -r -d '' a1; } 2>/dev/null <"$dir/cmdline"
        [ "${a0:-}" = "$here/tun2socks" ] || [ "${a1:-}" = "$here/tun2socks" ] && echo "$pid"
        a0= a1=
    done 2>/dev/null
}

pids=$(ours | tr '\n' ' ')
if [ -n "$pids" ]; then
    kill -TERM $pids 2>/dev/null
    for _ in $(seq 100); do
        left=
        for pid in $pids; do
            [ -d "/proc/$pid" ] && ! grep -q '^[^)]*) Z' "/proc/$pid/stat" 2>/dev/null && left="$left $pid"
        done
        [ -z "$left" ] && break
        sleep 0.05
    done
    [ -n "${left:-}" ] && kill -KILL $left 2>/dev/null
fi
# A tunnel started meanwhile (a switch of server reconnects at once) owns the table, the
# interface and the routes now: they are not ours to remove.
for pid in $(ours); do
    case " $pids " in
        *" $pid "*) ;;
        *) exit 0 ;;
    esac
done
nft delete table inet tavrixvpn_outline 2>/dev/null
while ip rule del fwmark 0x5456 lookup 85 2>/dev/null; do :; done
ip route flush table 85 2>/dev/null
ip link del TavrixVPN 2>/dev/null
ip route flush proto 85 2>/dev/null
exit 0
