"""The processes of one side of a run: `saori ... repl` natively or under Wine."""

import os
import select
import shutil
import signal
import subprocess
import tempfile
import time

ANSWER_SECONDS = 10  # no step waits longer than 30 ms by design; this is a hang
END_OF_RESPONSE = b"\r\n\r\n"
# A round trip to the wineserver that changes nothing: no mutex has the name.
SETTLE_REQUEST = b"isLocked\ttrilox differential: settling"


class Host:
    """One `saori MODULE repl` process, fed lines; its answers sorted by the thread that gave them."""

    def __init__(self, command, env):
        self.process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.output, self.answers, self.ended = b"", {}, False

    def send(self, line):
        try:
            self.process.stdin.write(line + b"\n")
            self.process.stdin.flush()
        except BrokenPipeError:
            pass  # it died: its answer says so

    def answer(self, thread=b""):
        """The thread's next answer, or what came with a note of the failure."""
        answer = self.poll(thread, ANSWER_SECONDS)
        if answer is None:
            answer = self.output + (b"<the process ended>" if self.ended else
                                    b"<no answer within %d s>" % ANSWER_SECONDS)
        return answer

    def poll(self, thread, seconds):
        """The thread's next answer (a response, or a repl line of the main thread), None if none
        comes within `seconds`."""
        deadline = time.monotonic() + seconds
        fd = self.process.stdout.fileno()
        while not self.answers.get(thread):
            left = deadline - time.monotonic()
            if self.ended or not select.select([fd], [], [], max(left, 0))[0]:
                return None
            chunk = os.read(fd, 65536)
            self.ended = not chunk
            self.output += chunk
            while self.output and self.sort_out():
                pass
        return self.answers[thread].pop(0)

    def sort_out(self):
        """Moves the first whole answer of the output to its thread's; False when there is none."""
        thread, body = b"", self.output
        if body.startswith(b"@"):
            heading, newline, body = body.partition(b"\n")
            if not newline:
                return False
            thread = heading[1:]
        end_mark = b"\n" if body.startswith(b".") else END_OF_RESPONSE
        end = body.find(end_mark)
        if end < 0:
            return False
        self.answers.setdefault(thread, []).append(body[:end + len(end_mark)])
        self.output = body[end + len(end_mark):]
        return True

    def ready(self, thread=b""):
        """Returns once the process and its thread run, after a round trip that changes nothing."""
        self.send(b"@%s\t%s" % (thread, SETTLE_REQUEST) if thread else SETTLE_REQUEST)
        self.answer(thread)

    def end(self):
        """Ends the process as a host ends, its input closed; b"" or what went wrong."""
        self.process.stdin.close()
        try:
            self.process.wait(ANSWER_SECONDS)
        except subprocess.TimeoutExpired:
            self.kill()
            return b"<did not end within %d s of the end of its input>" % ANSWER_SECONDS
        self.process.stdout.close()
        return b""

    def kill(self):
        self.kill_pid(self.process.pid)
        return b""

    def kill_pid(self, pid):
        os.kill(pid, signal.SIGKILL)
        self.process.wait()
        for pipe in (self.process.stdin, self.process.stdout):
            try:
                pipe.close()
            except BrokenPipeError:
                pass  # unsent input of a process that died


class SandboxedHost(Host):
    """A host in a PID namespace of its own (`unshare --pid --fork`), as in a container."""

    def kill(self):
        # The host is unshare's child; unshare ends once it has died.
        with open("/proc/%d/task/%d/children" % ((self.process.pid,) * 2)) as children:
            child = children.read().split()
        self.kill_pid(int(child[0]) if child else self.process.pid)
        return b""


class NativeSide:
    """trilox.so in the native saori; a private mutex namespace for each scenario."""

    def __init__(self, build_dir, sandboxes):
        self.command = [os.path.join(build_dir, "saori"), os.path.join(build_dir, "trilox.so"), "repl"]
        self.sandboxes = sandboxes
        self.namespace_dir = None

    def begin_scenario(self):
        self.namespace_dir = tempfile.mkdtemp(prefix="trilox-differential-")

    def end_scenario(self):
        shutil.rmtree(self.namespace_dir, ignore_errors=True)

    def start(self, sandboxed):
        env = dict(os.environ, TRILOX_NAMESPACE_DIR=self.namespace_dir)
        if sandboxed and self.sandboxes:
            return SandboxedHost(["unshare", "--pid", "--fork", "--kill-child"] + self.command, env)
        return Host(self.command, env)

    def settle(self, hosts):
        pass  # the kernel drops a process's flocks as it dies


class WindowsSide:
    """A Windows build's trilox.dll in saori.exe under Wine, on the environment's Wine prefix.

    One wineserver serves the whole run; names die with their last handle, so
    scenarios that end all their processes leave nothing behind.
    """

    def __init__(self, build_dir, wine):
        self.wineserver = os.path.join(os.path.dirname(wine), "wineserver")
        self.command = [wine, os.path.join(build_dir, "saori.exe"), os.path.join(build_dir, "trilox.dll"), "repl"]
        subprocess.run([self.wineserver, "-p"])  # exits at once if one is running
        # The session's first process starts its services, under QEMU for seconds: not in a step.
        subprocess.run(self.command[:3] + ["version"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        subprocess.run([self.wineserver, "-k"])

    def begin_scenario(self):
        pass

    def end_scenario(self):
        pass

    def start(self, sandboxed):
        return Host(self.command, os.environ)

    def settle(self, hosts):
        """Returns once the wineserver has taken the end of a process that has been reaped.

        It finds an ended client among the events of one wait and may answer a
        request of the same wait first; a request sent after that answer waits
        for the next, so the second of two round trips comes after the end.
        A new process makes many round trips before its first step.
        """
        host = next(iter(hosts), None)
        for _ in range(2 if host else 0):
            host.ready()
