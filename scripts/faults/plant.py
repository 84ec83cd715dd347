#!/usr/bin/env python3
"""Plants one fault at a time in a scratch copy of the tree and records which tests catch it.

For every fault of faults.txt: apply its replacement to the copy (it must match exactly once),
build the native unit-test binaries incrementally, run each with --gtest_brief=1, record the
failing tests, and restore the file. The Linux entries (the /proc source, the Qt shell under
offscreen or a private Xvfb, the agent live against its real binary, the corpus replays) run
through ctest, which holds their environment and wrappers; --no-linux leaves them out. Live
tests that need root run only as root. With --windows, the faults no native test caught are
tried again against the Windows build's shell_tests and e2e_program (Wine + Xvfb).

  python3 scripts/faults/plant.py [--tree DIR] [--work DIR] [--only ID,...] [--no-linux] [--windows] [--out FILE]
"""
import argparse
import filecmp
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
COPIED = ["src", "tests", "cmake", "bench", "scripts", "packaging", "CMakeLists.txt", "CMakePresets.json"]
UNIT_TESTS = ["sampling_tests", "list_tests", "chart_tests", "app_tests"]
# CTest entries of the Linux build, run through ctest; fuzz_* (the corpus replays) are found in
# the build. The Prometheus and packaging entries are end-to-end runs of minutes, left out.
LINUX_TESTS = ["proc_tests", "qt_tests", "qt_shell_tests", "agent_tests", "agent_metrics_tests"]
# Programs an entry starts besides its own binary (under the build directory).
STARTS = {"qt_shell_tests": ["src/qt/tessivo"], "agent_tests": ["src/agent/tessivo-agent"]}
WIN_TESTS = "e2e_program|shell_tests"


def parse_faults(path):
    faults, cur = [], None
    for raw in open(path, encoding="utf-8").read().splitlines():
        if raw.startswith("## "):
            head, kind = raw[3:].split(" | ", 1)
            fid, file = head.split()
            cur = {"id": fid, "file": file, "kind": kind.strip(), "old": [], "new": []}
            faults.append(cur)
        elif cur is not None and (raw.startswith("- ") or raw == "-"):
            cur["old"].append(raw[2:])
        elif cur is not None and (raw.startswith("+ ") or raw == "+"):
            cur["new"].append(raw[2:])
    for f in faults:
        f["old"], f["new"] = "\n".join(f["old"]), "\n".join(f["new"])
        if not f["old"] or f["old"] == f["new"]:
            sys.exit(f"{f['id']}: empty or no-op replacement")
    return faults


def sync(src, dst):
    """Makes dst a copy of src, rewriting only files that differ (builds stay incremental)."""
    for name in COPIED:
        s, d = os.path.join(src, name), os.path.join(dst, name)
        if os.path.isfile(s):
            if not os.path.exists(d) or not filecmp.cmp(s, d, shallow=False):
                shutil.copy(s, d)  # a fresh mtime, so make rebuilds from it
            continue
        for root, dirs, files in os.walk(s):
            rel = os.path.relpath(root, s)
            os.makedirs(os.path.join(d, rel), exist_ok=True)
            for fn in files:
                sf, df = os.path.join(root, fn), os.path.join(d, rel, fn)
                if not os.path.exists(df) or not filecmp.cmp(sf, df, shallow=False):
                    shutil.copy(sf, df)
        for root, dirs, files in os.walk(d, topdown=False):
            rel = os.path.relpath(root, d)
            if not os.path.exists(os.path.join(s, rel)):
                shutil.rmtree(root)
                continue
            for fn in files:
                if not os.path.exists(os.path.join(s, rel, fn)):
                    os.remove(os.path.join(root, fn))


def run(cmd, cwd, timeout=None):
    p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                       errors="replace", timeout=timeout)
    return p.returncode, p.stdout


def failed_names(output):
    names = []
    for m in re.finditer(r"^\[  FAILED  \] ([\w/.]+)", output, re.M):
        if m.group(1) not in names:
            names.append(m.group(1))
    return names


