# Shared by run.sh and benchmark.sh (sourced, not run): the two network namespaces, the site's
# servers, the reference service with its TUN site, the bridge to the driver stand-in, Wine and
# Xvfb inside the engineer's namespace, and the clean-up of all of it.
#
# The engineer's machine is the namespace ove-eng: its only network is the TUN device ove-eng0
# (192.168.1.50/24, the engineer's LAN), whose packets tun_bridge.py hands to the client under
# Wine; the client, Wine's server, the reference service and the bridge all live there and talk
# over its loopback. The site is the namespace ove-site: the service's TUN site owns ove-site0,
# which holds the site's device addresses 192.168.1.10 and 10.20.0.10. The site network
# 192.168.1.0/24 collides with the engineer's LAN, so the client reaches it through a mapping
# network (100.80.0.0/24: the device is 100.80.0.10); 10.20.0.0/16 collides with nothing.

E2E_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$E2E_ROOT/tools/process.sh"
E2E_PYTHON=/usr/bin/python3
E2E_WINE=/usr/lib/wine/wine64
E2E_WINESERVER=/usr/lib/wine/wineserver
E2E_BUILD="${OSTREVANE_BUILD_DIR:-$E2E_ROOT/build/windows}"

NS_ENG=ove-eng
NS_SITE=ove-site
TUN_ENG=ove-eng0
TUN_SITE=ove-site0
ENG_ADDRESS=192.168.1.50/24
SITE_ADDRESSES=(192.168.1.10/24 10.20.0.10/16)
SITE_ROUTES_ON_ENG=(100.80.0.0/12 10.20.0.0/16)
ADDRESS_POOL=100.64.0.0/16
HOST_REMAPPED=100.80.0.10      # 192.168.1.10 as the engineer's programs reach it
HOST_DIRECT=10.20.0.10
HTTP_PORT=8080
UDP_PORT=9007
ACCESS_KEY=OVK-E2E-4D2B-90A7-31C6

E2E_PIDS=()
E2E_LOG=""
SERVICE_URL=""     # as the service names itself: http://127.0.0.1:PORT, or https:// in TLS mode
SERVICE_PORT=""
E2E_CA=""          # in TLS mode: the test CA that the admin calls and the client's prefix trust
BRIDGE_PORT=""
E2E_DISPLAY=""

