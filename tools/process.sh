# Sourced by the scripts that start helper processes: bounded waits for them and bounded stops.

# stop_pid PID: TERM, up to 5 s for it to end, then KILL; reaps it when it is this shell's child.
stop_pid() {
    local pid=$1 i
    [[ -n $pid ]] || return 0
    kill -TERM "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
    for (( i = 0; i < 50; i++ )); do
        kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 0
}

# wait_line FILE REGEX SECONDS [PID]: prints the first line of FILE that matches the extended REGEX
# once it is there. Fails after SECONDS, or as soon as process PID (when given) has ended without it.
wait_line() {
    local file=$1 regex=$2 steps=$(( $3 * 10 )) pid=${4:-}
    for (( ; steps > 0; steps-- )); do
        grep -m1 -E "$regex" "$file" 2>/dev/null && return 0
        if [[ -n $pid ]] && ! kill -0 "$pid" 2>/dev/null; then
            grep -m1 -E "$regex" "$file" 2>/dev/null
            return
        fi
        sleep 0.1
    done
    return 1
}
