#!/usr/bin/env python3
# bench/process_http.py: call and HTTP reads against python3's subprocess and urllib.request.
#
#   process_http.py ZYL [--runs N]
#
# Side by side, in turn, median of N runs (5 by default) of wall time and of the CPU time of
# the program and its children (the server runs in this process, outside that count):
# 1,000 `call/wait "true"`
# against `subprocess.run(["true"])`; 100 MB captured into a binary against
# `capture_output=True`; 1,000 small GETs and one 100 MB GET from one local server (the test
# server of tests/http/server.py) against `urllib.request`. Each program's time includes its
# start-up.
import os
import resource
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "http"))
import server  # noqa: E402

MB100 = 100 * 1024 * 1024


def timed(cmd, source, env):
    """Wall time and CPU time (user + system, with waited-for descendants) of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(cmd, input=source, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, env=env)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime + after.ru_stime) - (before.ru_utime + before.ru_stime)


def main():
    args = sys.argv[1:]
    zyl = os.path.abspath(args[0])
    runs = int(args[args.index("--runs") + 1]) if "--runs" in args else 5
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    http = server.start()
    base = f"http://127.0.0.1:{http.server_address[1]}"
    py = sys.executable
    cases = [
        ("1,000 call/wait true",
         'loop 1000 [call/wait "true"]',
         'import subprocess\nfor _ in range(1000): subprocess.run(["true"])'),
        ("100 MB capture",
         f'o: make binary! 0 call/output "head -c {MB100} /dev/zero" o length? o',
         f'import subprocess\nsubprocess.run(["head", "-c", "{MB100}", "/dev/zero"], capture_output=True)'),
        ("1,000 small GETs",
         f'loop 1000 [read {base}/text]',
         f'import urllib.request\nfor _ in range(1000): urllib.request.urlopen("{base}/text").read()'),
        ("100 MB GET",
         f'length? read/binary {base}/size/{MB100}',
         f'import urllib.request\nurllib.request.urlopen("{base}/size/{MB100}").read()'),
    ]
    print(f"{'case':22} {'zyl wall':>9} {'py wall':>8} {'ratio':>6} {'zyl cpu':>8} {'py cpu':>7} {'ratio':>6}")
    try:
        for name, zyl_src, py_src in cases:
            z, p = [], []
            for _ in range(runs):
                z.append(timed([zyl], zyl_src.encode(), env))
                p.append(timed([py, "-c", py_src], None, env))
            zw, zc = (statistics.median(t[i] for t in z) for i in (0, 1))
            pw, pc = (statistics.median(t[i] for t in p) for i in (0, 1))
            print(f"{name:22} {zw:9.3f} {pw:8.3f} {zw / pw:6.2f} {zc:8.3f} {pc:7.3f} {zc / pc:6.2f}")
    finally:
        http.shutdown()


if __name__ == "__main__":
    main()
