#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: first the normal
# build, then the whole suite again built with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the engine and command tests (no window)
# built with ThreadSanitizer; last, the normal build is packaged and its
# package checked as installed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
jobs=$(nproc)

bash scripts/build.sh
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== the Python module"
# A module that is missing fails the tests' import; no test collected (status
# 5) fails the run too.
PYTHONPATH=build/python /usr/bin/python3 -m pytest -q tests/python

echo "== the manual, warnings as errors"
# Built with the rest; this names the step and fails the run on a warning.
cmake --build build --target veltrane-manual
[ -s build/manual/html/index.html ]

echo "== the suite again under AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_DIR=build-asan bash scripts/build.sh -DVELTRANE_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== the engine and command tests under ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANE_TSAN=ON >/dev/null
cmake --build build-tsan -j "$jobs" --target form_tests params_tests model_tests
for t in form_tests params_tests; do
    TSAN_OPTIONS="halt_on_error=1:exitcode=66:suppressions=$PWD/scripts/tsan.supp" \
        "build-tsan/tests/$t"
done
# The column engine alone, with a worker held inside a part while the
# committing thread evaluates that part again.
TSAN_OPTIONS="halt_on_error=1:exitcode=66:suppressions=$PWD/scripts/tsan.supp" \
    build-tsan/tests/model_tests --gtest_filter='ColumnTasks*:ColumnsAhead*' --gtest_repeat=5

echo "== the Debian package, checked as installed"
bash scripts/package.sh
bash packaging/check.sh build/veltrane_*.deb
