#!/bin/bash
# Compares the networks the client finds under Wine with the IPv4 networks of the Linux interfaces
# that are up (loopback and link-local left out), ignoring order.
set -euo pipefail
wine_run="$1"; program="$2"
expected=$(ip -4 -o addr show up | awk '{print $4}' | while read -r cidr; do
    addr=${cidr%/*}; prefix=${cidr#*/}
    IFS=. read -r a b c d <<<"$addr"
    value=$(( (a<<24)|(b<<16)|(c<<8)|d ))
    (( a == 127 )) && continue
    (( a == 169 && b == 254 )) && continue
    mask=$(( prefix == 0 ? 0 : (0xFFFFFFFF << (32-prefix)) & 0xFFFFFFFF ))
    net=$(( value & mask ))
    echo "$(( (net>>24)&255 )).$(( (net>>16)&255 )).$(( (net>>8)&255 )).$(( net&255 ))/$prefix"
done | sort)
actual=$("$wine_run" "$program" | tr -d '\r' | sort)
echo "ip addr: ${expected:-<none>}"
echo "client:  ${actual:-<none>}"
[[ "$expected" == "$actual" ]]
