#!/usr/bin/env python3
# bench/instructions.py: instructions per fib call under valgrind's callgrind, for the fib rows
# and their Python twins: a measure that other load on the machine does not disturb.
#
#   instructions.py ZYL [NAME ...]      NAME among fib, fib_typed, fib_parens (all by default)
#
# Each script runs twice with its argument changed to 18 and to 22; the difference of the two
# instruction counts over the difference of the call counts (2 * F(n + 1) - 1 calls for fib n)
# takes start-up and loading off.
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROWS = ["fib", "fib_typed", "fib_parens"]
LOW, HIGH = 18, 22


def calls(n):
    a, b = 0, 1
    for _ in range(n + 1):
        a, b = b, a + b
    return 2 * a - 1


def instructions(cmd):
    p = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + cmd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, timeout=600)
    m = re.search(r"refs:\s+([\d,]+)", p.stderr)
    if p.returncode != 0 or not m:
        raise RuntimeError(f"{' '.join(cmd)} failed: {p.stderr[-300:]}")
    return int(m.group(1).replace(",", ""))


def per_call(cmd_for, text, pattern, ext):
    """Instructions per call of the script [text] whose fib argument [pattern] matches."""
    counts = []
    for n in (LOW, HIGH):
        with tempfile.NamedTemporaryFile("w", suffix=ext, delete=False) as f:
            f.write(re.sub(pattern, lambda m: m.group(1) + str(n) + m.group(3), text))
        try:
            counts.append(instructions(cmd_for(f.name)))
        finally:
            os.unlink(f.name)
    return (counts[1] - counts[0]) / (calls(HIGH) - calls(LOW))


def main():
    if not shutil.which("valgrind") or len(sys.argv) < 2:
        sys.exit("usage: instructions.py ZYL [NAME ...] (valgrind needed)")
    zyl = sys.argv[1]
    wanted = sys.argv[2:] or ROWS
    print(f"{'benchmark':<12} {'zyl':>8} {'python3':>8} {'ratio':>6}   (instructions per fib call)")
    for name in wanted:
        with open(os.path.join(HERE, name + ".zyl")) as f:
            z = per_call(lambda p: [zyl, p], f.read(), r"(?m)^((?:print mold )?fib )(\d+)()$", ".zyl")
        with open(os.path.join(HERE, name + ".py")) as f:
            y = per_call(lambda p: [sys.executable, p], f.read(), r"(print\(fib\()(\d+)(\)\))", ".py")
        print(f"{name:<12} {z:>8.0f} {y:>8.0f} {z / y:>6.2f}")


if __name__ == "__main__":
    main()
