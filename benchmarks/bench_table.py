#!/usr/bin/env python3
"""Prints the make bench table from Google Benchmark JSON output (medians of
interleaved repetitions), the size of the 32-bit Tavlo.exe and the Wine line.

Each latency path is compared with the bare two-thread event wake-up of the
same program and run: ratio = path median / baseline median (wall time, and
the process's CPU time per operation). Target: ratio <= 1.25."""
import argparse
import json
import os
import sys

TARGET = 1.25


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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("json", nargs="+")
    ap.add_argument("--exe32", default="build/windows-x86/Tavlo.exe")
    ap.add_argument("--wine", default="not measured")
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
    row("Tavlo.exe idle under Wine, 10 s", args.wine)

    # A long cell (a note) runs over its column rather than widening it.
    header = ("measure", "median", "ratio to wake-up", "target", "result")
    widths = [max([len(h)] + [len(r[i]) for r in rows if len(r[i]) <= 44]) for i, h in enumerate(header)]
    print()
    print("make bench: medians of interleaved repetitions, native-release, simulated machine")
    line = "  ".join(h.ljust(w) for h, w in zip(header, widths))
    print(line)
    print("-" * len(line))
    for r in rows:
        last = max(i for i, c in enumerate(r) if c or i == 0)
        print("  ".join(c.ljust(w) for c, w in zip(r[:last], widths)) + ("  " if last else "") + r[last])
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
