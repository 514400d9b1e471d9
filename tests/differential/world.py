"""What the answers so far say about the scenario's processes and mutexes.

Both sides agree on every answer up to the step at hand, so one model serves
both: which process made each name's current mutex, and which thread holds it.
"""

import itertools

from scenario import LONG_WAIT, THREAD_ENDS


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
        self.thread = {}     # (slot, thread name) -> id of the thread of that name, made on first use
        self.namespace = {}  # process id -> its PID namespace
        self.maker = {}      # mutex key -> id of the process whose Create made it
        self.holder = {}     # mutex key -> [id of the holding process, of its thread, count of holds]
        self.pending = {}    # (slot, thread) -> (index, mutex key) of its long Wait that has not answered
        self.kept = set()    # keys of mutexes that only a pending Wait's handle keeps
        self.creators_left_holders = {"end": 0, "kill": 0}

    def start(self, slot, sandboxed):
        process = next(self.ids)
        self.process[slot] = process
        self.namespace[process] = process if sandboxed and self.sandboxes else "host"

    def other_namespace_made(self, step):
        """Whether the step's name has a mutex made in another PID namespace than the actor's."""
        maker = self.maker.get(mutex_key(step.name))
        return maker is not None and self.namespace[maker] != self.namespace[self.process[step.slot]]

    def waited(self, step):
        return mutex_key(step.name) in {key for _, key in self.pending.values()}

    def held_back(self, step, frees):
        """Whether the step goes to neither side: a step of a thread whose long Wait is pending would
        wait behind it; of two long Waits for one mutex, which is handed it is not defined; nor what
        a wait does whose handle is closed, as Delete by the holder closes its process's."""
        key = mutex_key(step.name)
        waiting = [slot for (slot, _), (_, waited) in self.pending.items() if waited == key]
        return ((step.slot, step.thread) in self.pending or step.action == LONG_WAIT and waiting or
                step.action == "Delete" and step.slot in waiting and self.holds(step) and key not in frees)

    def thread_of(self, step):
        if (step.slot, step.thread) not in self.thread:
            self.thread[step.slot, step.thread] = next(self.ids)
        return self.thread[step.slot, step.thread]

    def holds(self, step):
        """Whether the step's thread holds the step's mutex."""
        return self.holder.get(mutex_key(step.name), [None, None])[1] == self.thread_of(step)

    def frees(self, step):
        """The mutexes the step lets go of, as far as the answers so far tell their holders."""
        if step.action == "Unlock":
            key = mutex_key(step.name)
            return {key} if self.holds(step) and self.holder[key][2] == 1 else set()
        if step.action in THREAD_ENDS:
            thread = self.thread.get((step.slot, step.thread))
            return {key for key, holder in self.holder.items() if holder[1] == thread}
        if step.action in ("end", "kill"):
            return {key for key, holder in self.holder.items() if holder[0] == self.process[step.slot]}
        return set()

    def ended(self, slot, how):
        process = self.process.pop(slot)
        self.thread = {key: thread for key, thread in self.thread.items() if key[0] != slot}
        self.pending = {waiter: wait for waiter, wait in self.pending.items() if waiter[0] != slot}
        for key in [key for key, maker in self.maker.items() if maker == process]:
            holder = self.holder.get(key)
            if holder and holder[0] != process:
                self.creators_left_holders[how] += 1
            self.forget(key)
        for key in [key for key, holder in self.holder.items() if holder[0] == process]:
            del self.holder[key]
        for key in list(self.kept):
            self.forget(key)

    def forget(self, key):
        """The maker's handle is closed: the mutex goes, unless a pending Wait's handle keeps it."""
        if key in {key for _, key in self.pending.values()}:
            self.kept.add(key)
            return
        self.kept.discard(key)
        self.maker.pop(key, None)
        self.holder.pop(key, None)

    def answered(self, step, answer):
        key, process = mutex_key(step.name), self.process[step.slot]
        took = b"\r\nResult: 1\r\n" in answer
        if step.action in THREAD_ENDS:
            thread = self.thread.pop((step.slot, step.thread), None)
            self.holder = {key: holder for key, holder in self.holder.items() if holder[1] != thread}
        elif step.action == "Create" and took:
            self.maker[key] = process
        elif step.action == "Delete" and took:
            self.forget(key)
        elif (step.action == "Lock" or step.action.startswith("Wait")) and took:
            if not self.holds(step):
                self.holder[key] = [process, self.thread_of(step), 0]
            self.holder[key][2] += 1
        elif step.action == "Unlock" and self.holds(step):
            self.holder[key][2] -= 1
            if not self.holder[key][2]:
                del self.holder[key]
        for key in list(self.kept):
            self.forget(key)