def ctest_entries(build, linux):
    """The entries plant.py runs, in order: the unit tests, then the Linux ones this build has."""
    if not linux:
        return list(UNIT_TESTS)
    rc, out = run(["ctest", "--test-dir", build, "-N"], build)
    have = re.findall(r"^\s*Test\s+#\d+: (\S+)", out, re.M)
    extra = [t for t in LINUX_TESTS if t in have] + sorted(t for t in have if t.startswith("fuzz_"))
    missing = [t for t in LINUX_TESTS if t not in have]
    if missing:
        sys.exit("the Linux build lacks the test entries " + ", ".join(missing))
    return UNIT_TESTS + extra


def binaries(build, entries):
    """Per entry, the binaries under the build directory it runs (its command's, and STARTS)."""
    rc, out = run(["ctest", "--test-dir", build, "--show-only=json-v1"], build)
    found = {t["name"]: t.get("command", []) for t in json.loads(out)["tests"]}
    return {t: [a for a in found.get(t, []) if a.startswith(build + os.sep)] +
               [os.path.join(build, x) for x in STARTS.get(t, [])] for t in entries}


def stamps(paths):
    return [os.stat(p).st_mtime_ns if os.path.exists(p) else 0 for p in paths]


def native_pass(work, entries, bins=None):
    """Builds and runs the entries; with bins, only those whose binaries the build changed
    (the others run what passed on the unmodified tree)."""
    build = os.path.join(work, "build")
    before = {t: stamps(bins[t]) for t in entries} if bins else {}
    rc, out = run(["cmake", "--build", build, "-j2", "--target", *entries], work)
    if rc != 0:
        return None, out
    caught, logs = [], []
    for t in entries:
        if bins and stamps(bins[t]) == before[t]:
            continue
        try:
            rc, out = run(["ctest", "--test-dir", build, "-R", f"^{t}$", "--output-on-failure",
                           "--timeout", "300"], work, timeout=330)
        except subprocess.TimeoutExpired:
            caught.append(f"{t}: timeout")
            continue
        if rc == 0:
            continue
        logs.append(out[-3000:])
        names = failed_names(out)
        if names:
            caught += [f"{t}:{n}" for n in names]
        else:
            caught.append(f"{t}: failed")
    return caught, "\n".join(logs)


def windows_pass(work):
    build = os.path.join(work, "build-win")
    rc, out = run(["cmake", "--build", build, "-j2"], work)
    if rc != 0:
        return None, out
    rc, out = run(["ctest", "--test-dir", build, "-R", WIN_TESTS, "--output-on-failure", "--timeout", "900"], work)
    if rc == 0:
        return [], ""
    tail = out[out.rfind("The following tests FAILED"):] if "The following tests FAILED" in out else ""
    caught = re.findall(r"^\s*\d+ - (\S+) \(", tail, re.M) or ["ctest exit %d" % rc]
    inner = failed_names(out)  # the gtest cases that failed inside them
    return [", ".join(caught) + (" (" + ", ".join(inner) + ")" if inner else "")], out


