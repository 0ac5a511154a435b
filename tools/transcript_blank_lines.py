#!/usr/bin/env python3
# tools/transcript_blank_lines.py: adds to console transcripts the empty line that the
# console prints after an evaluation error's report, where zyl's own output has it.
#
#   transcript_blank_lines.py ZYL FILE.txt...
#
# Only empty lines right after a "*** " line are added, and only where the output has one
# there: nothing else in a file changes.
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))


def output_of(zyl, inputs):
    with tempfile.TemporaryDirectory(prefix="zyl-blank-") as folder:
        env = dict(os.environ, HOME=folder)
        p = subprocess.run([zyl], input=("\n".join(inputs) + "\n").encode(), stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=300, cwd=folder, env=env)
    lines = [l.rstrip(" ") for l in p.stdout.decode("utf-8", "replace").split("\n")]
    return lines[3:] if len(lines) > 2 and lines[2] == "" else lines[2:]


def fix(zyl, path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    inputs = [l[3:] for l in lines if l.startswith(">> ")]
    got = output_of(zyl, inputs)
    out, g = [], 0  # g: the next line of the output to match
    for i, line in enumerate(lines):
        out.append(line)
        if line.startswith(">> ") or line.startswith(";;"):
            continue
        # walk the output along the expected lines
        while g < len(got) and got[g] != line.rstrip(" ") and line != "":
            g += 1
        if g < len(got):
            g += 1
        if not line.startswith("*** "):
            continue
        nxt = lines[i + 1] if i + 1 < len(lines) else None
        if g < len(got) and got[g] == "" and nxt is not None and nxt != "":
            out.append("")
            g += 1
    text = "\n".join(out)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


for p in sys.argv[2:]:
    fix(os.path.abspath(sys.argv[1]), p)
