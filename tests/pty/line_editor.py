#!/usr/bin/env python3
# tests/pty/line_editor.py: the console's line editor on a real terminal (tmux): editing keys,
# history, completion, pastes, display widths and redraw.
#
#   line_editor.py ZYL [name-substring]
import os
import shutil
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_session import Session  # noqa: E402

ZYL = None
TESTS = []


def test(fn):
    TESTS.append(fn)
    return fn


def check(cond, what):
    if not cond:
        raise AssertionError(what)


def result_after(s, keys):
    """Sends [keys] (tmux key names, "@text" literal) then Enter; answers the `==` line."""
    s.keys(*keys)
    s.keys("Enter")
    screen = s.wait_for(lambda sc: any(l.startswith("== ") or l.startswith("***") for l in sc))
    found = [l for l in screen if l.startswith("== ") or l.startswith("***")]
    return found[-1].rstrip() if found else "\n".join(screen)


# (name, keys, the value printed)
EDITING = [
    ("typing echoes", ['@"abc"'], '== "abc"'),
    ("left and right move through the line", ['@"ac"', "Left", "Left", "Left", "Right", "@b"], '== "abc"'),
    ("home and end", ['@bc"', "Home", '@"a', "End", "@ 1"], "== 1"),
    ("ctrl+a, ctrl+e, ctrl+b and ctrl+f", ['@bd"', "C-a", '@"a', "C-f", "@c", "C-e", "C-b", "C-b", "C-e"],
     '== "abcd"'),
    ("backspace at the end and mid-line", ['@"axbcy', "BSpace", '@"', "Left", "Left", "Left", "BSpace"],
     '== "abc"'),
    ("delete removes the character at the cursor", ['@"axbc"', "Home", "Right", "Right", "DC"], '== "abc"'),
    ("ctrl+k removes the rest of the line", ['@"abc" 1 + 2', "Left", "Left", "Left", "Left", "Left", "Left",
                                              "C-k"], '== "abc"'),
    ("ctrl+d mid-line deletes forward", ['@"axbc"', "Home", "Right", "Right", "C-d"], '== "abc"'),
    ("ctrl+u, ctrl+w, insert and the page keys do nothing",
     ['@"ab', "C-u", "C-w", "IC", "PPage", "NPage", "C-l", "C-r", '@c"'], '== "abc"'),
    ("tab with nothing to complete inserts a tab", ['@length? "a', "Tab", '@b"'], "== 3"),
    ("a control key that means nothing is dropped", ['@"a', "C-g", "C-t", '@b"'], '== "ab"'),
]


@test
def editing_keys():
    for name, keys, expected in EDITING:
        s = Session(ZYL)
        try:
            got = result_after(s, keys)
            check(got == expected, "%s: %r, expected %r" % (name, got, expected))
        finally:
            s.close()


@test
def left_and_tab_display():
    s = Session(ZYL)
    try:
        s.type("abc")
        s.keys("Left", "Left")
        _, cur = s.settle()
        check(cur == (4, 0), "cursor after two Lefts: %r" % (cur,))
        s.keys("End", "Tab")  # "abc" completes nothing: a tab, shown as four spaces
        screen, cur = s.settle()
        check(screen[0] == ">> abc    " or screen[0].rstrip() == ">> abc", "tab: %r" % screen[0])
        check(cur == (10, 0), "cursor after the tab: %r" % (cur,))
    finally:
        s.close()


@test
def ending_keys_quit():
    # Ctrl+D on an empty line quits and saves the history; Ctrl+C quits, dropping its line.
    s = Session(ZYL)
    try:
        s.type("1 + 1")
        s.keys("Enter")
        s.type("2 + 2")
        s.keys("C-c")
        check(s.exited() == 0, "ctrl+c ends the process with status 0")
        home = s.home
        with open(os.path.join(home, ".zyl/Zyl-Console/console-cfg.zyl")) as f:
            saved = f.read()
        check('"1 + 1"' in saved and "2 + 2" not in saved, "history after ctrl+c: %r" % saved)
    finally:
        s.close()
    s = Session(ZYL)
    try:
        s.type('"x"')
        s.keys("Left", "C-d", "C-d", "C-d", "BSpace", "BSpace")  # deletes, then nothing at the end
        s.keys("C-d")
        check(s.exited() == 0, "ctrl+d on an empty line ends the process with status 0")
    finally:
        s.close()


