#!/bin/bash
# Benchmark (not a test): TCP throughput and ping round-trip time between the engineer's and the
# site's namespaces, through the tunnel (client under Wine, relay, reference service, TUN site;
# set-up in lib.sh) over ws:// and then over wss:// (the service in TLS mode), and over a direct
# veth pair between the same two namespaces, with the ratios. Also the CPU seconds each part of
# the tunnel spent during the ws:// tunnel's transfers.
#
# Usage: tools/e2e/benchmark.sh [--client session|window] [--seconds N]
# Needs root and the Windows build; uses iperf3 and ping. Everything measured runs at nice -10 so
# that other work on the machine disturbs the figures less; the load average is printed with them.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
e2e_require_root benchmark
command -v iperf3 >/dev/null || { echo "benchmark: iperf3 is missing: run tools/setup.sh" >&2; exit 1; }

CLIENT=session
SECONDS_PER_RUN=10
usage() { echo "usage: $0 [--client session|window] [--seconds N]" >&2; exit 2; }
while [[ $# -gt 0 ]]; do
    case "$1" in
        --client) [[ $# -ge 2 ]] || usage; CLIENT=$2; shift 2 ;;
        --seconds) [[ $# -ge 2 ]] || usage; SECONDS_PER_RUN=$2; shift 2 ;;
        *) usage ;;
    esac
done
source "$E2E_ROOT/tools/e2e/client_$CLIENT.sh" 2>/dev/null || { echo "benchmark: unknown client $CLIENT" >&2; exit 2; }
check() { shift; "$@"; }  # the client's own checks are not the point here

VETH_ENG=ove-eng-v
VETH_SITE=ove-site-v
DIRECT_SITE=10.99.0.2
IPERF_PORT=5201

CA_TRUSTED=0
finish() {
    trap - EXIT INT TERM
    client_stop
    (( CA_TRUSTED )) && e2e_trust_ca --remove
    e2e_cleanup
    rm -rf "$E2E_LOG"
}
trap finish EXIT
trap 'exit 130' INT TERM
E2E_LOG=$(mktemp -d /tmp/ostrevane-bench.XXXXXX)
e2e_lock

fail() { echo "benchmark: $*" >&2; exit 1; }

client_check_build || exit 1
e2e_make_namespaces || fail "cannot make the namespaces"
# The direct path: a veth pair between the same two namespaces, a network of its own.
ip link add "$VETH_ENG" netns "$NS_ENG" type veth peer name "$VETH_SITE" netns "$NS_SITE" || fail "no veth pair"
ip -n "$NS_ENG" addr add 10.99.0.1/30 dev "$VETH_ENG" && ip -n "$NS_ENG" link set "$VETH_ENG" up || fail "veth"
ip -n "$NS_SITE" addr add "$DIRECT_SITE/30" dev "$VETH_SITE" && ip -n "$NS_SITE" link set "$VETH_SITE" up || fail "veth"
mkdir -p "$E2E_LOG/www"
e2e_start_site || fail "the site servers did not start"
e2e_start_service || fail "the reference service did not start"
e2e_start_bridge || fail "the TUN bridge did not start"
e2e_start_wine || fail "Wine did not start"
e2e_start iperf "$NS_SITE" iperf3 -s -p "$IPERF_PORT"
e2e_wait_for 10 e2e_in_eng bash -c "exec 3<>/dev/tcp/$DIRECT_SITE/$IPERF_PORT" || fail "iperf3 server"
rm -f "$(e2e_settings_file)"
client_start
client_connect || fail "the client did not come online"

# pid list of the tunnel's parts: name=pid ...
parts() {
    local wine_pids
    wine_pids=$(pgrep -d, -f 'e2e_session.exe|Ostrevane.Client.exe' | tr ',' ' ')
    echo "bridge=$PID_bridge service=$PID_service"
    local p; for p in $wine_pids; do echo "client=$p"; done
    for p in $(ip netns pids "$NS_ENG"); do
        [[ "$(cat /proc/"$p"/comm 2>/dev/null)" == wineserver* ]] && echo "wineserver=$p"
    done
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }

declare -A CPU_BEFORE CPU_SPENT
cpu_mark() {
    local entry; for entry in $(parts); do CPU_BEFORE[$entry]=$(cpu_ticks "${entry#*=}"); done
}
cpu_add() {
    local entry name; for entry in $(parts); do
        name=${entry%%=*}
        CPU_SPENT[$name]=$(( ${CPU_SPENT[$name]:-0} + $(cpu_ticks "${entry#*=}") - ${CPU_BEFORE[$entry]:-0} ))
    done
}

# iperf HOST [-R]: received throughput in MB/s (10^6 bytes per second).
iperf() {
    e2e_in_eng nice -n -10 iperf3 -c "$1" -p "$IPERF_PORT" -t "$SECONDS_PER_RUN" -J "${@:2}" 2>/dev/null |
        "$E2E_PYTHON" -c "import json,sys; d=json.load(sys.stdin); print('%.2f' % (d['end']['sum_received']['bits_per_second'] / 8e6))" \
        2>/dev/null || echo 0
}
# rtt HOST: average round trip in ms over 30 pings.
rtt() {
    e2e_in_eng nice -n -10 ping -q -c 30 -i 0.1 -W 2 "$1" 2>/dev/null | sed -nE 's|^rtt .* = [0-9.]+/([0-9.]+)/.*|\1|p' | grep . || echo 0
}
# calls BEFORE AFTER outbound|inbound: platform calls per packet between two counter lines.
calls() {
    "$E2E_PYTHON" - "$1" "$2" "$3" <<'PY' 2>/dev/null || echo n/a
import sys
def parse(line):
    return {k: float(v) for k, v in (pair.split("=") for pair in line.split())}
before, after, way = parse(sys.argv[1]), parse(sys.argv[2]), sys.argv[3]
d = {k: after[k] - before.get(k, 0) for k in after}
if way == "dropped":
    print("%d" % d["dropped"])
    sys.exit(0)
if way == "outbound":
    calls, packets = d["divertRecv"] + d["relaySend"] + d["udpSend"], d["captured"]
else:
    calls, packets = d["relayRecv"] + d["udpRecv"] + d["divertSend"], d["injected"]
print("%.2f" % (calls / packets) if packets else "n/a")
PY
}
# measured_iperf NAME HOST [-R]: sets NAME (MB/s), NAME_out and NAME_in (platform calls per
# outbound and inbound packet) and NAME_dropped (packets the tunnel lost) for one transfer.
measured_iperf() {
    local before after result
    before=$(client_counters || echo "")
    result=$(iperf "${@:2}")
    after=$(client_counters || echo "")
    printf -v "$1" '%s' "$result"
    local way mode; for way in out in dropped; do
        case $way in out) mode=outbound ;; in) mode=inbound ;; *) mode=dropped ;; esac
        if [[ -n "$before" && -n "$after" ]]; then
            printf -v "${1}_$way" '%s' "$(calls "$before" "$after" "$mode")"
        else
            printf -v "${1}_$way" 'n/a'
        fi
    done
}
ratio() { "$E2E_PYTHON" -c "a,b=float('$1'),float('$2'); print('%.4f' % (a/b) if b else 'n/a')"; }

