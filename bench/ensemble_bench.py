#!/usr/bin/env python3
"""Ensemble patch and container benchmark on real x86-64 ELF version pairs.

Pairs: shared libraries of Debian packages of which the archive holds two versions (the oldest
and the newest build are fetched with `apt-get download` into build-bench/pkgs), plus any
--pair OLD NEW given. For each pair it measures side by side, in alternating order (the machine
may be shared), the best of --reps runs of:
  - patch size, generation time and peak memory of `velpatch gen`, `bsdiff`, `xdelta3 -9` and
    `zstd --patch-from -19 --long`, and the size of `xz -9` of the new file;
  - application time and peak memory of `velpatch apply`, `bspatch`, `xdelta3 -d`, `zstd -d`;
and checks that every patch reproduces the new file. For the new files it compares the LZMA2
container (`velpatch compress`, preprocessed and --plain) with `xz -9`: size and decode speed
(`velpatch decompress` against `xz -d`). Prints tables and the medians of the ratios.

Usage: bench/ensemble_bench.py [--velpatch PATH] [--reps N] [--pair OLD NEW]... [--report FILE]
Installs missing peer tools (bsdiff, xdelta3, zstd, xz-utils, time) when run as root.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PEER_PACKAGES = ["bsdiff", "xdelta3", "zstd", "xz-utils", "time"]
# Library packages whose two archive versions make the pairs.
PACKAGES = ["libssl3", "libcurl4", "libxml2", "libgnutls30", "libc6", "libpython3.11-minimal",
            "libsqlite3-0", "libexpat1", "libtiff6", "libfreetype6"]
# Smaller files are plug-in modules (such as libc6's character set converters) whose versions
# differ only in their build notes; they say nothing about patching code.
MIN_SIZE = 200 * 1024


def run(args, **kw):
    return subprocess.run(args, check=True, **kw)


def ensure_packages():
    missing = [p for p in PEER_PACKAGES
               if "install ok installed" not in subprocess.run(
                   ["dpkg-query", "-W", "-f=${Status}", p], capture_output=True, text=True).stdout]
    if not missing:
        return
    if os.geteuid() != 0:
        sys.exit("ensemble_bench: missing packages (install as root): " + " ".join(missing))
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    run(["apt-get", "update"], env=env, stdout=subprocess.DEVNULL)
    run(["apt-get", "install", "-y", "--no-install-recommends"] + missing, env=env,
        stdout=subprocess.DEVNULL)


def build_velpatch():
    build = os.path.join(TOP, "build-bench")
    run(["cmake", "-S", TOP, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"],
        stdout=subprocess.DEVNULL)
    run(["cmake", "--build", build, "--target", "velpatch_tool", "-j", "2"],
        stdout=subprocess.DEVNULL)
    return os.path.join(build, "bin", "velpatch")


def versions(package):
    out = subprocess.run(["apt-cache", "madison", package], capture_output=True, text=True).stdout
    found = []
    for line in out.splitlines():
        parts = [p.strip() for p in line.split("|")]
        if len(parts) >= 3 and "Sources" not in parts[2] and parts[1] not in found:
            found.append(parts[1])
    return found


def fetch_pairs(cache):
    """(name, old, new) for every ELF library that differs between the oldest and newest
    archive version of each package."""
    os.makedirs(cache, exist_ok=True)
    pairs = []
    for package in PACKAGES:
        found = versions(package)
        if len(found) < 2:
            continue
        dirs = []
        for version in (found[-1], found[0]):  # madison lists the newest first
            target = os.path.join(cache, package + "_" + version.replace(":", "%3a"))
            if not os.path.isdir(target):
                got = subprocess.run(["apt-get", "download", package + "=" + version],
                                     cwd=cache, capture_output=True, text=True)
                prefix = package + "_" + version.replace(":", "%3a") + "_"
                debs = [f for f in os.listdir(cache) if f.endswith(".deb") and
                        f.startswith(prefix)]
                if got.returncode != 0 or not debs:
                    break
                run(["dpkg-deb", "-x", os.path.join(cache, debs[0]), target])
            dirs.append(target)
        if len(dirs) != 2:
            continue
        for root, _, files in os.walk(dirs[0]):
            for f in sorted(files):
                old = os.path.join(root, f)
                new = os.path.join(dirs[1], os.path.relpath(old, dirs[0]))
                if (os.path.islink(old) or not os.path.isfile(new) or
                        os.path.getsize(old) < MIN_SIZE or ".so" not in f):
                    continue
                with open(old, "rb") as a, open(new, "rb") as b:
                    if a.read(4) != b"\x7fELF":
                        continue
                    a.seek(0)
                    b.seek(0)
                    if a.read() == b.read():
                        continue
                pairs.append(("%s %s->%s" % (f, found[-1], found[0]), old, new))
    return pairs


def timed(args, stdout=None):
    """(wall seconds, peak KB) of one run: the wall time measured here (GNU time reports only
    hundredths), the peak memory by GNU time."""
    with tempfile.NamedTemporaryFile("r") as t:
        start = time.perf_counter()
        run(["/usr/bin/time", "-f", "%M", "-o", t.name] + args, stdout=stdout or
            subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wall = time.perf_counter() - start
        return wall, int(t.read().split()[-1])


class Tool:
    def __init__(self, name, gen, apply):
        self.name, self.gen, self.apply = name, gen, apply


def tools(velpatch):
    return [
        Tool("velpatch", lambda o, n, p: [velpatch, "gen", o, n, p],
             lambda o, p, r: [velpatch, "apply", o, p, r]),
        Tool("bsdiff", lambda o, n, p: ["bsdiff", o, n, p], lambda o, p, r: ["bspatch", o, r, p]),
        Tool("xdelta3", lambda o, n, p: ["xdelta3", "-9", "-f", "-e", "-s", o, n, p],
             lambda o, p, r: ["xdelta3", "-f", "-d", "-s", o, p, r]),
        Tool("zstd", lambda o, n, p: ["zstd", "-q", "-f", "-19", "--long=31",
                                      "--patch-from=" + o, n, "-o", p],
             lambda o, p, r: ["zstd", "-q", "-f", "-d", "--long=31", "--patch-from=" + o, p,
                              "-o", r]),
    ]


def same(a, b):
    with open(a, "rb") as x, open(b, "rb") as y:
        return x.read() == y.read()


def bench_pair(work, velpatch, old, new, reps):
    row = {}
    for tool in tools(velpatch):
        row[tool.name] = {"gen": [], "apply": [], "gen_kb": 0, "apply_kb": 0}
    for rep in range(reps):
        order = tools(velpatch) if rep % 2 == 0 else list(reversed(tools(velpatch)))
        for tool in order:
            r = row[tool.name]
            patch = os.path.join(work, tool.name + ".patch")
            result = os.path.join(work, tool.name + ".out")
            wall, kb = timed(tool.gen(old, new, patch))
            r["gen"].append(wall)
            r["gen_kb"] = max(r["gen_kb"], kb)
            r["size"] = os.path.getsize(patch)
            wall, kb = timed(tool.apply(old, patch, result))
            r["apply"].append(wall)
            r["apply_kb"] = max(r["apply_kb"], kb)
            if not same(result, new):
                sys.exit("ensemble_bench: %s does not reproduce %s" % (tool.name, new))
    xz = os.path.join(work, "new.xz")
    with open(xz, "wb") as out:
        run(["xz", "-9", "-c", new], stdout=out)
    row["xz"] = {"size": os.path.getsize(xz)}
    return row


def bench_container(work, velpatch, new, reps):
    packed = os.path.join(work, "new.vlz")
    plain = os.path.join(work, "new.plain.vlz")
    xz = os.path.join(work, "new.xz")
    out = os.path.join(work, "new.out")
    run([velpatch, "compress", new, packed])
    run([velpatch, "compress", "--plain", new, plain])
    with open(xz, "wb") as f:
        run(["xz", "-9", "-c", new], stdout=f)
    ours, plain_ours, theirs = [], [], []
    for rep in range(reps):
        for which in ([0, 1, 2] if rep % 2 == 0 else [2, 1, 0]):
            if which < 2:
                times = ours if which == 0 else plain_ours
                times.append(timed([velpatch, "decompress", packed if which == 0 else plain,
                                    out])[0])
                if not same(out, new):
                    sys.exit("ensemble_bench: container of %s does not unpack" % new)
            else:
                with open(out, "wb") as f:
                    theirs.append(timed(["xz", "-d", "-c", xz], stdout=f)[0])
    return {"packed": os.path.getsize(packed), "plain": os.path.getsize(plain),
            "xz": os.path.getsize(xz), "decode": min(ours), "plain_decode": min(plain_ours),
            "xz_decode": min(theirs),
            "size_mb": os.path.getsize(new) / 1e6}


def ratio(a, b):
    return a / b if b else float("nan")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--velpatch")
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--pair", nargs=2, action="append", default=[])
    parser.add_argument("--report", default=os.path.join(TOP, "build-bench",
                                                          "ensemble_bench.txt"))
    args = parser.parse_args()
    ensure_packages()
    velpatch = args.velpatch or build_velpatch()
    pairs = fetch_pairs(os.path.join(TOP, "build-bench", "pkgs"))
    pairs += [(os.path.basename(n), o, n) for o, n in args.pair]
    if not pairs:
        sys.exit("ensemble_bench: no pairs")

    lines = []
    say = lambda text: (print(text, flush=True), lines.append(text))
    say("Patches (bytes; gen and apply: best wall time of %d, s; peak memory MB):" % args.reps)
    say("%-44s %8s %8s %8s %8s %8s | %6s %6s %6s %6s | %5s %5s %5s | %5s %5s" % (
        "pair", "velpatch", "bsdiff", "xdelta3", "zstd", "xz-9", "gen", "bsdif", "apply",
        "bspat", "vs bs", "vs zs", "vs xd", "MBgen", "MBapp"))
    ratios = {k: [] for k in ("bsdiff", "zstd", "xdelta3", "xz", "apply", "gen",
                              "gen_mem", "apply_mem")}
    containers = []
    with tempfile.TemporaryDirectory() as work:
        for name, old, new in pairs:
            r = bench_pair(work, velpatch, old, new, args.reps)
            v = r["velpatch"]
            for peer in ("bsdiff", "zstd", "xdelta3", "xz"):
                ratios[peer].append(ratio(v["size"], r[peer]["size"]))
            ratios["apply"].append(ratio(min(v["apply"]), min(r["bsdiff"]["apply"])))
            ratios["gen"].append(ratio(min(v["gen"]), min(r["bsdiff"]["gen"])))
            ratios["gen_mem"].append(ratio(v["gen_kb"], r["bsdiff"]["gen_kb"]))
            ratios["apply_mem"].append(ratio(v["apply_kb"], r["bsdiff"]["apply_kb"]))
            say("%-44s %8d %8d %8d %8d %8d | %6.2f %6.2f %6.3f %6.3f | %5.2f %5.2f %5.2f | %5.0f %5.0f"
                % (name[:44], v["size"], r["bsdiff"]["size"], r["xdelta3"]["size"],
                   r["zstd"]["size"], r["xz"]["size"], min(v["gen"]), min(r["bsdiff"]["gen"]),
                   min(v["apply"]), min(r["bsdiff"]["apply"]), ratios["bsdiff"][-1],
                   ratios["zstd"][-1], ratios["xdelta3"][-1], v["gen_kb"] / 1024,
                   v["apply_kb"] / 1024))
            containers.append((name, bench_container(work, velpatch, new, args.reps)))

    say("")
    say("Medians over %d pairs (velpatch / peer):" % len(pairs))
    say("  patch size: %.3f of bsdiff, %.3f of zstd --patch-from -19, %.3f of xdelta3 -9, "
        "%.3f of xz -9 of the new file" % tuple(statistics.median(ratios[k]) for k in
                                               ("bsdiff", "zstd", "xdelta3", "xz")))
    say("  application time: %.2f x bspatch; generation time: %.2f x bsdiff" % (
        statistics.median(ratios["apply"]), statistics.median(ratios["gen"])))
    say("  peak memory: generation %.2f x bsdiff, application %.2f x bspatch" % (
        statistics.median(ratios["gen_mem"]), statistics.median(ratios["apply_mem"])))
    say("")
    say("Containers of the new files (bytes; decode: best wall time, s):")
    say("%-44s %9s %9s %9s %7s %7s %7s | %6s %6s %6s" % (
        "file", "packed", "plain", "xz -9", "decode", "plain", "xz -d", "size", "speed", "plain"))
    size_r, speed_r, plain_speed_r = [], [], []
    for name, c in containers:
        size_r.append(ratio(c["packed"], c["xz"]))
        speed_r.append(ratio(c["xz_decode"], c["decode"]))
        plain_speed_r.append(ratio(c["xz_decode"], c["plain_decode"]))
        say("%-44s %9d %9d %9d %7.3f %7.3f %7.3f | %6.3f %6.2f %6.2f" % (
            name[:44], c["packed"], c["plain"], c["xz"], c["decode"], c["plain_decode"],
            c["xz_decode"], size_r[-1], speed_r[-1], plain_speed_r[-1]))
    say("  medians: preprocessed container %.3f of xz -9 in size; decode speed %.2f x xz -d "
        "(plain containers %.2f x)" % (statistics.median(size_r), statistics.median(speed_r),
                                       statistics.median(plain_speed_r)))
    os.makedirs(os.path.dirname(args.report), exist_ok=True)
    with open(args.report, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
