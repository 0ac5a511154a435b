#!/usr/bin/env python3
# tests/pty/terminal_modes.py: the line editor's terminal modes and exact output on a bare
# pseudo-terminal: raw mode while editing, the modes back after a fatal signal or a hang-up,
# cursor keys that write nothing but cursor moves.
#
#   terminal_modes.py ZYL
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import traceback

ZYL = None
MOVES = re.compile(rb"^(\r|\x1b\[\d*[ABCDJ])+$")


class Child:
    def __init__(self):
        self.home = tempfile.mkdtemp(prefix="zyl-modes-")
        self.master, self.slave = pty.openpty()
        termios.tcsetattr(self.slave, termios.TCSANOW, termios.tcgetattr(self.slave))
        self.before = termios.tcgetattr(self.slave)
        env = dict(os.environ, HOME=self.home, TERM="xterm")
        self.proc = subprocess.Popen([ZYL], stdin=self.slave, stdout=self.slave, stderr=self.slave,
                                     env=env, start_new_session=True)
        self.seen = b""
        self.read_until(b">> ")

    def read(self, timeout=0.3):
        """What arrives within [timeout] seconds of silence."""
        got = b""
        while True:
            r, _, _ = select.select([self.master], [], [], timeout)
            if not r:
                return got
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                return got
            if not chunk:
                return got
            got += chunk
            self.seen += chunk

    def read_until(self, marker, timeout=3.0):
        end = time.time() + timeout
        got = b""
        while marker not in got and time.time() < end:
            got += self.read(0.05)
        if marker not in got:
            raise AssertionError("no %r in %r" % (marker, got))
        return got

    def send(self, data):
        os.write(self.master, data)

    def modes(self):
        return termios.tcgetattr(self.slave)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass
        shutil.rmtree(self.home, ignore_errors=True)


def check(cond, what):
    if not cond:
        raise AssertionError(what)


def test_raw_while_editing_and_cursor_keys_only_move():
    c = Child()
    try:
        check(b"\x1b[?2004h" in c.seen, "bracketed paste is switched on")
        iflag, oflag, _, lflag, _, _, cc = c.modes()
        for flag in ("ICANON", "ECHO", "ISIG", "IEXTEN"):
            check(not lflag & getattr(termios, flag), flag + " is off while editing")
        for flag in ("IXON", "ICRNL"):
            check(not iflag & getattr(termios, flag), flag + " is off while editing")
        check(oflag & termios.OPOST, "output processing stays on")
        check(cc[termios.VMIN] in (1, b"\x01"), "a read takes one byte")
        c.send(b"abc")
        check(c.read().endswith(b"c"), "typing echoes")
        for key in (b"\x1b[D", b"\x1b[D", b"\x1b[C", b"\x02", b"\x06", b"\x1b[H", b"\x1b[F"):
            c.send(key)
            out = c.read()
            check(MOVES.match(out), "%r writes only cursor moves: %r" % (key, out))
        c.send(b"\x7f")
        out = c.read()
        check(MOVES.match(out) and out.endswith(b"\x1b[J"), "backspace at the end moves and blanks: %r" % out)
        c.send(b"\r")
        c.read_until(b"ab has no value")
        c.read(0.2)
        check(c.modes()[3] & termios.ICANON == 0, "raw again at the next prompt")
    finally:
        c.close()


def test_escape_drops_the_input():
    c = Child()
    try:
        c.send(b"[1 2")
        c.read()
        c.send(b"\r")
        c.read_until(b"[    ")  # the continuation prompt: the open bracket
        c.send(b"3\x1b")
        c.read_until(b"(escape)")
        c.send(b"4\r")
        c.read_until(b"== 4")
    finally:
        c.close()


def test_fatal_signals_restore_the_modes():
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGSEGV):
        c = Child()
        try:
            c.send(b"1 +")
            c.read()
            check(c.modes() != c.before, "raw mode is on before the signal")
            c.proc.send_signal(sig)
            c.proc.wait(5)
            # A fault ends through the fault reporter (its status); the others by the signal itself.
            want = 1 if sig == signal.SIGSEGV else -sig
            check(c.proc.returncode == want, "%s ends the process: %r" % (sig.name, c.proc.returncode))
            check(c.modes() == c.before, "%s leaves the modes as they were" % sig.name)
            c.read(0.1)
            if sig == signal.SIGSEGV:
                # The terminal comes back first, then the report is printed on it.
                tail = c.seen[c.seen.rfind(b"\x1b[?2004l"):]
                check(b"*** Runtime Error 1: access violation" in tail, "the fault is reported after the restore")
            else:
                check(c.seen.endswith(b"\x1b[?2004l"), "%s switches bracketed paste off" % sig.name)
        finally:
            c.close()


def test_hang_up_ends_like_ctrl_d():
    c = Child()
    try:
        c.send(b"6 * 7\r")
        c.read_until(b"== 42")
        c.read(0.2)
        os.close(c.master)
        c.proc.wait(5)
        check(c.proc.returncode == 0, "a hang-up ends with status 0: %r" % c.proc.returncode)
        with open(os.path.join(c.home, ".zyl/Zyl-Console/console-cfg.zyl")) as f:
            check('"6 * 7"' in f.read(), "the history is saved")
    finally:
        c.close()
    c = Child()
    try:
        c.send(b"\x1b[200~abc")  # a paste that never ends
        c.read()
        os.close(c.master)
        c.proc.wait(5)
        check(c.proc.returncode == 0, "a hang-up in a paste ends too: %r" % c.proc.returncode)
    finally:
        c.close()


def main():
    global ZYL
    ZYL = os.path.abspath(sys.argv[1])
    failed = 0
    for name, fn in list(globals().items()):
        if not name.startswith("test_"):
            continue
        try:
            fn()
            print("ok  ", name)
        except Exception:
            failed += 1
            print("FAIL", name)
            traceback.print_exc()
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
