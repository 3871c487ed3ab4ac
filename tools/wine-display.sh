# Sourced by the Wine scripts: gives every Wine process of a prefix an X display.
#
# Wine's desktop process keeps the display it was started with for as long as the prefix's server
# runs. Started without one, it dies, and from then on no process of that server can create a
# window. So a run without $DISPLAY gets the prefix's own Xvfb, started once and shared by every
# later run, and a server left from a run without it is ended first.
# Needs WINEPREFIX; WINE_DISPLAY_SCREEN sets a new Xvfb's screen (default 1600x1000x24). Usage: wine_display_ensure (exports DISPLAY; sets WINE_DISPLAY_STARTED to 1 when
# it started the Xvfb), wine_display_stop.

WINE_DISPLAY_STARTED=0

wine_display_file() { printf '%s\n' "$WINEPREFIX.xvfb"; }

# Succeeds when process $1 runs (not merely awaits its reaping) and is an Xvfb.
wine_display_is_xvfb() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    [[ $stat == *"(Xvfb) "* ]] || return 1
    stat=${stat##*) }
    [[ ${stat%% *} != Z ]]
}

# Succeeds when the recorded Xvfb still runs; prints its display number.
wine_display_alive() {
    local file number pid
    file=$(wine_display_file)
    [[ -s $file ]] || return 1
    read -r number pid <"$file" || return 1
    [[ $number =~ ^[0-9]+$ && $pid =~ ^[0-9]+$ ]] || return 1
    # The process, not the socket file: an Xvfb in another network namespace (the end-to-end run)
    # may take the same number and remove that file when it ends.
    wine_display_is_xvfb "$pid" || return 1
    printf '%s\n' "$number"
}

wine_display_ensure() {
    [[ -n ${DISPLAY:-} ]] && return 0
    local number
    if number=$(wine_display_alive); then
        export DISPLAY=":$number"
        return 0
    fi
    command -v Xvfb >/dev/null || { echo "wine-display: Xvfb is missing; run tools/setup.sh" >&2; return 1; }
    mkdir -p "$(dirname "$WINEPREFIX")"
    local lock file out pid i
    file=$(wine_display_file)
    lock="$file.lock"
    out=$(mktemp)
    {
        flock 7
        # Another run may have started it while this one waited for the lock.
        if number=$(wine_display_alive); then
            export DISPLAY=":$number"
            rm -f "$out"
            return 0
        fi
        # A server still running has a desktop without this display: end it, it restarts on demand.
        WINEPREFIX="$WINEPREFIX" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
        # Its own session: a test's time-out, which ends the test's process group, leaves it running.
        # (A script has no job control, so setsid becomes Xvfb itself and $! is the server.)
        setsid Xvfb -displayfd 3 -screen 0 "${WINE_DISPLAY_SCREEN:-1600x1000x24}" -nolisten tcp 3>"$out" 7>&- </dev/null >/dev/null 2>&1 &
        pid=$!
        for (( i = 0; i < 100; i++ )); do
            [[ -s $out ]] && break
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        number=$(tr -d '[:space:]' <"$out")
        rm -f "$out"
        if [[ ! $number =~ ^[0-9]+$ ]] || ! wine_display_is_xvfb "$pid"; then
            kill "$pid" 2>/dev/null
            echo "wine-display: Xvfb did not start" >&2
            return 1
        fi
        printf '%s %s\n' "$number" "$pid" >"$file"
        WINE_DISPLAY_STARTED=1
        export DISPLAY=":$number"
    } 7>"$lock"
}

# Ends the prefix's Xvfb (after its server, whose desktop uses it).
wine_display_stop() {
    local file number pid
    file=$(wine_display_file)
    [[ -s $file ]] || return 0
    read -r number pid <"$file" || true
    rm -f "$file"
    # After a reboot the recorded number may belong to another process.
    [[ ${pid:-} =~ ^[0-9]+$ ]] && wine_display_is_xvfb "$pid" && kill "$pid" 2>/dev/null
    return 0
}
