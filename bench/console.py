#!/usr/bin/env python3
# bench/console.py: the console on piped input beside python3's and lua5.4's interactive modes,
# runs interleaved so that the machine's load falls on all alike.
#
#   python3 bench/console.py ZYL [--runs N] [--lines N]
#
# 1. "1" piped in, until the process has printed its result and ended (median of N, 100).
# 2. A session of piped lines (20,000 by default): assignments, appends and a three-line block
#    in turn, against the same session in python3 (median of 5).
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(cmd, text, env):
    t = time.perf_counter()
    p = subprocess.run(cmd, input=text, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    return time.perf_counter() - t, p.stdout


def session(kind, n):
    """n lines of a session for zyl or python: assignments, appends and a three-line block."""
    out = ["b = []" if kind == "py" else "b: copy []"]
    i = 0
    while len(out) + 5 <= n:
        if kind == "py":
            out += [f"x = {i}", f"b.append({i})", "if x > 0:", "    y = x + 1", ""]
        else:
            out += [f"x: {i}", f"append b {i}", "if x > 0 [", "    y: x + 1", "]"]
        i += 1
    out.append("print(len(b))" if kind == "py" else "print length? b")
    return ("\n".join(out) + "\n").encode()


def main():
    zyl = sys.argv[1]
    runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 100
    lines = int(sys.argv[sys.argv.index("--lines") + 1]) if "--lines" in sys.argv else 20000
    home = tempfile.mkdtemp(prefix="zyl-bench-home-")
    env = dict(os.environ, HOME=home)
    peers = [("zyl", [zyl], b"1\n"), ("python3 -q -i", ["python3", "-q", "-i"], b"1\n")]
    if shutil.which("lua5.4"):
        peers.append(("lua5.4 -i", ["lua5.4", "-i"], b"1\n"))
    times = {name: [] for name, _, _ in peers}
    for _ in range(runs):
        for name, cmd, text in peers:
            times[name].append(timed(cmd, text, env)[0])
    print(f"one line piped in, to the end (median of {runs}):")
    for name, _, _ in peers:
        print(f"  {name:16} {statistics.median(times[name]) * 1000:8.2f} ms")

    zs, ps = session("zyl", lines), session("py", lines)
    tz, tp = [], []
    for _ in range(5):
        t, out_z = timed([zyl], zs, env)
        tz.append(t)
        t, out_p = timed(["python3", "-q", "-i"], ps, env)
        tp.append(t)
    mz, mp = statistics.median(tz), statistics.median(tp)
    print(f"{lines} piped lines (median of 5):")
    print(f"  zyl              {mz * 1000:8.1f} ms   answer {out_z.decode().split()[-1]}")
    print(f"  python3 -q -i    {mp * 1000:8.1f} ms   answer {out_p.decode().split()[-1]}")
    print(f"  ratio            {mz / mp:8.2f}")
    shutil.rmtree(home, ignore_errors=True)


main()
