#!/usr/bin/env python3
"""Binary diff benchmark: `velpatch diff` against Debian's bsdiff on pairs of real files.

For each pair it measures, side by side and in alternating order (the machine may be shared):
patch size, generation wall time, CPU time and peak memory (GNU time's maximum RSS) of
`velpatch diff` (methods 1, 0 and 2) and of `bsdiff`, then the application time of
`velpatch apply-diff` (method 1) and `bspatch`, checks that every patch reproduces the new file,
and prints a table with the ratios velpatch/bsdiff. With --baseline, an earlier velpatch build
is measured in the same runs (method 1), for before/after figures under the same load.

Usage: bench/bsdiff_bench.py [--velpatch PATH] [--baseline PATH] [--reps N] [--large]
                             [--only TEXT] [--report FILE]
Installs its optional packages (bsdiff, time) when missing and run as root; builds
build-bench/bin/velpatch when no --velpatch is given.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OPTIONAL_PACKAGES = ["bsdiff", "time"]
RUSTUP = "/root/.rustup/toolchains"


def ensure_packages():
    missing = [p for p in OPTIONAL_PACKAGES
               if subprocess.run(["dpkg-query", "-W", "-f=${Status}", p], capture_output=True,
                                 text=True).stdout.find("install ok installed") < 0]
    if not missing:
        return
    if os.geteuid() != 0:
        sys.exit("bsdiff_bench: missing packages (install as root): " + " ".join(missing))
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "update"], check=True, env=env)
    subprocess.run(["apt-get", "install", "-y", "--no-install-recommends"] + missing, check=True,
                   env=env)


def build_velpatch():
    build = os.path.join(TOP, "build-bench")
    subprocess.run(["cmake", "-S", TOP, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DVLR_BUILD_UPDATER=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "velpatch_tool", "-j", "2"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build, "bin", "velpatch")


def edited_copy(source, target, seed=1):
    """A modified copy, as a rebuild changes a binary: scattered 4-byte values shifted by a
    constant (moved addresses), a few blocks inserted and removed."""
    data = bytearray(open(source, "rb").read())
    rng = random.Random(seed)
    for _ in range(len(data) // 2000):
        at = rng.randrange(0, len(data) - 4)
        value = (int.from_bytes(data[at:at + 4], "little") + 0x1000) & 0xFFFFFFFF
        data[at:at + 4] = value.to_bytes(4, "little")
    for _ in range(5):
        at = rng.randrange(0, len(data))
        data[at:at] = bytes(rng.getrandbits(8) for _ in range(2048))
    for _ in range(3):
        at = rng.randrange(0, len(data) - 1024)
        del data[at:at + 1024]
    open(target, "wb").write(data)


def find_pairs(work, large):
    pairs = []
    for name in ["rustfmt", "rustdoc"]:
        old = os.path.join(RUSTUP, "stable-x86_64-unknown-linux-gnu", "bin", name)
        new = os.path.join(RUSTUP, "nightly-x86_64-unknown-linux-gnu", "bin", name)
        if os.path.isfile(old) and os.path.isfile(new):
            pairs.append((name + " stable->nightly", old, new))
    if os.path.isfile("/usr/bin/cmake") and os.path.isfile("/usr/bin/ctest"):
        pairs.append(("cmake->ctest", "/usr/bin/cmake", "/usr/bin/ctest"))
    for lib in ["/usr/lib/x86_64-linux-gnu/libQt5Widgets.so.5", "/usr/bin/cmake"]:
        if os.path.isfile(lib):
            copy = os.path.join(work, os.path.basename(lib) + ".edited")
            edited_copy(lib, copy)
            pairs.append((os.path.basename(lib) + " edited", lib, copy))
            break
    if large:
        gcc = "/usr/lib/gcc/x86_64-linux-gnu/12"
        if os.path.isfile(gcc + "/cc1") and os.path.isfile(gcc + "/cc1plus"):
            pairs.append(("cc1->cc1plus", gcc + "/cc1", gcc + "/cc1plus"))
    if not pairs:  # any machine has its own C library and loader
        libc = "/lib/x86_64-linux-gnu/libc.so.6"
        copy = os.path.join(work, "libc.edited")
        edited_copy(libc, copy)
        pairs.append(("libc edited", libc, copy))
    return pairs


def timed(command, output):
    """Runs command under GNU time; returns (wall s, cpu s, peak KiB)."""
    stats = output + ".time"
    subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M", "-o", stats] + command, check=True,
                   stdout=subprocess.DEVNULL)
    wall, user, system, rss = open(stats).read().split()[-4:]
    return float(wall), float(user) + float(system), int(rss)


def median(values):
    values = sorted(values)
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


def medians(samples):
    return tuple(median([s[i] for s in samples]) for i in range(3))


def measure_pair(velpatch, baseline, old, new, work, reps):
    gen = {
        "velpatch m1": lambda p: [velpatch, "diff", "--method", "1", old, new, p],
        "velpatch m0": lambda p: [velpatch, "diff", "--method", "0", old, new, p],
        "velpatch m2": lambda p: [velpatch, "diff", "--method", "2", old, new, p],
        "bsdiff": lambda p: ["bsdiff", old, new, p],
    }
    if baseline:
        gen["baseline m1"] = lambda p: [baseline, "diff", "--method", "1", old, new, p]
    patches = {name: os.path.join(work, name.replace(" ", "_") + ".patch") for name in gen}
    samples = {name: [] for name in gen}
    order = list(gen)
    for rep in range(reps):
        for name in (order if rep % 2 == 0 else reversed(order)):
            samples[name].append(timed(gen[name](patches[name]), patches[name]))
    results = {name: medians(samples[name]) + (os.path.getsize(patches[name]),) for name in gen}

    apply = {
        "velpatch m1": lambda o: [velpatch, "apply-diff", old, patches["velpatch m1"], o],
        "velpatch m0": lambda o: [velpatch, "apply-diff", old, patches["velpatch m0"], o],
        "velpatch m2": lambda o: [velpatch, "apply-diff", old, patches["velpatch m2"], o],
        "bsdiff": lambda o: ["bspatch", old, o, patches["bsdiff"]],
    }
    if baseline:
        apply["baseline m1"] = lambda o: [baseline, "apply-diff", old, patches["baseline m1"], o]
    out = os.path.join(work, "applied")
    runs = {name: [] for name in apply}
    for rep in range(reps):
        for name in (list(apply) if rep % 2 == 0 else reversed(list(apply))):
            runs[name].append(timed(apply[name](out), out))
            if open(out, "rb").read() != open(new, "rb").read():
                sys.exit("bsdiff_bench: %s patch does not reproduce %s" % (name, new))
    applied = {name: medians(runs[name]) for name in apply}
    return results, applied


def ratio(a, b):
    return "%.2f" % (a / b) if b else "-"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--velpatch", help="velpatch binary (default: build one)")
    parser.add_argument("--baseline", help="an earlier velpatch build to compare (method 1)")
    parser.add_argument("--reps", type=int, default=3, help="runs per measurement (median kept)")
    parser.add_argument("--large", action="store_true", help="also the 33 MB compiler pair")
    parser.add_argument("--report", help="also write the table to this file")
    parser.add_argument("--only", help="measure only the pairs whose label contains this text")
    args = parser.parse_args()

    ensure_packages()
    velpatch = args.velpatch or build_velpatch()
    lines = []
    with tempfile.TemporaryDirectory() as work:
        pairs = [p for p in find_pairs(work, args.large) if not args.only or args.only in p[0]]
        lines.append("load average at start: " + open("/proc/loadavg").read().strip())
        lines.append("median of %d runs; sizes in bytes, times in s (wall / CPU), memory in MiB" %
                     args.reps)
        lines.append("")
        lines.append("| pair | old | new | tool | patch | gen wall | gen CPU | gen peak MiB "
                     "| apply wall | apply peak MiB |")
        lines.append("|---|---|---|---|---|---|---|---|---|---|")
        ratios = []
        for label, old, new in pairs:
            print("measuring", label, file=sys.stderr)
            results, applied = measure_pair(velpatch, args.baseline, old, new, work, args.reps)
            for name in results:
                wall, cpu, rss, size = results[name]
                awall, _, arss = applied[name]
                lines.append("| %s | %d | %d | %s | %d | %.2f | %.2f | %.0f | %.2f | %.0f |" % (
                    label, os.path.getsize(old), os.path.getsize(new), name, size, wall, cpu,
                    rss / 1024, awall, arss / 1024))
            b = results["bsdiff"]
            for name in ["baseline m1", "velpatch m1"]:
                if name not in results:
                    continue
                v = results[name]
                ratios.append("| %s | %s | %s | %s | %s | %s | %s |" % (
                    label, name, ratio(v[3], b[3]), ratio(v[0], b[0]), ratio(v[1], b[1]),
                    ratio(v[2], b[2]), ratio(applied[name][0], applied["bsdiff"][0])))
        lines.append("")
        lines.append("method 1 / bsdiff:")
        lines.append("")
        lines.append("| pair | build | patch size | gen wall | gen CPU | gen peak memory "
                     "| apply wall |")
        lines.append("|---|---|---|---|---|---|---|")
        lines.extend(ratios)
        lines.append("")
        lines.append("load average at end: " + open("/proc/loadavg").read().strip())
    text = "\n".join(lines)
    print(text)
    if args.report:
        open(args.report, "w").write(text + "\n")


if __name__ == "__main__":
    main()
