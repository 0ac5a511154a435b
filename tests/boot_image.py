#!/usr/bin/env python3
# tests/boot_image.py: the boot-image tool in child processes: the same sources give the same
# bytes, bad boot sources are refused, a program whose boot top level raises prints the report
# and ends with status 254, and one whose sources define `cli-console-ctx` runs its launch.
#
#   boot_image.py ZYL-IMAGE BUILT-IMAGE RAISING-ZYL LAUNCH-ZYL SOURCE...
import os
import subprocess
import sys
import tempfile

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "boot_image")


def run(cmd):
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                       timeout=120)
    return p.returncode, p.stdout.decode("utf-8", "replace")


def main():
    tool, built, raising, launching, sources = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:]
    actions, natives = sources[0], sources[1]
    failed = []
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "image.cpp")
        status, text = run([tool, out] + sources)
        with open(out, "rb") as a, open(built, "rb") as b:
            if status != 0 or a.read() != b.read():
                failed.append(f"the same sources give other bytes (status {status}): {text}")
        refusals = [
            ("an unknown routine", [actions, natives, os.path.join(HERE, "unknown_routine.zyl")],
             "no routine in the registry is named 'no-such-thing'"),
            ("a routine made twice", [actions, natives, os.path.join(HERE, "doubled_routine.zyl")],
             "routine 'as-color' is made twice"),
            ("a definitions source holding something else",
             [os.path.join(HERE, "not_definitions", "actions.zyl")], "not a definition at value 5"),
            ("a missing source", [actions, os.path.join(tmp, "missing.zyl")], "cannot read"),
        ]
        for name, files, message in refusals:
            bad = os.path.join(tmp, "bad.cpp")
            status, text = run([tool, bad] + files)
            if status == 0 or message not in text or os.path.exists(bad):
                failed.append(f"{name}: status {status}, output {text!r}")
    status, text = run([raising])
    if status != 254 or not text.startswith("before\n*** Math Error: division by zero\n*** Where: divide") or "after" in text:
        failed.append(f"a raising top level: status {status}, output {text!r}")
    p = subprocess.run([launching], input=b'print "driver"\n', stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       timeout=120)
    if p.returncode != 0 or p.stdout != b"launched false\n":
        failed.append(f"the console's launch: status {p.returncode}, output {p.stdout!r}")
    for f in failed:
        print(f)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
