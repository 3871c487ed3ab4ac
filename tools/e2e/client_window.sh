# The real client (the demo build, which carries the driver stand-in) driven through its window
# with xdotool, as an engineer would: type the access key, press 取网段 (get networks), choose
# "ALL" in the target-network list, press 连接 (connect); later 断开 (disconnect). The client runs
# without a settings file, like a first run, with its built-in base URL http://127.0.0.1:18650,
# where the service listens inside the engineer's namespace. Sourced by run.sh and benchmark.sh.
#
# Positions follow the window's layout (client coordinates): the access key at (382, 226), the
# target-network list at (382, 334), the command buttons 38 high at y 410 after a test-address
# box of width T = client width - 1072 kept within 220..360; the sidebar's state dot at (44, 168)
# turns green when the tunnel is online.

CLIENT_EXE="$E2E_BUILD/demo/Ostrevane.Client.exe"
CLIENT_WINDOW='^Ostrevane.Client$'
ONLINE_DOT="103,210,146"
IDLE_BUTTON="58,84,110"
SERVICE_FIXED_PORT=18650
WINDOW_PID=""
WINDOW_ID=""
THREADS_BEFORE=""
THREADS_ONLINE=""

client_check_build() {
    [[ -f "$CLIENT_EXE" ]] && return 0
    echo "e2e: $CLIENT_EXE is missing: cmake --build --preset windows --target Ostrevane.Client.Demo" >&2
    return 1
}

# The service must listen where the client looks first.
E2E_SERVICE_PORT=$SERVICE_FIXED_PORT

x_tool() { e2e_in_eng env DISPLAY="$E2E_DISPLAY" "$@"; }
click() { x_tool xdotool mousemove --window "$WINDOW_ID" "$1" "$2" click 1 >/dev/null 2>&1; }
pixel() {
    x_tool xwd -id "$WINDOW_ID" -silent 2>/dev/null | convert xwd:- -crop "1x1+$1+$2" +repage \
        -format '%[fx:int(255*r+0.5)],%[fx:int(255*g+0.5)],%[fx:int(255*b+0.5)]' info: 2>/dev/null
}
pixel_is() { [[ "$(pixel "$1" "$2")" == "$3" ]]; }
screenshot() { x_tool xwd -id "$WINDOW_ID" -silent 2>/dev/null | convert xwd:- "$E2E_LOG/shot-$1.png" 2>/dev/null; }
requests_to() { e2e_admin GET /admin/requests | "$E2E_PYTHON" -c \
    "import json,sys; print(sum(r['path'] == sys.argv[1] for r in json.load(sys.stdin)['data']))" "$1"; }
# The client process (the Wine process of the executable) and its number of threads.
client_process() { ip netns pids "$NS_ENG" | while read -r p; do
    [[ "$(tr '\0' ' ' </proc/"$p"/cmdline 2>/dev/null)" == *Ostrevane.Client.exe* ]] && echo "$p"; done | head -n 1; }
client_threads() { ls "/proc/$(client_process)/task" 2>/dev/null | wc -l; }

client_start() {
    rm -rf "$E2E_PREFIX"/drive_c/users/*/AppData/Roaming/Ostrevane
    ( cd "$E2E_LOG" && exec ip netns exec "$NS_ENG" env WINEPREFIX="$E2E_PREFIX" WINEDEBUG=-all \
        DISPLAY="$E2E_DISPLAY" OSTREVANE_DIVERT_HARNESS="127.0.0.1:$BRIDGE_PORT" "$E2E_WINE" "$CLIENT_EXE" ) \
        >"$E2E_LOG/client.out" 2>&1 </dev/null &
    WINDOW_PID=$!
    E2E_PIDS+=("$WINDOW_PID")
    local deadline=$((SECONDS + 90))
    while (( SECONDS < deadline )); do
        WINDOW_ID=$(x_tool xdotool search --name "$CLIENT_WINDOW" 2>/dev/null | head -n 1)
        [[ -n "$WINDOW_ID" ]] && break
        kill -0 "$WINDOW_PID" 2>/dev/null || return 1
        sleep 0.5
    done
    [[ -n "$WINDOW_ID" ]] || return 1
    eval "$(x_tool xdotool getwindowgeometry --shell "$WINDOW_ID")"   # WIDTH, HEIGHT
    local T=$((WIDTH - 1072)); (( T < 220 )) && T=220; (( T > 360 )) && T=360
    BUTTON_Y=429
    GET_NETWORKS_X=$((T + 558))
    CONNECT_X=$((T + 670))
    CONNECT_FILL_X=$((T + 628))   # inside the connect button, clear of its text
    DISCONNECT_X=$((T + 782))
    e2e_wait_for 30 pixel_is "$CONNECT_FILL_X" "$BUTTON_Y" "$IDLE_BUTTON"
}

client_connect() {
    [[ -n "$WINDOW_ID" ]] || return 1
    click 500 247
    x_tool xdotool key Home shift+End >/dev/null 2>&1
    x_tool xdotool type --delay 20 "$ACCESS_KEY" >/dev/null 2>&1
    click "$GET_NETWORKS_X" "$BUTTON_Y"
    e2e_wait_for 30 test "$(requests_to /api/devices/resolve)" -gt 0 || return 1
    e2e_wait_for 30 pixel_is "$CONNECT_FILL_X" "$BUTTON_Y" "$IDLE_BUTTON" || return 1
    THREADS_BEFORE=$(client_threads)
    # Both site networks: "ALL" is the first entry of the target-network list.
    click 470 346
    sleep 0.5
    x_tool xdotool key Home Return >/dev/null 2>&1
    sleep 0.5
    screenshot 1-before-connect
    click "$CONNECT_X" "$BUTTON_Y"
    e2e_wait_for 90 client_online || { screenshot failed-connect; return 1; }
    THREADS_ONLINE=$(client_threads)
    screenshot 2-online
}

# The window's own view: the sidebar's dot is green while the engine is running and connected.
client_online() { pixel_is 44 168 "$ONLINE_DOT"; }
client_offline() { ! client_online; }
window_gone() { ! kill -0 "$WINDOW_PID" 2>/dev/null; }

client_disconnect() {
    click "$DISCONNECT_X" "$BUTTON_Y"
    e2e_wait_for 60 client_offline || return 1
    e2e_wait_for 30 pixel_is "$CONNECT_FILL_X" "$BUTTON_Y" "$IDLE_BUTTON" || return 1
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
