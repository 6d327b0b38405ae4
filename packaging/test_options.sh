#!/usr/bin/env bash
# The man pages and the shell completion list exactly the options of --help:
# the same entries, with the same names, for both programs; and the
# completion offers the long options and the modes.
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

# What the completion offers after "--", and after the mode's first letters.
complete_words() { # WORD...: the completions of the last word
    bash -c '. "$1"; shift
             read -r _ function _ < <(complete -p veltrane-render | grep -o -- "-F [^ ]*.*")
             COMP_WORDS=("$@"); COMP_CWORD=$(( $# - 1 ))
             "$function"; printf "%s\n" "${COMPREPLY[@]}"' \
        complete "$completion" veltrane-render "$@"
}
long_options=$(all_help "$render" | help_options | cut -f1 | tr ' ' '\n' | grep -- '^--')
check_same "the options the completion offers" "$long_options" "$(complete_words --)"
check_same "the completion of --pix" "--pixels" "$(complete_words --pix)"
check_same "the completion of the mode par" "parametric" "$(complete_words par)"
exit $failed
