#!/bin/sh
# Kill switch, off: removes our own nftables table and nothing else. Creating it first makes
# the removal one transaction that succeeds whether or not the block was in place.
set -eu
PATH=/usr/sbin:/usr/bin:/sbin:/bin
nft -f - <<'RULES'
table inet tavrixvpn
delete table inet tavrixvpn
RULES
echo "kill switch: firewall rules reset"
