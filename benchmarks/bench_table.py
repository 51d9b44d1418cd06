#!/usr/bin/env python3
"""Prints the make bench tables: the simulated machine's, from Google Benchmark
JSON output (medians of interleaved repetitions), with the size of the 32-bit
Tavlo.exe; then Tavlo.exe's on real Win32 under Wine, from the lines of
benchmarks/wine-bench.sh.

Simulated machine: each latency path is compared with the bare two-thread
event wake-up of the same program and run: ratio = path median / baseline
median (wall time, and the process's CPU time per operation). Target: ratio
<= 1.25.

Wine: each path of Tavlo.exe is compared with the bare client's same path in
the same run, at p50 and at p99 (target <= 1.25 for both, idle and with every
core busy); Tavlo's loaded p99 with its idle p99 (target <= 2); and its idle
minute: no wake-up, i.e. at most NO_WAKE_UP_SWITCHES voluntary context
switches summed over its threads (a once-a-second timer would make 60)."""
import argparse
import json
import os
import sys

TARGET = 1.25
LOADED_TARGET = 2.0
NO_WAKE_UP_SWITCHES = 2

WINE_PATHS = (
    ("key", "key: driver signals the event -> key-down at the focused edit"),
    ("layer", "layer key: driver signals the 0x76 make -> layer-mode call at the driver"),
    ("keyboard", "keyboard: consumer report pushed -> layer-mode call at the driver"),
)
COSTS = (
    ("GetKeyState-caps-and-shift", "GetKeyState of Caps Lock and of Shift"),
    ("SetEvent+WaitForSingleObject", "SetEvent + WaitForSingleObject (bare)"),
    ("SetEvent+WaitForMultipleObjects-48", "SetEvent + WaitForMultipleObjects of 48 (Tavlo)"),
    ("SendInput-unicode-key-up", "SendInput of one Unicode event"),
    ("SendInput-unicode-two-key-ups", "SendInput of two Unicode events in one call (a key's shape)"),
)


def load(paths):
    medians = {}
    errors = {}
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        for b in data["benchmarks"]:
            name = b.get("run_name", b["name"])
            if b.get("error_occurred"):
                errors[name] = b.get("error_message", "error")
                continue
            if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                continue
            medians[name] = b
    return medians, errors


def ns(b, key):
    unit = b.get("time_unit", "ns")
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[unit]
    return b[key] * scale


def fmt_time(t):
    if t >= 1e6:
        return "%.2f ms" % (t / 1e6)
    if t >= 1e3:
        return "%.2f us" % (t / 1e3)
    return "%.0f ns" % t


def find(medians, prefix):
    for name, b in medians.items():
        if name == prefix or name.startswith(prefix + "/"):
            return b
    return None


def error_of(errors, prefix):
    for name, message in errors.items():
        if name == prefix or name.startswith(prefix + "/"):
            return message
    return None


def print_table(title, header, rows):
    # A long cell (a note) runs over its column rather than widening it.
    widths = [max([len(h)] + [len(r[i]) for r in rows if len(r[i]) <= 44]) for i, h in enumerate(header)]
    print()
    print(title)
    line = "  ".join(h.ljust(w) for h, w in zip(header, widths))
    print(line)
    print("-" * len(line))
    for r in rows:
        last = max(i for i, c in enumerate(r) if c or i == 0)
        print("  ".join(c.ljust(w) for c, w in zip(r[:last], widths)) + ("  " if last else "") + r[last])


def parse_wine(lines):
    """The lines of wine-bench.sh as {kind: [...]}."""
    out = {"exe": None, "result": {}, "load": {}, "cost": [], "idle": None, "threads": [], "missing": [],
           "sched": {}}
    for raw in lines:
        f = raw.split()
        if not f:
            continue
        kv = dict(x.split("=", 1) for x in f if "=" in x)
        if f[0] == "wine-exe" and len(f) >= 3:
            out["exe"] = (f[1], f[2])
        elif f[0] == "wine-result" and len(f) >= 5:
            out["result"][(f[1], f[2], f[3], f[4])] = {k: float(v) for k, v in kv.items()}
        elif f[0] == "wine-load" and len(f) >= 8:
            out["load"][f[1]] = "%s at its start, %s at its end" % (" ".join(f[2:5]), " ".join(f[5:8]))
        elif f[0] == "wine-sched" and len(f) >= 7:
            out["sched"][(f[1], f[2], f[3], f[4])] = (float(kv.get("run_us", 0)), float(kv.get("wait_us", 0)))
        elif f[0] == "wine-cost" and len(f) >= 5:
            out["cost"].append((f[1], f[2], f[3], kv.get("us", "?")))
        elif f[0] == "wine-idle":
            out["idle"] = {k: int(v) for k, v in kv.items()}
        elif f[0] == "wine-idle-thread" and len(f) >= 3:
            out["threads"].append((f[1], f[2], kv))
        elif f[0] == "not-measured":
            out["missing"].append(raw.strip()[len("not-measured "):])
    return out


