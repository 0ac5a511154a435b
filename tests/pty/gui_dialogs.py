#!/usr/bin/env python3
# tests/pty/gui_dialogs.py: user interfaces run from scripts in a real terminal (tmux, 80x24):
# a field and a button, `alert` closed by its keys, a requester given up with Escape. After
# every run the terminal is as it was: the same `stty -g`, the cursor shown, the main screen.
#
#   gui_dialogs.py ZYL [name-substring]
import os
import shutil
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_session import Pane  # noqa: E402

ZYL = None
TESTS = []


def test(fn):
    TESTS.append(fn)
    return fn


def check(cond, what):
    if not cond:
        raise AssertionError(what)


class Shell(Pane):
    """A shell in a tmux pane of its own (own socket, no user configuration, temporary HOME),
    with the terminal a user of a colour terminal has: TERM=xterm-256color, no COLORTERM, a
    UTF-8 locale."""

    timeout = 5.0

    def __init__(self, width=80, height=24):
        super().__init__("zyl-gui-")
        home = os.path.join(self.dir, "home")
        os.makedirs(home)
        env = "env -u COLORTERM HOME=%s TERM=xterm-256color LANG=C.UTF-8 LC_ALL=C.UTF-8 PS1='$ '" % home
        self.start("%s sh" % env, width, height, self.dir)
        self.wait_for(lambda s: any(line.startswith("$") for line in s))

    def text(self):
        return "\n".join(self.screen())

    def flags(self):
        """(alternate screen on, cursor shown) of the pane."""
        a, c = self.tmux("display", "-p", "#{alternate_on},#{cursor_flag}").strip().split(",")
        return a == "1", c == "1"

    def wait_text(self, text, timeout=5.0):
        s = self.wait_for(lambda lines: any(text in line for line in lines), timeout)
        check(any(text in line for line in s), "%r never appeared:\n%s" % (text, "\n".join(s)))


def run_script(sh, name, source):
    """Starts `zyl` on a script of [source] in the pane, between two `stty -g` records."""
    path = os.path.join(sh.dir, name + ".zyl")
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zyl []\n" + source + "\n")
    sh.keys("@clear; stty -g > before.txt; %s %s; echo exited $?; stty -g > after.txt" % (ZYL, path),
            "Enter")


def finished(sh):
    """Waits for the script's end; answers its exit status after checking the terminal."""
    s = sh.wait_for(lambda lines: any(line.startswith("exited ") for line in lines))
    status = [line for line in s if line.startswith("exited ")]
    check(status, "the script never ended:\n%s" % "\n".join(s))
    sh.wait_for(lambda lines: lines[-1].startswith("$") or any(l.startswith("$") for l in lines[1:]))
    time.sleep(0.05)
    with open(os.path.join(sh.dir, "before.txt")) as f:
        before = f.read()
    with open(os.path.join(sh.dir, "after.txt")) as f:
        after = f.read()
    check(before == after, "stty -g differs: %r, %r" % (before, after))
    alternate, cursor = sh.flags()
    check(not alternate, "the alternate screen is still on")
    check(cursor, "the cursor is hidden")
    return int(status[-1].split()[1])


@test
def field_then_button():
    sh = Shell()
    try:
        run_script(sh, "go", 'view [f: field 20 focus button "Go" [unview]] print ["got" f/text]')
        sh.wait_text("Go")
        sh.keys("@hello")
        sh.wait_text("hello")
        sh.keys("Tab", "Enter")
        sh.wait_text("got hello")
        check(finished(sh) == 0, "status not 0")
    finally:
        sh.close()


@test
def alert_closes_on_its_keys():
    for key in ["Enter", "Escape", "Space"]:
        sh = Shell()
        try:
            run_script(sh, "alert", 'alert "Disk full" print "closed"')
            sh.wait_text("Disk full")
            sh.wait_text("OK")
            sh.keys(key)
            sh.wait_text("closed")
            check(finished(sh) == 0, "status not 0 after " + key)
        finally:
            sh.close()


@test
def alert_forms_a_block():
    sh = Shell()
    try:
        run_script(sh, "sum", 'alert ["Sum:" 1 + 2] print "closed"')
        sh.wait_text("Sum: 3")
        sh.keys("Enter")
        sh.wait_text("closed")
        check(finished(sh) == 0, "status not 0")
    finally:
        sh.close()


@test
def escape_gives_up_a_file_requester():
    sh = Shell()
    try:
        run_script(sh, "req", 'print ["chose" mold request-file]')
        sh.wait_text("Please choose a file:")
        sh.wait_text("Folders")
        sh.keys("Escape")
        sh.wait_text("chose none")
        check(finished(sh) == 0, "status not 0")
    finally:
        sh.close()


@test
def ctrl_c_in_a_view_halts_the_script():
    # The halt passes through `view` as a halt: "(halted)" and the rest of the script skipped.
    sh = Shell()
    try:
        run_script(sh, "halt", 'view [text "waiting" button "Go" [unview]] print "after"')
        sh.wait_text("waiting")
        sh.keys("C-c")
        sh.wait_text("(halted)")
        check(finished(sh) == 0, "status not 0")
        check("after" not in sh.text(), "the script went on after the halt")
    finally:
        sh.close()


def main():
    global ZYL
    ZYL = os.path.abspath(sys.argv[1])
    only = sys.argv[2] if len(sys.argv) > 2 else ""
    if not shutil.which("tmux"):
        print("tmux is not installed")
        return 1
    passed = failed = 0
    for t in TESTS:
        if only not in t.__name__:
            continue
        try:
            t()
            passed += 1
        except Exception:
            failed += 1
            print("FAIL", t.__name__)
            traceback.print_exc()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
