#!/usr/bin/env bash
# Writes the bash completion of veltrane-render from its --help, so that it
# offers exactly the options the program takes.
#   make_completion.sh PROGRAM OUT
set -euo pipefail
program=$1 out=$2
here=$(dirname "$0")
. "$here/help_options.sh"

help=$(all_help "$program")
entries=$(help_options <<<"$help")
options=$(cut -f1 <<<"$entries" | tr ' ' '\n' | grep -- '^--' | tr '\n' ' ' | sed 's/ $//')
valued=$(awk -F'\t' '$2 == "value" { print $1 }' <<<"$entries" | tr '\n' ' ' | sed 's/ $//')
# The modes, from a line "MODE: a, b, c or d", or else from the description
# of the positional "mode": the lowercase words of the list.
modes=$(awk '/^MODE: / { sub(/^MODE: /, ""); print; exit }
             /^Positionals:/ { p = 1; next } /^[^ ]/ { p = 0 }
             p && $1 == "mode" { sub(/^[ \t]*mode[ \t]+[A-Z]*[ \t]+/, ""); print; exit }' <<<"$help" |
        sed 's/.*://; s/,/ /g; s/ or / /g' | tr ' ' '\n' | grep -E '^[a-z][a-z0-9-]*$' |
        tr '\n' ' ' | sed 's/ $//' || true)
[ -n "$options" ] || { echo "make_completion.sh: no options found in $program --help" >&2; exit 1; }

mkdir -p "$(dirname "$out")"
cat >"$out.tmp" <<COMPLETION
# bash completion for veltrane-render, written from its --help at build time.

_veltrane_render()
{
    local cur=\${COMP_WORDS[COMP_CWORD]} prev=\${COMP_WORDS[COMP_CWORD-1]}
    local options='$options'
    local valued=' $valued '
    local modes='$modes'
    COMPREPLY=()
    if [[ \$cur == -* ]]; then
        COMPREPLY=(\$(compgen -W "\$options" -- "\$cur"))
        return
    fi
    # The value of an option: a file name, or whatever the user types.
    if [[ \$valued == *" \$prev "* ]]; then
        compopt -o default 2>/dev/null
        return
    fi
    # The mode first, when none is given yet; then file names.
    local word
    for word in "\${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        if [[ " \$modes " == *" \$word "* ]]; then
            compopt -o default 2>/dev/null
            return
        fi
    done
    COMPREPLY=(\$(compgen -W "\$modes" -- "\$cur"))
}
complete -F _veltrane_render veltrane-render
COMPLETION
mv "$out.tmp" "$out"
