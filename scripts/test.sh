#!/usr/bin/env bash
# The project's test command: installs what is missing, builds, runs every test, then runs them
# again in an ASan+UBSan build and runs each fuzzer for a short bounded time.
# Exits non-zero on any failure or sanitizer report.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

scripts/deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"

echo "== normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --no-tests=error --output-on-failure -j "$jobs"

echo "== ASan+UBSan build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVLR_SANITIZE=ON
cmake --build build-asan -j "$jobs"
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1:fast_unwind_on_malloc=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0"
ctest --test-dir build-asan --no-tests=error --output-on-failure -j "$jobs"

echo "== fuzzing"
scripts/fuzz.sh

echo "All tests passed."