def prompt_line(s):
    screen, _ = s.settle(0.08)
    lines = [l for l in screen if l.startswith(">>")]  # an empty line shows as ">>"
    return lines[-1].rstrip() if lines else None


@test
def history_walk():
    s = Session(ZYL)
    try:
        for line in ["1", "2", "3"]:
            s.type(line)
            s.keys("Enter")
        steps = [("Up", ">> 3"), ("Up", ">> 2"), ("Down", ">> 2"), ("Down", ">> 3"), ("Down", ">>"),
                 ("Up", ">> 3"), ("Up", ">> 2"), ("Up", ">> 1"), ("Up", ">>"), ("Down", ">> 1"),
                 ("C-p", ">> 1"), ("C-n", ">> 1"), ("C-n", ">> 2")]
        for key, shown in steps:
            s.keys(key)
            got = prompt_line(s)
            check(got == shown, "after %s: %r, expected %r" % (key, got, shown))
    finally:
        s.close()


@test
def history_keeps_lines_once_and_across_runs():
    s = Session(ZYL)
    home = s.home
    try:
        for line in ['"a"', '"a"', '"A"', "", '"b"']:
            s.type(line)
            s.keys("Enter")
        # A hidden edit (as ask/hide makes it) echoes stars and keeps nothing.
        s.type('h: copy [] s: copy "" _set-buffer-history s h _read-input "pw: " true reduce [s h]')
        s.keys("Enter")
        s.wait_for(lambda sc: any(l.startswith("pw: ") for l in sc))
        s.type("secret")
        screen, _ = s.settle()
        check(any(l.rstrip() == "pw: ******" for l in screen), "hidden echo: %r" % screen)
        s.keys("Enter")
        screen = s.wait_for(lambda sc: any('== ["secret" []]' in l for l in sc))
        check(any('== ["secret" []]' in l for l in screen), "hidden line: %r" % screen)
        s.type('ask/hide "pw: "')
        s.keys("Enter")
        s.wait_for(lambda sc: any(l.startswith("pw: ") for l in sc[-3:]))
        s.type("hush")
        s.keys("Enter")
        s.wait_for(lambda sc: any('== "hush"' in l for l in sc))
        # ask/history walks and extends the block given, not the console's history
        s.type('h: copy ["old"] reduce [ask/history "? " h h]')
        s.keys("Enter")
        s.wait_for(lambda sc: any(l.startswith("? ") for l in sc))
        s.keys("Up")
        s.type("2")
        s.keys("Enter")
        screen = s.wait_for(lambda sc: any('== ["old2" ["old2" "old"]]' in l for l in sc))
        check(any('== ["old2" ["old2" "old"]]' in l for l in screen), "own history block: %r" % screen)
        s.keys("C-d")
        s.exited()
    finally:
        s.tmux("kill-server")
    with open(os.path.join(home, ".zyl/Zyl-Console/console-cfg.zyl")) as f:
        saved = f.read()
    history = saved[saved.index("history:"):]
    check(history.count('"a"') == 1 and history.count('"A"') == 1 and "secret" not in history
          and "hush" not in history and "old2" not in history, "saved history: %r" % history)
    s2 = Session(ZYL, home=home)
    try:
        s2.keys("Up")
        check(prompt_line(s2).startswith('>> h: copy ["old"]'), "newest of the last run first")
        s2.keys("Up")
        check(prompt_line(s2) == '>> ask/hide "pw: "', "then the one before")
    finally:
        s2.close()


