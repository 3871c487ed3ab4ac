# The client as the headless session program (e2e_session.exe): the client's own operations,
# settings file and driver runtime without the window. Sourced by run.sh and benchmark.sh.

SESSION_EXE="$E2E_BUILD/e2e/e2e_session.exe"
SESSION_PID=""

client_check_build() {
    [[ -f "$SESSION_EXE" ]] && return 0
    echo "e2e: $SESSION_EXE is missing: cmake --build --preset windows --target e2e_session" >&2
    return 1
}

client_start() { :; }

client_connect() {
    rm -f "$E2E_LOG/session.in"  # left by an earlier session of the run
    mkfifo "$E2E_LOG/session.in" || return 1
    exec 7<>"$E2E_LOG/session.in"
    : >"$E2E_LOG/session.out"
    e2e_in_eng_wine "$E2E_WINE" "$SESSION_EXE" "${CLIENT_URL:-$SERVICE_URL}" "$ACCESS_KEY" \
        <"$E2E_LOG/session.in" >"$E2E_LOG/session.out" 2>"$E2E_LOG/session.err" &
    SESSION_PID=$!
    E2E_PIDS+=("$SESSION_PID")
    wait_line "$E2E_LOG/session.out" '^(online|connect Error|resolve Error)' 90 | grep -q '^online'
}

# session_ask COMMAND: sends a command and prints the session program's answer to it (its line
# that starts with the command's word), waiting at most 10 s for it.
session_ask() {
    local lines; lines=$(grep -c "^$1" "$E2E_LOG/session.out")
    echo "$1" >&7 || return 1
    local deadline=$((SECONDS + 10))
    while (( $(grep -c "^$1" "$E2E_LOG/session.out") <= lines )); do
        (( SECONDS < deadline )) || return 1
        sleep 0.1
    done
    grep "^$1" "$E2E_LOG/session.out" | tail -n 1
}

# The engine's own flags: running and relay connected.
client_online() { session_ask status | grep -q 'running=1 relay=1'; }

# The engine's counters as one line of key=value pairs.
client_counters() { local line; line=$(session_ask counters) || return 1; echo "${line#counters }"; }

client_disconnect() {
    echo disconnect >&7 || return 1
    wait_line "$E2E_LOG/session.out" '^disconnect' 60 | grep -vq 'Error' || return 1
    e2e_wait_for 20 session_gone
}

session_gone() { ! kill -0 "$SESSION_PID" 2>/dev/null; }

client_stop() {
    if [[ -n "$SESSION_PID" ]] && kill -0 "$SESSION_PID" 2>/dev/null; then
        echo disconnect >&7 2>/dev/null
        e2e_wait_for 20 session_gone
    fi
    exec 7>&- 2>/dev/null
    SESSION_PID=""
}

client_after_disconnect_checks() {
    check "the session program ended after the disconnect" session_gone
}
