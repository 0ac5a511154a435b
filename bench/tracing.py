#!/usr/bin/env python3
# bench/tracing.py: the tracing tools at work, beside Python's own.
#
#   tracing.py ZYL [--runs N]
#
# profile: `profile [fib 18]` against the pure-Python profiler, `profile.run("fib(18)")`.
# raw trace: `trace/raw` of a 20,000-step loop against a sys.settrace hook that prints every
# event; both write to /dev/null. Each pair runs in turn, round after round (5 by default),
# and the table shows the median CPU times (user + system of the child) and their ratio.
import os
import statistics
import subprocess
import sys
import tempfile

from scripts import cpu_of_children, runs_option

CASES = {
    "profile fib 18": (
        "fib: func [n] [either n < 2 [n] [(fib n - 1) + fib n - 2]]\nprofile [fib 18]\n",
        "import profile\n"
        "def fib(n):\n    return n if n < 2 else fib(n - 1) + fib(n - 2)\n"
        "profile.run('fib(18)')\n",
    ),
    "raw trace loop": (
        "n: 0\ntrace/raw [loop 20000 [n: n + 1]]\n",
        "import sys\n"
        "def hook(frame, event, arg):\n"
        "    print(event.upper(), frame.f_lineno, frame.f_code.co_name, arg)\n"
        "    return hook\n"
        "def run():\n    n = 0\n    for _ in range(20000):\n        n = n + 1\n    return n\n"
        "sys.settrace(hook)\nrun()\nsys.settrace(None)\n",
    ),
}


def timed(cmd):
    start = cpu_of_children()
    with open(os.devnull, "wb") as null:
        p = subprocess.run(cmd, stdout=null, stderr=subprocess.PIPE, timeout=600)
    if p.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} exited with {p.returncode}: {p.stderr[-200:]!r}")
    return cpu_of_children() - start


def main():
    args = sys.argv[1:]
    runs = runs_option(args)
    zyl = args[0]
    print(f"{'case':<16} {'zyl (s)':>9} {'python3 (s)':>12} {'zyl/python':>11}   (CPU seconds, median of {runs})")
    with tempfile.TemporaryDirectory(prefix="zyl-tracing-") as folder:
        for name, (zyl_src, py_src) in CASES.items():
            zs = os.path.join(folder, "case.zyl")
            ps = os.path.join(folder, "case.py")
            with open(zs, "w") as f:
                f.write("Zyl []\n" + zyl_src)
            with open(ps, "w") as f:
                f.write(py_src)
            tz, tp = [], []
            for _ in range(runs):
                tz.append(timed([zyl, zs]))
                tp.append(timed([sys.executable, ps]))
            mz, mp = statistics.median(tz), statistics.median(tp)
            print(f"{name:<16} {mz:>9.3f} {mp:>12.3f} {mz / mp:>11.2f}")


if __name__ == "__main__":
    main()
