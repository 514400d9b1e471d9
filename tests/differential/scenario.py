"""Random scenarios: a few host processes taking turns on a small pool of names."""

import random
from dataclasses import dataclass

# Names that meet: one name in its plain, Local\ and Global\ forms and with
# both prefixes, a case variant, Shift_JIS names whose second byte is 0x5C (表, ソ),
# a character of two codes (纊, ED 40 and FA 5C).
NAMES = [b"mx", b"Local\\mx", b"Global\\mx", b"Local\\Global\\mx", b"MX", b"\x95\x5c",
         b"Global\\\x83\x5c\x83\x5c", b"\xed\x40", b"\xfa\x5c"]
# Names at the edges: empty, 259 and 261 characters (the limit is 260), a
# backslash inside, the name of a prefix's link.
EDGE_NAMES = [b"", b"a" * 259, b"a" * 261, b"mx\\in", b"Global"]

# A Wait long enough to be pending until its mutex is handed to it, if ever, in a scenario.
LONG_WAIT = "Wait 60000"
COMMANDS = ["Create", "Delete", "Lock", "Unlock", "isLocked", "Wait 0", "Wait 30", LONG_WAIT]
THREAD_ENDS = ["end thread", "exit thread"]  # the repl's .end @NAME and .exit @NAME
PROCESS_ACTIONS = ["unload", "load", "end", "kill"]
# How often each action is drawn for a live process.
WEIGHTS = {"Create": 20, "Delete": 8, "Lock": 14, "Unlock": 12, "isLocked": 7, "Wait 0": 5, "Wait 30": 5,
           LONG_WAIT: 2, "end thread": 2, "exit thread": 2, "unload": 3, "load": 3, "end": 3, "kill": 3}
# A process's threads: the repl's own and up to two named ones, made on first use.
THREADS = [b"", b"a", b"b"]


@dataclass(frozen=True)
class Step:
    slot: int           # which of the scenario's processes acts
    action: str         # a command, or start, end, kill, unload, load, end thread, exit thread
    name: bytes = b""   # the commands' Argument1
    sandboxed: bool = False  # for start: in a PID namespace of its own
    thread: bytes = b""  # the named thread that acts, or ends; b"" for the repl's own
    together: bool = False  # sent in the write of the step before, if a thread waits for the mutex

    def is_command(self):
        return self.action in COMMANDS

    def line(self):
        """What the repl reads for this step."""
        if self.action in THREAD_ENDS:
            return b".%s @%s" % (self.action.split(" ")[0].encode(), self.thread)
        if not self.is_command():
            return b"." + self.action.encode()
        words = self.action.split(" ")
        return (b"@%s\t" % self.thread if self.thread else b"") + b"\t".join(
            [words[0].encode(), self.name] + [w.encode() for w in words[1:]])

    def __str__(self):
        text = "P%d%s %s" % (self.slot + 1, "@" + self.thread.decode() if self.thread else "", self.action)
        if self.action == "start" and self.sandboxed:
            text += " (own PID namespace)"
        if self.is_command():
            text += " " + show_name(self.name)
        return text + ("   (in the write of the step before)" if self.together else "")


def show_name(name):
    if len(name) > 20 and name == name[:1] * len(name):
        return "%s*%d" % (name[:1].decode(), len(name))
    shown = name.decode("shift_jis", "backslashreplace") if name else '""'
    return "%s (%s)" % (shown, name.hex(" ")) if not name.isascii() else shown


