#!/usr/bin/env bash
# Runs a program with the arguments given (--help or --version, as help2man
# asks) and passes its text on, with a usage line spelled the way help2man
# finds it ("Usage:", further forms as "  or: ..."), so that the man page
# gets its synopsis whichever way the program spells its usage.
#   help_for_man.sh PROGRAM ARGUMENT...
set -euo pipefail
program=$1
shift
name=$(basename "$program")
. "$(dirname "$0")/help_options.sh"
# The help of every mode follows the overview, so that the man page lists
# every option.
if [ "$*" = "--help" ]; then all_help "$program"; else "$program" "$@"; fi | awk -v name="$name" '
    /^[Uu]sage: / { sub(/^usage:/, "Usage:"); print; usage = 1; next }
    usage && $1 == name { sub(/^ +/, "  or: "); print; next }
    { usage = 0; print }'
