#!/usr/bin/env bash
# Tells which Windows build this host can test under Wine: prints 32 when Wine's 32-bit
# loader runs here, else 64 when its 64-bit loader does. Some of our machines have kernels
# that run no 32-bit programs at all ("Exec format error"), and nothing in the machine's
# name says so, so the only sound test is to run one: Debian's 32-bit loader
# (/usr/lib/wine/wine, package wine32:i386) is itself a 32-bit program.
#
#   cmake/wine-host.sh         prints 32 or 64; exits 1, saying why, when neither runs
#
# PASARELA_WINE_BITS=64 picks the 64-bit path on a host that could run both (to test
# that path on such a machine), PASARELA_WINE_BITS=32 asks for the 32-bit one only; the
# loader asked for is still tried, never assumed, and when it does not run the message
# says so and whether the other one does.
set -uo pipefail
. "$(dirname "$0")/wine-loader.sh"

loader32=/usr/lib/wine/wine
loader64=/usr/lib/wine/wine64

wanted=${PASARELA_WINE_BITS:-}
case $wanted in
    ''|32|64) ;;
    *) echo "$0: PASARELA_WINE_BITS must be 32 or 64, not '$wanted'" >&2; exit 2 ;;
esac

runs32=false why32=
if loader_runs "$loader32"; then runs32=true; else why32=$loader_failure; fi
runs64=false why64=
if loader_runs "$loader64"; then runs64=true; else why64=$loader_failure; fi

if [[ $wanted != 64 ]] && $runs32; then
    echo 32
    exit 0
fi
if [[ $wanted != 32 ]] && $runs64; then
    echo 64
    exit 0
fi

{
    if [[ $wanted == 32 ]]; then
        if [[ $why32 == "not installed" ]]; then
            echo "$0: Wine's 32-bit loader $loader32 is not installed (PASARELA_WINE_BITS=32); bash scripts/setup installs it (wine32:i386)."
        else
            echo "$0: this machine runs no 32-bit programs (PASARELA_WINE_BITS=32): $loader32: ${why32:-did not start}"
        fi
        if $runs64; then
            echo "  Wine's 64-bit loader runs here: use the windows64 preset (PASARELA_WINE_BITS=64, or leave it unset)."
        fi
    elif [[ $wanted == 64 ]]; then
        echo "$0: Wine's 64-bit loader $loader64 does not run here (PASARELA_WINE_BITS=64): ${why64:-did not start}"
        if [[ $why64 == "not installed" ]]; then
            echo "  bash scripts/setup installs it (wine64)."
        fi
        if $runs32; then
            echo "  Wine's 32-bit loader runs here: use the windows preset (PASARELA_WINE_BITS=32, or leave it unset)."
        fi
    else
        echo "$0: Wine can run no Windows program on this host."
        echo "  32-bit loader $loader32: ${why32:-did not start}"
        echo "  64-bit loader $loader64: ${why64:-did not start}"
        echo "  bash scripts/setup installs both (packages wine32:i386 and wine64)."
    fi
} >&2
exit 1
