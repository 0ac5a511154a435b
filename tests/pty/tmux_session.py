#!/usr/bin/env python3
# tests/pty/tmux_session.py: drives `zyl` in a tmux pane of its own (own socket, no user
# configuration, temporary HOME). `Pane` is the pane and its keys and screen; `Session` is the
# console in one, for the line editor's tests.
import os
import shutil
import subprocess
import tempfile
import time


class Pane:
    """A tmux server of its own (own socket, no user configuration) in a temporary folder;
    `start` runs one command in its only pane."""

    timeout = 3.0

    def __init__(self, prefix="zyl-pty-"):
        self.dir = tempfile.mkdtemp(prefix=prefix)
        self.socket = os.path.join(self.dir, "tmux.sock")

    def start(self, command, width=80, height=24, cwd=None):
        args = ["new-session", "-d", "-x", str(width), "-y", str(height)]
        if cwd:
            args += ["-c", cwd]
        self.tmux(*args, command)
        self.tmux("set-option", "-g", "status", "off")

    def tmux(self, *args):
        return subprocess.run(["tmux", "-S", self.socket, "-f", "/dev/null"] + list(args),
                              capture_output=True, text=True, check=False).stdout

    def keys(self, *keys):
        """tmux key names, or literal text after "@", in order."""
        for k in keys:
            if k.startswith("@"):
                self.tmux("send-keys", "-l", k[1:])
            else:
                self.tmux("send-keys", k)

    def type(self, text):
        self.tmux("send-keys", "-l", text)

    def raw(self, data):
        """Exact bytes, as a terminal would send them."""
        self.tmux("send-keys", "-H", *["%02x" % b for b in data])

    def screen(self, escapes=False):
        return self.tmux("capture-pane", "-p", *(["-e"] if escapes else [])).split("\n")

    def wait_for(self, test, timeout=None, escapes=False):
        """Waits until test(screen lines) holds; answers the screen. A screen that never
        satisfies the test is returned after the timeout, for the caller's assertion."""
        end = time.time() + (timeout or self.timeout)
        while True:
            s = self.screen(escapes)
            if test(s) or time.time() > end:
                return s
            time.sleep(0.02)

    def close(self):
        self.tmux("kill-server")
        shutil.rmtree(self.dir, ignore_errors=True)


class Session(Pane):
    def __init__(self, zyl, home=None, cwd=None, width=80, height=24):
        super().__init__()
        self.home = home or os.path.join(self.dir, "home")
        os.makedirs(self.home, exist_ok=True)
        self.cwd = cwd or self.dir
        env = "HOME=%s TERM=screen" % self.home
        # The console starts through an empty script with --catch: no banner, so the first
        # prompt is on the first row; the script goes back to the folder it was started in.
        start = os.path.join(self.dir, "start.zyl")
        with open(start, "w") as f:
            f.write('Zyl [] change-dir %%"%s/"\n' % os.path.abspath(self.cwd))
        self.start("env %s %s --catch %s; echo; echo exited $?; sleep 60" % (env, zyl, start),
                   width, height, self.cwd)
        self.wait_for(lambda s: s[0].startswith(">> "))

    def cursor(self):
        x, y = self.tmux("display", "-p", "#{cursor_x},#{cursor_y}").strip().split(",")
        return int(x), int(y)

    def settle(self, pause=0.15):
        """Waits until the screen and cursor stay the same for [pause] seconds."""
        last = None
        end = time.time() + 3
        while time.time() < end:
            now = (self.screen(), self.cursor())
            if now == last:
                return now
            last = now
            time.sleep(pause)
        return last

    def exited(self):
        """Waits for zyl to end; answers its exit status, or None while it runs."""
        s = self.wait_for(lambda s: any(line.startswith("exited ") for line in s))
        for line in s:
            if line.startswith("exited "):
                return int(line.split()[1])
        return None
