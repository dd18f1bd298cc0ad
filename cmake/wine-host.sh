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
# that path on such a machine); it is still tried, never assumed.
set -uo pipefail

loader32=/usr/lib/wine/wine
loader64=/usr/lib/wine/wine64

try() {  # try LOADER: does it start and print its version?
    [[ -x $1 ]] && "$1" --version >/dev/null 2>&1
}

wanted=${PASARELA_WINE_BITS:-}
case $wanted in
    ''|32|64) ;;
    *) echo "$0: PASARELA_WINE_BITS must be 32 or 64, not '$wanted'" >&2; exit 2 ;;
esac

if [[ $wanted != 64 ]] && try "$loader32"; then
    echo 32
    exit 0
fi
if [[ $wanted != 32 ]] && try "$loader64"; then
    echo 64
    exit 0
fi

why32="not installed"
[[ -e $loader32 ]] && why32=$("$loader32" --version 2>&1 | tail -n 1)
why64="not installed"
[[ -e $loader64 ]] && why64=$("$loader64" --version 2>&1 | tail -n 1)
{
    echo "$0: Wine can run no Windows program on this host${wanted:+ (PASARELA_WINE_BITS=$wanted)}."
    echo "  32-bit loader $loader32: ${why32:-did not start}"
    echo "  64-bit loader $loader64: ${why64:-did not start}"
    echo "  bash scripts/setup installs both (packages wine32:i386 and wine64)."
} >&2
exit 1
