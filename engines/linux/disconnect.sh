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

# Our tunnel programs and their Shadowsocks helpers (these carry its path as their name).
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

# When a process started, in clock ticks since boot; empty once it has ended (or is a zombie,
# which holds nothing any more).
started() {
    local stat rest
    IFS= read -r stat 2>/dev/null <"/proc/$1/stat" || return
    rest=${stat##*) }
    set -- $rest
    [ "$1" = Z ] || echo "${20}"
}
me=$(started $$)

# Everything of ours that was there when this script started goes. The look is repeated: a
# program in the middle of starting (or of re-executing itself) shows no command line for a
# moment, and a tunnel's helpers may appear after it was signalled.
signalled=' '
for round in $(seq 120); do
    left=
    for pid in $(ours); do
        since=$(started "$pid")
        [ -n "$since" ] && [ "$since" -le "$me" ] && left="$left $pid"
    done
    [ -z "$left" ] && break
    for pid in $left; do
        case "$signalled" in
            # One TERM each (a second one would cut its clean-up short); KILL after 5 s.
            *" $pid "*) [ "$round" -ge 100 ] && kill -KILL "$pid" 2>/dev/null ;;
            *) kill -TERM "$pid" 2>/dev/null; signalled="$signalled$pid " ;;
        esac
    done
    sleep 0.05
done
# A tunnel started after this script (a switch of server reconnects at once) owns the table,
# the interface and the routes now: they are not ours to remove.
for pid in $(ours); do
    since=$(started "$pid")
    [ -n "$since" ] && [ "$since" -gt "$me" ] && exit 0
done
nft delete table inet tavrixvpn_outline 2>/dev/null
while ip rule del fwmark 0x5456 lookup 85 2>/dev/null; do :; done
ip route flush table 85 2>/dev/null
ip link del TavrixVPN 2>/dev/null
ip route flush proto 85 2>/dev/null
exit 0
