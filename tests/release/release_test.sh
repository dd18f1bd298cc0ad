#!/usr/bin/env bash
# What scripts/release made, checked as a school receives it:
#   the zip: its five files, 32-bit programs, one version in the file names, --version,
#     the expat compiled in (named by pasarela-cli.exe and the read-me, and no older than
#     the system's libexpat1),
#     both programs' version resources, the window's manifest (version and architecture)
#     and its version line, Pasarela-LEEME.txt for Notepad (its title underlined to its
#     length) with every licence notice whole:
#     each one the build lists (build/release/pasarela-notices.tsv) compared with the
#     licence file or Debian copyright paragraph it names;
#   the guide, Pasarela-Guia.html: one file, every picture docs/guia.md shows inside it;
#   the help file: a CHM that holds every page of docs/help, the guide as a page with its
#     pictures, an index (the text one, accents as entities) whose entries lead to its pages, a full-text search that finds the
#     school's words (python3-chm reads it as the viewer does), a window with the index and
#     search tabs, and maps context number 3 to the main window's page;
#   the help calls, under Wine on a private X server: the "F1 Ayuda" button asks the
#     viewer for the contents (HH_DISPLAY_TOC) and F1 for context 3, which reaches
#     ventana.html (read from Wine's htmlhelp trace);
#   started as Orlavi starts it, the file dialog and the message each have a task-bar
#     button (no _NET_WM_STATE_SKIP_TASKBAR under Wine);
#   the installer: what it holds (7z), and,
#     where this host runs 32-bit programs (NSIS installers are 32-bit), a silent install
#     into a folder that already has Orlavi's Orlavi.ini and LEEME.txt, then a silent
#     uninstall, with the Start menu, the "Programs and Features" entry (and its size)
#     and Orlavi's files checked at each step; then, through its pages, the warning on a
#     folder that holds neither Orlavi.exe nor Orlavi.ini (answered No: nothing
#     installed), and none on the folder it offers, C:\Orlavi, which holds Orlavi.ini.
#
#   release_test.sh SOURCE_DIR dist/Pasarela-<version>-win32.zip dist/Pasarela-<version>-setup.exe [WINDOWS64_DIR]
#
# On a host that runs no 32-bit programs, the checks under Wine (help calls, --version,
# batch dialogs) run the 64-bit build of the same sources in WINDOWS64_DIR (the windows64
# preset's folder) with the zip's DASTENO.chm beside it; the installer is then only listed.
#
# Every wait is bounded; the prefix, the X server and the files go at exit.
set -euo pipefail