# Every thread in the two namespaces (Wine's included) at a higher priority.
for pid in $(ip netns pids "$NS_ENG") $(ip netns pids "$NS_SITE"); do
    for task in /proc/"$pid"/task/*; do renice -n -10 -p "${task##*/}" >/dev/null 2>&1; done
done
e2e_log "measuring ($SECONDS_PER_RUN s per transfer)"
# Wait for the relay's UDP path and a quiet tunnel before measuring.
sleep 2
rtt_tunnel=$(rtt "$HOST_DIRECT")
rtt_tunnel_mapped=$(rtt "$HOST_REMAPPED")
rtt_direct=$(rtt "$DIRECT_SITE")
cpu_mark
measured_iperf up_tunnel "$HOST_DIRECT"
measured_iperf down_tunnel "$HOST_DIRECT" -R
cpu_add
up_direct=$(iperf "$DIRECT_SITE")
down_direct=$(iperf "$DIRECT_SITE" -R)

# The same tunnel over wss://: the service again in TLS mode, its test CA trusted by the client's
# prefix for the run, the client given https://localhost:PORT.
e2e_log "the same over wss"
client_disconnect >/dev/null 2>&1
client_stop
e2e_stop service
"$E2E_ROOT/tools/tls/make-test-pki.sh" "$E2E_LOG/pki" >/dev/null || fail "no test PKI"
E2E_CA="$E2E_LOG/pki/ca.pem"
e2e_trust_ca && CA_TRUSTED=1 || fail "the client's prefix does not trust the test CA"
e2e_start_service --tls-cert "$E2E_LOG/pki/server.pem" --tls-key "$E2E_LOG/pki/server.key" ||
    fail "the reference service did not start in TLS mode"