def generate(seed, length=40):
    """The scenario of `seed`: 2 or 3 processes of 1 to 3 threads, then `length` random steps."""
    rng = random.Random(seed)
    slots = rng.choice([2, 3])
    threads = [THREADS[:rng.randint(1, 3)] for _ in range(slots)]
    steps = [Step(slot, "start", sandboxed=rng.random() < 0.15) for slot in range(slots)]
    live = set(range(slots))
    while len(steps) < slots + length:
        slot = rng.randrange(slots)
        if slot not in live:
            steps.append(Step(slot, "start", sandboxed=rng.random() < 0.15))
            live.add(slot)
        elif len(live) >= 2 and rng.random() < 0.08:
            live.discard(slot)
            steps += creator_leaves_a_holder(rng, slot, sorted(live))
        elif rng.random() < 0.09:
            steps += hand_over(rng, slot, threads, live)
        else:
            action = rng.choices(list(WEIGHTS), list(WEIGHTS.values()))[0]
            name = rng.choice(NAMES) if rng.random() < 0.85 else rng.choice(EDGE_NAMES)
            # Only named threads wait long or end; the repl's own acts for the whole process.
            on = (threads[slot][1:] if action in [LONG_WAIT] + THREAD_ENDS else
                  [b""] if action in PROCESS_ACTIONS else threads[slot])
            if on:
                steps.append(Step(slot, action, name if action in COMMANDS else b"", thread=rng.choice(on)))
            if on and action in ("end", "kill"):
                live.discard(slot)
    return steps


def creator_leaves_a_holder(rng, creator, others):
    """The creator of a name ends, cleanly or killed, while another process holds it."""
    name = rng.choice(NAMES)
    take = rng.choice(["Lock", "Wait 0", "Wait 30"])
    holder, after = rng.choice(others), rng.choice(others)
    return [Step(creator, "Create", name), Step(holder, take, name),
            Step(creator, rng.choice(["end", "kill"])),
            Step(after, rng.choice(["Create", "Lock", "Unlock", "isLocked"]), name)]


def hand_over(rng, slot, threads, live):
    """A named thread waits long for a mutex that a thread of `slot` holds, which lets go of it:
    Unlock, the end or ExitThread of its thread, the end or kill of its process. A step follows in
    the write of the release (after a process's end, next), whose answer is the same whether it
    runs before the release or after, since the waiter is handed the mutex inside the release."""
    name, holder = rng.choice(NAMES), rng.choice(threads[slot][1:] or threads[slot])
    waiters = [(other, thread) for other in sorted(live) for thread in threads[other][1:]
               if (other, thread) != (slot, holder)]
    if not waiters:
        return []
    waiter = rng.choice(waiters)
    # Unlock most: a request right after it is the quickest to come before the waiter.
    release = rng.choice(["Unlock"] * 4 + (THREAD_ENDS if holder else []) +
                         (["end", "kill"] if waiter[0] != slot else []))
    steps = [Step(slot, "Create", name), Step(slot, "Lock", name, thread=holder),
             Step(waiter[0], LONG_WAIT, name, thread=waiter[1])]
    if release in ("end", "kill"):
        live.discard(slot)
        steps.append(Step(slot, release))
        slot, holder = waiter[0], None
    else:
        steps.append(Step(slot, release, name if release == "Unlock" else b"", thread=holder))
    others = [thread for thread in threads[slot] if (slot, thread) != waiter]
    actor = rng.choice(others + [holder] * (release == "Unlock"))
    # A Wait that another thread's Unlock may find waiting makes two waiters: which one the
    # mutex goes to is not defined.
    blocking = ["Wait 30"] if release != "Unlock" or actor == holder else []
    follow = rng.choice(["Lock", "isLocked", "Delete", "Wait 0"] + blocking)
    return steps + [Step(slot, follow, name, thread=actor, together=holder is not None)]


def is_valid(steps):
    """Whether every step acts on a live process and every start on an ended one."""
    live = set()
    for before, step in zip([None] + steps, steps):
        if (step.action == "start") == (step.slot in live):
            return False
        if step.together and not (before and before.slot == step.slot and before.action in ["Unlock"] + THREAD_ENDS):
            return False
        if step.action == "start":
            live.add(step.slot)
        elif step.action in ("end", "kill"):
            live.discard(step.slot)
    return True
