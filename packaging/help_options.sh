# Reads a program's --help (or its rendered man page) on standard input and
# prints one line per option entry: its names, long and short, separated by
# spaces, then a tab and "value" when the entry takes a value, "flag" when
# not. An entry is an indented line that starts with "-"; its names are the
# words before the first gap of two spaces, "{default}" marks and "!"
# negations dropped. An entry listed again (by several modes) is printed once.
help_options() {
    awk '
        /^[ \t]+-/ {
            line = $0
            sub(/^[ \t]+/, "", line)
            n = match(line, /  |\t/)
            column = n ? substr(line, 1, n - 1) : line
            gsub(/\{[^}]*\}/, "", column)
            split(column, words, " ")
            kind = (words[2] != "") ? "value" : "flag"
            count = split(column, parts, /[ ,]+/)
            names = ""
            for (i = 1; i <= count; ++i) {
                name = parts[i]
                sub(/^!/, "", name)
                if (name ~ /^(--[A-Za-z0-9][A-Za-z0-9-]*|-[A-Za-z0-9])$/)
                    names = names (names == "" ? "" : " ") name
            }
            if (names != "" && !seen[names]++)
                print names "\t" kind
        }'
}

# A program's whole help: its --help and, for a program with modes (a line
# "MODE: a, b, c"), the help of every mode (PROGRAM MODE --help) after it.
#   all_help PROGRAM
all_help() {
    local help mode
    help=$("$1" --help)
    printf '%s\n' "$help"
    for mode in $(awk '/^MODE: / { sub(/^MODE: /, ""); gsub(/,/, " "); print; exit }' \
                      <<<"$help"); do
        printf '\n'
        "$1" "$mode" --help
    done
}
