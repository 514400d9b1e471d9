#!/usr/bin/env python3
"""Turns the benchmark's JSON reports into docs/performance.md, on stdout:
every case beside its floor, the ratio, and each target met or missed.
Standard library only."""
import json
import pathlib
import platform
import sys

US = 1000.0  # ns

# What each floor calls, directly: for "platform/X", what the request X makes.
FLOORS = {
    "platform/Lock+Unlock": "OpenMutexA, WaitForSingleObject(0), CloseHandle; OpenMutexA, ReleaseMutex, CloseHandle",
    "platform/isLocked": "OpenMutexA, WaitForSingleObject(0), ReleaseMutex, CloseHandle",
    "platform/Create+Delete": "CreateMutexA; OpenMutexA, WaitForSingleObject(0), ReleaseMutex, CloseHandle, CloseHandle",
    "platform/Create+Delete, 0 registered": "the same, again, before registering",
    "platform/Create+Delete, 10,000 registered": "the same, with 10,000 mutexes registered",
    "platform/Create+Delete, 100,000 registered": "the same, with 100,000 mutexes registered",
    "pthread/robust mutex lock+unlock": "pthread_mutex_lock, pthread_mutex_unlock of a robust, process-shared, recursive mutex",
    "kernel/one system call": "getppid",
}
CASES = [
    "GET Version",
    "refused request",
    "Lock+Unlock",
    "isLocked",
    "Create+Delete",
    "GET Version, 16 KiB of headers",
    "GET Version, 64 KiB of headers",
    "Create+Delete, 0 registered",
    "Create+Delete, 10,000 registered",
    "Create+Delete, 100,000 registered",
]
COMMANDS = ["Lock+Unlock", "isLocked", "Create+Delete"]
NOTES = pathlib.Path(__file__).with_name("performance_notes.md")


class Figure:
    """A benchmark's CPU time per iteration over its repetitions, in ns: the
    median and the quartiles around it."""

    def __init__(self):
        self.median = self.q1 = self.q3 = None
        self.requests = 1
        self.error = None

    def __str__(self):
        return f"not measured: {self.error}" if self.error else us(self.median)

    def spread(self):
        return f"{us(self.q1)} – {us(self.q3)}"


def us(ns):
    return f"{ns / US:.2f} µs" if abs(ns) < 10 * US else f"{ns / US:.1f} µs"


def load(paths):
    figures, context = {}, None
    for path in paths:
        with open(path) as file:
            report = json.load(file)
        context = context or report["context"]
        for entry in report["benchmarks"]:
            figure = figures.setdefault(entry["run_name"], Figure())
            if entry.get("error_occurred"):
                figure.error = entry["error_message"]
                continue
            field = {"median": "median", "q1": "q1", "q3": "q3"}.get(entry["aggregate_name"])
            if field:
                assert entry["time_unit"] == "ns"
                setattr(figure, field, entry["cpu_time"])
                figure.requests = int(entry.get("requests", 1))
    return figures, context


def machine(context):
    model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                  if line.startswith("model name")), "unknown CPU")
    load_avg = ", ".join(f"{x:.2f}" for x in context["load_avg"])
    return (f"{context['date']}; {model}, {context['num_cpus']} CPUs at {context['mhz_per_cpu']} MHz; "
            f"Linux {platform.release()}; load average {load_avg} at the start")


class Case:
    def __init__(self, figures, name):
        self.name = name
        self.figure = figures["request/" + name]
        self.floor = figures.get("platform/" + name)

    def error(self):
        return self.figure.error or (self.floor and self.floor.error)

    def ratio(self):
        return self.figure.median / self.floor.median

    def overhead(self):
        """Time a request beyond its floor: median, and the range the two spreads allow."""
        case, floor, n = self.figure, self.floor, self.figure.requests
        if floor is None:
            return case.median / n, case.q1 / n, case.q3 / n
        return ((case.median - floor.median) / n, (case.q1 - floor.q3) / n, (case.q3 - floor.q1) / n)

    def row(self):
        if self.error():
            return f"| {self.name} | {self.figure.requests} | {self.error()} | | | | |"
        floor = (f"{us(self.floor.median)} | {self.ratio():.2f}" if self.floor
                 else "none: no platform call | ")
        median, low, high = self.overhead()
        return (f"| {self.name} | {self.figure.requests} | {self.figure} | {self.figure.spread()} | {floor} | "
                f"{us(median)} ({us(low)} to {us(high)}) |")


def verdict(met):
    return "met" if met else "**missed**, see below"


