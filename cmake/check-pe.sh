#!/usr/bin/env bash
# Checks Windows programs as they will be handed out: of the expected kind (PE32 for the
# 32-bit build that ships, PE32+ for the 64-bit test build) and needing no DLL beyond
# Windows' own, so they run on a bare Windows without a C++ runtime beside them.
#
#   cmake/check-pe.sh PE32|PE32+ PROGRAM.exe...
#
# Prints one line per program; exits 1 if any is of another kind or imports another DLL.
set -uo pipefail

if (( $# < 2 )) || [[ $1 != PE32 && $1 != PE32+ ]]; then
    echo "usage: $0 PE32|PE32+ PROGRAM.exe..." >&2
    exit 2
fi
expected=$1
shift

# Windows' own DLLs (lower case), the only ones a program may import.
declare -A system_dll=()
for dll in kernel32 user32 gdi32 comctl32 comdlg32 msvcrt ole32 oleaut32 shell32 shlwapi \
           advapi32 version ws2_32 bcrypt uxtheme; do
    system_dll[$dll.dll]=1
done

failed=0
for program in "$@"; do
    kind=$(file -b -- "$program" 2>&1)
    if [[ $kind != "$expected "* ]]; then
        echo "$program: FAILED: expected $expected, found: $kind"
        failed=1
        continue
    fi
    objdump=i686-w64-mingw32-objdump
    [[ $expected == PE32+ ]] && objdump=x86_64-w64-mingw32-objdump
    if ! imports=$("$objdump" -p -- "$program" | awk '/DLL Name:/ { print tolower($3) }' | sort -u); then
        echo "$program: FAILED: $objdump could not read its imports"
        failed=1
        continue
    fi
    foreign=()
    for dll in $imports; do
        [[ -n ${system_dll[$dll]:-} ]] || foreign+=("$dll")
    done
    if (( ${#foreign[@]} > 0 )); then
        echo "$program: FAILED: needs DLLs that Windows does not have: ${foreign[*]}"
        failed=1
        continue
    fi
    echo "$program: $expected, imports only Windows DLLs ($(echo $imports | tr ' ' ','))"
done
exit "$failed"
