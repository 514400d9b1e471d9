"""The processes of one side of a run: `saori ... repl` natively or under Wine."""

import os
import select
import shutil
import signal
import subprocess
import tempfile
import time

ANSWER_SECONDS = 10  # no step waits longer than 30 ms by design; this is a hang
# A round trip to the wineserver that changes nothing: no mutex has the name.
SETTLE_REQUEST = b"isLocked\ttrilox differential: settling"


class Host:
    """One `saori MODULE repl` process, fed a line at a time."""

    def __init__(self, command, env):
        self.process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def send(self, line):
        try:
            self.process.stdin.write(line + b"\n")
            self.process.stdin.flush()
        except BrokenPipeError:
            pass  # it died: its answer says so

    def answer(self, terminator):
        """The bytes up to and with `terminator`, or what came with a note of the failure."""
        data = b""
        deadline = time.monotonic() + ANSWER_SECONDS
        fd = self.process.stdout.fileno()
        while not data.endswith(terminator):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                return data + b"<no answer within %d s>" % ANSWER_SECONDS
            chunk = os.read(fd, 65536)
            if not chunk:
                return data + b"<the process ended>"
            data += chunk
        return data

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
            host.send(SETTLE_REQUEST)
            host.answer(b"\r\n\r\n")