if (( $# != 3 && $# != 4 )); then
    echo "usage: $0 SOURCE_DIR ZIP SETUP.exe [WINDOWS64_DIR]" >&2
    exit 2
fi
source_dir=$(realpath -- "$1")
zip_file=$(realpath -- "$2")
setup_file=$(realpath -- "$3")
windows64_dir=${4:+$(realpath -- "$4")}
. "$source_dir/cmake/wine-desktop.sh"
desktop_require unzip 7z extract_chmLib strings xprop chmls
/usr/bin/python3 -c 'import chm.chm' 2>/dev/null || { echo "$0: python3-chm is missing (bash scripts/setup installs it)" >&2; exit 1; }
desktop_workdir release

failures=0
section=
fail() {
    echo "FAIL [$section]: $*" >&2
    failures=$((failures + 1))
}
die() {
    fail "$*"
    desktop_show_windows
    exit 1
}

# --- The zip ---------------------------------------------------------------------------
section=zip
version=$(basename "$zip_file")
version=${version#Pasarela-}
version=${version%-win32.zip}
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "the zip's name $(basename "$zip_file") carries no version"
[[ $(basename "$setup_file") == "Pasarela-$version-setup.exe" ]] ||
    fail "the installer is $(basename "$setup_file"), expected Pasarela-$version-setup.exe"
project_version=$(sed -n 's/^project(Pasarela VERSION \([0-9.]*\) .*/\1/p' "$source_dir/CMakeLists.txt")
[[ $version == "$project_version" ]] || fail "release $version, but CMakeLists.txt sets $project_version"

app=$work/app
mkdir -p "$app"
unzip -q "$zip_file" -d "$app"
listed=$(cd "$app" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
[[ $listed == "DASTENO.chm Pasarela-Guia.html Pasarela-LEEME.txt Pasarela.exe pasarela-cli.exe " ]] ||
    fail "the zip holds '$listed', expected DASTENO.chm Pasarela-Guia.html Pasarela-LEEME.txt Pasarela.exe pasarela-cli.exe"
[[ $(file -b "$app/Pasarela.exe") == "PE32 executable (GUI) Intel 80386"* ]] ||
    fail "Pasarela.exe is $(file -b "$app/Pasarela.exe")"
[[ $(file -b "$app/pasarela-cli.exe") == "PE32 executable (console) Intel 80386"* ]] ||
    fail "pasarela-cli.exe is $(file -b "$app/pasarela-cli.exe")"

# The version resource's texts and the window's version line, as Windows reads them (UTF-16).
resource_value() { strings -el "$1" | grep -x -A1 "$2" | sed -n 2p; }
for program in Pasarela.exe pasarela-cli.exe; do
    for item in "ProductVersion $version" "FileVersion $version.0" "OriginalFilename $program"; do
        read -r key expected <<<"$item"
        [[ $(resource_value "$app/$program" "$key") == "$expected" ]] ||
            fail "$program's $key is '$(resource_value "$app/$program" "$key")', expected $expected"
    done
done
identity=$(grep -ao '<assemblyIdentity type="win32" name="Pasarela"[^>]*>' "$app/Pasarela.exe" || true)
[[ $identity == *" version=\"$version.0\" "* && $identity == *' processorArchitecture="x86"'* ]] ||
    fail "Pasarela.exe's manifest names '${identity:-nothing}', expected version $version.0 for x86"
[[ $(resource_value "$setup_file" ProductVersion) == "$version" ]] ||
    fail "the installer's ProductVersion is '$(resource_value "$setup_file" ProductVersion)', expected $version"
strings -el "$app/Pasarela.exe" | grep -qx "Pasarela $version para OV18 V-1.0" ||
    fail "Pasarela.exe lacks the version line 'Pasarela $version para OV18 V-1.0'"

leeme=$app/Pasarela-LEEME.txt
[[ $(head -c 3 "$leeme" | od -An -tx1 | tr -d ' ') == efbbbf ]] || fail "Pasarela-LEEME.txt does not start with a UTF-8 byte order mark"
[[ $(grep -c $'\r$' "$leeme") == $(wc -l <"$leeme") ]] || fail "Pasarela-LEEME.txt has lines without CR LF"
grep -q "Pasarela $version"$'\r$' "$leeme" || fail "Pasarela-LEEME.txt does not name Pasarela $version"
title=$(sed -n '1s/^\xef\xbb\xbf//; 1s/\r$//p' "$leeme")
underline=$(sed -n '2s/\r$//p' "$leeme")
[[ $underline =~ ^=+$ && ${#underline} == "${#title}" ]] ||
    fail "Pasarela-LEEME.txt's title '$title' is underlined by '$underline'"
echo "zip: checked ($version)"

# --- The guide --------------------------------------------------------------------------
# One file for a browser: nothing it shows may be left outside it.
section=guide
guide=$app/Pasarela-Guia.html
grep -q '<title>Guía de Pasarela</title>' "$guide" || fail "Pasarela-Guia.html is not the guide: $(grep -o '<title>.*</title>' "$guide")"
outside=$(grep -oE '(src|href)="[^"#][^"]*"' "$guide" | grep -v '^src="data:image/png;base64,' || true)
[[ -z $outside ]] || fail "Pasarela-Guia.html leads outside itself: $outside"
pictures=$(grep -oE '\]\(guia/[^)]+\.png\)' "$source_dir/docs/guia.md" | sed 's/^](//; s/)$//' | sort -u)
[[ -n $pictures ]] || fail "docs/guia.md shows no pictures"
for picture in $pictures; do
    grep -q "src=\"data:image/png;base64,$(base64 -w0 "$source_dir/docs/$picture")\"" "$guide" ||
        fail "Pasarela-Guia.html lacks $picture, as docs/$picture has it"
done
echo "guide: checked ($(wc -w <<<"$pictures") pictures)"
# --- The XML library compiled in ------------------------------------------------------
# The Windows programs carry their own expat, compiled from Debian's source package: never
# older than the one the system links, which has every security fix Debian has published.
section=expat
expat_built=$(cat "$source_dir/build/release/pasarela-expat-version.txt" 2>/dev/null || true)
expat_system=
while read -r linked; do
    if [[ -z $expat_system ]] || dpkg --compare-versions "$linked" gt "$expat_system"; then
        expat_system=$linked
    fi
done < <(dpkg-query -W -f '${Version}\n' libexpat1 2>/dev/null)
if [[ -z $expat_built ]]; then
    fail "the build that made the release names no expat version (build/release/pasarela-expat-version.txt)"
else
    grep -aqF "expat $expat_built" "$app/pasarela-cli.exe" || fail "pasarela-cli.exe does not carry expat $expat_built"
    grep -qF "expat $expat_built" "$leeme" || fail "Pasarela-LEEME.txt does not name expat $expat_built"
    if [[ -z $expat_system ]]; then
        fail "the system links no libexpat1 to compare the shipped expat with"
    elif dpkg --compare-versions "$expat_built" lt "$expat_system"; then
        # Older than the system's is refused, unless scripts/setup tried the newer source and
        # the archives this machine reaches would not give its files: then nothing newer can
        # be built here, and the check says so loudly instead of stopping every build.
        unfetched_newer=
        while read -r unfetched; do
            if [[ -n $unfetched ]] && dpkg --compare-versions "$unfetched" ge "$expat_system"; then
                unfetched_newer=$unfetched
            fi
        done < <(cat "$source_dir/.deps/expat-unfetched.txt" 2>/dev/null)
        if [[ -z $unfetched_newer ]]; then
            fail "the Windows programs compile expat $expat_built, older than the system's $expat_system:" \
                "run bash scripts/setup, which unpacks the newest expat source, and release again"
        else
            echo "WARNING: the Windows programs compile expat $expat_built, older than the system's" \
                "$expat_system, whose source ($unfetched_newer) the archives this machine reaches do not give"
        fi
    fi
    echo "expat: checked ($expat_built compiled in; the system links $expat_system)"
fi

# --- The licence notices ----------------------------------------------------------------
# Each notice must be there whole: its words, in order and unbroken, as the licence file
# (or the paragraph of the Debian copyright file) that the build named holds them.
section=licences
notices=$source_dir/build/release/pasarela-notices.tsv
[[ -s $notices ]] || die "the build that made the release listed no licence notices ($notices)"
words() { sed '1s/^\xef\xbb\xbf//' | tr -d '\r' | tr -s ' \t\n' '\n' | grep -v '^$' | tr '\n' ' ' | sed 's/ $//'; }
# The words of the copyright statements and licence text of one paragraph of a Debian
# copyright file: "Files: PATTERN ..." up to the next blank line; a licence named there
# without its text has it in a paragraph of its own, "License: NAME".
debian_paragraph() {  # debian_paragraph FILE PATTERN
    awk -v want="$2" 'BEGIN { RS = "" } { split($0, f, /[ \t\n]+/) } f[1] == "Files:" && f[2] == want { print; exit }' "$1"
}
debian_licence_text() {  # debian_licence_text FILE NAME
    awk -v want="$2" 'BEGIN { RS = "" } $1 == "License:" && index(substr($0, 10), want "\n") == 1 { print; exit }' "$1" |
        tail -n +2
}
# The words of the notices under the heading NAME (a line underlined with "="), up to the
# next heading: each library's notice must be whole in its own part, not merely somewhere
# (expat and winpthreads share the MIT licence's words).
notice_section() {
    sed '1s/^\xef\xbb\xbf//; s/\r$//' "$leeme" | awk -v name="$1" '
        { line[NR] = $0 }
        END {
            for (i = 1; i <= NR; i++) {
                heading = i < NR && line[i + 1] ~ /^=+$/ && length(line[i + 1]) == length(line[i])
                if (heading) inside = (line[i] == name)
                else if (inside && line[i] !~ /^=+$/) print line[i]
            }
        }' | words
}
checked_names=()
while IFS=$'\t' read -r name file paragraph; do
    [[ -f $file ]] || { fail "the notice of $name, $file, does not exist"; continue; }
    leeme_words=" $(notice_section "$name") "
    [[ -n ${leeme_words// /} ]] || { fail "Pasarela-LEEME.txt has no part headed '$name'"; continue; }
    if [[ -z $paragraph ]]; then
        expected=$(words <"$file")
        [[ $leeme_words == *" $expected "* ]] || fail "Pasarela-LEEME.txt lacks $name's notice, whole, as $file has it, under '$name'"
    else
        text=$(debian_paragraph "$file" "$paragraph")
        [[ -n $text ]] || { fail "$file has no paragraph 'Files: $paragraph' for $name"; continue; }
        statements=$(sed -n '/^Copyright:/,/^[A-Za-z-]*:/p' <<<"$text" | sed '$d; s/^Copyright://')
        licence=$(sed -n '/^License:/,$p' <<<"$text")
        if [[ $(wc -l <<<"$licence") == 1 ]]; then
            licence=$(debian_licence_text "$file" "$(sed 's/^License: *//' <<<"$licence")")
        else
            licence=$(tail -n +2 <<<"$licence")
        fi
        [[ -n $licence ]] || { fail "$file gives no licence text for 'Files: $paragraph' ($name)"; continue; }
        while IFS= read -r statement; do
            [[ -z ${statement// /} ]] && continue
            [[ $leeme_words == *" $(words <<<"$statement") "* ]] ||
                fail "Pasarela-LEEME.txt lacks $name's copyright '$(words <<<"$statement")' ($file, Files: $paragraph)"
        done <<<"$statements"
        expected=$(grep -v '^ *\.$' <<<"$licence" | words)
        [[ $leeme_words == *" $expected "* ]] ||
            fail "Pasarela-LEEME.txt lacks $name's licence, whole, under '$name', as $file has it for 'Files: $paragraph'"
    fi
    checked_names+=("$name")
done <"$notices"
# What the programs show of themselves must be among what the notices cover.
grep -aq 'expat_[0-9]' "$app/Pasarela.exe" && [[ " ${checked_names[*]} " != *" expat "* ]] &&
    fail "Pasarela.exe holds expat, but no notice of expat is listed"
echo "licences: checked ($(printf '%s\n' "${checked_names[@]}" | uniq | tr '\n' ' '))"

# --- The help file --------------------------------------------------------------------
section=chm
chm=$work/chm
mkdir -p "$chm"
[[ $(file -b "$app/DASTENO.chm") == "MS Windows HtmlHelp Data"* ]] || fail "DASTENO.chm is $(file -b "$app/DASTENO.chm")"
extract_chmLib "$app/DASTENO.chm" "$chm" >"$work/extract.log" 2>&1 || die "extract_chmLib failed: $(cat "$work/extract.log")"
# The pages in the help's code page, Windows-1252, in which the viewer reads their titles.
for page in "$source_dir"/docs/help/*.html; do
    name=$(basename "$page")
    iconv -f UTF-8 -t WINDOWS-1252 "$page" | sed 's/charset=utf-8/charset=windows-1252/' | cmp -s - "$chm/$name" ||
        fail "the CHM lacks $name, or holds another one than docs/help's in Windows-1252"
done
for page in "$source_dir"/docs/help/*.css "$source_dir"/docs/help/*.hhc "$source_dir"/docs/help/*.hhk; do
    name=$(basename "$page")
    cmp -s "$page" "$chm/$name" || fail "the CHM lacks $name, or holds another one"
done
# The guide is a page of its own, with its pictures.
[[ -f $chm/guia.html ]] || fail "the CHM lacks the guide's page, guia.html"
for picture in $pictures; do
    cmp -s "$source_dir/docs/$picture" "$chm/$picture" || fail "the CHM lacks the guide's $picture, or holds another one"
done
# Each page's links and pictures, and each entry of the contents and the index, lead to
# files the CHM holds.
for page in "$chm"/*.html; do
    grep -oE '(href|src)="[^"#]*' "$page" | sed -E 's/^(href|src)="//' | while read -r target; do
        [[ -f $chm/$target ]] || echo "$(basename "$page") leads to $target, which the CHM lacks"
    done
done >"$work/links.log"
for sitemap in "$chm"/*.hhc "$chm"/*.hhk; do
    [[ -f $sitemap ]] || continue
    grep -o '<param name="Local" value="[^"]*"' "$sitemap" | sed 's/.*value="//; s/"$//' | sort -u | while read -r target; do
        [[ -f $chm/$target ]] || echo "$(basename "$sitemap") leads to $target, which the CHM lacks"
    done
done >>"$work/links.log"
[[ ! -s $work/links.log ]] || fail "broken links: $(cat "$work/links.log")"
# The index, as the viewer reads it from the CHM's indice.hhk: its entries, its accented
# letters as entities (read in the help's code page, UTF-8 would show as "cÃ³digo"), and
# the words a school looks for. No binary index stands in for it with other words.
[[ ! -e $chm/\$WWKeywordLinks/BTree ]] || fail "the CHM has a binary index, which would show entities as written"
/usr/bin/python3 - "$chm/indice.hhk" >"$work/index.log" 2>&1 <<'PYTHON' || fail "the index: $(cat "$work/index.log")"
import html, re, sys
data = open(sys.argv[1], "rb").read()
if any(byte > 127 for byte in data):
    sys.exit("indice.hhk holds letters beyond ASCII, which the viewer reads in the help's code page")
names = [html.unescape(name) for name in re.findall(r'<param name="Name" value="([^"]*)">', data.decode("ascii"))]
for keyword in ("profesores", "grupos", "materias", "aulas", "horario", "deshacer una importación", "informe",
                "avisos", "disco lleno", "en uso por otro programa", "códigos"):
    if keyword not in names:
        sys.exit(f"it lacks '{keyword}'")
PYTHON
# Full-text search, as the viewer's search tab runs it: each word leads to the pages that
# hold it, listed by titles the viewer reads in Windows-1252.
[[ -s $chm/\$FIftiMain ]] || fail "the CHM has no full-text search data (\$FIftiMain)"
/usr/bin/python3 - "$app/DASTENO.chm" >"$work/search.log" 2>&1 <<'PYTHON' || fail "full-text search: $(cat "$work/search.log")"
import sys
from chm import chm
help_file = chm.CHMFile()
if not help_file.LoadCHM(sys.argv[1]) or not help_file.IsSearchable():
    sys.exit("the CHM cannot be searched")
expected = {"profesor": "importar.html", "grupo": "importar.html", "materia": "importar.html",
            "horario": "exportar.html", "aviso": "informe.html", "instalador": "guia.html",
            "deshacer": "deshacer.html"}
for word, page in expected.items():
    found, pages = help_file.Search(word.encode(), 1, 0)
    if page.encode() not in pages.values():
        sys.exit(f"searching '{word}' finds {sorted(p.decode() for p in pages.values())}, not {page}")
found, pages = help_file.Search(b"instalador", 1, 0)
if "Guía de Pasarela".encode("cp1252") not in pages:
    sys.exit(f"the guide's title is not 'Guía de Pasarela' in Windows-1252: {list(pages)}")
PYTHON
# The viewer's window shows the index and search tabs (HHWIN_PROP_TAB_SEARCH), under the help's title.
windows=$(chmls printwindows "$app/DASTENO.chm" 2>&1 || true)
grep -q 'Index File *: indice.hhk' <<<"$windows" || fail "the help's window has no index: $windows"
styles=$(sed -n 's/.*navigation pane styles *: *\([0-9A-Fa-f]\{1,8\}\).*/\1/p' <<<"$windows")
[[ -n $styles ]] && (( 16#$styles & 0x400 )) || fail "the help's window has no search tab: $windows"
grep -q 'Title Bar Text *: Ayuda de Pasarela ' <<<"$windows" || fail "the help's window is not titled 'Ayuda de Pasarela': $windows"
# The context table: #IVB is a byte count and then pairs of 32-bit numbers (context,
# offset of its page's name in #STRINGS).
context_page=
if [[ -f $chm/#IVB && -f $chm/#STRINGS ]]; then
    read -r -a ivb <<<"$(od -An -v -tu4 "$chm/#IVB")"
    for ((i = 1; i + 1 < ${#ivb[@]}; i += 2)); do
        if ((ivb[i] == 3)); then
            context_page=$(tail -c +$((ivb[i + 1] + 1)) "$chm/#STRINGS" | tr '\0' '\n' | head -n 1)
        fi
    done
fi
[[ $context_page == "/ventana.html" || $context_page == "ventana.html" ]] ||
    fail "context 3 leads to '$context_page', expected ventana.html"
echo "chm: checked (context 3 -> $context_page)"

# --- The installer's contents ----------------------------------------------------------
section=installer_contents
7z l -slt "$setup_file" >"$work/7z.log" 2>&1 || die "7z cannot read the installer: $(tail -n 3 "$work/7z.log")"
for name in Pasarela.exe pasarela-cli.exe DASTENO.chm Pasarela-Guia.html Pasarela-LEEME.txt "Desinstalar Pasarela.exe"; do
    grep -qx "Path = $name" "$work/7z.log" || fail "the installer lacks $name"
done
grep -qx "Path = LEEME.txt" "$work/7z.log" && fail "the installer holds a LEEME.txt, which would replace Orlavi's"
echo "installer contents: checked"

bits=$(bash "$source_dir/cmake/wine-host.sh") || die "Wine runs nothing on this host"
if [[ $bits == 64 ]]; then
    # The zip's programs cannot run here: the same sources built for 64-bit Windows stand
    # in for them, with the zip's help file beside them.
    [[ -n $windows64_dir && -f $windows64_dir/Pasarela.exe && -f $windows64_dir/pasarela-cli.exe ]] ||
        die "this host runs no 32-bit programs and no 64-bit build was given for the checks under Wine"
    echo "this host runs no 32-bit programs: the checks under Wine run the 64-bit build in $windows64_dir"
    mkdir -p "$work/app64"
    cp "$windows64_dir/Pasarela.exe" "$windows64_dir/pasarela-cli.exe" "$app/DASTENO.chm" "$work/app64/"
    app=$work/app64
fi

# --- Under Wine ------------------------------------------------------------------------
desktop_start "$app/Pasarela.exe" || die "no display or no Wine prefix for the checks under Wine"
export WINEDEBUG=-all

section=version
cli_version=$(timeout 120 "${wine[@]}" "$app/pasarela-cli.exe" --version 2>/dev/null | tr -d '\r')
[[ $cli_version == "pasarela-cli $version"$'\n'"expat $expat_built" ]] ||
    fail "pasarela-cli.exe --version says '$cli_version'"

# Waits up to 30 s for the trace to hold a line matching the regular expression.
wait_trace() {
    for _ in $(seq 30); do
        grep -aqE "$1" "$run_log" && return 0
        sleep 1
    done
    return 1
}

# --- The help calls, from the unpacked zip (DASTENO.chm beside Pasarela.exe) -------------
section=help_calls
run_log=$work/help.log
WINEDEBUG=-all,+htmlhelp,+msgbox timeout --kill-after=10 180 "${wine[@]}" "$app/Pasarela.exe" >"$run_log" 2>&1 &
program_pid=$!
main=$(wait_window '^Exportar e importar datos entre Orlavi y DASTENO$') || die "the window did not appear"
press "$main" shift+Tab Return  # from the import's button, where the keyboard starts, to F1 Ayuda
wait_trace 'HtmlHelpW .*command=' || die "the help button called no help"
grep -aE 'HtmlHelpW .*command=' "$run_log" | head -n 1 | grep -q 'DASTENO.chm", command=HH_DISPLAY_TOC, data=0)' ||
    fail "the help button asked for $(grep -aE 'HtmlHelpW .*command=' "$run_log" | head -n 1 | sed 's/.*command=//'), expected HH_DISPLAY_TOC, data=0"
help=$(wait_window '^Ayuda de Pasarela$') || die "the help's window did not appear"
grep -aq 'MSGBOX_OnInit' "$run_log" && fail "a message box appeared: $(grep -a MSGBOX_OnInit "$run_log")"
press "$help" alt+F4
wait_gone "$help" || die "the help's window did not close"

calls_before=$(grep -acE 'HtmlHelpW .*command=' "$run_log")
press "$main" F1
wait_trace 'command=HH_HELP_CONTEXT' || die "F1 called no help"
grep -aE 'HtmlHelpW .*command=' "$run_log" | sed -n "$((calls_before + 1))p" | grep -q 'DASTENO.chm", command=HH_HELP_CONTEXT, data=3)' ||
    fail "F1 asked for $(grep -aE 'HtmlHelpW .*command=' "$run_log" | sed -n "$((calls_before + 1))p" | sed 's/.*command=//'), expected HH_HELP_CONTEXT, data=3"
wait_trace 'navigate_url .*DASTENO\.chm::/ventana\.html"' ||
    fail "context 3 did not open ventana.html: $(grep -a 'FindContextAlias\|navigate_url' "$run_log" | tail -n 2)"
help=$(wait_window '^Ayuda de Pasarela$') || die "F1 showed no help window"
press "$help" alt+F4
wait_gone "$help" || die "the help's window did not close"
press "$main" alt+F4
for _ in $(seq 60); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 1
done
kill -0 "$program_pid" 2>/dev/null && fail "Pasarela.exe did not end"
wait "$program_pid" 2>/dev/null || true
program_pid=
echo "help calls: checked"

# --- Started as Orlavi starts it, the window shows first, with a task-bar button of its
# own (Wine marks a window that has none with _NET_WM_STATE_SKIP_TASKBAR), and the file
# dialog and the message stand over it, owned by it: whatever opens behind Orlavi is found
# through the window's button.
section=batch_dialogs
run_log=$work/batch.log
batch=$work/batch
mkdir -p "$batch"
cp "$app/Pasarela.exe" "$batch/"
mkdir -p "$WINEPREFIX/drive_c/VTEMP"
taskbar_state() { xprop -id "$1" _NET_WM_STATE WM_TRANSIENT_FOR 2>&1 | tr '\n' ' '; }
owner_of() { printf '%d' "$(xprop -id "$1" WM_TRANSIENT_FOR 2>/dev/null | sed -n 's/.*window id # //p')"; }
WINEDEBUG=-all,+msgbox timeout --kill-after=10 180 "${wine[@]}" "$batch/Pasarela.exe" exportar x >"$run_log" 2>&1 &
program_pid=$!
main=$(wait_window '^Exportar e importar datos entre Orlavi y DASTENO$') || die "the window did not appear"
state=$(taskbar_state "$main")
[[ $state != *SKIP_TASKBAR* && $state == *"WM_TRANSIENT_FOR:  not found"* ]] ||
    fail "the window has no task-bar button of its own: $state"
dialog=$(wait_window '^Seleccione Archivo XML obtenido de DASTENO$') || die "the file dialog did not appear"
[[ $(owner_of "$dialog") == "$main" ]] || fail "the file dialog does not stand over the window: $(taskbar_state "$dialog")"
press "$dialog" Escape
message=$(wait_window '^Pasarela$') || die "no message box appeared after the cancelled dialog"
[[ $(owner_of "$message") == "$main" ]] || fail "the message does not stand over the window: $(taskbar_state "$message")"
grep -aq 'MSGBOX_OnInit L"No existe archivo"' "$run_log" || fail "the message was not 'No existe archivo'"
press "$message" Return
for _ in $(seq 60); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 1
done
status=0
wait "$program_pid" 2>/dev/null || status=$?
program_pid=
[[ $status == 2 ]] || fail "a cancelled batch import ended with status $status, expected 2"
grep -q 'Transformado=-1' "$batch/Orlavi.ini" 2>/dev/null || fail "Orlavi.ini does not hold -1"
echo "batch dialogs: checked"

# --- Silent install and uninstall -------------------------------------------------------
if [[ $bits == 64 ]]; then
    echo "silent install and uninstall: SKIPPED (NSIS installers are 32-bit and this host runs no 32-bit programs; the installer's contents were listed above)"
    if ((failures > 0)); then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all release checks passed"
    exit 0
fi
section=installer
folder_windows='C:\Orlavi'
folder=$WINEPREFIX/drive_c/Orlavi
mkdir -p "$folder"
printf '[General]\r\nIdioma=es\r\n[Transformadores]\r\nTransformado=-1\r\n' >"$folder/Orlavi.ini"
cp "$folder/Orlavi.ini" "$work/Orlavi.ini.before"
printf 'Orlavi: léame\r\n' >"$folder/LEEME.txt"  # Orlavi's own, which must survive
cp "$folder/LEEME.txt" "$work/LEEME.txt.before"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pasarela'
registry_value() { timeout 60 "${wine[@]}" reg query "$uninstall_key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v name="$1" '$1 == name { $1 = $2 = ""; sub(/^ +/, ""); print }'; }
menu_entry() { find "$WINEPREFIX/drive_c/users" -path '*/Start Menu/Programs/Pasarela/*.lnk' -printf '%f\n' 2>/dev/null | LC_ALL=C sort | tr '\n' ' '; }

status=0
timeout 300 "${wine[@]}" "$setup_file" /S "/D=$folder_windows" >"$work/setup.log" 2>&1 || status=$?
[[ $status == 0 ]] || fail "the silent install ended with status $status: $(tail -n 5 "$work/setup.log")"
for name in Pasarela.exe pasarela-cli.exe DASTENO.chm Pasarela-Guia.html Pasarela-LEEME.txt; do
    cmp -s "$app/$name" "$folder/$name" || fail "the install did not put the zip's $name in $folder_windows"
done
[[ -f "$folder/Desinstalar Pasarela.exe" ]] || fail "the install wrote no uninstaller"
cmp -s "$work/Orlavi.ini.before" "$folder/Orlavi.ini" || fail "the install changed Orlavi.ini: $(od -c "$folder/Orlavi.ini" | head)"
cmp -s "$work/LEEME.txt.before" "$folder/LEEME.txt" || fail "the install changed Orlavi's LEEME.txt"
# Programs and Features shows the size of Pasarela's own files (KiB), not of the folder's.
shipped_kib=$(( ($(cat "$app/Pasarela.exe" "$app/pasarela-cli.exe" "$app/DASTENO.chm" "$app/Pasarela-Guia.html" "$app/Pasarela-LEEME.txt" | wc -c) + 1023) / 1024 ))
estimated=$(registry_value EstimatedSize)
if [[ $estimated =~ ^0x[0-9a-fA-F]+$ ]]; then
    (( estimated >= shipped_kib - 1 && estimated <= shipped_kib + 8 )) ||
        fail "Programs and Features gives a size of $((estimated)) KiB, the files take $shipped_kib KiB"
else
    fail "Programs and Features gives no size (EstimatedSize is '$estimated')"
fi
[[ $(registry_value DisplayName) == Pasarela ]] || fail "Programs and Features shows '$(registry_value DisplayName)'"
[[ $(registry_value DisplayVersion) == "$version" ]] || fail "Programs and Features gives version '$(registry_value DisplayVersion)'"
[[ $(registry_value UninstallString) == "\"$folder_windows\\Desinstalar Pasarela.exe\"" ]] ||
    fail "the registered uninstaller is '$(registry_value UninstallString)'"
[[ $(menu_entry) == "Ayuda de Pasarela.lnk Desinstalar Pasarela.lnk Guía de Pasarela.lnk Pasarela.lnk " ]] ||
    fail "the Start menu holds '$(menu_entry)'"

# Installing again (an update) leaves Orlavi.ini as it is too.
status=0
timeout 300 "${wine[@]}" "$setup_file" /S "/D=$folder_windows" >"$work/setup2.log" 2>&1 || status=$?
[[ $status == 0 ]] || fail "installing again ended with status $status"
cmp -s "$work/Orlavi.ini.before" "$folder/Orlavi.ini" || fail "installing again changed Orlavi.ini"
echo "silent install: checked"

# The uninstaller copies itself aside and runs from there, so it is waited for by its work.
timeout 300 "${wine[@]}" "$folder/Desinstalar Pasarela.exe" /S >"$work/uninstall.log" 2>&1 || true
for _ in $(seq 60); do
    [[ ! -e "$folder/Desinstalar Pasarela.exe" && -z $(menu_entry) ]] && break
    sleep 1
done
sleep 2
for name in Pasarela.exe pasarela-cli.exe DASTENO.chm Pasarela-Guia.html Pasarela-LEEME.txt "Desinstalar Pasarela.exe"; do
    [[ ! -e $folder/$name ]] || fail "the uninstall left $name"
done
cmp -s "$work/Orlavi.ini.before" "$folder/Orlavi.ini" || fail "the uninstall removed or changed Orlavi.ini"
cmp -s "$work/LEEME.txt.before" "$folder/LEEME.txt" || fail "the uninstall removed or changed Orlavi's LEEME.txt"
[[ -z $(menu_entry) ]] || fail "the uninstall left the Start menu entries $(menu_entry)"
[[ -z $(registry_value DisplayName) ]] || fail "the uninstall left the Programs and Features entry"
echo "silent uninstall: checked"

# --- The folder page: a warning where Orlavi is not -------------------------------------
# The installer is started at its folder page (/D= names the folder it offers) and the
# page's default button pressed. The warning is read from Wine's message-box trace.
section=installer_folder
folder_page() {  # folder_page LOG [/D=FOLDER]: starts the installer, presses Instalar
    local log=$1
    shift
    WINEDEBUG=-all,+msgbox timeout --kill-after=10 180 "${wine[@]}" "$setup_file" "$@" >"$log" 2>&1 &
    program_pid=$!
    setup_window=$(wait_window "Pasarela $version") || die "the installer's window did not appear"
    press "$setup_window" Return
}
end_installer() {
    kill "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
    program_pid=
    timeout 30 wineserver -k 2>/dev/null || true
}
warning='Orlavi.exe ni Orlavi.ini'  # the trace writes accented letters as escapes

other=$WINEPREFIX/drive_c/Otra
folder_page "$work/folder-other.log" '/D=C:\Otra'
for _ in $(seq 30); do
    grep -aq "$warning" "$work/folder-other.log" && break
    sleep 1
done
if grep -aq "$warning" "$work/folder-other.log"; then
    grep -aq 'Orlavi inicia Pasarela desde su propia carpeta' "$work/folder-other.log" ||
        fail "the warning does not say why the folder matters: $(grep -a MSGBOX_OnInit "$work/folder-other.log")"
    sleep 1
    # No, the default button: back to the folder page, nothing installed.
    xdotool key --delay 50 Return
    sleep 3
    [[ -n $(windows_named "Pasarela $version") ]] || fail "answering No to the warning closed the installer"
    [[ ! -e $other/Pasarela.exe ]] || fail "answering No to the warning installed Pasarela all the same"
else
    fail "no warning for a folder without Orlavi.exe or Orlavi.ini: $(grep -a MSGBOX_OnInit "$work/folder-other.log")"
fi
end_installer

# The folder it offers is Orlavi's, C:\Orlavi (which holds Orlavi.ini, here): it installs
# there without a word.
folder_page "$work/folder-orlavi.log"
for _ in $(seq 60); do
    [[ -f $folder/Pasarela.exe && -f "$folder/Desinstalar Pasarela.exe" ]] && break
    sleep 1
done
[[ -f $folder/Pasarela.exe ]] || fail "the installer did not offer C:\\Orlavi, or did not install there"
grep -aq "$warning" "$work/folder-orlavi.log" && fail "the installer warned on Orlavi's folder: $(grep -a MSGBOX_OnInit "$work/folder-orlavi.log")"
cmp -s "$work/Orlavi.ini.before" "$folder/Orlavi.ini" || fail "installing through the pages changed Orlavi.ini"
end_installer
echo "folder page: checked"

if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all release checks passed"