def verdict_by_median(median, low, high, limit):
    """Targets are on medians; a spread that reaches across the limit is said."""
    if median <= limit:
        return "met" + (", though the spread reaches past it" if high > limit else "")
    return verdict(False) + ("; the spread reaches under it" if low <= limit else "")


def target_rows(figures):
    """Each target: what it needs measured, and from that the figure and the verdict."""

    def median(name):
        return figures["request/" + name].median

    def overhead(name):
        middle, low, high = Case(figures, name).overhead()
        return f"{us(middle)} ({us(low)} to {us(high)})", verdict_by_median(middle, low, high, US)

    def ratio_to_floor(name):
        ratio = Case(figures, name).ratio()
        return f"{ratio:.2f} ×", verdict(ratio <= 1.5)

    def parsing():
        large = median("GET Version, 64 KiB of headers")
        growth = large / median("GET Version, 16 KiB of headers")
        ratio = large / median("GET Version")
        return f"{ratio:.0f} × (16 KiB to 64 KiB: {growth:.1f} ×, linear is 4)", verdict(ratio <= 100)

    def registry(count):
        ratio = median(f"Create+Delete, {count} registered") / median("Create+Delete, 0 registered")
        return f"{ratio:.2f} ×", verdict(ratio <= 2)

    targets = [
        ("\"GET Version\" ≤ 1 µs", ["GET Version"],
         lambda: (us(median("GET Version")), verdict(median("GET Version") <= US))),
        *((f"{name}: protocol overhead ≤ 1 µs a request", [name], lambda name=name: overhead(name))
          for name in ["refused request"] + COMMANDS),
        *((f"{name}: ≤ 1.5 × its platform floor", [name], lambda name=name: ratio_to_floor(name))
          for name in COMMANDS),
        ("Lock+Unlock ≤ 10 µs", ["Lock+Unlock"],
         lambda: (us(median("Lock+Unlock")), verdict(median("Lock+Unlock") <= 10 * US))),
        ("64 KiB of headers ≤ 100 × a 100-byte request",
         ["GET Version", "GET Version, 16 KiB of headers", "GET Version, 64 KiB of headers"], parsing),
        ("Create+Delete, 10,000 registered, beside none registered (no target)",
         ["Create+Delete, 0 registered", "Create+Delete, 10,000 registered"], lambda: (registry("10,000")[0], "")),
        ("Create+Delete, 100,000 registered ≤ 2 × none registered",
         ["Create+Delete, 0 registered", "Create+Delete, 100,000 registered"], lambda: registry("100,000")),
    ]
    rows = []
    for target, needed, assess in targets:
        missing = [name for name in needed if Case(figures, name).error()]
        measured, met = ("not measured", "**not measured**, see below") if missing else assess()
        rows.append(f"| {target} | {measured} | {met} |")
    return rows


def main(paths):
    figures, context = load(paths)
    lines = [
        "# Performance",
        "",
        "What one request costs through the module's `_request`: the host copies the request text",
        "into a block, the module parses it, dispatches it, builds the answer and copies it out, the",
        "host reads the answer and frees it. Beside each, its floor: the same platform calls made",
        "directly, which no implementation on this platform layer can beat. Written by",
        "`scripts/bench.sh`, which runs `build/bench/trilox_bench`; do not edit by hand.",
        "",
        f"Run: {machine(context)}. Release build, on one CPU; mutexes on tmpfs.",
        "",
        "Figures are CPU time per iteration: the median of the repetitions and, as their spread, the",
        "middle half of them (first to third quartile). A case runs its requests once an iteration.",
        "Overhead is the case less its floor, a request, with the range the two spreads allow.",
        "The \"GET Version\" request is 100 bytes: the headers the `saori` host sends and one more;",
        "the 16 and 64 KiB ones go on with header lines of 40 bytes.",
        "",
        "## Cases",
        "",
        "| Case | Requests | Median | Spread | Floor median | Ratio | Overhead a request |",
        "|---|---|---|---|---|---|---|",
        *(Case(figures, name).row() for name in CASES if "request/" + name in figures),
        "",
        "## Floors",
        "",
        "| Floor | Calls | Median | Spread |",
        "|---|---|---|---|",
        *(f"| {name} | {calls} | {figures[name]} | {'' if figures[name].error else figures[name].spread()} |"
          for name, calls in FLOORS.items() if name in figures),
        "",
        "## Targets",
        "",
        "| Target | Measured | |",
        "|---|---|---|",
        *target_rows(figures),
        "",
        NOTES.read_text().rstrip(),
    ]
    print("\n".join(lines))


if __name__ == "__main__":
    main(sys.argv[1:])