@test
def history_saved_at_quit_holds_100_lines():
    home = tempfile.mkdtemp(prefix="zyl-history-")
    cfg = os.path.join(home, ".zyl/Zyl-Console/console-cfg.zyl")
    os.makedirs(os.path.dirname(cfg), exist_ok=True)
    with open(cfg, "w") as f:
        f.write("Zyl []\nbuffer-lines: 10000 history: [%s]\n" % " ".join('"h%d"' % i for i in range(120)))
    s = Session(ZYL, home=home)
    try:
        s.keys("Up", "Up")
        s.wait_for(lambda sc: sc[0].rstrip() == ">> h1")
        check(prompt_line(s) == ">> h1", "the loaded history walked: %r" % prompt_line(s))
        s.keys("C-a", "C-k")
        s.type("1 + 1")
        s.keys("Enter", "C-d")
        check(s.exited() == 0, "ctrl+d quits")
        with open(cfg) as f:
            saved = f.read()
    finally:
        s.close()
        shutil.rmtree(home, ignore_errors=True)
    entries = saved[saved.index("history: [") + 10:saved.rindex("]")].split('" "')
    check(len(entries) == 100 and entries[0] == '"1 + 1' and entries[-1] == 'h98"',
          "saved: %d entries, %r ... %r" % (len(entries), entries[0], entries[-1]))


@test
def completion():
    work = tempfile.mkdtemp(prefix="zyl-complete-")
    os.makedirs(os.path.join(work, "sub"))
    for name in ["alpha.txt", "alpine.txt"]:
        open(os.path.join(work, "sub", name), "w").close()
    s = Session(ZYL, cwd=work)
    try:
        s.type("appe")
        s.keys("Tab")
        check(prompt_line(s) == ">> append", "unique word: %r" % prompt_line(s))
        s.keys("C-a", "C-k")
        s.type("pri")
        s.keys("Tab")
        screen, cur = s.settle()
        check(">> prin print" in [l.rstrip() for l in screen], "candidates listed: %r" % screen)
        check(screen[1].rstrip() == ">> prin" and cur == (7, 1), "common part: %r %r" % (screen[1], cur))
        s.keys("C-a", "C-k")
        s.type("append/")
        s.keys("Tab")
        screen, _ = s.settle()
        check(">> dup only part" in [l.rstrip() for l in screen], "refinements: %r" % screen)
        s.keys("C-a", "C-k")
        s.type("system/console/hi")  # the parts before the last "/" are walked
        s.keys("Tab")
        check(prompt_line(s) == ">> system/console/history", "system path: %r" % prompt_line(s))
        s.keys("C-a", "C-k")
        s.type("o: context [first-field: 1 fine: 2]")
        s.keys("Enter")
        s.type("o/fin")
        s.keys("Tab")
        check(prompt_line(s) == ">> o/fine", "object field: %r" % prompt_line(s))
        s.keys("C-a", "C-k")
        s.type("%sub/")
        s.keys("Tab")
        screen, _ = s.settle()
        check(">> alpha.txt alpine.txt" in [l.rstrip() for l in screen], "files: %r" % screen)
        check(prompt_line(s) == ">> %sub/alp", "files' common part: %r" % prompt_line(s))
        s.keys("C-a", "C-k")
        s.type("%nowhere/x")
        s.keys("Tab")
        screen, cur = s.settle()
        check(cur[0] == len(">> %nowhere/x    "), "a missing folder completes nothing")
        s.keys("C-a", "C-k")
        s.type("appe [1] 2")
        s.keys("Left", "Left", "Left", "Left", "Left", "Left", "Tab")
        screen, cur = s.settle()
        check(prompt_line(s) == ">> append [1] 2", "mid-line: %r" % prompt_line(s))
        check(cur[0] == len(">> append"), "cursor after the completed part: %r" % (cur,))
        s.keys("Enter")
        screen = s.wait_for(lambda sc: any(l.startswith("== [1 2]") for l in sc))
        check(any(l.startswith("== [1 2]") for l in screen), "completed line runs")
        s.type('_set-buffer-history s: copy "" copy [] _read-input "pw: " true s')
        s.keys("Enter")
        s.wait_for(lambda sc: any(l.startswith("pw: ") for l in sc))
        s.type("ab")
        s.keys("Tab", "Enter")
        screen = s.wait_for(lambda sc: any(l.startswith('== "ab^-"') for l in sc))
        check(any(l.startswith('== "ab^-"') for l in screen), "hidden tab is a tab: %r" % screen)
    finally:
        s.close()


