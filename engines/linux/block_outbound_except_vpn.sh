#!/bin/sh
# Kill switch, on: nothing leaves this machine except through a tunnel. One nftables table of
# our own, replaced in a single transaction, so there is never a moment with half a rule set.
# Kept: loopback, the tunnel interfaces, DHCP (so the link keeps its address) and IPv6
# neighbour discovery (IPv6's ARP). No exception for established flows: a connection opened
# before the tunnel dropped must not go on in the clear. DNS is not excepted either, so it
# can only leave through a tunnel.
set -eu
PATH=/usr/sbin:/usr/bin:/sbin:/bin
nft -f - <<'RULES'
table inet tavrixvpn
delete table inet tavrixvpn
table inet tavrixvpn {
    chain output {
        type filter hook output priority -10; policy drop;
        oifname "lo" accept
        oifname { "tun*", "wg*", "TavrixVPN" } accept
        meta nfproto ipv4 udp sport 68 udp dport 67 accept
        meta nfproto ipv6 udp sport 546 udp dport 547 accept
        icmpv6 type { nd-router-solicit, nd-neighbor-solicit, nd-neighbor-advert } ip6 hoplimit 255 accept
        counter reject with icmpx type admin-prohibited
    }
}
RULES
echo "kill switch: outbound traffic blocked except through the tunnel"
