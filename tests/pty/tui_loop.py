#!/usr/bin/env python3
# tests/pty/tui_loop.py: the terminal UI's event loop in a real terminal (tmux), at 80x24 and
# 200x60: typing, focus moving by Tab, a button run by Enter and by an SGR click, a timer label
# counting, an actor's error printed with typing going on, a nested loop closed by its window,
# and Escape and Control-C ending the loop with the terminal's modes and normal screen back.
# The window and its `awake` are tests/pty/tui_loop.zyl's.
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_session import Pane  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "tui_loop.zyl")
failures = []
passed = 0


def check(cond, what, screen=None):
    global passed
    if cond:
        passed += 1
        return
    failures.append(what)
    print("FAIL:", what)
    if screen is not None:
        print("\n".join(screen if isinstance(screen, list) else [screen]))


class Loop(Pane):
    def __init__(self, zyl, width, height):
        super().__init__("zyl-tui-")
        self.before = os.path.join(self.dir, "before")
        self.after = os.path.join(self.dir, "after")
        home = os.path.join(self.dir, "home")
        os.makedirs(home)
        cmd = "stty -g > %s; env HOME=%s TERM=screen %s --catch %s; stty -g > %s; echo exited; sleep 60" % (
            self.before, home, zyl, SCRIPT, self.after)
        self.start(cmd, width, height)

    def has(self, text, timeout=3.0):
        return self.wait_for(lambda s: any(text in line for line in s), timeout)

    def alternate(self):
        return self.tmux("display", "-p", "#{alternate_on}").strip()


def find(screen, text):
    for row, line in enumerate(screen):
        col = line.find(text)
        if col >= 0:
            return col, row
    return None


def ticks(screen):
    for line in screen:
        m = re.search(r"\bt(\d+)\b", line)
        if m:
            return int(m.group(1))
    return -1


def session(zyl, width, height):
    size = "%dx%d" % (width, height)
    p = Loop(zyl, width, height)
    try:
        s = p.has("ready")
        check(any("ready" in l for l in s), size + ": the window is drawn", s)
        # Typing reaches the focused field.
        p.keys("@ab")
        s = p.has("typed ab")
        check(any("typed ab" in l for l in s), size + ": typed keys arrive", s)
        # Tab moves the focus to the button: its reverse mark.
        p.keys("Tab")
        s = p.wait_for(lambda s: any("\x1b[7m[OK]" in l for l in s), escapes=True)
        check(any("\x1b[7m[OK]" in l for l in s), size + ": Tab moves the focus", s)
        p.keys("Enter")
        s = p.has("button by enter")
        check(any("button by enter" in l for l in s), size + ": Enter runs the button", s)
        # An SGR click on the button.
        at = find(p.screen(), "[OK]")
        p.keys("@e")  # an actor's error, printed: the window is drawn again below it
        s = p.has("division by zero")
        check(any("division by zero" in l for l in s), size + ": the actor's error is printed", s)
        p.has("raising")
        at = find(p.screen(), "[OK]")
        if at:
            col, row = at
            p.raw(b"\x1b[<0;%d;%dM\x1b[<0;%d;%dm" % (col + 2, row + 1, col + 2, row + 1))
        s = p.has("button by click")
        check(at and any("button by click" in l for l in s), size + ": a click runs the button", s)
        # Typing goes on after the error.
        p.keys("Tab", "@z")
        s = p.has("typed abz")
        check(any("typed abz" in l for l in s), size + ": typing goes on after an error", s)
        # The timer label counts at its rate (10 a second).
        t0 = ticks(p.screen())
        time.sleep(1.0)
        t1 = ticks(p.screen())
        check(6 <= t1 - t0 <= 14, size + ": the timer counts at its rate (%d -> %d)" % (t0, t1))
        # A nested loop: its window closed, the outer one runs on.
        p.keys("@n")
        s = p.has("INNER")
        check(any("INNER" in l for l in s), size + ": the nested window is drawn", s)
        p.keys("@c")
        s = p.has("back from inner")
        check(any("back from inner" in l for l in s), size + ": closing the inner window leaves the outer running", s)
        p.keys("@q")
        s = p.has("typed abzq")
        check(any("typed abzq" in l for l in s), size + ": the outer window takes keys again", s)
        # Escape ends the loop; the script goes on; the console's prompt comes back.
        p.keys("Escape")
        s = p.has("after: none true")
        check(any("result:" in l for l in s) and any("after: none true" in l for l in s),
              size + ": Escape ends the loop and the faces are realised no more", s)
        p.has(">> ")
        p.keys("@quit", "Enter")
        s = p.has("exited")
        check(open(p.before).read() == open(p.after).read(), size + ": the terminal's modes are back")
        check(p.alternate() == "0", size + ": the normal screen is back")
    finally:
        p.close()


def halt(zyl):
    p = Loop(zyl, 80, 24)
    try:
        p.has("ready")
        p.keys("C-c")
        s = p.has("(halted)")
        check(any("(halted)" in l for l in s), "Control-C halts the loop", s)
        check(not any("after:" in l for l in s), "the script stops at the halt", s)
        p.has(">> ")
        p.keys("@quit", "Enter")
        p.has("exited")
        check(open(p.before).read() == open(p.after).read(), "the modes are back after a halt")
    finally:
        p.close()


def main():
    zyl = sys.argv[1]
    if not shutil.which("tmux"):
        print("0 passed, 0 failed, 1 skipped: tmux: not found")
        return 0
    session(zyl, 80, 24)
    session(zyl, 200, 60)
    halt(zyl)
    print("%d passed, %d failed" % (passed, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