def wine_rows(w):
    rows = []

    def row(*cells):
        rows.append(tuple(cells) + ("",) * (6 - len(cells)))

    def us(v):
        return "%.0f us" % v if v < 10000 else "%.1f ms" % (v / 1000)

    def both(d):
        return "%s / %s" % (us(d["p50_us"]), us(d["p99_us"]))

    shipped = "tavlo%s" % w["exe"][1] if w["exe"] else ""
    names = sorted({k[2] for k in w["result"]}, key=lambda n: (n != shipped, n))
    for name in names:
        scored = name == shipped
        for path, label in WINE_PATHS:
            runs = [(run, w["result"].get((run, path, name, "tavlo")), w["result"].get((run, path, name, "bare")))
                    for run in ("idle", "loaded")]
            if not any(t and b for _, t, b in runs):
                continue
            row(label + ("" if scored else " (%s, for comparison)" % name))
            for run, t, b in runs:
                if not t or not b:
                    row("  " + run, "not measured")
                    continue
                r50, r99 = t["p50_us"] / b["p50_us"], t["p99_us"] / b["p99_us"]
                row("  " + run + (", n=%d each" % t["n"]), both(t), both(b), "%.2f / %.2f" % (r50, r99),
                    "<= %.2f" % TARGET if scored else "",
                    ("pass" if r50 <= TARGET and r99 <= TARGET else "miss") if scored else "")
            (_, i, bi), (_, l, bl) = runs
            if i and l and scored:
                r = l["p99_us"] / i["p99_us"]
                bare = "bare: %.2f" % (bl["p99_us"] / bi["p99_us"]) if bi and bl else ""
                row("  loaded p99 / idle p99", "%s / %s" % (us(l["p99_us"]), us(i["p99_us"])), bare,
                    "%.2f" % r, "<= %.2f" % LOADED_TARGET, "pass" if r <= LOADED_TARGET else "miss")
            if path == "key":
                for run in ("idle", "loaded"):
                    t = w["result"].get((run, path, name, "tavlo"))
                    k = w["result"].get((run, path, name, "bare-key-state"))
                    if t and k:
                        row("  bare + GetKeyState of Caps Lock and Shift, " + run, both(t), both(k),
                            "%.2f / %.2f" % (t["p50_us"] / k["p50_us"], t["p99_us"] / k["p99_us"]))
                for run in ("idle", "loaded"):
                    t = w["result"].get((run, "key-shown", name, "tavlo"))
                    b = w["result"].get((run, "key-shown", name, "bare"))
                    if t and b:
                        row("  until the edit shows it, " + run, both(t), both(b),
                            "%.2f / %.2f" % (t["p50_us"] / b["p50_us"], t["p99_us"] / b["p99_us"]))
    idle = w["idle"]
    if idle:
        cpu = idle["cpu_ticks"] / float(idle["hz"])
        woke = idle["voluntary"] > NO_WAKE_UP_SWITCHES
        row("Tavlo idle %d s, keyboard attached, nothing pressed" % idle["seconds"])
        row("  summed over its %d threads" % idle["threads"],
            "%.2f s CPU, %d voluntary + %d involuntary context switches" % (
                cpu, idle["voluntary"], idle["involuntary"]),
            "", "", "<= %d voluntary" % NO_WAKE_UP_SWITCHES, "miss: wakes up" if woke else "pass: no wake-up")
        for tid, comm, kv in w["threads"]:
            if int(kv.get("voluntary", 0)) or int(kv.get("cpu_ticks", 0)):
                row("  thread %s %s" % (tid, comm), "%s ticks, %s voluntary, %s involuntary" % (
                    kv.get("cpu_ticks"), kv.get("voluntary"), kv.get("involuntary")))
    sched = w["sched"]
    if shipped and any(k[1] == shipped for k in sched):
        row("Linux time per measured event, %s rounds: ran / waited on a run queue" % shipped,
            "in Tavlo's rounds", "in the bare client's", "bare + GetKeyState")
        groups = sorted({k[3] for k in sched if k[1] == shipped}, key=lambda g: (g != "contender", g))
        for run in ("idle", "loaded"):
            for group in groups:
                cells = []
                for who in ("tavlo", "bare", "bare-key-state"):
                    v = sched.get((run, shipped, who, group))
                    cells.append("%.0f / %.0f us" % v if v else "")
                if any(cells):
                    row("  %s, %s" % ("Tavlo or bare client" if group == "contender" else group, run), *cells)
    costs = {(run, width, what): value for run, width, what, value in w["cost"]}
    if costs:
        row("a call on the key path, windowless thread (median of batch means): idle run / loaded run")
        for width in ("32", "64"):
            for what, label in COSTS:
                if ("idle", width, what) in costs or ("loaded", width, what) in costs:
                    row("  %s-bit %s" % (width, label), "%s us / %s us" % (
                        costs.get(("idle", width, what), "?"), costs.get(("loaded", width, what), "?")))
    for why in w["missing"]:
        what, _, reason = why.partition(":")
        row(what, "not measured:" + reason if reason else "not measured")
    return rows


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("json", nargs="+")
    ap.add_argument("--exe32", default="build/windows-x86/Tavlo.exe")
    ap.add_argument("--wine", help="the output of benchmarks/wine-bench.sh")
    args = ap.parse_args()
    medians, errors = load(args.json)
    rows = []
    failed = False

    def row(what, value, ratio="", target="", result=""):
        rows.append((what, value, ratio, target, result))

    def latency(label, name, base_name):
        nonlocal failed
        b, base = find(medians, name), find(medians, base_name)
        if error_of(errors, name) or not b or not base:
            row(label, "FAILED: " + (error_of(errors, name) or "no result"), "", "<= %.2f" % TARGET, "miss")
            failed = True
            return
        wall, cpu = ns(b, "real_time"), ns(b, "cpu_time")
        bwall, bcpu = ns(base, "real_time"), ns(base, "cpu_time")
        r_wall, r_cpu = wall / bwall, cpu / bcpu
        row(label, "%s wall, %s cpu" % (fmt_time(wall), fmt_time(cpu)),
            "%.2f wall, %.2f cpu" % (r_wall, r_cpu), "<= %.2f" % TARGET,
            "pass" if r_wall <= TARGET else "miss")

    base = find(medians, "BM_EventPingPong")
    if base:
        row("bare two-thread event wake-up (baseline)",
            "%s wall, %s cpu" % (fmt_time(ns(base, "real_time")), fmt_time(ns(base, "cpu_time"))), "1.00")
    latency("key event -> typed text", "BM_KeyEventToInput", "BM_EventPingPong")
    latency("layer-key event -> layer-mode call", "BM_LayerKeyToModeCall", "BM_EventPingPong")
    latency("consumer report -> layer-mode call", "BM_ConsumerReportToModeCall", "BM_EventPingPong")
    latency("report -> reader callback (hid_benchmark)", "BM_ReportToCallbackRoundTrip",
            "BM_BareEventWakeRoundTrip")

    burst = find(medians, "BM_BurstOf45Keys")
    if error_of(errors, "BM_BurstOf45Keys") or not burst:
        row("burst of 45 keys", "FAILED: " + (error_of(errors, "BM_BurstOf45Keys") or "no result"), "", "all typed",
            "miss")
        failed = True
    else:
        t = ns(burst, "real_time")
        row("burst of 45 keys (all typed, in order)", "%s (%s a key)" % (fmt_time(t), fmt_time(t / 45)), "", "all typed",
            "pass")

    starts = {}
    for n in (1, 16, 256):
        b = find(medians, "BM_StartUp/%d" % n)
        if b:
            starts[n] = ns(b, "real_time")
            row("start-up, %d present interface%s" % (n, "" if n == 1 else "s"), fmt_time(starts[n]))
        else:
            row("start-up, %d interfaces" % n, "FAILED: " + (error_of(errors, "BM_StartUp/%d" % n) or "no result"))
            failed = True
    if 1 in starts and 16 in starts and 256 in starts:
        per = (starts[256] - starts[1]) / 255
        row("start-up growth", "%s per extra interface" % fmt_time(per),
            "256/1: %.2f, 16/1: %.2f" % (starts[256] / starts[1], starts[16] / starts[1]))

    heap = find(medians, "BM_HeapWithOneKeyboard")
    if heap and not error_of(errors, "BM_HeapWithOneKeyboard"):
        row("heap held with one keyboard", "%d bytes in %d blocks" % (heap["heap_bytes"], heap["heap_blocks"]),
            "", "", "(system blocks only; the sim's own std allocations not counted)")
    else:
        row("heap held with one keyboard", "FAILED: " + (error_of(errors, "BM_HeapWithOneKeyboard") or "no result"))
        failed = True

    if os.path.isfile(args.exe32):
        row("Tavlo.exe, 32-bit", "%d bytes" % os.path.getsize(args.exe32), "", "", args.exe32)
    else:
        row("Tavlo.exe, 32-bit", "not built (%s missing)" % args.exe32)
    print_table("make bench: medians of interleaved repetitions, native-release, simulated machine",
                ("measure", "median", "ratio to wake-up", "target", "result"), rows)

    lines = []
    if args.wine:
        try:
            with open(args.wine) as f:
                lines = f.readlines()
        except OSError as e:
            lines = ["not-measured wine: %s" % e]
    w = parse_wine(lines or ["not-measured wine: no output"])
    if w["exe"]:
        exe, bits = w["exe"]
        what = "%s (%s)" % (exe, "32-bit, WoW64" if bits == "32" else "x86_64")
    else:
        what = "no Tavlo.exe"
    title = "make bench: Tavlo.exe on Win32 under Wine: %s; p50 / p99 over every round" % what
    for run in ("idle", "loaded"):
        if run in w["load"]:
            title += "\n  load averages of the %s run: %s" % (run, w["load"][run])
    print_table(title, ("measure", "Tavlo p50 / p99", "bare p50 / p99", "Tavlo / bare", "target", "result"),
                wine_rows(w))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
