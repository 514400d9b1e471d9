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

COMMANDS = ["Create", "Delete", "Lock", "Unlock", "isLocked", "Wait 0", "Wait 30"]
# How often each action is drawn for a live process.
WEIGHTS = {"Create": 20, "Delete": 8, "Lock": 14, "Unlock": 12, "isLocked": 7, "Wait 0": 5, "Wait 30": 5,
           "unload": 3, "load": 3, "end": 3, "kill": 3}


@dataclass(frozen=True)
class Step:
    slot: int           # which of the scenario's processes acts
    action: str         # a command, or start, end, kill, unload, load
    name: bytes = b""   # the commands' Argument1
    sandboxed: bool = False  # for start: in a PID namespace of its own

    def is_command(self):
        return self.action in COMMANDS

    def line(self):
        """What the repl reads for this step."""
        if not self.is_command():
            return b"." + self.action.encode()
        words = self.action.split(" ")
        return b"\t".join([words[0].encode(), self.name] + [w.encode() for w in words[1:]])

    def __str__(self):
        text = "P%d %s" % (self.slot + 1, self.action)
        if self.action == "start" and self.sandboxed:
            text += " (own PID namespace)"
        if self.is_command():
            text += " " + show_name(self.name)
        return text


def show_name(name):
    if len(name) > 20 and name == name[:1] * len(name):
        return "%s*%d" % (name[:1].decode(), len(name))
    shown = name.decode("shift_jis", "backslashreplace") if name else '""'
    return "%s (%s)" % (shown, name.hex(" ")) if not name.isascii() else shown


def generate(seed, length=40):
    """The scenario of `seed`: 2 or 3 processes, then `length` random steps."""
    rng = random.Random(seed)
    slots = rng.choice([2, 3])
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
        else:
            action = rng.choices(list(WEIGHTS), list(WEIGHTS.values()))[0]
            name = rng.choice(NAMES) if rng.random() < 0.85 else rng.choice(EDGE_NAMES)
            steps.append(Step(slot, action, name if action in COMMANDS else b""))
            if action in ("end", "kill"):
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


def is_valid(steps):
    """Whether every step acts on a live process and every start on an ended one."""
    live = set()
    for step in steps:
        if (step.action == "start") == (step.slot in live):
            return False
        if step.action == "start":
            live.add(step.slot)
        elif step.action in ("end", "kill"):
            live.discard(step.slot)
    return True
