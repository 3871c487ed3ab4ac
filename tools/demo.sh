#!/bin/bash
# The demo: installs what is missing, builds the client that carries the WinDivert stand-in, starts
# the reference service with its demo site and the stand-in's harness, and runs the client under
# Wine in a window: on this display, or on a private Xvfb when there is none (then it saves
# screenshots and says where). Everything it started is stopped again on every way out.
#
#   tools/demo.sh [--auto] [--screenshots DIR] [--timeout SECONDS]
#
#   --auto             type the demo access key, press 取网段 (get networks) and 连接 (connect),
#                      wait until the client is online, save the screenshots and stop: a
#                      non-interactive run. Without a display the demo always runs this way.
#   --screenshots DIR  regenerate the reference screenshots (connect page idle, busy and online,
#                      log page) into DIR; implies --auto and a private Xvfb.
#   --timeout SECONDS  how long each step may take (default 90).
#
# Output (screenshots, the service's, the harness's and the client's logs) goes to build/demo/.
# The client runs in its own Wine prefix, ~/.cache/ostrevane/wineprefix-demo, and starts without
# a settings file, like a first run.
set -uo pipefail

readonly DEMO_KEY="OVK-DEMO-7F3A-2C91-5E08"
readonly SERVICE_PORT=18650   # the client's built-in default base URL is http://127.0.0.1:18650

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$root/build/demo"
auto=0
screenshots=""
step_timeout=90

