#!/usr/bin/python3
"""Random multi-process scenarios, run natively and under Wine, answers compared byte for byte.

The Windows builds use Windows' own named mutexes, so they are an oracle for
the Linux platform layer. Each seed gives a scenario of 2 or 3 `saori repl`
processes of 1 to 3 threads; every step goes to the native process and to its
Windows twin, in lockstep, and the answers must be the same bytes. A long Wait
may stay pending: its answer must come on both sides or on neither, and be
the same. A mismatch prints the seed and the steps, then shrinks them to a
minimal scenario and prints that.

  differential.py --native DIR --windows DIR --wine WINE [--seeds 1-30,77]

The Windows side runs in the Wine prefix of the environment (WINEPREFIX and
the rest, as CTest sets them). TRILOX_DIFFERENTIAL_SEEDS, when set, replaces
--seeds.
"""

import argparse
import os
import subprocess
import sys
import time
from collections import Counter
from dataclasses import dataclass

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from hosts import NativeSide, WindowsSide  # noqa: E402
from scenario import LONG_WAIT, generate, is_valid  # noqa: E402
from world import World, mutex_key  # noqa: E402

BLOCKED_SECONDS = 0.1  # a long Wait not answered on either side by then (or 3 round trips) is blocked
GRACE_SECONDS = 0.5  # for a long Wait's answer once its mutex has been let go of
LATE_SECONDS = 3  # for one side's answer once the other side's has come


@dataclass(frozen=True)
class KnownDifference:
    name: str
    reason: str
    applies: object      # (world, step) -> whether the step is one of these
    native_status: bytes  # the native answer's status line start; Windows is not sent the step


# Where native and Windows answers differ by design. Every entry is named and
# says why; its steps go to the native side only.
KNOWN_DIFFERENCES = [
    KnownDifference(
        "pid-namespace",
        "Windows has no PID namespaces. Thread ids are per PID namespace, and a mutex shared "
        "across them could have two holders, so natively a process is refused, with 500, every "
        "command on a mutex made in another PID namespace. Windows is not "
        "sent the step, so both sides keep the same state.",
        World.other_namespace_made, b"SAORI/1.0 500 "),
]


class Mismatch(Exception):
    def __init__(self, index, native, windows, known=None, after=None):
        super().__init__()
        self.index, self.native, self.windows, self.known = index, native, windows, known
        self.after = after  # for a long Wait's answer, the step after which it came
        self.answers = []  # of the steps before


