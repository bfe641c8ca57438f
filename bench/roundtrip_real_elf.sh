#!/usr/bin/env bash
# Builds the velpatch tool and runs `velpatch roundtrip` over every x86-64 ELF executable and
# shared library under /usr/bin and /usr/lib/x86_64-linux-gnu (or the directories given).
# Prints the counts (candidates, recognized, pipeline ok, identical) and writes the list of
# failures and differences to build-bench/roundtrip_real_elf.txt. Extra arguments go to
# roundtrip_real_elf.py (e.g. --any-kind /usr/i686-linux-gnu /usr/arm-linux-gnueabihf).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench --target velpatch_tool -j 2 >/dev/null
python3 bench/roundtrip_real_elf.py --velpatch build-bench/bin/velpatch \
  --report build-bench/roundtrip_real_elf.txt "$@"
