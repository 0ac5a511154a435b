#!/usr/bin/env python3
# tests/transcript.py: runs a console transcript or a language test script through `zyl`.
#
#   transcript.py ZYL FILE.txt   lines starting ">> " are typed in (a value left open continues
#                                on the next ">> " line, as at the console); every other line
#                                is the output expected, in order; lines starting ";;" are
#                                comments.
#   transcript.py ZYL FILE.zyl   runs the script after the checks of tests/lang/support/assert.zyl
#                                (check, check-error, checks-done); its last line must read
#                                "N passed, 0 failed" and the exit status be 0.
#
# Each runs in a new temporary folder of its own, removed afterwards, with a new HOME inside it
# (never the user's: the console keeps its settings there), so tests that write files
# neither meet each other's files nor leave any behind. The console's banner (its first two
# lines and the empty line after them) is checked apart; blanks at the ends of lines are not
# compared.
import os
import subprocess
import sys
import tempfile

SUPPORT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lang", "support", "assert.zyl")


BANNER = ("--== Zyl ", "Type HELP for starting information.")
# Collecting at every allocation makes the grammar-heavy scripts run minutes on a loaded
# machine; a hang still ends, just later.
TIMEOUT = 600 if os.environ.get("ZYL_GC_STRESS") else 120


def run(zyl, args, stdin):
    with tempfile.TemporaryDirectory(prefix="zyl-test-") as folder:
        home = os.path.join(folder, ".home")
        os.mkdir(home)
        # ZYL_TESTS lets a test load the fixtures kept beside it.
        env = dict(os.environ, HOME=home, ZYL_TESTS=os.path.dirname(os.path.abspath(__file__)))
        p = subprocess.run([zyl] + args, input=stdin.encode(), stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=TIMEOUT, cwd=folder, env=env)
    return p.returncode, p.stdout.decode("utf-8", "replace")


def strip_banner(lines):
    """The lines after the banner, or None when it is not there."""
    if len(lines) < 2 or not lines[0].startswith(BANNER[0]) or lines[1].rstrip() != BANNER[1]:
        return None
    rest = lines[2:]
    return rest[1:] if rest and rest[0] == "" else rest


def transcript(zyl, path):
    inputs, expected = [], []
    with open(path, encoding="utf-8") as f:
        for line in f.read().split("\n"):
            if line.startswith(";;"):
                continue
            if line.startswith(">> "):
                inputs.append(line[3:])
            else:
                expected.append(line)
    expected = [e.rstrip(" ") for e in expected]
    while expected and expected[-1] == "":
        expected.pop()
    code, out = run(zyl, [], "\n".join(inputs) + "\n")
    got = [g.rstrip(" ") for g in out.split("\n")]
    after = strip_banner(got)
    if after is None:
        print(f"{path}: no banner: {got[:2]!r}")
        return 1
    got = after
    while got and got[-1] == "":
        got.pop()
    if got == expected:
        return 0
    print(f"{path}: output differs (exit status {code})")
    width = max(len(got), len(expected))
    for i in range(width):
        g = got[i] if i < len(got) else "<none>"
        e = expected[i] if i < len(expected) else "<none>"
        mark = "  " if g == e else "!!"
        print(f"{mark} expected: {e}\n{mark}      got: {g}")
    return 1


def script(zyl, path):
    with open(SUPPORT, encoding="utf-8") as f:
        text = "Zyl []\n" + f.read() + "\n"
    with open(path, encoding="utf-8") as f:
        text += f.read()
    with tempfile.NamedTemporaryFile("w", suffix=".zyl", encoding="utf-8", delete=False) as t:
        t.write(text)
    try:
        code, out = run(zyl, [t.name], "")
    finally:
        os.unlink(t.name)
    lines = [l for l in out.split("\n") if l.strip()]
    last = lines[-1] if lines else ""
    ok = last.endswith(" failed") and last.split(",")[-1].strip() == "0 failed"
    if ok and code == 0:
        return 0
    print(out)
    print(f"{path}: exit status {code}; last line: {last!r}")
    return 1


def main():
    zyl, path = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    sys.exit(transcript(zyl, path) if path.endswith(".txt") else script(zyl, path))


main()
