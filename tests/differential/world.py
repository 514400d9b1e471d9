"""What the answers so far say about the scenario's processes and mutexes.

Both sides agree on every answer up to the step at hand, so one model serves
both: which process made each name's current mutex, and which one holds it.
"""

import itertools


def mutex_key(name):
    """Names of one mutex give one key. The prefixes are links that may follow each
    other: Global\\ leads to the machine's namespace, Local\\ stays where it is; the
    rest is its characters in code page 932, so that two codes of one character meet."""
    rest, global_ = name, False
    while rest.startswith((b"Global\\", b"Local\\")):
        global_ = global_ or rest.startswith(b"Global\\")
        rest = rest.split(b"\\", 1)[1]
    return (b"Global\\" if global_ else b"") + rest.decode("cp932", "backslashreplace").encode()


class World:
    def __init__(self, sandboxes):
        self.sandboxes = sandboxes
        self.ids = itertools.count(1)
        self.process = {}    # slot -> id of the process in it
        self.namespace = {}  # process id -> its PID namespace
        self.maker = {}      # mutex key -> id of the process whose Create made it
        self.holder = {}     # mutex key -> [id of the holding process, count of holds]
        self.creators_left_holders = {"end": 0, "kill": 0}

    def start(self, slot, sandboxed):
        process = next(self.ids)
        self.process[slot] = process
        self.namespace[process] = process if sandboxed and self.sandboxes else "host"

    def other_namespace_made(self, step):
        """Whether the step's name has a mutex made in another PID namespace than the actor's."""
        maker = self.maker.get(mutex_key(step.name))
        return maker is not None and self.namespace[maker] != self.namespace[self.process[step.slot]]

    def ended(self, slot, how):
        process = self.process.pop(slot)
        for key in [key for key, maker in self.maker.items() if maker == process]:
            holder = self.holder.get(key)
            if holder and holder[0] != process:
                self.creators_left_holders[how] += 1
            self.forget(key)
        for key in [key for key, (holder, _) in self.holder.items() if holder == process]:
            del self.holder[key]

    def forget(self, key):
        self.maker.pop(key, None)
        self.holder.pop(key, None)

    def answered(self, step, answer):
        key, process = mutex_key(step.name), self.process[step.slot]
        took = b"\r\nResult: 1\r\n" in answer
        if step.action == "Create" and took:
            self.maker[key] = process
        elif step.action == "Delete" and took:
            self.forget(key)
        elif step.action in ("Lock", "Wait 0", "Wait 30") and took:
            self.holder.setdefault(key, [process, 0])[1] += 1
        elif step.action == "Unlock" and self.holder.get(key, [None])[0] == process:
            self.holder[key][1] -= 1
            if not self.holder[key][1]:
                del self.holder[key]
