#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for FUZZ_SECONDS (default 30) over a
# copy of its seed corpus in tests/fuzz/corpus/<name>. Fails on the first crash or sanitizer report.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
seconds=${FUZZ_SECONDS:-30}

if ! ls tests/fuzz/fuzz_*.cpp >/dev/null 2>&1; then
  echo "no fuzz targets"
  exit 0
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVLR_FUZZ=ON -DVLR_BUILD_UPDATER=OFF
cmake --build build-fuzz --target fuzzers -j "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for src in tests/fuzz/fuzz_*.cpp; do
  name=$(basename "$src" .cpp)
  corpus="$work/$name"
  mkdir -p "$corpus"
  if [ -d "tests/fuzz/corpus/${name#fuzz_}" ]; then
    cp -r "tests/fuzz/corpus/${name#fuzz_}/." "$corpus/"
  fi
  echo "-- $name for ${seconds}s"
  log="$work/$name.log"
  if ! (cd "$work" && "$top/build-fuzz/tests/fuzz/$name" -max_total_time="$seconds" \
          -print_final_stats=1 -rss_limit_mb=2048 -timeout=20 "$corpus" >"$log" 2>&1); then
    tail -n 60 "$log" >&2
    echo "fuzzer $name failed" >&2
    exit 1
  fi
  tail -n 4 "$log"
done