def main():
    # So that an interrupted run still puts the planted file back (the finally blocks).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("interrupted"))
    ap = argparse.ArgumentParser()
    ap.add_argument("--tree", default=os.path.normpath(os.path.join(HERE, "..", "..")))
    ap.add_argument("--work", default="/work/mut/run")
    ap.add_argument("--faults", default=os.path.join(HERE, "faults.txt"))
    ap.add_argument("--only", default="")
    ap.add_argument("--no-linux", action="store_true", help="only the portable unit tests (no Qt, no agent)")
    ap.add_argument("--run-all", action="store_true", help="run every entry for every fault, rebuilt or not")
    ap.add_argument("--windows", action="store_true", help="also try the native survivors on the Windows build")
    ap.add_argument("--windows-only", default="", help="ids to try on Windows only (skips the native pass)")
    ap.add_argument("--check", action="store_true", help="only check that every snippet matches once")
    ap.add_argument("--out", default="")
    a = ap.parse_args()

    faults = parse_faults(a.faults)
    if a.only:
        keep = set(a.only.split(","))
        faults = [f for f in faults if f["id"] in keep]
    bad = []
    for f in faults:
        n = open(os.path.join(a.tree, "src", f["file"]), encoding="utf-8").read().count(f["old"])
        if n != 1:
            bad.append(f"{f['id']}: snippet found {n} times in src/{f['file']}")
    if bad:
        sys.exit("\n".join(bad))
    if a.check:
        print(f"{len(faults)} faults, every snippet found exactly once")
        return

    os.makedirs(a.work, exist_ok=True)
    sync(a.tree, a.work)
    log = open(os.path.join(a.work, "plant.log"), "a", encoding="utf-8")
    if not os.path.exists(os.path.join(a.work, "build", "CMakeCache.txt")):
        rc, out = run(["cmake", "-S", ".", "-B", "build", "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_COMPILER=g++",
                       "-DTESSIVO_BUILD_LINUX=" + ("OFF" if a.no_linux else "ON"), "-DTESSIVO_BUILD_BENCH=OFF"], a.work)
        if rc != 0:
            sys.exit(out)
    entries = ctest_entries(os.path.join(a.work, "build"), not a.no_linux)
    want_win = a.windows or a.windows_only
    if want_win and not os.path.exists(os.path.join(a.work, "build-win", "CMakeCache.txt")):
        rc, out = run(["cmake", "--preset", "windows", "-B", "build-win"], a.work)
        if rc != 0:
            sys.exit(out)

    results = {}
    if not a.windows_only:
        caught, out = native_pass(a.work, entries)
        if caught is None or caught:
            sys.exit("the unmodified tree does not build or pass:\n" + (out or "\n".join(caught)))
        bins = None if a.run_all else binaries(os.path.join(a.work, "build"), entries)
        for f in faults:
            t0 = time.time()
            path = os.path.join(a.work, "src", f["file"])
            original = open(path, encoding="utf-8").read()
            try:
                open(path, "w", encoding="utf-8").write(original.replace(f["old"], f["new"], 1))
                caught, out = native_pass(a.work, entries, bins)
            finally:
                open(path, "w", encoding="utf-8").write(original)
            results[f["id"]] = {"native": "COMPILE ERROR" if caught is None else ("; ".join(caught) or "-")}
            print(f"{f['id']}: {results[f['id']]['native']}  ({time.time() - t0:.0f}s)", file=sys.stderr, flush=True)
            log.write(f"{f['id']} native: {results[f['id']]['native']}\n{out[-6000:]}\n")
            log.flush()

    if want_win:
        win_ids = set(a.windows_only.split(",")) if a.windows_only else \
            {i for i, r in results.items() if r["native"] == "-"}
        caught, out = windows_pass(a.work)
        if caught is None or caught:
            sys.exit("the unmodified tree does not build or pass on Windows:\n" + (out[-5000:] or "\n".join(caught)))
        for f in faults:
            if f["id"] not in win_ids:
                continue
            t0 = time.time()
            path = os.path.join(a.work, "src", f["file"])
            original = open(path, encoding="utf-8").read()
            try:
                open(path, "w", encoding="utf-8").write(original.replace(f["old"], f["new"], 1))
                caught, out = windows_pass(a.work)
            finally:
                open(path, "w", encoding="utf-8").write(original)
            r = results.setdefault(f["id"], {"native": "(not run)"})
            r["windows"] = "COMPILE ERROR" if caught is None else ("; ".join(caught) or "-")
            print(f"{f['id']}: windows {r['windows']}  ({time.time() - t0:.0f}s)", file=sys.stderr, flush=True)
            log.write(f"{f['id']} windows: {r['windows']}\n{out[-6000:]}\n")
            log.flush()

    lines = [f"{'id':<9} {'file':<28} {'kind':<72} caught by", "-" * 140]
    for f in faults:
        r = results.get(f["id"])
        if r is None:
            continue
        by = r["native"]
        if "windows" in r:
            by += f"  | windows: {r['windows']}"
        lines.append(f"{f['id']:<9} {f['file']:<28} {f['kind'][:72]:<72} {by}")
    native = [r["native"] for r in results.values()]
    caught_native = sum(1 for n in native if n not in ("-", "COMPILE ERROR", "(not run)"))
    caught_win = sum(1 for r in results.values() if r.get("windows") not in (None, "-", "COMPILE ERROR"))
    lines.append("-" * 140)
    lines.append(f"{len(results)} faults: {caught_native} caught by the native tests ({', '.join(entries)})"
                 + (f", {caught_win} more only on Windows (shell_tests / e2e_program)" if want_win else "")
                 + f", {sum(1 for n in native if n == 'COMPILE ERROR')} compile errors")
    text = "\n".join(lines) + "\n"
    sys.stdout.write(text)
    if a.out:
        open(a.out, "w", encoding="utf-8").write(text)


if __name__ == "__main__":
    main()