e2e_log() { printf '[e2e %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }

# Exits 0 with a message unless run as root: namespaces and TUN devices need it.
e2e_require_root() {
    if [[ $(id -u) -ne 0 ]]; then
        echo "$1: skipped: needs root (network namespaces and TUN devices)"
        exit 0
    fi
    for tool in ip curl ping xdotool Xvfb; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "$1: $tool is missing: run tools/setup.sh" >&2
            exit 1
        fi
    done
}

# One run at a time on this machine: the namespace names are fixed.
e2e_lock() {
    exec 8>/run/ostrevane-e2e.lock
    if ! flock -w 60 8; then
        echo "e2e: another end-to-end run holds /run/ostrevane-e2e.lock" >&2
        # The namespaces and processes belong to that run: leave them to it.
        trap - EXIT INT TERM
        [[ -n ${E2E_LOG:-} ]] && rm -rf "$E2E_LOG"
        exit 1
    fi
}

# e2e_wait_for SECONDS COMMAND...: true once COMMAND succeeds, polled every 0.1 s.
e2e_wait_for() {
    local deadline=$((SECONDS + $1)); shift
    while ! "$@" >/dev/null 2>&1; do
        (( SECONDS < deadline )) || return 1
        sleep 0.1
    done
}

# e2e_start NAME NETNS COMMAND...: runs COMMAND in the namespace in the background, its output in
# the log folder; the pid (ip netns exec replaces itself by COMMAND) is remembered for the clean-up.
e2e_start() {
    local name=$1 netns=$2; shift 2
    ip netns exec "$netns" "$@" >"$E2E_LOG/$name.out" 2>"$E2E_LOG/$name.err" </dev/null &
    E2E_PIDS+=($!)
    eval "PID_${name//-/_}=$!"
}

# e2e_stop NAME: stops what e2e_start NAME started; its output stays as NAME.1.out and NAME.1.err.
e2e_stop() {
    local var="PID_${1//-/_}" i
    local pid=${!var:-}
    stop_pid "$pid"
    for i in "${!E2E_PIDS[@]}"; do
        [[ ${E2E_PIDS[i]} == "$pid" ]] && unset 'E2E_PIDS[i]'
    done
    E2E_PIDS=("${E2E_PIDS[@]}")
    mv -f "$E2E_LOG/$1.out" "$E2E_LOG/$1.1.out" 2>/dev/null
    mv -f "$E2E_LOG/$1.err" "$E2E_LOG/$1.1.err" 2>/dev/null
}

e2e_wine_env() {
    env WINEPREFIX="$E2E_PREFIX" WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" "$@"
}

# Everything this run made goes, on every path: processes, Wine, namespaces with their devices.
e2e_cleanup() {
    local i pid ns
    for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do
        stop_pid "${E2E_PIDS[i]}"
    done
    E2E_PIDS=()
    if [[ -n "${E2E_PREFIX:-}" && -d "$E2E_PREFIX" ]]; then
        e2e_wine_env timeout 20 "$E2E_WINESERVER" -k >/dev/null 2>&1
    fi
    for ns in "$NS_ENG" "$NS_SITE"; do
        if ip netns list | grep -qw "^$ns"; then
            # Whatever still runs in our namespaces was started by this run (Wine's helpers).
            for pid in $(ip netns pids "$ns" 2>/dev/null); do
                kill -KILL "$pid" 2>/dev/null
            done
            ip netns exec "$ns" ip link del "${ns}0" >/dev/null 2>&1
            ip netns del "$ns" 2>/dev/null
        fi
    done
}

# The two namespaces with their TUN devices, addresses and routes. The devices are made
# persistent here so that they can be configured before their owners attach.
e2e_make_namespaces() {
    local ns address route
    for ns in "$NS_ENG" "$NS_SITE"; do
        ip netns del "$ns" 2>/dev/null  # left by a run that was killed
        ip netns add "$ns" || return 1
        ip -n "$ns" link set lo up || return 1
        ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
        ip -n "$ns" tuntap add dev "${ns}0" mode tun || return 1
        ip -n "$ns" link set "${ns}0" up || return 1
    done
    ip -n "$NS_ENG" addr add "$ENG_ADDRESS" dev "$TUN_ENG" || return 1
    for route in "${SITE_ROUTES_ON_ENG[@]}"; do
        ip -n "$NS_ENG" route add "$route" dev "$TUN_ENG" || return 1
    done
    for address in "${SITE_ADDRESSES[@]}"; do
        ip -n "$NS_SITE" addr add "$address" dev "$TUN_SITE" || return 1
    done
    ip -n "$NS_SITE" route add "$ADDRESS_POOL" dev "$TUN_SITE" || return 1
}

# A file of SIZE bytes from a fixed seed in the site's web folder; prints its SHA-256.
e2e_make_site_file() {
    local name=$1 size=$2
    mkdir -p "$E2E_LOG/www"
    "$E2E_PYTHON" -c "import random,sys; sys.stdout.buffer.write(random.Random(14).randbytes($size))" \
        >"$E2E_LOG/www/$name" || return 1
    sha256sum "$E2E_LOG/www/$name" | cut -d' ' -f1
}

e2e_start_site() {
    e2e_start site "$NS_SITE" "$E2E_PYTHON" "$E2E_ROOT/tools/e2e/site_servers.py" \
        --address "${SITE_ADDRESSES[0]%/*}" --address "${SITE_ADDRESSES[1]%/*}" \
        --folder "$E2E_LOG/www" --http-port "$HTTP_PORT" --udp-port "$UDP_PORT"
    wait_line "$E2E_LOG/site.out" '^ready' 15 >/dev/null
}

e2e_start_service() {
    local line
    e2e_start service "$NS_ENG" "$E2E_PYTHON" "$E2E_ROOT/tools/reference_service/service.py" \
        --port "${E2E_SERVICE_PORT:-0}" \
        --scenario "$E2E_ROOT/tools/e2e/scenario.json" --site "tun:$TUN_SITE@$NS_SITE" "$@"
    line=$(wait_line "$E2E_LOG/service.out" '^ready ' 15) || return 1
    SERVICE_PORT=${line##*port=}
    read -r _ SERVICE_URL _ <<<"$line"
}

# The client's prefix trusts the test CA, or no longer does (the trust stays in the prefix).
e2e_trust_ca() {
    e2e_in_eng_wine timeout 120 "$E2E_ROOT/tools/tls/wine-trust-ca.sh" "$@" \
        --tool "$E2E_BUILD/tls/trust-root.exe" "$E2E_CA" >/dev/null 2>&1
}

e2e_start_bridge() {
    local line
    e2e_start bridge "$NS_ENG" "$E2E_PYTHON" "$E2E_ROOT/tools/e2e/tun_bridge.py" --tun "$TUN_ENG"
    line=$(wait_line "$E2E_LOG/bridge.out" '^ready ' 15) || return 1
    BRIDGE_PORT=$(sed -E 's/^ready port=([0-9]+).*/\1/' <<<"$line")
}

# Xvfb and a Wine server of the run's own prefix, both inside the engineer's namespace: Wine's
# sockets and its adapter list belong to the namespace its server was started in.
e2e_start_wine() {
    local base="${WINEPREFIX:-$HOME/.cache/ostrevane/wineprefix}"
    E2E_PREFIX="${OSTREVANE_E2E_WINEPREFIX:-$base-e2e}"
    if [[ ! -f "$E2E_PREFIX/.ostrevane-ready" ]]; then
        if [[ -f "$base/.ostrevane-ready" ]]; then
            e2e_log "copying the Wine prefix $base to $E2E_PREFIX"
            rm -rf "$E2E_PREFIX" && cp -a "$base" "$E2E_PREFIX" || return 1
        else
            WINEPREFIX="$E2E_PREFIX" "$E2E_ROOT/tools/wine-prefix.sh" --no-server || return 1
        fi
    fi
    # A server of this prefix left anywhere else would be joined instead of a new one here.
    e2e_wine_env timeout 20 "$E2E_WINESERVER" -k >/dev/null 2>&1
    e2e_start xvfb "$NS_ENG" Xvfb -displayfd 1 -screen 0 1600x1000x24 -nolisten tcp
    local display
    display=$(wait_line "$E2E_LOG/xvfb.out" '^[0-9]+$' 15) || return 1
    E2E_DISPLAY=":$display"
    e2e_start wineserver "$NS_ENG" env WINEPREFIX="$E2E_PREFIX" "$E2E_WINESERVER" -f -p
    e2e_in_eng_wine timeout 120 "$E2E_WINE" cmd /c ver >/dev/null 2>&1 || return 1
}

# Runs a command in the engineer's namespace with the run's Wine prefix, display and bridge.
e2e_in_eng_wine() {
    ip netns exec "$NS_ENG" env WINEPREFIX="$E2E_PREFIX" WINEDEBUG=-all WINEARCH=win64 \
        WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY="$E2E_DISPLAY" \
        OSTREVANE_DIVERT_HARNESS="127.0.0.1:$BRIDGE_PORT" "$@"
}

e2e_in_eng() { ip netns exec "$NS_ENG" "$@"; }

# e2e_admin METHOD PATH [JSON]: a call of the service's admin API; prints the answer.
e2e_admin() {
    local tls=(); [[ -n $E2E_CA ]] && tls=(--cacert "$E2E_CA")
    if [[ $# -ge 3 ]]; then
        e2e_in_eng curl -s "${tls[@]}" --max-time 10 -X "$1" -H 'Content-Type: application/json' -d "$3" "$SERVICE_URL$2"
    else
        e2e_in_eng curl -s "${tls[@]}" --max-time 10 -X "$1" "$SERVICE_URL$2"
    fi
}

# e2e_state PYTHON-EXPRESSION: evaluates the expression on the admin state (`s`, its data).
e2e_state() {
    e2e_admin GET /admin/state | "$E2E_PYTHON" -c "import json,sys; s=json.load(sys.stdin)['data']; print($1)"
}

e2e_settings_file() {
    find "$E2E_PREFIX/drive_c/users" -path '*/Ostrevane/Client.settings.json' -print -quit 2>/dev/null
}

# The user's proxy exception list as the client sees it.
e2e_proxy_override() {
    e2e_in_eng_wine timeout 60 "$E2E_ROOT/tools/wine-run" reg query \
        'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' /v ProxyOverride 2>/dev/null |
        tr -d '\r' | sed -nE 's/^ *ProxyOverride +REG_[A-Z_]+ *(.*)$/\1/p'
}
