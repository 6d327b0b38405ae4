#!/usr/bin/env bash
# The man pages list exactly the options of --help: the same entries, with the
# same names, for both programs. The completion offers the long options and
# the modes, after a mode only that mode's options, and after an option as
# many values as it takes (a flag none).
#   test_options.sh VELTRANE VELTRANE_RENDER MAN_FOLDER COMPLETION
set -euo pipefail
veltrane=$1 render=$2 man_folder=$3 completion=$4
. "$(dirname "$0")/help_options.sh"
export QT_QPA_PLATFORM=offscreen MANWIDTH=200
failed=0

check_same() { # WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1 differs from --help:"
        diff <(echo "$2") <(echo "$3") || true
        failed=1
    else
        echo "ok: $1 ($(wc -l <<<"$2") entries)"
    fi
}

for program in "$veltrane" "$render"; do
    name=$(basename "$program")
    help_entries=$(all_help "$program" | help_options)
    [ -n "$help_entries" ] || { echo "FAIL: no options in $name --help"; failed=1; }
    man_entries=$(man -l "$man_folder/$name.1.gz" 2>/dev/null | col -b | help_options)
    check_same "the options of the man page $name(1)" "$help_entries" "$man_entries"
done

# What the completion offers after "--", after a mode, after a flag and in
# an option's values.
complete_words() { # WORD...: the completions of the last word
    bash -c '. "$1"; shift
             read -r _ function _ < <(complete -p veltrane-render | grep -o -- "-F [^ ]*.*")
             COMP_WORDS=("$@"); COMP_CWORD=$(( $# - 1 ))
             "$function"; printf "%s\n" "${COMPREPLY[@]}"' \
        complete "$completion" veltrane-render "$@"
}
long_options=$(all_help "$render" | help_options | cut -f1 | tr ' ' '\n' | grep -- '^--')
# In any order: the help lists them by mode, the completion by the table.
check_same "the options the completion offers" "$(sort <<<"$long_options")" \
    "$(complete_words -- | sort)"
# The options a mode reads, from the option table: --help, and each row whose
# modes hold it, with the negation of a flag.
mode_options() { # MODE
    "$render" --options-json | /usr/bin/python3 -c '
import json, sys
mode = sys.argv[1]
print("--help")
for o in json.load(sys.stdin)["options"]:
    if mode in o["modes"]:
        print("--" + o["name"])
        if o["kind"] == "flag":
            print("--no-" + o["name"])' "$1"
}
check_same "the completion of --pix" "--pixels" "$(complete_words --pix)"
check_same "the completion of the mode par" "parametric" "$(complete_words par)"
check_same "the completion of a mode after a flag" "$(printf "coexisting\ncontinuation")" "$(complete_words --quiet co)"
check_same "the completion of a mode after -q, --fp, --stats, --reshuffle" "$(printf "coexisting\ncontinuation")" \
    "$(complete_words -q --fp --stats --reshuffle co)"
check_same "the completion of a mode after a list's values" "$(printf "coexisting\ncontinuation")" \
    "$(complete_words --w 1 2 3 4 5 6 --pixels 9 co)"
check_same "the options after stability" "$(mode_options stability)" \
    "$(complete_words stability --)"
check_same "the options after a flag after stability" "$(mode_options stability)" \
    "$(complete_words -q stability --stats --)"
check_same "an option stability does not read" "" "$(complete_words stability --pe)"
check_same "the words of a choice" "$(printf 'state\nparameter')" \
    "$(complete_words lyapunov --plane '')"
check_same "nothing offered for a number" "" "$(complete_words veltrane --pixels '')"
check_same "an option after a number" "--pixels" "$(complete_words veltrane --size 3 --pix)"
exit $failed