PASTE_ON, PASTE_OFF = b"\x1b[200~", b"\x1b[201~"


@test
def pastes():
    s = Session(ZYL)
    try:
        s.raw(PASTE_ON + b"f: func [x] [\r    x * 2\r]" + PASTE_OFF)
        s.keys("Enter")
        s.type("f 21")
        s.keys("Enter")
        screen = s.wait_for(lambda sc: any(l.startswith("== 42") for l in sc))
        check(any(l.startswith("== 42") for l in screen), "pasted function: %r" % screen)
        # the lines after the first show the console's cue for the open block
        check([l.rstrip() for l in screen[1:3]] == ["[        x * 2", "[    ]"], "continuation cue: %r" % screen)
        s.raw(PASTE_ON + b'length? "a\tb\x01"' + PASTE_OFF + b"\r")
        screen = s.wait_for(lambda sc: any(l.startswith("== 3") for l in sc))
        check(any(l.startswith("== 3") for l in screen), "pasted tab kept, control dropped: %r" % screen)
    finally:
        s.close()


@test
def display_widths():
    s = Session(ZYL)
    try:
        s.type('"' + "a" * 75)  # the prompt and these leave one column on the row
        s.type("中")
        screen, cur = s.settle()
        check(screen[0].rstrip().endswith("a") and screen[1].startswith("中"), "wide char moves down: %r" % screen[:2])
        check(cur == (2, 1), "cursor after the wide char: %r" % (cur,))
        for narrow in ["é", "Ж"]:  # a narrow character in the last column stays on the row
            s.keys("BSpace")
            s.type(narrow)
            screen, cur = s.settle()
            check(screen[0].rstrip().endswith(narrow) and cur == (0, 1),
                  "narrow %r in the last column: %r %r" % (narrow, screen[:2], cur))
        s.keys("C-a", "C-k")
        s.type('"e\u0301x😀y\U0001F321"')  # U+1F321 is drawn narrow
        screen, cur = s.settle()
        check(cur == (3 + 8, 0), "combining mark takes none, emoji two, U+1F321 one: %r" % (cur,))
        s.keys("Left", "Left", "Left", "Left")
        _, cur = s.settle()
        check(cur == (3 + 3, 0), "cursor on the emoji: %r" % (cur,))
        s.keys("C-a", "C-k")
        s.type("x" * 77)  # fills the row exactly
        _, cur = s.settle()
        check(cur == (0, 1), "a full row puts the cursor on the next: %r" % (cur,))
    finally:
        s.close()


@test
def coloured_prompt():
    s = Session(ZYL)
    try:
        s.type('_set-buffer-history s: copy "" copy [] _read-input "^[[31mred>^[[0m " false s')
        s.keys("Enter")
        screen = s.wait_for(lambda sc: any(l.startswith("red> ") for l in sc))
        s.type("ok")
        screen, cur = s.settle()
        row = [i for i, l in enumerate(screen) if l.startswith("red> ")][0]
        check(cur == (7, row), "cursor after the visible prompt: %r" % (cur,))
    finally:
        s.close()


