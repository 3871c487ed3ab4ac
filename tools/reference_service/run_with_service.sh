#!/bin/bash
# Runs a command while the reference service listens on a free loopback port.
#
#   run_with_service.sh [service options] -- COMMAND [ARGS...]
#
# The command sees OSTREVANE_TEST_SERVICE_URL (http://127.0.0.1:PORT, https:// with --tls-cert),
# OSTREVANE_TEST_SERVICE_PORT and OSTREVANE_TEST_REQUEST_LOG (absolute path of the
# JSON-lines request log). The service is stopped afterwards in every case, and the
# script exits with the command's exit code (2: usage error, 3: the service did not start).
# OSTREVANE_KEEP_SERVICE_FILES=1 keeps the temporary folder with the log and the
# service's output.
set -u

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../process.sh"
python=/usr/bin/python3
ready_timeout_steps=200   # 200 x 0.05 s = 10 s

usage() {
    echo "usage: $0 [service options] -- COMMAND [ARGS...]" >&2
}

service_args=()
while (( $# )); do
    if [[ $1 == -- ]]; then
        shift
        break
    fi
    service_args+=("$1")
    shift
done
if (( $# == 0 )); then
    usage
    exit 2
fi

has_port=0
request_log=""
for (( i = 0; i < ${#service_args[@]}; i++ )); do
    case "${service_args[i]}" in
        --port|--port=*) has_port=1 ;;
        --request-log) request_log="${service_args[i+1]:-}" ;;
        --request-log=*) request_log="${service_args[i]#--request-log=}" ;;
    esac
done

workdir="$(mktemp -d "${TMPDIR:-/tmp}/ostrevane-service.XXXXXX")" || exit 3
if [[ -z $request_log ]]; then
    request_log="$workdir/requests.jsonl"
    service_args+=(--request-log "$request_log")
fi
[[ $request_log == /* ]] || request_log="$PWD/$request_log"
(( has_port )) || service_args=(--port 0 "${service_args[@]}")

: >"$workdir/stdout"
"$python" "$here/service.py" "${service_args[@]}" >"$workdir/stdout" 2>"$workdir/stderr" </dev/null &
service_pid=$!

stop_service() {
    stop_pid "$service_pid"
    if [[ -n ${OSTREVANE_KEEP_SERVICE_FILES:-} ]]; then
        echo "run_with_service: service files kept in $workdir" >&2
    else
        rm -rf "$workdir"
    fi
}
command_pid=""
forward_and_exit() {
    [[ -n $command_pid ]] && kill "-$1" "$command_pid" 2>/dev/null
    exit "$2"
}
trap stop_service EXIT
trap 'forward_and_exit INT 130' INT
trap 'forward_and_exit TERM 143' TERM

ready=""
for (( step = 0; step < ready_timeout_steps; step++ )); do
    IFS= read -r ready <"$workdir/stdout" || true
    [[ $ready == "ready "* ]] && break
    ready=""
    kill -0 "$service_pid" 2>/dev/null || break
    sleep 0.05
done
if [[ -z $ready ]]; then
    echo "run_with_service: the reference service did not become ready" >&2
    cat "$workdir/stderr" >&2
    exit 3
fi

# ready http://127.0.0.1:PORT port=PORT (https:// in TLS mode)
read -r _ url port_field <<<"$ready"
export OSTREVANE_TEST_SERVICE_URL="$url"
export OSTREVANE_TEST_SERVICE_PORT="${port_field#port=}"
export OSTREVANE_TEST_REQUEST_LOG="$request_log"

# In the background with wait, so that a signal to this script is handled at once.
"$@" <&0 &
command_pid=$!
wait "$command_pid"
status=$?
if (( status != 0 )); then
    echo "run_with_service: command exited with $status; service output:" >&2
    tail -n 20 "$workdir/stderr" >&2
fi
exit "$status"
