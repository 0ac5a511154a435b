#!/usr/bin/env python3
# tests/pty/tui_mode.py: the terminal UI's mode on a tmux pane, through zyl-tui-frames: every way
# out gives the terminal back as it was; frames show colours and wide characters; frames painted
# by their changes leave the same pane as whole frames; a resize wakes the wait; redirected
# input and output leave the terminal alone.
# Usage: tui_mode.py ZYL-TUI-FRAMES
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_session import Session  # noqa: E402

FAILS = []


def check(cond, what):
    if not cond:
        FAILS.append(what)
        print("FAIL:", what)


class Pane(Session):
    """A pane running [command] under sh, with the pane's stty -g saved before and after."""

    def exited(self):
        """The status the pane's command ended with (the line may follow a drawing), or None."""
        s = self.wait_for(lambda s: any("exited " in line for line in s), 5)
        for line in s:
            if "exited " in line:
                return int(line.split("exited ")[1].split()[0])
        return None

    def __init__(self, command, width=80, height=24):
        import tempfile
        self.dir = tempfile.mkdtemp(prefix="zyl-tui-")
        self.socket = os.path.join(self.dir, "tmux.sock")
        script = os.path.join(self.dir, "run.sh")
        with open(script, "w") as f:
            f.write("cd %s\nstty -g > before\n%s\necho \"exited $?\"\nstty -g > after\nsleep 60\n"
                    % (self.dir, command))
        self.tmux("new-session", "-d", "-x", str(width), "-y", str(height), "env TERM=screen sh " + script)
        self.tmux("set-option", "-g", "status", "off")

    def file(self, name):
        path = os.path.join(self.dir, name)
        end = time.time() + 5
        while not os.path.exists(path) and time.time() < end:
            time.sleep(0.02)
        time.sleep(0.05)
        with open(path, "rb") as f:
            return f.read()

    def flag(self, name):
        return self.tmux("display", "-p", "#{%s}" % name).strip()

    def colours(self):
        return self.tmux("capture-pane", "-p", "-e")


def exit_paths(prog):
    for path, status in [("normal", 0), ("error", 0), ("quit", 3), ("sigterm", 143), ("segv", 139)]:
        for fullscreen in (False, True):
            name = "%s%s" % (path, " fullscreen" if fullscreen else "")
            p = Pane("%s %s%s" % (prog, path, " --fullscreen" if fullscreen else ""))
            try:
                shown = p.wait_for(lambda s: any("Zyl frame" in line for line in s))
                check(any("Zyl frame" in line for line in shown), name + ": frame shown")
                check(p.flag("alternate_on") == ("1" if fullscreen else "0"), name + ": screen while running")
                check(p.flag("mouse_any_flag") == "1", name + ": mouse reporting on")
                if path == "normal" and not fullscreen:
                    text = p.colours()
                    check("中文" in text, name + ": wide characters shown")
                    check("\x1b[1m" in text and "31m" in text, name + ": bold red shown")
                    check("38;2;10;200;30" in text or "38;5;" in text, name + ": true colour shown")
                p.type("q")
                got = p.exited()
                check(got == status, "%s: status %r, expected %r" % (name, got, status))
                check(p.file("before") == p.file("after"), name + ": stty -g unchanged")
                check(p.flag("alternate_on") == "0", name + ": normal screen back")
                check(p.flag("cursor_flag") == "1", name + ": cursor shown")
                check(p.flag("mouse_any_flag") == "0", name + ": mouse reporting off")
                if path == "error":
                    check(any("caught boom" in line for line in p.screen()), name + ": error passed the guard")
            finally:
                p.close()


def same_pane_both_ways(prog):
    for width, height in [(80, 24), (200, 60)]:
        for fullscreen in (True, False):
            panes = []
            for whole in (False, True):
                p = Pane("%s normal --random 200 --seed 5%s%s" % (
                    prog, " --fullscreen" if fullscreen else "", " --whole" if whole else ""), width, height)
                p.file("painted")
                p.settle(0.3)
                panes.append(p.colours())
                p.type("q")
                p.exited()
                p.close()
            check(panes[0] == panes[1], "%dx%d%s: changed cells leave the same pane as whole frames"
                  % (width, height, " fullscreen" if fullscreen else ""))
            check(len(panes[0]) > width * height // 2, "%dx%d: frames shown" % (width, height))


def resize_wakes(prog):
    p = Pane(prog + " resize")
    try:
        p.wait_for(lambda s: any("ready" in line for line in s))
        p.tmux("resize-window", "-x", "100", "-y", "30")
        s = p.wait_for(lambda s: any("size 100x30" in line for line in s))
        check(any("size 100x30" in line for line in s), "resize: the wait woke with the new size")
        p.type("q")
        check(p.exited() == 0, "resize: normal end")
    finally:
        p.close()


def print_between_frames(prog):
    p = Pane("echo before; %s print" % prog)
    try:
        p.wait_for(lambda s: any("ready" in line for line in s))
        p.type("q")
        s = p.wait_for(lambda s: any("again" in line for line in s))
        rows = [i for i, line in enumerate(s) if "Zyl frame" in line]
        printed = [i for i, line in enumerate(s) if "printed line" in line]
        check(len(rows) == 1 and len(printed) == 1 and printed[0] < rows[0],
              "print: the drawing is erased, the line printed, the frame drawn below it")
        check(not any("ready" in line for line in s), "print: nothing of the old frame is left")
        p.type("q")
        check(p.exited() == 0, "print: normal end")
        check(p.file("before") == p.file("after"), "print: stty -g unchanged")
    finally:
        p.close()


def redirected(prog):
    p = Pane("echo | %s normal > out.txt" % prog)
    try:
        check(p.exited() == 0, "stdin from a pipe: ends at once")
        check(p.file("before") == p.file("after"), "stdin from a pipe: termios untouched")
        check(b"\x1b[6n" not in p.file("out.txt"), "stdin from a pipe: no cursor query")
    finally:
        p.close()
    p = Pane("%s normal > out.txt" % prog)
    try:
        time.sleep(0.3)
        p.type("q")
        check(p.exited() == 0, "stdout to a file: normal end")
        check(b"\x1b[6n" not in p.file("out.txt"), "stdout to a file: no cursor query")
        check(p.file("before") == p.file("after"), "stdout to a file: stty -g unchanged")
    finally:
        p.close()


def main():
    prog = os.path.abspath(sys.argv[1])
    exit_paths(prog)
    same_pane_both_ways(prog)
    resize_wakes(prog)
    print_between_frames(prog)
    redirected(prog)
    if FAILS:
        print("%d failed" % len(FAILS))
        sys.exit(1)
    print("all passed")


if __name__ == "__main__":
    main()