usage() {
    sed -n '2,17s/^# \{0,1\}//p' "${BASH_SOURCE[0]}" >&2
    exit 2
}
while (( $# )); do
    case "$1" in
        --auto) auto=1 ;;
        --screenshots) [[ $# -ge 2 ]] || usage; screenshots="$2"; auto=1; shift ;;
        --timeout) [[ $# -ge 2 && $2 =~ ^[0-9]+$ ]] || usage; step_timeout="$2"; shift ;;
        -h|--help) usage ;;
        *) echo "demo: unknown option $1" >&2; usage ;;
    esac
    shift
done
if [[ -n $screenshots ]]; then
    mkdir -p "$screenshots" && screenshots="$(cd "$screenshots" && pwd)" || exit 2
fi

say() { echo "demo: $*"; }
die() { echo "demo: $*" >&2; exit 1; }

source "$root/tools/process.sh"
source "$root/tools/client-window.sh"

# --- What this script started, stopped by cleanup on every path -----------------------------------
service_pid=""
harness_pid=""
private_display=0
client_pid=""
wine_started=0

# Waits at most $2 seconds for process $1 to end; true when it has.
wait_gone() {
    local pid=$1 steps=$(( $2 * 10 ))
    for (( ; steps > 0; steps-- )); do
        kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
        sleep 0.1
    done
    return 1
}

cleanup() {
    trap - EXIT INT TERM
    if [[ -n $client_pid ]] && kill -0 "$client_pid" 2>/dev/null; then
        # Closing the window lets the client stop its tunnel the ordinary way.
        timeout 20 "$root/tools/wine-run" taskkill /im Ostrevane.Client.exe </dev/null >/dev/null 2>&1
        wait_gone "$client_pid" 10 || stop_pid "$client_pid"
    fi
    if (( wine_started )); then
        /usr/lib/wine/wineserver -k >/dev/null 2>&1   # the demo's own prefix: ends Wine's helpers too
    fi
    stop_pid "$harness_pid"
    stop_pid "$service_pid"
    if (( private_display )); then wine_display_stop; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- Build -----------------------------------------------------------------------------------------
cd "$root"
mkdir -p "$out"
tools/setup.sh || die "the set-up failed"
say "building the demo client (the first build takes several minutes)"
{ cmake --preset windows && cmake --build --preset windows --target Ostrevane.Client.Demo; } >"$out/build.log" 2>&1 ||
    { tail -n 30 "$out/build.log" >&2; die "the build failed; see $out/build.log"; }
exe="$root/build/windows/demo/Ostrevane.Client.exe"
[[ -f $exe ]] || die "$exe was not built"

# --- Wine prefix of the demo -----------------------------------------------------------------------
export WINEPREFIX="$HOME/.cache/ostrevane/wineprefix-demo"
export WINEDEBUG=-all
mkdir -p "$(dirname "$WINEPREFIX")"
exec 8>"$WINEPREFIX.demo-lock"
flock -n 8 || die "another demo is running with $WINEPREFIX"
# Wine's desktop process keeps the display it started with: end any server left from an earlier
# run, so that everything starts afresh on this run's display.
[[ -d $WINEPREFIX ]] && /usr/lib/wine/wineserver -k >/dev/null 2>&1

# --- Display -----------------------------------------------------------------------------------------
source "$root/tools/wine-display.sh"
if [[ -z ${DISPLAY:-} || -n $screenshots ]]; then
    unset DISPLAY
    WINE_DISPLAY_SCREEN=1920x1200x24 wine_display_ensure || die "Xvfb did not start"
    private_display=1
    if (( ! auto )); then
        say "there is no display to interact with: running the automatic walk-through (as --auto)"
        auto=1
    fi
    say "private X display $DISPLAY (Xvfb): screenshots go to $out"
fi

# The prefix and its warmed-up server start only now, with the display in place.
tools/wine-prefix.sh || die "the Wine prefix could not be prepared"
wine_started=1
# A first run: no settings file from an earlier demo.
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Ostrevane
rm -rf "$out/Log" "$out"/shot-*.png

# --- Reference service and the stand-in's harness --------------------------------------------------
/usr/bin/python3 tools/reference_service/service.py --port "$SERVICE_PORT" \
    >"$out/service.out" 2>"$out/service.log" </dev/null &
service_pid=$!
wait_line "$out/service.out" "^ready " 15 "$service_pid" >/dev/null || {
    cat "$out/service.log" >&2
    die "the reference service did not start (is port $SERVICE_PORT in use?)"
}
say "reference service on http://127.0.0.1:$SERVICE_PORT (demo site: 192.168.1.0/24, 10.20.0.0/16)"

/usr/bin/python3 tools/divert_standin/harness.py --ping-every 2 --parent-pid $$ \
    >"$out/harness.log" 2>&1 </dev/null &
harness_pid=$!
harness_ready="$(wait_line "$out/harness.log" "^ready " 10 "$harness_pid")" || die "the stand-in's harness did not start"
export OSTREVANE_DIVERT_HARNESS="${harness_ready#ready }"   # read by the stand-in DLL only

# Admin call to the reference service: admin PATH [JSON BODY].
admin() {
    /usr/bin/python3 - "$SERVICE_PORT" "$@" <<'PY'
import json, sys, urllib.request
port, path = sys.argv[1], sys.argv[2]
body = sys.argv[3].encode() if len(sys.argv) > 3 else None
request = urllib.request.Request(f"http://127.0.0.1:{port}/admin/{path}", data=body,
                                 headers={"Content-Type": "application/json"})
with urllib.request.urlopen(request, timeout=5) as answer:
    print(json.dumps(json.load(answer)["data"]))
PY
}
# How many requests to PATH the service has seen.
requests_to() {
    admin requests | /usr/bin/python3 -c 'import json,sys; print(sum(r["path"] == sys.argv[1] for r in json.load(sys.stdin)))' "$1"
}

# --- The client ----------------------------------------------------------------------------------------
( cd "$out" && exec "$root/tools/wine-run" "$exe" ) >"$out/client.out" 2>&1 </dev/null &
client_pid=$!
client_window_find "$step_timeout" "$client_pid" || die "the client's window did not appear; see $out/client.out"
client_window_layout
say "the client runs: window $CLIENT_WINDOW_ID, client area ${WIDTH}x${HEIGHT}"
echo
echo "    Demo access key:  $DEMO_KEY"
echo

# Waits at most step_timeout seconds until pixel ($1, $2) is "$3".
await_pixel() {
    local deadline=$(( SECONDS + step_timeout ))
    while (( SECONDS < deadline )); do
        client_window_pixel_is "$1" "$2" "$3" && return 0
        kill -0 "$client_pid" 2>/dev/null || return 1
        sleep 0.5
    done
    return 1
}
# Saves a screenshot under $out, and under the reference name $2 when regenerating those.
keep_shot() {
    client_window_shot "$out/shot-$1.png"
    [[ -n $screenshots && -n ${2:-} ]] && cp "$out/shot-$1.png" "$screenshots/$2.png"
    say "screenshot $out/shot-$1.png"
}

if (( ! auto )); then
    say "paste the key into 接入密钥, press 取网段 (get networks), then 连接 (connect)."
    say "the sidebar then reads 在线 (online); close the window or press Ctrl+C to end the demo."
    wait "$client_pid"
    client_pid=""
    exit 0
fi

# --- The automatic walk-through ----------------------------------------------------------------------

sleep 1
keep_shot 1-idle connect-idle

say "typing the access key into 接入密钥"
client_window_click 500 247
xdotool key Home shift+End
xdotool type --delay 30 "$DEMO_KEY"

say "pressing 取网段 (get networks)"
client_window_click "$GET_NETWORKS_X" "$BUTTON_Y"
deadline=$(( SECONDS + step_timeout ))
until (( $(requests_to /api/devices/resolve) > 0 )); do
    (( SECONDS < deadline )) || die "the client did not ask for the site's networks"
    sleep 0.5
done
await_pixel "$CONNECT_FILL_X" "$BUTTON_Y" "$CLIENT_IDLE_BUTTON" || die "the client stayed busy after get networks"

if [[ -n $screenshots ]]; then
    # Hold the authorization for a few seconds so that the busy window can be photographed.
    admin fault '{"name": "delay-http", "ms": 4000, "count": 1, "pathPrefix": "/api/connections/request"}' >/dev/null ||
        die "the service refused the delay"
fi
say "pressing 连接 (connect)"
client_window_click "$CONNECT_X" "$BUTTON_Y"
if [[ -n $screenshots ]]; then
    await_pixel "$CONNECT_FILL_X" "$BUTTON_Y" "$CLIENT_BUSY_BUTTON" || die "the connect button did not turn busy"
    sleep 0.5
    keep_shot 2-busy connect-busy
fi
await_pixel 44 168 "$CLIENT_ONLINE_DOT" || { keep_shot failed; die "the client did not come online within ${step_timeout}s"; }
say "the client is online: the sidebar reads 在线"
keep_shot 3-online connect-online

deadline=$(( SECONDS + 20 ))
until grep -q "tunnel answered" "$out/harness.log"; do
    (( SECONDS < deadline )) || break
    sleep 0.5
done
if grep -q "tunnel answered" "$out/harness.log"; then
    say "through the tunnel: $(grep -m1 "tunnel answered" "$out/harness.log" | sed 's/^\[[^]]*\] //')"
else
    say "no echo reply came back through the tunnel within 20 s (see $out/harness.log)"
fi

client_window_click 480 85   # the log tab
sleep 1
keep_shot 4-log log
client_window_click 390 85   # back to the connect tab
sleep 1
keep_shot 5-final
if ! client_window_online; then
    die "the client went offline again"
fi
say "done: the client is online; screenshots in $out (shot-*.png)"
[[ -n $screenshots ]] && say "reference screenshots written to $screenshots"
say "logs: $out/service.log, $out/harness.log, $out/client.out, the client's log under $out/Log"
exit 0