class Differential:
    def __init__(self, native, windows, differences):
        self.sides = (native, windows)
        self.differences = differences
        self.runs = 0
        # Of the last run: its model, and the steps each known difference took out.
        self.last_world = None
        self.last_excluded = Counter()
        self.last_handed_over = Counter()  # long Waits handed their mutex, by the step that let go of it

    def run(self, steps):
        """The answers of both sides to each step, None for a step not sent or a long Wait that never
        answered; raises Mismatch at the first that differs."""
        self.runs += 1
        self.last_excluded, self.last_handed_over = Counter(), Counter()
        world = World(self.sides[0].sandboxes)
        hosts = [{}, {}]
        answers = [None] * len(steps)
        for side in self.sides:
            side.begin_scenario()
        try:
            start = 0
            while start < len(steps):
                end = next((j for j in range(start + 1, len(steps))
                            if not steps[j].together or not world.waited(steps[j])), len(steps))
                self.take(world, hosts, steps, range(start, end), answers)
                start = end
            return answers
        except Mismatch as mismatch:
            mismatch.answers = answers
            raise
        finally:
            for side_hosts in hosts:
                for host in side_hosts.values():
                    host.kill()
            for side in self.sides:
                side.end_scenario()
            self.last_world = world

    def take(self, world, hosts, steps, group, answers):
        """The group's steps: one, or a release and a step sent in one write with it."""
        step = steps[group[0]]
        if step.action == "start":
            for side, side_hosts in zip(self.sides, hosts):
                side_hosts[step.slot] = side.start(step.sandboxed)
            world.start(step.slot, step.sandboxed)
            return
        frees = world.frees(step)
        if step.action in ("end", "kill"):
            native, windows = [getattr(side_hosts.pop(step.slot), step.action)() for side_hosts in hosts]
            for side, side_hosts in zip(self.sides, hosts):
                side.settle(side_hosts.values())
            world.ended(step.slot, step.action)
            if native != windows:
                raise Mismatch(group[0], native, windows)
        else:
            frees = self.send(world, hosts, steps, group, answers)
        # A mutex let go of goes to its waiter inside the release.
        for (slot, thread), (index, key) in list(world.pending.items()):
            let_go = key in frees
            got = both_answers([side_hosts[slot] for side_hosts in hosts], thread, GRACE_SECONDS if let_go else 0)
            if got[0] is not None:
                del world.pending[slot, thread]
                self.compare(world, index, steps[index], got, answers, after=group[-1])
                self.last_handed_over[step.action] += let_go and b"\r\nResult: 1\r\n" in got[0]

    def send(self, world, hosts, steps, group, answers):
        """Sends the group's steps, in one write a side, and compares their answers; the mutexes
        they let go of."""
        sent, frees, lines = [], set(), [[], []]
        for index in group:
            step = steps[index]
            if world.held_back(step, frees):
                continue
            difference = next((d for d in self.differences if step.is_command() and d.applies(world, step)), None)
            frees |= world.frees(step)
            for side_lines in lines[:1 if difference else 2]:
                side_lines.append(step.line())
            sent.append((index, step, difference))
        round_trip = 0
        for side_hosts, side_lines in zip(hosts, lines):
            if side_lines:
                # A long Wait's process and thread are up first, or a Windows process starting under
                # load could begin the Wait after its mutex is let go of; a round trip then tells how
                # long the Wait may take to block.
                if sent[0][1].action == LONG_WAIT:
                    side_hosts[sent[0][1].slot].ready(sent[0][1].thread)
                    began = time.monotonic()
                    side_hosts[sent[0][1].slot].ready(sent[0][1].thread)
                    round_trip = max(round_trip, time.monotonic() - began)
                side_hosts[sent[0][1].slot].send(b"\n".join(side_lines))
        for index, step, difference in sent:
            acting = [side_hosts[step.slot] for side_hosts in hosts[:1 if difference else 2]]
            if step.action == LONG_WAIT and not difference:
                got = both_answers(acting, step.thread, max(BLOCKED_SECONDS, 3 * round_trip))
                if got[0] is None:
                    world.pending[step.slot, step.thread] = index, mutex_key(step.name)
                    continue
            else:
                got = [host.answer(step.thread if step.is_command() else b"") for host in acting]
            self.compare(world, index, step, got, answers, difference)
        return frees

    def compare(self, world, index, step, got, answers, difference=None, after=None):
        native, windows = got[0], got[1] if len(got) > 1 else None
        if difference:
            self.last_excluded[difference.name] += 1
            if not native.startswith(difference.native_status):
                raise Mismatch(index, native, difference.native_status + b"... (known difference %s)"
                               % difference.name.encode(), difference)
        elif native != windows:
            raise Mismatch(index, native, windows, after=after)
        world.answered(step, native)
        answers[index] = native, windows

    def mismatch_of(self, steps):
        try:
            self.run(steps)
        except Mismatch as mismatch:
            return mismatch
        return None

    def shrink(self, steps, mismatch, budget_seconds):
        """A smaller valid scenario with the same mismatch (the same command, the same two
        answers): chunks of steps removed while that works, then single steps and pairs
        that a process's life needs together."""
        deadline = time.monotonic() + budget_seconds

        def kind(steps, mismatch):
            return steps[mismatch.index].action, mismatch.native, mismatch.windows

        target = kind(steps, mismatch)

        def still_mismatches(candidate):
            if time.monotonic() >= deadline or not is_valid(candidate):
                return False
            again = self.mismatch_of(candidate)
            return again is not None and kind(candidate, again) == target

        chunks = 2
        while len(steps) >= 2 and time.monotonic() < deadline:
            size = -(-len(steps) // chunks)
            smaller = next((c for c in without_chunks(steps, size) if still_mismatches(c)), None)
            if smaller:
                steps, chunks = smaller, max(chunks - 1, 2)
            elif chunks >= len(steps):
                break
            else:
                chunks = min(chunks * 2, len(steps))
        while True:
            smaller = next((c for c in without_lives(steps) if still_mismatches(c)), None)
            if not smaller:
                return steps
            steps = smaller


def both_answers(hosts, thread, seconds):
    """Each host's next answer on the thread, None for none within `seconds`; once one has come,
    the other has LATE_SECONDS to follow."""
    deadline = time.monotonic() + seconds
    got = [host.poll(thread, deadline - time.monotonic()) for host in hosts]
    if got.count(None) == 1:
        got = [answer or host.poll(thread, LATE_SECONDS) or b"<no answer within %d s of the other side's>"
               % LATE_SECONDS for host, answer in zip(hosts, got)]
    return got


def without_chunks(steps, size):
    for start in range(0, len(steps), size):
        yield steps[:start] + steps[start + size:]


def without_lives(steps):
    """The steps less one step, or less a start, end or kill and the next of the same process."""
    for index, step in enumerate(steps):
        yield steps[:index] + steps[index + 1:]
        if step.is_command() or step.action in ("unload", "load"):
            continue
        later = next((j for j in range(index + 1, len(steps)) if steps[j].slot == step.slot
                      and steps[j].action in ("start", "end", "kill")), None)
        if later is not None:
            yield steps[:index] + steps[index + 1:later] + steps[later + 1:]


def show(text):
    return repr(text)[2:-1]


def brief(answer):
    """An answer in short: its status and Result ("200 Result: 1"), or a repl line as it is."""
    if not answer.startswith(b"SAORI/1.0 "):
        return show(answer.strip())
    status = answer.split(b" ")[1].decode()
    result = answer.partition(b"\r\nResult: ")[2].partition(b"\r\n")[0].decode()
    return status + (" Result: " + result if result else "") + (" (%d bytes)" % len(answer) if status == "500" else "")


def print_steps(steps, answers=(), mismatch=None):
    for index, step in enumerate(steps):
        line = "  %3d  %s" % (index + 1, step)
        if mismatch is not None and index == mismatch.index:
            line += "\n         native:  %s\n         %s %s" % (
                show(mismatch.native), "windows:" if mismatch.known is None else "expected:", show(mismatch.windows))
        elif index < len(answers) and answers[index]:
            native, windows = answers[index]
            line += "  ->  " + brief(native) + ("" if windows is not None else "  (native only)")
        print(line)


def report(differential, seed, steps, mismatch, shrink_seconds):
    print("differential: MISMATCH, seed %d, step %d: %s%s" % (seed, mismatch.index + 1, steps[mismatch.index], ""
          if mismatch.after is None else ", its answer after step %d" % (mismatch.after + 1)))
    print_steps(steps, mismatch.answers, mismatch)
    if shrink_seconds <= 0:
        return
    smaller = differential.shrink(steps, mismatch, shrink_seconds)
    mismatch = differential.mismatch_of(smaller)
    if mismatch is None:
        print("differential: the smaller scenario does not mismatch again (a race?)")
        return
    print("differential: minimal scenario of seed %d (%d steps):" % (seed, len(smaller)))
    print_steps(smaller, mismatch.answers, mismatch)


def parse_seeds(text):
    seeds = []
    for part in text.split(","):
        first, _, last = part.partition("-")
        seeds += range(int(first), int(last or first) + 1)
    return seeds


def sandboxes_work():
    try:
        subprocess.run(["unshare", "--pid", "--fork", "true"], check=True, stderr=subprocess.DEVNULL)
        return True
    except (OSError, subprocess.CalledProcessError):
        print("differential: *** unshare --pid --fork is refused here: processes meant to run in a PID "
              "namespace of their own run as ordinary ones, and the PID namespace cases go untested ***")
        return False


def windows_process_died(mismatch):
    return (isinstance(mismatch.windows, bytes) and mismatch.windows.endswith(b"<the process ended>")
            and not mismatch.native.endswith(b"<the process ended>"))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--native", required=True, help="the native build (saori, trilox.so)")
    parser.add_argument("--windows", required=True, help="a Windows build (saori.exe, trilox.dll)")
    parser.add_argument("--wine", required=True, help="the Wine loader of its architecture")
    parser.add_argument("--seeds", default="1-500", help="as 1-30,77")
    parser.add_argument("--steps", type=int, default=40, help="random steps per scenario")
    parser.add_argument("--compare", action="append", default=[], metavar="DIFFERENCE",
                        help="send the steps of this known difference to both sides and compare them")
    parser.add_argument("--shrink-seconds", type=float, default=120, help="time for shrinking the first mismatch")
    parser.add_argument("--require-cases", action="store_true",
                        help="fail unless the seeds end a creator, cleanly and killed, while another holds its "
                        "mutex, and hand a long Wait its mutex at an Unlock and at a thread's end or ExitThread")
    args = parser.parse_args()
    unknown = set(args.compare) - {d.name for d in KNOWN_DIFFERENCES}
    if unknown:
        parser.error("no known difference named %s" % ", ".join(sorted(unknown)))

    seeds_text = os.environ.get("TRILOX_DIFFERENTIAL_SEEDS") or args.seeds
    seeds = parse_seeds(seeds_text)
    differences = [d for d in KNOWN_DIFFERENCES if d.name not in args.compare]
    windows = WindowsSide(args.windows, args.wine)
    differential = Differential(NativeSide(args.native, sandboxes_work()), windows, differences)
    began = time.monotonic()
    failed = []
    creators_left_holders, excluded = Counter(end=0, kill=0), Counter()
    handed_over = Counter({action: 0 for action in ["Unlock", "end thread", "exit thread", "end", "kill"]})
    try:
        for seed in seeds:
            steps = generate(seed, args.steps)
            mismatch = differential.mismatch_of(steps)
            if mismatch and windows_process_died(mismatch):
                # Seen only on a loaded machine: a Wine process gone at its first request. The
                # oracle failed, not trilox; once again, and a second time is a failure.
                print("differential: seed %d: a Windows process ended unexpectedly; running it again" % seed)
                mismatch = differential.mismatch_of(steps)
            creators_left_holders.update(differential.last_world.creators_left_holders)
            excluded.update(differential.last_excluded)
            handed_over.update(differential.last_handed_over)
            if mismatch:
                report(differential, seed, steps, mismatch, 0 if failed else args.shrink_seconds)
                failed.append(seed)
    finally:
        windows.close()

    print("differential: %d seeds (%s), %d steps each, %d runs in %.1f s" %
          (len(seeds), seeds_text, args.steps,
           differential.runs, time.monotonic() - began))
    print("differential: a creator ended while another process held its mutex: %(end)d cleanly, %(kill)d killed"
          % creators_left_holders)
    print("differential: a long Wait was handed its mutex: %s" % ", ".join(
        "%s %d" % (how, count) for how, count in handed_over.items()))
    for difference in KNOWN_DIFFERENCES:
        state = ("%d steps native only" % excluded[difference.name]
                 if difference in differences else "compared (--compare)")
        print("differential: known difference %s: %s. %s" % (difference.name, state, difference.reason))
    if failed:
        print("differential: FAILED: seeds %s mismatch" % ", ".join(map(str, failed)))
        return 1
    if args.require_cases and 0 in list(creators_left_holders.values()) + [
            handed_over["Unlock"], handed_over["end thread"] + handed_over["exit thread"]]:
        print("differential: FAILED: the seeds never end a creator both cleanly and killed while another "
              "process holds its mutex, or never hand a long Wait its mutex at an Unlock or at a thread's "
              "end or ExitThread; choose seeds that do")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