@test
def long_line_edited_midway():
    s = Session(ZYL)
    try:
        body = "".join(chr(ord("a") + i % 26) for i in range(298))
        s.type('length? "' + body + '"')
        s.keys(*(["Left"] * 150))
        s.type("XYZ")
        screen, cur = s.settle()
        text = "".join(l.ljust(80) for l in screen[:5]).rstrip()
        expected = '>> length? "' + body[:149] + "XYZ" + body[149:] + '"'
        check(text == expected, "long line on screen: %r" % text)
        offset = len('>> length? "') + 149 + 3
        check(cur == (offset % 80, offset // 80), "cursor mid-way: %r" % (cur,))
        # keys arriving together are drawn once, after the last of them
        s.raw(b"\x1b[D" * 100 + b"Q" + b"\x1b[C" * 2 + b"\x7f")
        screen, cur = s.settle()
        text = "".join(l.ljust(80) for l in screen[:5]).rstrip()
        body = body[:149] + "XYZ" + body[149:]
        body = body[:52] + "Q" + body[52] + body[54:]  # the Backspace took body[53]
        check(text == '>> length? "' + body + '"', "after keys taken together: %r" % text)
        offset = len('>> length? "') + 54
        check(cur == (offset % 80, offset // 80), "cursor after keys taken together: %r" % (cur,))
        s.keys("Enter")
        screen = s.wait_for(lambda sc: any(l.startswith("== 301") for l in sc))
        check(any(l.startswith("== 301") for l in screen), "the whole line evaluated: %r" % screen)
    finally:
        s.close()


@test
def text_taller_than_the_window():
    s = Session(ZYL, height=6)
    try:
        body = "".join(chr(ord("a") + i % 26) for i in range(560))  # eight rows of 80
        s.type('length? "' + body + '"')
        screen, cur = s.settle()
        check(screen[5] == body[-12:] + '"' and cur == (13, 5), "the rows at the cursor: %r" % screen)
        s.keys("Home")
        screen, cur = s.settle()
        check(screen[0] == '>> length? "' + body[:68] and cur == (3, 0), "the first rows: %r" % screen)
        s.keys("Enter")
        screen = s.wait_for(lambda sc: any(l.startswith("== 560") for l in sc))
        at = [i for i, l in enumerate(screen) if l.startswith("== 560")]
        check(at and screen[at[0] - 1] == body[-12:] + '"', "Enter shows the last rows: %r" % screen)
    finally:
        s.close()


@test
def resize_redraws():
    s = Session(ZYL)
    try:
        s.type("system/console/size: 0x0 ()")
        s.keys("Enter")
        s.type('"' + "b" * 58 + '"')
        s.tmux("resize-window", "-x", "40", "-y", "20")
        screen, cur = s.settle()
        rows = [l.rstrip() for l in screen if l.strip()]
        check(rows[-2:] == ['>> "' + "b" * 36, "b" * 22 + '"'], "redrawn at 40 columns: %r" % rows)
        s.keys("C-a", "C-k")
        s.type("system/console/size")
        s.keys("Enter")
        screen = s.wait_for(lambda sc: any(l.startswith("== 40x20") for l in sc))
        check(any(l.startswith("== 40x20") for l in screen), "console size: %r" % screen)
        s.type("wait 0.5 system/console/size")
        s.keys("Enter")
        time.sleep(0.2)
        s.tmux("resize-window", "-x", "50", "-y", "22")
        s.type("system/console/size")  # typed ahead while the first line still runs
        s.keys("Enter")
        screen = s.wait_for(lambda sc: any(l.startswith("== 50x22") for l in sc))
        check([l.rstrip() for l in screen if l.startswith("== ")][-2:] == ["== 40x20", "== 50x22"],
              "a resize between edits: %r" % screen)
    finally:
        s.close()


def main():
    global ZYL
    ZYL = os.path.abspath(sys.argv[1])
    only = sys.argv[2] if len(sys.argv) > 2 else ""
    failed = 0
    for t in TESTS:
        if only not in t.__name__:
            continue
        try:
            t()
            print("ok  ", t.__name__)
        except Exception:
            failed += 1
            print("FAIL", t.__name__)
            traceback.print_exc()
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
