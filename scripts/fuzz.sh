#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (plus AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh clang libclang-rt-14-dev
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(read_number settings decimal_text plane record command_line
                                     python_arguments)

out=build-fuzz
mkdir -p "$out"
sources=(model/numbers.cpp model/network.cpp model/transfer_lanes.cpp form/settings.cpp form/window.cpp
         form/plane.cpp)
flags=(-std=c++20 -O1 -g -I. -ffp-contract=off -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined)
# The job record, the command line and the Python keywords go through the
# renderer's library: all of it but the program's main and MPI, built once.
library=(model/*.cpp plots/*.cpp params/*.cpp render/*.cpp)
build_library() {
    mkdir -p "$out/objects"
    objects=()
    for f in "${library[@]}"; do
        case $f in render/main.cpp|render/distributed.cpp) continue ;; esac
        o="$out/objects/${f//\//_}.o"
        if [ ! -e "$o" ] || [ "$f" -nt "$o" ]; then
            clang++ "${flags[@]/-fsanitize=fuzzer,/-fsanitize=fuzzer-no-link,}" -c "$f" -o "$o"
        fi
        objects+=("$o")
    done
}
status=0
for t in "${targets[@]}"; do
    case $t in
    record|command_line|python_arguments)
        build_library
        clang++ "${flags[@]}" "fuzz/fuzz_$t.cpp" "${objects[@]}" -ltbb -lpng -o "$out/fuzz_$t" ;;
    *)
        clang++ "${flags[@]}" "fuzz/fuzz_$t.cpp" "${sources[@]}" -o "$out/fuzz_$t" ;;
    esac
    mkdir -p "$out/corpus_$t"
    echo "== $t: ${seconds}s"
    if ! "$out/fuzz_$t" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
            -artifact_prefix="$out/crash_${t}_" "$out/corpus_$t" "fuzz/corpus/$t" \
            2>"$out/fuzz_$t.log"; then
        echo "   FINDING: see $out/fuzz_$t.log and $out/crash_${t}_*"
        status=1
    fi
    grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$out/fuzz_$t.log" | tail -2 | sed 's/^/   /'
done
exit $status
