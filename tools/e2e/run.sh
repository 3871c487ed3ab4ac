#!/bin/bash
# End-to-end test with real traffic: ordinary Linux programs (ping, curl, a UDP client) in the
# engineer's network namespace reach real servers in the site's namespace through the client
# under Wine, its relay and the reference service (the set-up is described in lib.sh).
#
# Usage: tools/e2e/run.sh [--client window|session] [--keep-logs]
#   window   the real client (build/windows/demo/Ostrevane.Client.exe), driven through its window
#   session  tools/e2e/e2e_session.exe: the same operations without the window
# Needs root (namespaces, TUN devices); otherwise it says so and exits 0. Needs the Windows build.
# Ends with "N passed, N failed" and exits non-zero when a check failed. Every wait is bounded;
# namespaces, devices, processes and Wine are cleaned up on every path.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
e2e_require_root e2e

CLIENT=window
KEEP_LOGS=0
usage() { echo "usage: $0 [--client window|session] [--keep-logs]" >&2; exit 2; }
while [[ $# -gt 0 ]]; do
    case "$1" in
        --client) [[ $# -ge 2 ]] || usage; CLIENT=$2; shift 2 ;;
        --keep-logs) KEEP_LOGS=1; shift ;;
        *) usage ;;
    esac
done
source "$E2E_ROOT/tools/e2e/client_$CLIENT.sh" 2>/dev/null || { echo "e2e: unknown client $CLIENT" >&2; exit 2; }

PASSED=0
FAILED=0
CA_TRUSTED=0
BIG_FILE=file10m.bin
SMALL_FILE=file1m.bin

check() {
    local name=$1; shift
    if "$@"; then
        PASSED=$((PASSED + 1)); echo "PASS $name"
    else
        FAILED=$((FAILED + 1)); echo "FAIL $name"
    fi
}

finish() {
    local status=$?
    trap - EXIT INT TERM
    client_stop
    (( CA_TRUSTED )) && e2e_trust_ca --remove
    e2e_cleanup
    if (( FAILED == 0 && status == 0 && KEEP_LOGS == 0 )); then
        rm -rf "$E2E_LOG"
    else
        echo "e2e: logs kept in $E2E_LOG" >&2
    fi
}
trap finish EXIT
trap 'exit 130' INT TERM

E2E_LOG=$(mktemp -d /tmp/ostrevane-e2e.XXXXXX)
e2e_lock

# --- predicates ------------------------------------------------------------------------------
CONNECTION_ID=""

current_connection() {
    e2e_state '([c["connectionId"] for c in s["connections"] if not c["ended"]] or [""])[-1]'
}
relay_live() {
    [[ $(e2e_state "sum(c['liveRelays'] for c in s['connections'] if c['connectionId'] == '$CONNECTION_ID')") -ge 1 ]]
}
# The connection's live relay sessions, as a Python list of their ids.
live_sessions() {
    e2e_state "sorted(r['sessionId'] for r in s['relay']['live'] if r['connectionId'] == '$CONNECTION_ID')"
}
# relay_ended SESSIONS: none of the sessions (live_sessions from before) is live any more. Unlike
# "no relay is live", this stays true once the client has reconnected, however soon that is.
relay_ended() {
    [[ $1 == "["*"]" && $1 != "[]" ]] &&
        [[ $(e2e_state "any(r['sessionId'] in $1 for r in s['relay']['live'])") == False ]]
}
# The service sees the relay a moment before the client has read the upgrade's answer: wait for both.
wait_online() { e2e_wait_for "$1" relay_live && e2e_wait_for "$1" client_online; }
counter() { e2e_state "s['packets']['stats'].get('$1', 0)"; }
upgrades() { e2e_state "len([a for a in s['relay']['upgradeAttempts'] if a['status'] == 101])"; }

file_holds() { (( $(stat -c %s "$1" 2>/dev/null || echo 0) >= $2 )); }

filter_has_range() { grep -qF "ip.DstAddr >= $1 and ip.DstAddr <= $2" "$E2E_LOG/capture-filter.txt"; }

proxy_has() {
    local value; value=$(e2e_proxy_override)
    echo "ProxyOverride: $value" >>"$E2E_LOG/checks.txt"
    [[ ";$value;" == *";$1;"* ]]
}
proxy_is() {
    local value; value=$(e2e_proxy_override)
    echo "ProxyOverride: $value" >>"$E2E_LOG/checks.txt"
    [[ "$value" == "$1" ]]
}

pings() { e2e_in_eng ping -c 3 -i 0.3 -W 2 "$1" >>"$E2E_LOG/checks.txt" 2>&1; }

# fetch HOST FILE: the file through the tunnel, compared with the site's copy.
fetch() {
    local got
    got=$(e2e_in_eng curl -sS --max-time 60 "http://$1:$HTTP_PORT/$2" 2>>"$E2E_LOG/checks.txt" | sha256sum | cut -d' ' -f1)
    echo "fetch $1/$2: $got" >>"$E2E_LOG/checks.txt"
    [[ "$got" == "$(sha256sum "$E2E_LOG/www/$2" | cut -d' ' -f1)" ]]
}

udp_echo() {
    e2e_in_eng "$E2E_PYTHON" "$E2E_ROOT/tools/e2e/udp_probe.py" "$1" "$UDP_PORT" --count "$2" --size 300 \
        >>"$E2E_LOG/checks.txt" 2>&1
}

# udp_took PATH N BEFORE_UDP BEFORE_WS: at least N more client packets came over PATH (udp or ws)
# and none more over the other one.
udp_took() {
    local udp ws; udp=$(counter fromClient.udp); ws=$(counter fromClient.ws)
    echo "fromClient.udp $3 -> $udp, fromClient.ws $4 -> $ws" >>"$E2E_LOG/checks.txt"
    if [[ $1 == udp ]]; then
        (( udp - $3 >= $2 ))
    else
        (( ws - $4 >= $2 && udp == $3 ))
    fi
}

settings_cleared() {
    local file; file=$(e2e_settings_file)
    [[ -n "$file" ]] || return 1
    cp "$file" "$E2E_LOG/settings-after-disconnect.json"
    "$E2E_PYTHON" - "$file" <<'EOF'
import json, sys
raw = open(sys.argv[1], "rb").read()
state = json.loads(raw.decode("utf-8-sig"))
wanted = {"connectionId": "", "assignedAddress": "", "routesText": "", "targetNetwork": "ALL"}
found = {key: state.get(key) for key in wanted}
print("settings after disconnect:", found)
sys.exit(0 if found == wanted else 1)
EOF
}

# relay_dropped_during_transfer LABEL: the relay dropped (close-relays fault) while curl fetches
# the 10 MB file; the tunnel comes back by itself over a new relay, and new TCP flows and ping work
# (the interrupted transfer itself ends: flows from before a reconnection are not translated back).
relay_dropped_during_transfer() {
    local before transfer transfer_status sessions
    before=$(upgrades)
    rm -f "$E2E_LOG/interrupted.bin"  # an earlier transfer's file would pass for this one's progress
    e2e_in_eng curl -sS --max-time 30 --speed-limit 1 --speed-time 6 --limit-rate 2M \
        -o "$E2E_LOG/interrupted.bin" "http://$HOST_DIRECT:$HTTP_PORT/$BIG_FILE" 2>"$E2E_LOG/interrupted.err" &
    transfer=$!
    # In the middle of the transfer: a megabyte has arrived (of ten, at 2 MB/s).
    e2e_wait_for 20 file_holds "$E2E_LOG/interrupted.bin" 1048576 ||
        echo "the interrupted transfer$1 had not got under way" >>"$E2E_LOG/checks.txt"
    sessions=$(live_sessions)
    e2e_admin POST /admin/fault '{"name": "close-relays"}' >>"$E2E_LOG/checks.txt"
    check "the relay went down$1" e2e_wait_for 5 relay_ended "$sessions"
    check "the tunnel comes back online by itself$1" wait_online 30
    check "the client reconnected over a new relay$1" test "$(upgrades)" -gt "$before"
    wait "$transfer"; transfer_status=$?
    echo "interrupted transfer$1: curl exit $transfer_status, $(stat -c %s "$E2E_LOG/interrupted.bin" 2>/dev/null || echo 0) bytes" \
        | tee -a "$E2E_LOG/checks.txt"
    check "new TCP flows work after the reconnection$1" fetch "$HOST_REMAPPED" "$SMALL_FILE"
    check "ping works after the reconnection$1" pings "$HOST_DIRECT"
}

connection_ended() {
    [[ $(e2e_state "[(c['ended'], c['endReason'], c['liveRelays']) for c in s['connections'] if c['connectionId'] == '$CONNECTION_ID']") \
        == "[(True, '本地客户端断开连接', 0)]" ]]
}

# --- set-up ----------------------------------------------------------------------------------
client_check_build || exit 1
e2e_log "namespaces, site servers, service, bridge"
e2e_make_namespaces || { echo "e2e: cannot make the namespaces" >&2; exit 1; }
e2e_make_site_file "$BIG_FILE" 10485760 >/dev/null && e2e_make_site_file "$SMALL_FILE" 1048576 >/dev/null || exit 1
e2e_start_site || { echo "e2e: the site servers did not start" >&2; exit 1; }
e2e_start_service || { echo "e2e: the reference service did not start" >&2; cat "$E2E_LOG/service.err" >&2; exit 1; }
e2e_start_bridge || { echo "e2e: the TUN bridge did not start" >&2; cat "$E2E_LOG/bridge.err" >&2; exit 1; }
e2e_log "Wine in $NS_ENG"
e2e_start_wine || { echo "e2e: Wine did not start in $NS_ENG" >&2; exit 1; }

# A clean client: no settings file, and one foreign proxy exception that must survive the session.
rm -f "$(e2e_settings_file)"
e2e_in_eng_wine timeout 60 "$E2E_ROOT/tools/wine-run" reg add \
    'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' /v ProxyOverride /t REG_SZ /d '<local>' /f \
    >/dev/null 2>&1

# --- connect ---------------------------------------------------------------------------------
e2e_log "connecting the $CLIENT client"
client_start
check "client connects and comes online" client_connect
if (( FAILED )); then
    echo "e2e: the client did not come online; the checks that need the tunnel are not run" >&2
    echo "e2e: $PASSED passed, $FAILED failed"
    exit 1
fi
CONNECTION_ID=$(current_connection)
check "the service holds a live relay for the connection $CONNECTION_ID" wait_online 10
e2e_in_eng "$E2E_PYTHON" "$E2E_ROOT/tools/e2e/tun_bridge.py" --query "$BRIDGE_PORT" >"$E2E_LOG/bridge-state.json" 2>&1
"$E2E_PYTHON" -c "import json,sys; print(json.load(open(sys.argv[1]))['captureFilter'] or '')" \
    "$E2E_LOG/bridge-state.json" >"$E2E_LOG/capture-filter.txt" 2>/dev/null
check "the colliding site network 192.168.1.0/24 is diverted as 100.80.0.0/24" filter_has_range 100.80.0.0 100.80.0.255
check "the site network 10.20.0.0/16 keeps its addresses" filter_has_range 10.20.0.0 10.20.255.255
check "the site networks are in the proxy bypass while connected" proxy_has '192.168.1.*'
check "the proxy bypass holds 10.20.*" proxy_has '10.20.*'

# --- traffic ---------------------------------------------------------------------------------
e2e_log "ping, TCP and UDP through the tunnel"
check "ping $HOST_REMAPPED (remapped site device)" pings "$HOST_REMAPPED"
check "ping $HOST_DIRECT" pings "$HOST_DIRECT"
check "curl of a 10 MB file from $HOST_REMAPPED, checksum equal" fetch "$HOST_REMAPPED" "$BIG_FILE"
check "curl of a 1 MB file from $HOST_DIRECT, checksum equal" fetch "$HOST_DIRECT" "$SMALL_FILE"
udp0=$(counter fromClient.udp); ws0=$(counter fromClient.ws)
check "UDP echo from $HOST_REMAPPED" udp_echo "$HOST_REMAPPED" 20
check "UDP echo from $HOST_DIRECT" udp_echo "$HOST_DIRECT" 20
check "the UDP datagrams took the UDP path" udp_took udp 40 "$udp0" "$ws0"

# --- relay dropped in the middle of a transfer -------------------------------------------------
e2e_log "relay dropped during a transfer"
relay_dropped_during_transfer ""
check "UDP works after the reconnection" udp_echo "$HOST_DIRECT" 10

# --- UDP over the WebSocket when the relay ignores hellos -------------------------------------
e2e_log "UDP over the WebSocket"
e2e_admin POST /admin/fault '{"name": "ignore-hellos"}' >>"$E2E_LOG/checks.txt"
sessions=$(live_sessions)
e2e_admin POST /admin/fault '{"name": "close-relays"}' >>"$E2E_LOG/checks.txt"
check "the relay went down again" e2e_wait_for 5 relay_ended "$sessions"
check "the tunnel is online again without a UDP path" wait_online 30
udp0=$(counter fromClient.udp); ws0=$(counter fromClient.ws)
check "UDP echo from $HOST_REMAPPED without a UDP path" udp_echo "$HOST_REMAPPED" 20
check "UDP echo from $HOST_DIRECT without a UDP path" udp_echo "$HOST_DIRECT" 20
check "the UDP datagrams took the WebSocket" udp_took ws 40 "$udp0" "$ws0"
check "the relay left the client's hellos unanswered" test "$(e2e_state "s['udp']['stats'].get('ignoredHellos', 0)")" -ge 1
e2e_admin POST /admin/fault '{"name": "clear"}' >>"$E2E_LOG/checks.txt"

# --- disconnect ------------------------------------------------------------------------------
e2e_log "disconnecting"
check "the client disconnects" client_disconnect
check "the service saw the disconnect" e2e_wait_for 10 connection_ended
check "no proxy entry of the session is left" proxy_is '<local>'
check "the settings file holds no session" settings_cleared
client_after_disconnect_checks

# --- the same client over https and wss --------------------------------------------------------
# The service again, in TLS mode with a throw-away certificate for localhost and 127.0.0.1, whose
# CA the client's prefix trusts for the time of the run. The client is given the base URL
# https://localhost:PORT (Wine matches a certificate's DNS names only). With the encrypted relay
# no UDP path is negotiated: every packet, UDP included, travels in the wss relay.
e2e_log "the service in TLS mode, the client over https and wss"
e2e_stop service
"$E2E_ROOT/tools/tls/make-test-pki.sh" "$E2E_LOG/pki" >/dev/null || { echo "e2e: no test PKI" >&2; exit 1; }
E2E_CA="$E2E_LOG/pki/ca.pem"
e2e_trust_ca && CA_TRUSTED=1
check "the client's Wine prefix trusts the test CA" test "$CA_TRUSTED" -eq 1
e2e_start_service --tls-cert "$E2E_LOG/pki/server.pem" --tls-key "$E2E_LOG/pki/server.key" ||
    { echo "e2e: the reference service did not start in TLS mode" >&2; cat "$E2E_LOG/service.err" >&2; exit 1; }
CLIENT_URL="https://localhost:$SERVICE_PORT"
client_start
failed_before=$FAILED
check "the client connects over https and wss and comes online" client_connect
if (( FAILED == failed_before )); then
    CONNECTION_ID=$(current_connection)
    check "the service holds a live wss relay for the connection $CONNECTION_ID" wait_online 10
    check "ping $HOST_REMAPPED over wss" pings "$HOST_REMAPPED"
    check "curl of a 10 MB file from $HOST_REMAPPED over wss, checksum equal" fetch "$HOST_REMAPPED" "$BIG_FILE"
    udp0=$(counter fromClient.udp); ws0=$(counter fromClient.ws)
    check "UDP echo from $HOST_DIRECT over wss" udp_echo "$HOST_DIRECT" 20
    check "the UDP datagrams took the wss relay" udp_took ws 20 "$udp0" "$ws0"
    check "no UDP hello reached the relay" test "$(e2e_state "s['udp']['stats'].get('hellos', 0)")" -eq 0
    e2e_log "relay dropped during a transfer over wss"
    relay_dropped_during_transfer " (wss)"
    check "the client disconnects over https" client_disconnect
    check "the service saw the disconnect over https" e2e_wait_for 10 connection_ended
fi
client_stop
e2e_trust_ca --remove && CA_TRUSTED=0
check "the prefix no longer trusts the test CA" test "$CA_TRUSTED" -eq 0

echo "e2e: $PASSED passed, $FAILED failed"
(( FAILED == 0 ))
