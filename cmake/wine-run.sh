#!/usr/bin/env bash
# Runs a Windows program under Wine; ctest uses it as the cross-compiling emulator.
#
#   cmake/wine-run.sh PREFIX PROGRAM.exe [ARGS...]
#
# PREFIX is the Wine prefix (build/windows/wineprefix for the windows preset). It is
# created on first use with `wineboot -i`, under a lock so that parallel ctest runs wait
# for one another instead of racing. The Wine loader (32- or 64-bit) is picked from the
# program itself (wine-loader.sh); a prefix serves one kind of build.
#
# Every environment variable named PASARELA_* whose value is an absolute Linux path
# (PASARELA_CLI, PASARELA_SOURCE_DIR, ...) reaches the program in its Windows form,
# Z:\... (Wine maps Z: to /), so tests can open it or run it from Windows code.
#
# Console programs need no display: DISPLAY is left as it is, unset in CI. The program
# is stopped after 600 s; its exit status is passed on (124 means it was stopped).
set -euo pipefail

if (( $# < 2 )); then
    echo "usage: $0 PREFIX PROGRAM.exe [ARGS...]" >&2
    exit 2
fi
prefix=$(realpath -m -- "$1")  # Wine wants an absolute path
shift
. "$(dirname "$0")/wine-loader.sh"
use_wine_for "$1"

mkdir -p "$(dirname "$prefix")"
export WINEPREFIX=$prefix
export WINEDEBUG=-all

exec 9>"$prefix.lock"
flock 9
if [[ ! -f $prefix/.pasarela-ready ]]; then
    # A prefix without the marker is left over from an interrupted start: begin afresh.
    rm -rf "$prefix"
    # No Mono or Gecko: the programs need neither, and their installers would ask.
    if ! WINEDLLOVERRIDES="mscoree,mshtml=" timeout 300 "${wine[@]}" wineboot -i >"$prefix.log" 2>&1; then
        echo "$0: could not create the Wine prefix $prefix (log: $prefix.log)" >&2
        exit 1
    fi
    touch "$prefix/.pasarela-ready"
fi
flock -u 9
exec 9>&-

while IFS= read -r name; do
    value=${!name}
    if [[ $value == /* ]]; then
        export "$name=Z:${value//\//\\}"
    fi
done < <(compgen -e | grep '^PASARELA_' || true)

status=0
timeout --kill-after=10 600 "${wine[@]}" "$@" || status=$?
if (( status == 124 )); then
    echo "$0: $1 was stopped after 600 s" >&2
fi
exit "$status"
