# Prints the notice of the paragraph whose Files: field starts with `want` in a Debian
# copyright file (machine-readable format): its copyright statements, then its licence's
# text, taken from a stand-alone License paragraph when the paragraph names it only.
BEGIN { RS = ""; FS = "\n" }
{
    delete field
    name = ""
    for (i = 1; i <= NF; i++) {
        line = $i
        if (line ~ /^[A-Za-z-]+:/) {
            name = substr(line, 1, index(line, ":") - 1)
            value = substr(line, index(line, ":") + 1)
            sub(/^[ \t]+/, "", value)
            field[name] = value
        } else if (name != "") {
            field[name] = field[name] "\n" line
        }
    }
    if ("Files" in field) {
        split(field["Files"], files, /[ \t\n]+/)
        if (files[1] == want && !found) {
            found = 1
            copyright = field["Copyright"]
            licence = field["License"]
        }
    } else if ("License" in field) {
        split(field["License"], first, "\n")
        standalone[first[1]] = field["License"]
    }
}
END {
    if (!found) {
        print "no paragraph 'Files: " want "'" > "/dev/stderr"
        exit 1
    }
    n = split(copyright, statements, "\n")
    for (i = 1; i <= n; i++) {
        statement = statements[i]
        sub(/^[ \t]+/, "", statement)
        if (statement != "") print "Copyright (c) " statement
    }
    lines = split(licence, text, "\n")
    if (lines < 2 && (text[1] in standalone)) lines = split(standalone[text[1]], text, "\n")
    if (lines < 2) {
        print "the licence '" text[1] "' of 'Files: " want "' has no text" > "/dev/stderr"
        exit 1
    }
    print ""
    for (i = 2; i <= lines; i++) {
        line = text[i]
        sub(/^ /, "", line)
        print (line == "." ? "" : line)
    }
}
