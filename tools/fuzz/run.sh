#!/bin/bash
# Builds the native fuzz targets (clang-14, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# into build/fuzz and runs each one for a bounded time on its seed corpus. Any finding (crash,
# sanitizer report, failed check, leak, timeout, out-of-memory) fails the script; the input that
# caused it is kept in build/fuzz/findings/<target>/.
#
#   tools/fuzz/run.sh [--seconds N] [--jobs J] [TARGET...]
#
# N is the time per target (default 20); J targets run side by side (default 1). A longer run is
# the same script with a bigger N. Inputs that raise coverage are kept in build/fuzz/corpus/<target>
# (outside git) and reused by the next run; the seeds in tools/fuzz/corpus/<target> stay unchanged.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=20
jobs=1
targets=()
while (( $# )); do
    case "$1" in
        --seconds) seconds="$2"; shift 2 ;;
        --jobs) jobs="$2"; shift 2 ;;
        -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
        -*) echo "run.sh: unknown option $1" >&2; exit 2 ;;
        *) targets+=("$1"); shift ;;
    esac
done
all_targets=(json_document settings_file api_envelope packet_translation websocket_handshake websocket_frames udp_datagrams)
(( ${#targets[@]} )) || targets=("${all_targets[@]}")

build=build/fuzz
for tool in clang++-14 cmake ninja; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing (tools/setup.sh installs it)" >&2; exit 2; }
done
cmake -S tools/fuzz/cmake -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE= >/dev/null
if ! cmake --build "$build" -- -j"$(nproc)" "${targets[@]/%/_fuzzer}" >"$build/build.log" 2>&1; then
    cat "$build/build.log" >&2
    echo "run.sh: the fuzz targets did not build" >&2
    exit 1
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

run_one() {
    local t="$1"
    local corpus="$build/corpus/$t" findings="$build/findings/$t" log="$build/logs/$t.log"
    mkdir -p "$corpus" "$findings" "$(dirname "$log")"
    local dict=()
    [[ -f "tools/fuzz/dictionaries/$t.dict" ]] && dict=("-dict=tools/fuzz/dictionaries/$t.dict")
    local status=0
    "$build/${t}_fuzzer" "$corpus" "tools/fuzz/corpus/$t" "${dict[@]}" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
        -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1 || status=$?
    local execs cov speed
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    local ft; ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    if (( status )); then
        echo "FAIL $t (exit $status) after ${execs:-?} runs; log $log, inputs in $findings/" >&2
        grep -m5 -E 'ERROR|runtime error|check failed|SUMMARY' "$log" >&2 || true
        return 1
    fi
    printf '%-20s %4ss  %10s runs  %7s exec/s  cov %5s  ft %6s  corpus %s\n' \
        "$t" "$seconds" "${execs:-?}" "${speed:-?}" "${cov:-?}" "${ft:-?}" "$(ls "$corpus" | wc -l)"
}

failed=0
running=0
for t in "${targets[@]}"; do
    run_one "$t" &
    (( ++running < jobs )) && continue
    wait -n || failed=1
    (( running-- ))
done
while (( running > 0 )); do
    wait -n || failed=1
    (( running-- ))
done
if (( failed )); then
    echo "fuzz: FINDINGS (see above)" >&2
    exit 1
fi
echo "fuzz: no findings"