CLIENT_URL="https://localhost:$SERVICE_PORT"
client_start
client_connect || fail "the client did not come online over wss"
for pid in $(ip netns pids "$NS_ENG"); do
    for task in /proc/"$pid"/task/*; do renice -n -10 -p "${task##*/}" >/dev/null 2>&1; done
done
sleep 2
rtt_secure=$(rtt "$HOST_DIRECT")
measured_iperf up_secure "$HOST_DIRECT"
measured_iperf down_secure "$HOST_DIRECT" -R

ticks=$(getconf CLK_TCK)
echo
echo "Ostrevane tunnel benchmark ($(date -u +%Y-%m-%dT%H:%MZ), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), client: $CLIENT)"
printf '%-44s %12s %12s %10s\n' "measure" "tunnel" "direct" "ratio"
printf '%-44s %12s %12s %10s\n' "TCP engineer -> site (MB/s)" "$up_tunnel" "$up_direct" "$(ratio "$up_tunnel" "$up_direct")"
printf '%-44s %12s %12s %10s\n' "TCP site -> engineer (MB/s)" "$down_tunnel" "$down_direct" "$(ratio "$down_tunnel" "$down_direct")"
printf '%-44s %12s %12s %10s\n' "ping round trip, average (ms)" "$rtt_tunnel" "$rtt_direct" "$(ratio "$rtt_tunnel" "$rtt_direct")"
printf '%-44s %12s\n' "ping round trip to the remapped device (ms)" "$rtt_tunnel_mapped"
printf '%-44s %12s\n' "round trip added by the tunnel (ms)" \
    "$("$E2E_PYTHON" -c "print('%.3f' % (float('$rtt_tunnel') - float('$rtt_direct')))")"
echo
printf '%-44s %12s %12s %10s\n' "measure" "wss tunnel" "ws tunnel" "wss/ws"
printf '%-44s %12s %12s %10s\n' "TCP engineer -> site (MB/s)" "$up_secure" "$up_tunnel" "$(ratio "$up_secure" "$up_tunnel")"
printf '%-44s %12s %12s %10s\n' "TCP site -> engineer (MB/s)" "$down_secure" "$down_tunnel" "$(ratio "$down_secure" "$down_tunnel")"
printf '%-44s %12s %12s %10s\n' "ping round trip, average (ms)" "$rtt_secure" "$rtt_tunnel" "$(ratio "$rtt_secure" "$rtt_tunnel")"
echo
echo "Platform calls per tunnelled packet (WinDivert receives and sends, relay and UDP socket calls;"
echo "outbound: capture and send per packet captured, inbound: receive and inject per packet injected):"
printf '%-44s %12s %12s %12s %12s\n' "transfer" "ws out" "ws in" "wss out" "wss in"
printf '%-44s %12s %12s %12s %12s\n' "TCP engineer -> site" "$up_tunnel_out" "$up_tunnel_in" "$up_secure_out" "$up_secure_in"
printf '%-44s %12s %12s %12s %12s\n' "TCP site -> engineer" "$down_tunnel_out" "$down_tunnel_in" "$down_secure_out" "$down_secure_in"
printf '%-44s %12s %12s %12s %12s\n' "packets lost by the tunnel (up, down)" "$up_tunnel_dropped" "$down_tunnel_dropped" \
    "$up_secure_dropped" "$down_secure_dropped"
echo
megabytes=$("$E2E_PYTHON" -c "print(($up_tunnel + $down_tunnel) * $SECONDS_PER_RUN)")
echo "CPU spent during the two ws:// tunnel transfers ($((2 * SECONDS_PER_RUN)) s of wall time, $megabytes MB):"
printf '  %-12s %10s %12s\n' part seconds "ms per MB"
for name in client wineserver bridge service; do
    "$E2E_PYTHON" -c "t=${CPU_SPENT[$name]:-0}/$ticks; print('  %-12s %10.1f %12.0f' % ('$name', t, 1000*t/max($megabytes, 0.001)))"
done
