#!/usr/bin/env python3
"""Round trip of every x86-64 ELF executable and shared library found under the given
directories (default /usr/bin and /usr/lib/x86_64-linux-gnu) through `velpatch roundtrip`.

Counts candidates (ELF, 64-bit, x86-64, executable or shared object; with --any-kind every
file that `velpatch detect` recognizes, of any kind), files recognized by
`velpatch detect`, files whose pipeline succeeded, and files reassembled identically; lists
every failure and difference. Each physical file is visited once (symlinks and hard links
are skipped)."""
import argparse
import os
import struct
import subprocess
import sys
import time


def is_candidate(path, any_kind):
    if any_kind:
        return True
    try:
        with open(path, "rb") as f:
            head = f.read(20)
    except OSError:
        return False
    if len(head) < 20 or head[:4] != b"\x7fELF" or head[4] != 2:
        return False
    e_type, e_machine = struct.unpack_from("<HH", head, 16)
    return e_type in (2, 3) and e_machine == 62


def candidates(roots, any_kind):
    seen = set()
    for root in roots:
        for directory, _, files in os.walk(root):
            for name in sorted(files):
                path = os.path.join(directory, name)
                try:
                    st = os.lstat(path)
                except OSError:
                    continue
                if not os.path.isfile(path) or os.path.islink(path):
                    continue
                key = (st.st_dev, st.st_ino)
                if key in seen:
                    continue
                seen.add(key)
                if is_candidate(path, any_kind):
                    yield path, st.st_size


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--velpatch", required=True)
    parser.add_argument("--report", default="roundtrip_real_elf.txt")
    parser.add_argument("--any-kind", action="store_true",
                        help="offer every file, counting those velpatch detects as candidates")
    parser.add_argument("roots", nargs="*",
                        default=["/usr/bin", "/usr/lib/x86_64-linux-gnu"])
    args = parser.parse_args()

    counts = {"candidates": 0, "recognized": 0, "pipeline ok": 0, "identical": 0}
    total_bytes = 0
    problems = []
    kinds = {}
    start = time.monotonic()
    for path, size in candidates(args.roots, args.any_kind):
        detect = subprocess.run([args.velpatch, "detect", path], capture_output=True, text=True)
        if args.any_kind and detect.returncode != 0:
            continue
        counts["candidates"] += 1
        total_bytes += size
        if detect.returncode != 0:
            problems.append(f"not recognized: {path}: {detect.stdout.strip()}")
            continue
        counts["recognized"] += 1
        kind = detect.stdout.split()[0]
        kinds[kind] = kinds.get(kind, 0) + 1
        rt = subprocess.run([args.velpatch, "roundtrip", path], capture_output=True, text=True)
        if rt.returncode != 0:
            problems.append(f"pipeline failed: {path}: {rt.stderr.strip()}")
            continue
        counts["pipeline ok"] += 1
        if rt.stdout.strip() == "identical":
            counts["identical"] += 1
        else:
            problems.append(f"differs: {path} ({size} bytes): {rt.stdout.strip()}")
    elapsed = time.monotonic() - start

    lines = [f"{k}: {v}" for k, v in counts.items()]
    if counts["recognized"]:
        rate = 100.0 * counts["identical"] / counts["recognized"]
        lines.append(f"identical rate: {rate:.2f}% of recognized")
    lines.append("kinds: " + ", ".join(f"{k} {v}" for k, v in sorted(kinds.items())))
    lines.append(f"bytes: {total_bytes}  time: {elapsed:.0f} s")
    lines += problems
    with open(args.report, "w") as f:
        f.write("\n".join(lines) + "\n")
    print("\n".join(lines[:9]))
    print(f"{len(problems)} problems listed in {args.report}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
