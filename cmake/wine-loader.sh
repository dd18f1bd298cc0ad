# Sourced by the scripts that run Windows programs under Wine (wine-run.sh, the window
# test). `use_wine_for PROGRAM.exe` sets the array `wine` to the Wine loader that runs
# that program, from its own PE header: the 32-bit build (PE32) runs under Debian's
# 32-bit loader, the 64-bit one (PE32+) under the 64-bit loader. The `wine` wrapper is
# not used because it prefers the 32-bit loader whenever wine32 is installed, even on a
# host whose kernel cannot run it. Wine's own tools (wineboot, reg, winepath) are run
# through the same loader, so the prefix is made for the program's kind.
#
# A prefix holds one kind: a 64-bit prefix is created with WINEARCH=win64, a 32-bit one
# with win32.
#
# Some hosts' kernels run no 32-bit programs at all ("Exec format error"), the 32-bit
# loader included, and nothing else on the host says so; `loader_runs LOADER` tries it,
# so that a 32-bit program there is refused with the way out, not with a failed prefix.

loader_runs() {  # loader_runs LOADER: it starts and prints its version; else why in $loader_failure
    loader_failure=
    if [[ ! -x $1 ]]; then
        loader_failure="not installed"
        return 1
    fi
    if ! loader_failure=$("$1" --version 2>&1); then
        loader_failure=$(tail -n 1 <<<"$loader_failure")
        return 1
    fi
    loader_failure=
}

use_wine_for() {
    local program=$1 kind
    if [[ ! -f $program ]]; then
        echo "${0##*/}: $program does not exist" >&2
        return 1
    fi
    kind=$(file -b -- "$program")
    case $kind in
        PE32+\ *)
            wine=(/usr/lib/wine/wine64)
            export WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64
            ;;
        PE32\ *)
            wine=(/usr/lib/wine/wine)
            export WINELOADER=/usr/lib/wine/wine WINEARCH=win32
            ;;
        *)
            echo "${0##*/}: $program is not a Windows program ($kind)" >&2
            return 1
            ;;
    esac
    if [[ ! -x ${wine[0]} ]]; then
        echo "${0##*/}: ${wine[0]} is missing, needed for $program (scripts/setup installs it)" >&2
        return 1
    fi
    if ! loader_runs "${wine[0]}"; then
        if [[ $WINEARCH == win32 ]]; then
            echo "${0##*/}: this machine runs no 32-bit programs: use the windows64 preset" \
                 "(${wine[0]}: ${loader_failure:-did not start})" >&2
        else
            echo "${0##*/}: Wine's 64-bit loader does not run here (${wine[0]}: ${loader_failure:-did not start})" >&2
        fi
        return 1
    fi
}
