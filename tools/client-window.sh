# Sourced by the scripts that drive the client's window with xdotool (the demo and the end-to-end
# harness): where things are and what they look like, and the few X calls on the window.
#
# Positions are client coordinates (under Xvfb without a window manager the X window is exactly the
# client area) and follow the window's layout: the access key at (382, 226), the target-network
# list at (382, 334), the command buttons 38 high at y 410 after a test-address box of width
# T = client width - 1072 kept within 220..360; the sidebar's state dot at (44, 168).
#
# Set CLIENT_WINDOW_ID (the X window) before the calls. A script whose X tools need a prefix (a
# network namespace, another display) redefines client_window_x after sourcing this file.

CLIENT_WINDOW_NAME='^Ostrevane.Client$'
CLIENT_ONLINE_DOT="103,210,146"    # the sidebar's dot while the tunnel is online
CLIENT_IDLE_BUTTON="58,84,110"     # the connect button's fill while the window is not busy
CLIENT_BUSY_BUTTON="31,39,49"      # ... and while a command runs
CLIENT_WINDOW_ID=""

client_window_x() { "$@"; }

# client_window_find SECONDS PID: sets CLIENT_WINDOW_ID once the window is there; fails after
# SECONDS or when process PID has ended.
client_window_find() {
    local deadline=$(( SECONDS + $1 )) pid=$2
    CLIENT_WINDOW_ID=""
    while (( SECONDS < deadline )); do
        CLIENT_WINDOW_ID=$(client_window_x xdotool search --name "$CLIENT_WINDOW_NAME" 2>/dev/null | head -n 1)
        [[ -n $CLIENT_WINDOW_ID ]] && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.5
    done
    return 1
}

# client_window_layout: WIDTH and HEIGHT of the client area, and from them BUTTON_Y and the x of the
# get-networks, connect and disconnect buttons (CONNECT_FILL_X: inside connect, clear of its text).
client_window_layout() {
    eval "$(client_window_x xdotool getwindowgeometry --shell "$CLIENT_WINDOW_ID")"
    local t=$(( WIDTH - 1072 ))
    (( t < 220 )) && t=220
    (( t > 360 )) && t=360
    BUTTON_Y=429
    GET_NETWORKS_X=$(( t + 558 ))
    CONNECT_X=$(( t + 670 ))
    CONNECT_FILL_X=$(( t + 628 ))
    DISCONNECT_X=$(( t + 782 ))
}

client_window_click() {
    client_window_x xdotool mousemove --window "$CLIENT_WINDOW_ID" "$1" "$2" click 1 >/dev/null 2>&1
}

# The client-area pixel at ($1, $2) as "R,G,B".
client_window_pixel() {
    client_window_x xwd -id "$CLIENT_WINDOW_ID" -silent 2>/dev/null | convert xwd:- -crop "1x1+$1+$2" +repage \
        -format '%[fx:int(255*r+0.5)],%[fx:int(255*g+0.5)],%[fx:int(255*b+0.5)]' info: 2>/dev/null
}

client_window_pixel_is() { [[ "$(client_window_pixel "$1" "$2")" == "$3" ]]; }

# Screenshot of the client area into the PNG file $1.
client_window_shot() {
    client_window_x xwd -id "$CLIENT_WINDOW_ID" -silent 2>/dev/null |
        convert xwd:- -strip -define png:compression-level=9 "$1" 2>/dev/null
}

client_window_online() { client_window_pixel_is 44 168 "$CLIENT_ONLINE_DOT"; }
