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
[ ${#targets[@]} -gt 0 ] || targets=(read_number settings decimal_text plane)

out=build-fuzz
mkdir -p "$out"
sources=(model/numbers.cpp model/network.cpp model/transfer_lanes.cpp form/settings.cpp form/window.cpp
         form/plane.cpp)
flags=(-std=c++20 -O1 -g -I. -ffp-contract=off -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined)
status=0
for t in "${targets[@]}"; do
    clang++ "${flags[@]}" "fuzz/fuzz_$t.cpp" "${sources[@]}" -o "$out/fuzz_$t"
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
