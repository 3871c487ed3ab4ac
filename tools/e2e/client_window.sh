# The real client (the demo build, which carries the driver stand-in) driven through its window
# with xdotool, as an engineer would: type the access key, press 取网段 (get networks), choose
# "ALL" in the target-network list, press 连接 (connect); later 断开 (disconnect). The client runs
# without a settings file, like a first run, with its built-in base URL http://127.0.0.1:18650,
# where the service listens inside the engineer's namespace; with CLIENT_URL set, a settings file
# that names only that base URL. Sourced by run.sh and benchmark.sh.
# Where the window's parts are: tools/client-window.sh.

source "$E2E_ROOT/tools/client-window.sh"

CLIENT_EXE="$E2E_BUILD/demo/Ostrevane.Client.exe"
SERVICE_FIXED_PORT=18650
WINDOW_PID=""
THREADS_BEFORE=""
THREADS_ONLINE=""

client_check_build() {
    [[ -f "$CLIENT_EXE" ]] && return 0
    echo "e2e: $CLIENT_EXE is missing: cmake --build --preset windows --target Ostrevane.Client.Demo" >&2
    return 1
}

# The service must listen where the client looks first.
E2E_SERVICE_PORT=$SERVICE_FIXED_PORT

# The X tools run in the engineer's namespace, on its display.
client_window_x() { e2e_in_eng env DISPLAY="$E2E_DISPLAY" "$@"; }
screenshot() { client_window_shot "$E2E_LOG/shot-$1.png"; }
requests_to() { e2e_admin GET /admin/requests | "$E2E_PYTHON" -c \
    "import json,sys; print(sum(r['path'] == sys.argv[1] for r in json.load(sys.stdin)['data']))" "$1"; }
# A function, so that every poll asks the service again.
resolve_requested() { (( $(requests_to /api/devices/resolve) > 0 )); }
# The client process (the Wine process of the executable) and its number of threads.
client_process() { ip netns pids "$NS_ENG" | while read -r p; do
    [[ "$(tr '\0' ' ' </proc/"$p"/cmdline 2>/dev/null)" == *Ostrevane.Client.exe* ]] && echo "$p"; done | head -n 1; }
client_threads() { ls "/proc/$(client_process)/task" 2>/dev/null | wc -l; }

client_start() {
    rm -rf "$E2E_PREFIX"/drive_c/users/*/AppData/Roaming/Ostrevane
    if [[ -n ${CLIENT_URL:-} ]]; then
        local folder="$E2E_PREFIX/drive_c/users/$(id -un)/AppData/Roaming/Ostrevane"
        mkdir -p "$folder" && printf '{"serverUrl":"%s"}' "$CLIENT_URL" >"$folder/Client.settings.json"
    fi
    ( cd "$E2E_LOG" && exec ip netns exec "$NS_ENG" env WINEPREFIX="$E2E_PREFIX" WINEDEBUG=-all \
        DISPLAY="$E2E_DISPLAY" OSTREVANE_DIVERT_HARNESS="127.0.0.1:$BRIDGE_PORT" "$E2E_WINE" "$CLIENT_EXE" ) \
        >"$E2E_LOG/client.out" 2>&1 </dev/null &
    WINDOW_PID=$!
    E2E_PIDS+=("$WINDOW_PID")
    client_window_find 90 "$WINDOW_PID" || return 1
    client_window_layout
    e2e_wait_for 30 client_window_pixel_is "$CONNECT_FILL_X" "$BUTTON_Y" "$CLIENT_IDLE_BUTTON"
}

client_connect() {
    [[ -n "$CLIENT_WINDOW_ID" ]] || return 1
    client_window_click 500 247
    client_window_x xdotool key Home shift+End >/dev/null 2>&1
    client_window_x xdotool type --delay 20 "$ACCESS_KEY" >/dev/null 2>&1
    client_window_click "$GET_NETWORKS_X" "$BUTTON_Y"
    e2e_wait_for 30 resolve_requested || return 1
    e2e_wait_for 30 client_window_pixel_is "$CONNECT_FILL_X" "$BUTTON_Y" "$CLIENT_IDLE_BUTTON" || return 1
    THREADS_BEFORE=$(client_threads)
    # Both site networks: "ALL" is the first entry of the target-network list.
    client_window_click 470 346
    sleep 0.5
    client_window_x xdotool key Home Return >/dev/null 2>&1
    sleep 0.5
    screenshot 1-before-connect
    client_window_click "$CONNECT_X" "$BUTTON_Y"
    e2e_wait_for 90 client_online || { screenshot failed-connect; return 1; }
    THREADS_ONLINE=$(client_threads)
    screenshot 2-online
}

# The window's own view: the sidebar's dot is green while the engine is running and connected.
client_online() { client_window_online; }
client_counters() { return 1; }  # the window shows no counters
client_offline() { ! client_online; }
window_gone() { ! kill -0 "$WINDOW_PID" 2>/dev/null; }

client_disconnect() {
    client_window_click "$DISCONNECT_X" "$BUTTON_Y"
    e2e_wait_for 60 client_offline || return 1
    e2e_wait_for 30 client_window_pixel_is "$CONNECT_FILL_X" "$BUTTON_Y" "$CLIENT_IDLE_BUTTON" || return 1
    screenshot 3-disconnected
}

client_stop() {
    [[ -n "$WINDOW_PID" ]] || return 0
    window_gone && { WINDOW_PID=""; return 0; }
    # Closing the window lets the client stop its tunnel the ordinary way.
    e2e_in_eng_wine timeout 20 "$E2E_WINE" taskkill /im Ostrevane.Client.exe >/dev/null 2>&1
    e2e_wait_for 15 window_gone && WINDOW_PID=""
}

threads_back() {
    local now; now=$(client_threads)
    echo "client threads: $THREADS_BEFORE after getting the networks, $THREADS_ONLINE online," \
        "$now after the disconnect" >>"$E2E_LOG/checks.txt"
    [[ -n "$THREADS_BEFORE" && "$now" -gt 0 && "$now" -le "$THREADS_BEFORE" ]]
}

client_after_disconnect_checks() {
    # The count is meaningful: the tunnel's five threads were there while it ran.
    check "the tunnel's threads ran while online" test "$((THREADS_ONLINE - THREADS_BEFORE))" -ge 5
    check "no tunnel thread is left in the client" e2e_wait_for 10 threads_back
    check "the client still runs after the disconnect" kill -0 "$WINDOW_PID"
    check "closing the window ends the client" client_stop
}
