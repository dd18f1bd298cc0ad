# Sourced by the scripts that drive Pasarela's windows under Wine on a private X server
# (the window test, the release checks, the guide's screenshots): a work folder removed at
# exit with the X server, the program and the Wine prefix; the display and the prefix; and
# the few xdotool steps a user's hands take. Every wait is bounded.
#
#   desktop_workdir NAME        makes $work (removed at exit, with whatever runs in it)
#   desktop_start PROGRAM.exe   Wine's loader for that program (wine-loader.sh), an X server
#                               of our own as DISPLAY and a new prefix as WINEPREFIX
#
# A program the caller starts in the background goes in $program_pid so that exit ends it.

. "$(dirname "${BASH_SOURCE[0]}")/wine-loader.sh"

desktop_require() {  # desktop_require TOOL...: all there, or say which is missing
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "${0##*/}: '$tool' is missing (scripts/setup installs it)" >&2
            exit 1
        fi
    done
}

desktop_workdir() {
    desktop_require file wineserver Xvfb xdotool
    work=$(mktemp -d "${TMPDIR:-/tmp}/pasarela-$1.XXXXXX")
    xvfb_pid=
    program_pid=
    trap desktop_cleanup EXIT
}

desktop_cleanup() {
    if [[ -n $program_pid ]]; then
        kill "$program_pid" 2>/dev/null || true
    fi
    if [[ -d $work/prefix ]]; then
        WINEPREFIX=$work/prefix timeout 30 wineserver -k 2>/dev/null || true
    fi
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}

# Returns 1, having said why, when the display or the prefix cannot be had.
desktop_start() {
    use_wine_for "$1" || return 1
    export WINEPREFIX=$work/prefix
    export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installers asking questions
    # Xvfb picks a free display number and writes it to fd 3 once it listens.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 60); do
        [[ -s $work/display ]] && break
        sleep 1
    done
    if [[ ! -s $work/display ]]; then
        echo "${0##*/}: Xvfb did not start: $(cat "$work/xvfb.log")" >&2
        return 1
    fi
    export DISPLAY=:$(head -n 1 "$work/display")
    if ! WINEDEBUG=-all timeout 300 "${wine[@]}" wineboot -i >"$work/wineboot.log" 2>&1; then
        echo "${0##*/}: could not create the Wine prefix: $(tail -n 5 "$work/wineboot.log")" >&2
        return 1
    fi
}

desktop_show_windows() {  # on standard error: what a user would see, for a failure's story
    echo "  visible windows:" >&2
    windows_named '.' | while read -r id; do
        echo "    $id '$(xdotool getwindowname "$id" 2>/dev/null)'" >&2
    done
}

windows_named() {  # ids of the visible windows whose title matches the expression
    xdotool search --onlyvisible --name "$1" 2>/dev/null || true
}

# Waits up to 60 s for a visible window whose title matches the regular expression;
# prints its id.
wait_window() {
    local id
    for _ in $(seq 60); do
        id=$(windows_named "$1" | head -n 1)
        if [[ -n $id ]]; then
            echo "$id"
            return 0
        fi
        sleep 1
    done
    return 1
}

wait_gone() {  # waits up to 60 s for window id $1 to go
    for _ in $(seq 60); do
        windows_named '.' | grep -qx "$1" || return 0
        sleep 1
    done
    return 1
}

# Focuses window $1 (there is no window manager to do it) and types the keys that follow;
# a fresh dialog takes a moment before it reads keys.
press() {
    local id=$1
    shift
    xdotool windowfocus --sync "$id" 2>/dev/null || true
    sleep 1
    xdotool key --delay 50 "$@"
}
