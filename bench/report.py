#!/usr/bin/env python3
"""Turns the benchmarks' reports into docs/performance.md, on stdout: every
case beside its floor, the ratio, instruction counts, the handoff and
contention between processes, and each target met or missed.
Standard library only.

Usage: report.py PROCESSES.json INSTRUCTIONS.tsv ALLOCATIONS.tsv BENCH.json...
"""
import json
import pathlib
import platform
import statistics
import sys

US = 1000.0  # ns

# What each floor calls, directly: for "platform/X", what the request X makes.
FLOORS = {
    "platform/Lock+Unlock": "WaitForSingleObject(0); ReleaseMutex; on the handle kept since CreateMutexA",
    "platform/isLocked": "WaitForSingleObject(0), ReleaseMutex; on the handle kept since CreateMutexA",
    "platform/Create+Delete": "CreateMutexA; OpenMutexA, WaitForSingleObject(0), ReleaseMutex, CloseHandle, CloseHandle",
    "platform/Create+Delete, 0 registered": "the same, again, before registering",
    "platform/Create+Delete, 10,000 registered": "the same, with 10,000 mutexes registered",
    "platform/Create+Delete, 100,000 registered": "the same, with 100,000 mutexes registered",
    "pthread/robust mutex lock+unlock": "pthread_mutex_lock, pthread_mutex_unlock of a robust, process-shared, recursive, priority-inheritance mutex",
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
# The cases the minimal module answers too, and the most each may cost beside it.
MINIMAL_LIMITS = {"GET Version": 2.5, "Lock+Unlock": 2.5, "isLocked": 2.5, "GET Version, 64 KiB of headers": 2}
# The most allocations a request of trilox may make, by the start of the case's name.
ALLOCATION_LIMITS = {"GET Version": 2, "Lock": 4, "Unlock": 4, "isLocked": 4}
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

    def row(self, instructions):
        counted = f"{instructions['trilox', self.name]:,}" if ("trilox", self.name) in instructions else ""
        if self.error():
            return f"| {self.name} | {self.figure.requests} | {self.error()} | | | | | {counted} |"
        floor = (f"{us(self.floor.median)} | {self.ratio():.2f}" if self.floor
                 else "none: no platform call | ")
        median, low, high = self.overhead()
        return (f"| {self.name} | {self.figure.requests} | {self.figure} | {self.figure.spread()} | {floor} | "
                f"{us(median)} ({us(low)} to {us(high)}) | {counted} |")


def verdict(met):
    return "met" if met else "**missed**, see below"


def verdict_by_median(median, low, high, limit):
    """Targets are on medians; a spread that reaches across the limit is said."""
    if median <= limit:
        return "met" + (", though the spread reaches past it" if high > limit else "")
    return verdict(False) + ("; the spread reaches under it" if low <= limit else "")


def quantile(values, q):
    """The value below which the fraction q of the values lie, interpolated."""
    values = sorted(values)
    position = q * (len(values) - 1)
    below = int(position)
    above = min(below + 1, len(values) - 1)
    return values[below] + (position - below) * (values[above] - values[below])


def load_instructions(path):
    """Callgrind's count for each module and single-request case: its instructions an iteration."""
    counts = {}
    with open(path) as file:
        for line in file:
            module, name, total, iterations = line.rstrip("\n").split("\t")
            counts[module, name] = round(int(total) / int(iterations))
    return counts


def load_allocations(path):
    """Allocations a request makes inside each module, by module and case."""
    counts = {}
    with open(path) as file:
        for line in file:
            module, name, count = line.rstrip("\n").split("\t")
            counts[module, name] = float(count)
    return counts


def minimal_rows(figures, instructions):
    rows = []
    for name in MINIMAL_LIMITS:
        case, minimal = figures["request/" + name], figures["minimal/" + name]
        counted = [f"{instructions[module, name]:,}" if (module, name) in instructions else ""
                   for module in ("trilox", "minimal")]
        if case.error or minimal.error:
            rows.append(f"| {name} | {case} | {minimal} | | {counted[0]} | {counted[1]} |")
            continue
        rows.append(f"| {name} | {case} | {minimal} | {case.median / minimal.median:.2f} × | "
                    f"{counted[0]} | {counted[1]} |")
    return rows


def allocation_rows(allocations):
    names = [name for module, name in allocations if module == "trilox"]
    return [f"| {name} | {allocations['trilox', name]:g} | {allocations.get(('minimal', name), float('nan')):g} |"
            for name in names]


HANDOFF_KINDS = (
    ("request", "through requests: Unlock answered in A, Wait answered in B"),
    ("pthread", "robust pthread mutex: pthread_mutex_unlock in A, pthread_mutex_lock returns in B"),
    ("futex", "futex word: the wake in A, FUTEX_WAIT returns in B"),
    ("minimal", "through requests to the minimal module: Unlock answered in A, Wait answered in B"),
)


def handoff_rows(handoff):
    rows = []
    for release in ("cold", "warm"):
        floor = statistics.median(handoff[release]["pthread"])
        for name, what in HANDOFF_KINDS:
            samples = handoff[release][name]
            median = statistics.median(samples)
            rows.append(f"| {release} | {what} | {us(median)} | {us(quantile(samples, 0.9))} | "
                        f"{median / floor:.2f} × | {len(samples):,} |")
    return rows


def handoff_ratio(handoff, release, kind="request", reference="pthread"):
    return statistics.median(handoff[release][kind]) / statistics.median(handoff[release][reference])


def contention_rows(contention):
    """For each way of taking and number of processes: the module beside the pthread mutex."""
    def figures(case):
        counts = case["acquisitions"]
        even = sum(counts) / len(counts)
        spread = f"{min(counts) / even:.2f} – {max(counts) / even:.2f}" if even else "none taken"
        return f"{sum(counts) / case['seconds']:,.0f} | {spread}"

    cases = {(case["mutex"], case["taking"], case["processes"]): case for case in contention}
    rows = []
    for taking, processes in sorted({(taking, processes) for _, taking, processes in cases},
                                    key=lambda key: (key[0] != "Lock", key[1])):
        how = "Lock until Result: 1" if taking == "Lock" else "Wait"
        rows.append(f"| {how} | {processes} | {figures(cases['request', taking, processes])} | "
                    f"{figures(cases['pthread', taking, processes])} |")
    return rows


def target_rows(figures, handoff, allocations):
    """Each target: what it needs measured, and from that the figure and the verdict."""

    def median(name):
        return figures["request/" + name].median

    def overhead(name):
        middle, low, high = Case(figures, name).overhead()
        return f"{us(middle)} ({us(low)} to {us(high)})", verdict_by_median(middle, low, high, US)

    def ratio_to_minimal(name):
        ratio = median(name) / figures["minimal/" + name].median
        return f"{ratio:.2f} ×", verdict(ratio <= MINIMAL_LIMITS[name])

    def allocation_target(prefix):
        counts = {name: count for (module, name), count in allocations.items()
                  if module == "trilox" and name.split(",")[0] == prefix}
        most = max(counts.values())
        return f"at most {most:g}", verdict(most <= ALLOCATION_LIMITS[prefix] and len(counts) > 0)

    def ratio_to_floor(name):
        ratio = Case(figures, name).ratio()
        return f"{ratio:.2f} ×", verdict(ratio <= 1.5)

    def parsing():
        ratio = median("GET Version, 64 KiB of headers") / median("GET Version")
        return f"{ratio:.0f} ×", verdict(ratio <= 100)

    def growth():
        ratio = median("GET Version, 64 KiB of headers") / median("GET Version, 16 KiB of headers")
        return f"{ratio:.2f} × (linear is 4)", verdict(ratio <= 4.4)

    def handoff_target(release, limit):
        ratio = handoff_ratio(handoff, release)
        return f"{ratio:.2f} ×", verdict(ratio <= limit)

    def registry(count):
        ratio = median(f"Create+Delete, {count} registered") / median("Create+Delete, 0 registered")
        return f"{ratio:.2f} ×", verdict(ratio <= 2)

    targets = [
        ("\"GET Version\" ≤ 1 µs", ["GET Version"],
         lambda: (us(median("GET Version")), verdict(median("GET Version") <= US))),
        *((f"{name}: protocol overhead ≤ 1 µs a request", [name], lambda name=name: overhead(name))
          for name in ["refused request"] + COMMANDS),
        ("Create+Delete: ≤ 1.5 × its platform floor", ["Create+Delete"], lambda: ratio_to_floor("Create+Delete")),
        *((f"{name}: ≤ {limit:g} × the minimal module's", [name, "minimal/" + name],
           lambda name=name: ratio_to_minimal(name)) for name, limit in MINIMAL_LIMITS.items()),
        *((f"Allocations of a {prefix} request ≤ {limit}" + ("" if prefix == "GET Version" else
           ", names of 10 to 260 characters"), [], lambda prefix=prefix: allocation_target(prefix))
          for prefix, limit in ALLOCATION_LIMITS.items()),
        ("Lock+Unlock ≤ 10 µs", ["Lock+Unlock"],
         lambda: (us(median("Lock+Unlock")), verdict(median("Lock+Unlock") <= 10 * US))),
        ("64 KiB of headers ≤ 100 × a 100-byte request", ["GET Version", "GET Version, 64 KiB of headers"],
         parsing),
        ("64 KiB of headers ≤ 4.4 × 16 KiB", ["GET Version, 16 KiB of headers", "GET Version, 64 KiB of headers"],
         growth),
        ("Handoff, cold: median ≤ 1.3 × the robust pthread mutex's", [], lambda: handoff_target("cold", 1.3)),
        ("Handoff, warm: median ≤ 2 × the robust pthread mutex's", [], lambda: handoff_target("warm", 2)),
        ("Handoff, cold, the minimal module beside the robust pthread mutex (no target)", [],
         lambda: (f"{handoff_ratio(handoff, 'cold', 'minimal'):.2f} ×", "")),
        ("Handoff, cold, beside the minimal module's (no target)", [],
         lambda: (f"{handoff_ratio(handoff, 'cold', reference='minimal'):.2f} ×", "")),
        ("Create+Delete, 10,000 registered, beside none registered (no target)",
         ["Create+Delete, 0 registered", "Create+Delete, 10,000 registered"], lambda: (registry("10,000")[0], "")),
        ("Create+Delete, 100,000 registered ≤ 2 × none registered",
         ["Create+Delete, 0 registered", "Create+Delete, 100,000 registered"], lambda: registry("100,000")),
    ]
    rows = []
    for target, needed, assess in targets:
        missing = [name for name in needed
                   if (figures[name].error if "/" in name else Case(figures, name).error())]
        measured, met = ("not measured", "**not measured**, see below") if missing else assess()
        rows.append(f"| {target} | {measured} | {met} |")
    return rows


def main(processes_path, instructions_path, allocations_path, paths):
    figures, context = load(paths)
    with open(processes_path) as file:
        processes = json.load(file)
    instructions = load_instructions(instructions_path)
    allocations = load_allocations(allocations_path)
    lines = [
        "# Performance",
        "",
        "What one request costs through the module's `_request`: the host copies the request text",
        "into a block, the module parses it, dispatches it, builds the answer and copies it out, the",
        "host reads the answer and frees it. Beside each, its floor: the same platform calls made",
        "directly, which no implementation on this platform layer can beat. Then a mutex handed",
        "from one process to another, and contended by several. Written by `scripts/bench.sh`, which",
        "runs `build/bench/trilox_bench`, `trilox_process_bench` and, under callgrind,",
        "`trilox_instructions`; do not edit by hand.",
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
        "| Case | Requests | Median | Spread | Floor median | Ratio | Overhead a request | Instructions |",
        "|---|---|---|---|---|---|---|---|",
        *(Case(figures, name).row(instructions) for name in CASES if "request/" + name in figures),
        "",
        "Instructions: `valgrind --tool=callgrind`'s count for one iteration of the case, the host's",
        "side of the exchange included (copying the text into a block, reading the answer). Unlike the",
        "times they do not drift with the machine's load: a change shows in them exactly.",
        "",
        "## Beside the least a module can do",
        "",
        "The same requests sent, in the same run, to a minimal module (`bench/minimal_module.cpp`) that",
        "gives the same answers and does nothing else: it reads the lines where the host put them, finds",
        "the name in a hash table, takes a robust process-shared pthread mutex and writes a fixed answer",
        "into one new block. No module answering these texts through `_request` can do much less.",
        "",
        "| Case | trilox | Minimal module | Ratio | Instructions: trilox | Minimal module |",
        "|---|---|---|---|---|---|",
        *minimal_rows(figures, instructions),
        "",
        "## Allocations",
        "",
        "Allocations (`malloc`, `calloc`, `realloc`) a request makes inside the module, counted by",
        "`build/bench/trilox_allocations` around the module's `request` alone: the host's copying before",
        "and after is not counted. Lock, Unlock and isLocked are on a mutex the module created.",
        "",
        "| Request | trilox | Minimal module |",
        "|---|---|---|",
        *allocation_rows(allocations),
        "",
        "## Handoff between processes",
        "",
        "Process A, which created the mutex, holds it; process B, which did not, is blocked in `Wait`",
        "through its own copy of the module. A stamps the time (CLOCK_MONOTONIC) just before its `Unlock`",
        "request, B as its `Wait` request returns. A releases only once B is asleep in the kernel: cold,",
        "after sleeping 2 ms more, as a host releases after its script has run and its caches have gone",
        "cold; warm, at once, its caches warm from polling. Beside it, the same handoff on a bare robust,",
        "process-shared, recursive, priority-inheritance pthread mutex (the kind under trilox's, which",
        "the kernel hands to its waiter), on a bare futex word in shared memory, and through",
        "requests to the minimal module, whose mutex both processes inherit. The four take turns round",
        "by round, unpinned, on all CPUs. Each host reads the status of an answer where the module put",
        "it, and frees it. Ratio: to the pthread mutex's median.",
        "",
        "| Release | Handoff | Median | 90th percentile | Ratio | Handoffs |",
        "|---|---|---|---|---|---|",
        *handoff_rows(processes["handoff"]),
        "",
        "## Contention",
        "",
        "N processes, none of which created the mutex, take it and release it at once, again and again",
        "for a second, unpinned: by `Lock` requests until one answers `Result: 1`, or by `Wait`; then",
        "`Unlock`. Beside each, the same on the bare pthread mutex (`pthread_mutex_trylock` until it",
        "succeeds, or `pthread_mutex_lock`). Spread: the fewest and the most acquisitions of one process,",
        "as a share of an even split (1.00 is perfectly even).",
        "",
        "| Taking | Processes | Requests: acquisitions/s | Spread | pthread: acquisitions/s | Spread |",
        "|---|---|---|---|---|---|",
        *contention_rows(processes["contention"]),
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
        *target_rows(figures, processes["handoff"], allocations),
        "",
        NOTES.read_text().rstrip(),
    ]
    print("\n".join(lines))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:])
