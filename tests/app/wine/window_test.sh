#!/usr/bin/env bash
# Pasarela.exe end to end, under Wine on a private X server, driven through its dialogs
# with xdotool the way a user (or Orlavi's batch start) meets them:
#   batch import, batch export, a cancelled batch import, a batch import that fails,
#   batch mode with an unknown job, Deshacer after two imports (Escape, Cancelar, No,
#   then the first set back and, undone again, the second), interactive mode with the help
#   keys, and the window at 150 % (144 DPI).
# Message texts are read from Wine's message-box trace and their icons from the screen;
# the outcome from Orlavi.ini, the tables in C:\VTEMP and the exit status.
#
#   window_test.sh PASARELA.EXE SOURCE_DIR [SCREENSHOT.png]
#
# With SCREENSHOT.png the interactive window at 96 DPI is saved there (docs/window.png).
# A failing step saves what the screen showed as window-test-failure.png in the current
# folder. Every wait is bounded; the prefix, the X server and the files go at exit.
set -euo pipefail

if (( $# < 2 )); then
    echo "usage: $0 PASARELA.EXE SOURCE_DIR [SCREENSHOT.png]" >&2
    exit 2
fi
exe=$(realpath -- "$1")
source_dir=$(realpath -- "$2")
screenshot=${3:+$(realpath -m -- "$3")}
. "$source_dir/cmake/wine-desktop.sh"
desktop_require import convert xprop
desktop_workdir window
started=$SECONDS
desktop_start "$exe" || exit 1  # the 32- or 64-bit loader, as the build is
export WINEDEBUG=-all,+msgbox  # each message box's text lands in the program's log
# Orlavi's working folder, which Orlavi's installation creates.
vtemp=$WINEPREFIX/drive_c/VTEMP
mkdir -p "$vtemp"
echo "Wine prefix ready after $((SECONDS - started)) s"

failures=0
test_name=
run_log=
messages_seen=0

fail() {
    echo "FAIL [$test_name]: $*" >&2
    failures=$((failures + 1))
}

# A step the rest of the test depends on failed: show what was on screen and stop.
die() {
    fail "$*"
    desktop_show_windows
    [[ -n $run_log && -f $run_log ]] && sed 's/^/  log: /' "$run_log" >&2
    import -window root "$PWD/window-test-failure.png" 2>/dev/null &&
        echo "  screen saved as $PWD/window-test-failure.png" >&2
    exit 1
}

# Copies the program into a folder of its own (Orlavi.ini is written beside it) and starts
# it with the given parameters; it is stopped after `program_seconds` (120 unless set).
start_program() {
    local folder=$1
    shift
    mkdir -p "$folder"
    cp "$exe" "$folder/Pasarela.exe"
    run_log=$work/$test_name.log
    messages_seen=0
    timeout --kill-after=10 "${program_seconds:-120}" "${wine[@]}" "$folder/Pasarela.exe" "$@" >"$run_log" 2>&1 &
    program_pid=$!
}

# Waits up to 60 s for the program to end; sets `status` to its exit status, or to
# "running" after stopping a program that would not end.
finish_program() {
    for _ in $(seq 60); do
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 1
    done
    if kill -0 "$program_pid" 2>/dev/null; then
        kill "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
        program_pid=
        status=running
        return
    fi
    status=0
    wait "$program_pid" || status=$?
    program_pid=
}

# The icon of message box $1 (information, warning, error or none), from the colours of
# its left edge on a fresh screenshot (the icon stands beside the middle of a long text):
# Wine draws them blue, orange and red.
message_icon() {
    local red orange blue
    sleep 1  # let it paint
    capture_window "$1"
    share() {
        convert "$work/screen.png" -crop "60x$window_height+$window_x+$window_y" +repage -fx "$1" \
            -format '%[fx:mean]' info: 2>/dev/null
    }
    red=$(share 'r>0.75 && g<0.45 && b<0.45')
    orange=$(share 'r>0.85 && g>0.4 && g<0.8 && b<0.3')
    blue=$(share 'b>0.5 && r<0.45')
    awk -v red="$red" -v orange="$orange" -v blue="$blue" 'BEGIN {
        kind = "none"; most = 0.01
        if (blue > most) { kind = "information"; most = blue }
        if (orange > most) { kind = "warning"; most = orange }
        if (red > most) { kind = "error" }
        print kind
    }'
}

# The next message box: its text must contain `fragment` (non-ASCII letters appear in
# the trace as \xxxx escapes, so fragments stay ASCII) and, when `icon` is given, its icon
# be that one (see message_icon); Enter closes it.
expect_message() {
    local fragment=$1 icon=${2:-} id text shown
    id=$(wait_window '^Pasarela$') || die "no message box appeared (expected '$fragment')"
    messages_seen=$((messages_seen + 1))
    text=$(grep -a 'MSGBOX_OnInit' "$run_log" | sed -n "${messages_seen}p")
    [[ $text == *"$fragment"* ]] || fail "message $messages_seen is ${text#*MSGBOX_OnInit }, expected '$fragment'"
    if [[ -n $icon ]]; then
        shown=$(message_icon "$id")
        [[ $shown == "$icon" ]] || fail "message '$fragment' shows the icon '$shown', expected '$icon'"
    fi
    press "$id" Return
    wait_gone "$id" || die "the message box '$fragment' did not close"
}

# Whether window $1 stands centred over window $2. X sees the client areas, Windows
# centres the frames: their captions may put the centres up to 16 pixels apart.
expect_centred_over() {
    local what=$3 cx cy dx dy
    eval "$(xdotool getwindowgeometry --shell "$1")"
    cx=$((X + WIDTH / 2)) cy=$((Y + HEIGHT / 2))
    eval "$(xdotool getwindowgeometry --shell "$2")"
    dx=$((cx - X - WIDTH / 2)) dy=$((cy - Y - HEIGHT / 2))
    ((dx * dx <= 256 && dy * dy <= 256)) ||
        fail "$what is not centred over the window (centres $dx,$dy pixels apart)"
}

# The file-open dialog: types the Windows form of `file` and confirms, or cancels when
# `file` is empty. The window shows behind it, and it stands centred over the window.
answer_file_dialog() {
    local file=$1 id main
    id=$(wait_window '^Seleccione Archivo XML obtenido de DASTENO$') || die "the file dialog did not appear"
    main=$(windows_named '^Exportar e importar datos entre Orlavi y DASTENO$' | head -n 1)
    if [[ -z $main ]]; then
        fail "the file dialog shows without the window behind it"
    else
        expect_centred_over "$id" "$main" "the file dialog"
    fi
    if [[ -z $file ]]; then
        press "$id" Escape
    else
        xdotool windowfocus --sync "$id" 2>/dev/null || true
        xdotool type --delay 20 "Z:${file//\//\\}"
        xdotool key Return
    fi
    wait_gone "$id" || die "the file dialog did not close"
}

expect_status() {
    finish_program
    [[ $status == "$1" ]] || fail "exit status $status, expected $1"
}

expect_settings() {
    local file=$1 expected=$2
    if [[ ! -f $file ]]; then
        fail "Orlavi.ini was not written"
        return
    fi
    if ! cmp -s "$file" <(printf '%b' "$expected"); then
        fail "Orlavi.ini differs: $(od -c "$file" | head -n 20)"
    fi
}

# The window's pixel at x,y (window coordinates) as RRGGBB, from a fresh screenshot.
pixel() {
    convert "$work/screen.png" -crop "1x1+$(($1 + window_x))+$(($2 + window_y))" +repage -format '%[hex:p{0,0}]' info: \
        2>/dev/null | cut -c 1-6
}

# Screenshot of the screen and the main window's place on it.
capture_window() {
    local id=$1
    eval "$(xdotool getwindowgeometry --shell "$id")"
    window_x=$X window_y=$Y window_width=$WIDTH window_height=$HEIGHT
    import -window root "$work/screen.png" 2>/dev/null
}

# Whether colour RRGGBB is "present" or "absent" in the window's rectangle x,y,width,height.
expect_colour() {
    local share found=absent
    share=$(convert "$work/screen.png" -crop "$3x$4+$(($1 + window_x))+$(($2 + window_y))" +repage \
        -fill black +opaque "#$5" -fill white -opaque "#$5" -format '%[fx:mean]' info: 2>/dev/null)
    [[ $share =~ ^[0-9.e+-]+$ ]] || die "could not read the screenshot: '$share'"
    [[ $share =~ [1-9] ]] && found=present
    [[ $found == "$6" ]] || fail "#$5 is $found in $1,$2 ${3}x$4 of the window, expected $6 ($7)"
}

expect_pixel() {
    local actual
    actual=$(pixel "$1" "$2")
    [[ ${actual^^} == "$3" ]] || fail "pixel $1,$2 of the window is $actual, expected $3 ($4)"
}

# The whole window, both areas and the bottom strip, from a fresh screenshot: its client
# area is $2 (WIDTHxHEIGHT); the areas' tops show at x=$3 and x=$4, the strip's bottom at
# x=$3, y=$5, and the red version line in the rectangle $6,$7 $8x$9. ${10} ends the message
# of a wrong size.
expect_full_window() {
    capture_window "$1"
    [[ ${window_width}x$window_height == "$2" ]] ||
        fail "client area ${window_width}x$window_height${10}, expected $2"
    expect_pixel "$3" 0 F9D37D "top of the import area"
    expect_pixel "$4" 0 F9D37D "top of the export area"
    expect_pixel "$3" "$5" CCD8E6 "bottom of the bottom strip"
    expect_colour "$6" "$7" "$8" "$9" FF0000 present "the red version line"
}

# Orlavi's solution table SOLUC.DBF (dBase III): rows "DIA|HORA|SESIONES|CODGRUPO|ASIG|
# TAREA|PROF|AULA", numbers right-aligned and texts left-aligned in their widths.
write_solution_table() {
    local file=$1
    shift
    local -a names=(DIA HORA SESIONES CODGRUPO ASIG TAREA PROF AULA)
    local -a types=(N N C C C C C C)
    local -a widths=(2 2 5 10 10 10 10 10)
    local i row
    byte() { printf "\\x$(printf %02x $(($1 & 255)))"; }
    {
        printf '\x03\x7e\x01\x01'  # dBase III without memo, last changed 2026-01-01
        byte $(($# & 255)); byte $(($# >> 8)); byte 0; byte 0  # records
        byte $((32 + 32 * 8 + 1)); byte $(((32 + 32 * 8 + 1) >> 8))  # header length
        byte 60; byte 0  # record length: deletion flag + 59
        head -c 20 /dev/zero
        for i in "${!names[@]}"; do
            printf '%s' "${names[i]}"
            head -c $((11 - ${#names[i]})) /dev/zero
            printf '%s' "${types[i]}"
            head -c 4 /dev/zero
            byte "${widths[i]}"
            head -c 15 /dev/zero
        done
        printf '\r'
        for row in "$@"; do
            IFS='|' read -r -a values <<<"$row"
            printf ' '
            for i in "${!names[@]}"; do
                if [[ ${types[i]} == N ]]; then
                    printf "%${widths[i]}s" "${values[i]}"
                else
                    printf "%-${widths[i]}s" "${values[i]}"
                fi
            done
        done
        printf '\x1a'
    } >"$file"
}

mkdir -p "$work/data"
cp "$source_dir/examples/centro.xml" "$work/data/centro.xml"
tables=(ASIGNOMT ASIGT AULAT DIASHORAST GRUPOST PROFT)

# --- Orlavi starts the import ("exportar" in its words); the file is chosen and imported.
test_name=batch_import
begun=$SECONDS
start_program "$work/import" exportar x
answer_file_dialog "$work/data/centro.xml"
expect_message 'L"Proceso finalizado\r\n\r\n' warning  # the example repeats a teacher's code
expect_status 0
for table in "${tables[@]}"; do
    [[ -s $vtemp/$table.DBF ]] || fail "C:\\VTEMP\\$table.DBF was not written"
done
expect_settings "$work/import/Orlavi.ini" '[Transformadores]\r\nTransformado=1\r\n'
echo "$test_name: $((SECONDS - begun)) s"

# --- The import's dialog is cancelled: the outcome -1 reaches an Orlavi.ini that has
# other sections, a comment, CRLF lines, Latin-1 text and no final line break; nothing
# else in it changes. The job word's letter case does not matter.
test_name=batch_import_cancelled
begun=$SECONDS
mkdir -p "$work/cancel"
printf '; Orlavi\r\n[General]\r\nIdioma=es\r\n\r\n[Transformadores]\r\n; \xfaltimo resultado\r\nTransformado=1\r\nOtro=7\r\n[Final]\r\nX=1' \
    >"$work/cancel/Orlavi.ini"
table_sums() { (cd "$vtemp" && md5sum "${tables[@]/%/.DBF}") 2>&1 || true; }
tables_before=$(table_sums)
start_program "$work/cancel" EXPORTAR x
answer_file_dialog ''
expect_message 'L"No existe archivo"' error
expect_status 2
expect_settings "$work/cancel/Orlavi.ini" \
    '; Orlavi\r\n[General]\r\nIdioma=es\r\n\r\n[Transformadores]\r\n; \xfaltimo resultado\r\nTransformado=-1\r\nOtro=7\r\n[Final]\r\nX=1'
[[ $(table_sums) == "$tables_before" ]] || fail "a cancelled import changed the tables"
echo "$test_name: $((SECONDS - begun)) s"

# --- Orlavi starts the export ("importar"): its notice, the dialog, the result beside the
# chosen file. Uses the tables of the import above and a solution with one row kept, one
# without a day and one whose group and teacher are unknown.
test_name=batch_export
begun=$SECONDS
write_solution_table "$vtemp/SOLUC.DBF" \
    '1|2|1|1ESOA|MAT|LECT|MGR|A101' \
    '0|3|1|1ESOA|MAT|LECT|MGR|A101' \
    '3|4|2|NOGRUPO|ING|REUN|NADIE|A102'
start_program "$work/export" importar x
expect_message 'Abrir el fichero XML de DASTENO,\r\ndesde el cual' information
answer_file_dialog "$work/data/centro.xml"
expect_message 'L"Proceso finalizado' warning  # a row without a day, one with unknown codes
expect_status 0
result=$work/data/ResultadoOrlaviscentro.xml
if [[ ! -f $result ]]; then
    fail "ResultadoOrlaviscentro.xml was not written beside centro.xml"
else
    for row in \
        '<dsolucion casig="5111" cgrupo="7001" cprofe="4401" caula="8801" cactiv="5101" dia="1" hora="2" sesiones="1" idcurso="301"/>' \
        '<dsolucion casig="5112" cgrupo="" cprofe="" caula="8802" cactiv="REUN" dia="3" hora="4" sesiones="2" idcurso=""/>'; do
        grep -qF "$row" "$result" || fail "the result lacks $row"
    done
    rows=$(grep -o '<dsolucion ' "$result" | wc -l)
    [[ $rows == 2 ]] || fail "the result holds $rows dsolucion elements, expected 2"
fi
expect_settings "$work/export/Orlavi.ini" '[Transformadores]\r\nTransformado=1\r\n'
echo "$test_name: $((SECONDS - begun)) s"

# --- A batch import that fails: its error is shown, and the window stays with the
# import's area across its top and the bottom strip below (Salir, help and version), the
# keyboard on the import's button; Salir records 0.
test_name=batch_import_error
begun=$SECONDS
printf 'esto no es XML' >"$work/data/roto.xml"
start_program "$work/error" exportar x
answer_file_dialog "$work/data/roto.xml"
expect_message 'roto.xml' error
id=$(wait_window '^Exportar e importar datos entre Orlavi y DASTENO$') || die "the window did not appear"
sleep 1  # let the first paint finish before the screenshot
capture_window "$id"
expect_pixel 10 0 F9D37D "top of the import area"
expect_pixel 600 0 F9D37D "top of the import area, where the export area would be"
expect_pixel 10 264 CCD8E6 "bottom of the bottom strip"
expect_colour 368 240 233 13 FF0000 present "the red version line of the bottom strip"
press "$id" alt+s
expect_status 1
expect_settings "$work/error/Orlavi.ini" '[Transformadores]\r\nTransformado=0\r\n'
echo "$test_name: $((SECONDS - begun)) s"

# --- Two parameters with an unknown job: batch mode, both areas, no job; closing the
# window records 0.
test_name=batch_unknown_job
begun=$SECONDS
start_program "$work/unknown" otra x
id=$(wait_window '^Exportar e importar datos entre Orlavi y DASTENO$') || die "the window did not appear"
sleep 1  # let the first paint finish before the screenshot
capture_window "$id"
expect_pixel 10 0 F9D37D "top of the import area"
expect_pixel 400 0 F9D37D "top of the export area"
press "$id" alt+F4
expect_status 1
expect_settings "$work/unknown/Orlavi.ini" '[Transformadores]\r\nTransformado=0\r\n'
echo "$test_name: $((SECONDS - begun)) s"

# --- Deshacer, as a secretary meets it: greyed while nothing is kept; after an import of
# the example and one of another school, the list of kept sets; Escape, Cancelar and No to
# the question change nothing; Enter on the list and Yes put the first school's tables back
# byte for byte; Deshacer again gives the second school's back.
test_name=undo
begun=$SECONDS
rm -rf "$vtemp"
mkdir -p "$vtemp"
# Another school, and one of its teachers with another code, so its tables differ.
sed -e 's/codigo_interno="99990001" nombre="IES Valle del Ejemplo"/codigo_interno="99990002" nombre="IES Otro Ejemplo"/' \
    -e 's/codigo="KOB"/codigo="KOC"/' "$work/data/centro.xml" >"$work/data/otro.xml"
program_seconds=480  # two imports and five lists, each step waited for
start_program "$work/undo"
program_seconds=
id=$(wait_window '^Exportar e importar datos entre Orlavi y DASTENO$') || die "the window did not appear"
undo_dialog='^Deshacer una importaci'
press "$id" alt+d  # greyed: its key does nothing
sleep 2
[[ -z $(windows_named "$undo_dialog") && -z $(windows_named '^Pasarela$') ]] ||
    die "Deshacer answered with nothing kept"
press "$id" Return  # the import's OK has the keyboard
answer_file_dialog "$work/data/centro.xml"
expect_message 'L"Proceso finalizado' warning
first_set=$(table_sums)
press "$id" Return
answer_file_dialog "$work/data/otro.xml"
# Another school's tables replaced the first's: the message says so first.
expect_message 'L"ATENCI' warning
second_set=$(table_sums)
[[ $first_set != "$second_set" ]] || die "the two schools' tables are alike: the test would prove nothing"

# Opens the list of kept sets as `list`; it stands centred over the window.
open_undo_list() {
    press "$id" alt+d
    list=$(wait_window "$undo_dialog") || die "Deshacer showed no list"
    expect_centred_over "$list" "$id" "the list of kept sets"
}
open_undo_list
press "$list" Escape
wait_gone "$list" || die "Escape did not close the list"
open_undo_list
press "$list" Tab Tab Return  # from the list to Restaurar, to Cancelar
wait_gone "$list" || die "Cancelar did not close the list"
open_undo_list
press "$list" Return
question=$(wait_window '^Pasarela$') || die "Restaurar asked nothing"
press "$question" Tab Return  # from Yes to No
wait_gone "$question" || die "No did not close the question"
messages_seen=$((messages_seen + 1))
list=$(wait_window "$undo_dialog") || die "No did not go back to the list"
press "$list" Escape
wait_gone "$list" || die "Escape did not close the list"
[[ $(table_sums) == "$second_set" ]] || fail "Escape, Cancelar or No changed the tables"

open_undo_list
press "$list" Return
expect_message 'Volver a poner en C:'
wait_gone "$list" || die "the list stayed after Yes"
# What is now in the folder comes first: the first school's tables.
expect_message 'L"Se han vuelto a poner las tablas del centro 99990001' information
[[ $(table_sums) == "$first_set" ]] || fail "Deshacer did not put the first school's tables back"
grep -aq 'restauraci' "$vtemp/PASARELA-INFORME.TXT" || fail "the report is not the restore's"

open_undo_list
press "$list" Return
expect_message 'Volver a poner en C:'
expect_message 'L"Se han vuelto a poner las tablas del centro 99990002' information
[[ $(table_sums) == "$second_set" ]] || fail "Deshacer twice did not give the second school's tables back"
press "$id" alt+s
expect_status 0
[[ ! -e $work/undo/Orlavi.ini ]] || fail "Deshacer wrote Orlavi.ini"
# The tests after this one start from an empty folder, with Deshacer greyed.
rm -rf "$vtemp"
mkdir -p "$vtemp"
echo "$test_name: $((SECONDS - begun)) s"

# --- An empty second parameter ends the list: interactive mode. Both areas and the
# bottom strip show; the window has a minimise box; Enter at once starts the import (the
# keyboard is not on Salir); F1 and the help button report the missing help file; Alt+S
# (the Salir button) closes; nothing is written.
test_name=interactive
begun=$SECONDS
start_program "$work/interactive" exportar ''
id=$(wait_window '^Exportar e importar datos entre Orlavi y DASTENO$') || die "the window did not appear"
sleep 1  # let the first paint finish before the screenshot
expect_full_window "$id" 632x266 10 400 264 368 240 233 13 ""
if [[ -n $screenshot ]]; then
    mkdir -p "$(dirname "$screenshot")"
    convert "$work/screen.png" -crop "${window_width}x$window_height+$window_x+$window_y" +repage "$screenshot" 2>/dev/null
    echo "window saved as $screenshot"
fi
# Wine passes the window's functions to the window manager as Motif hints; 8 is minimise.
hints=$(xprop -id "$id" _MOTIF_WM_HINTS 2>/dev/null | sed -n 's/.*= *//p')
IFS=', ' read -r _ functions _ <<<"$hints"
[[ -n $functions ]] && (((functions & 8) != 0)) || fail "the window cannot be minimised (Motif hints '$hints')"
press "$id" Return
answer_file_dialog ''
# A cancelled dialog may say that no file was chosen; the window stays either way.
sleep 2
if [[ -n $(windows_named '^Pasarela$') ]]; then
    expect_message 'L"No existe archivo"' error
fi
windows_named '^Exportar e importar datos entre Orlavi y DASTENO$' | grep -qx "$id" ||
    die "Enter at start closed the window"
press "$id" F1
expect_message "No se encuentra la ayuda 'DASTENO.chm'" error
press "$id" shift+Tab Return  # from the import's button, back to F1 Ayuda
expect_message "No se encuentra la ayuda 'DASTENO.chm'"
press "$id" alt+s
expect_status 1
[[ ! -e $work/interactive/Orlavi.ini ]] || fail "interactive mode wrote Orlavi.ini"
echo "$test_name: $((SECONDS - begun)) s"

# --- At 150 % (144 DPI) the window, its areas and their contents grow by half.
test_name=dpi_150
begun=$SECONDS
"${wine[@]}" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
start_program "$work/dpi"
id=$(wait_window '^Exportar e importar datos entre Orlavi y DASTENO$') || die "the window did not appear"
sleep 1
expect_full_window "$id" 948x399 15 600 397 552 360 350 20 " at 144 DPI"
press "$id" alt+F4
expect_status 1
echo "$test_name: $((SECONDS - begun)) s"

echo "window tests took $((SECONDS - started)) s"
if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all window checks passed"
