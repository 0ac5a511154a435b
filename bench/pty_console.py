#!/usr/bin/env python3
# bench/pty_console.py: the interactive console on a raw pseudo-terminal, beside python3's
# REPL and lua5.4: time from start to the prompt on screen (median of interleaved runs), and
# the cost of a key typed in the middle of a 10,000-character pasted line.
#
#   python3 bench/pty_console.py build/release/zyl [--runs N]
import os
import pty
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PASTE_ON, PASTE_OFF = b"\x1b[200~", b"\x1b[201~"


def spawn(argv, home):
    master, slave = pty.openpty()
    os.set_blocking(master, False)
    env = dict(os.environ, HOME=home, TERM="xterm", PYTHONSTARTUP="")
    t0 = time.perf_counter()
    proc = subprocess.Popen(argv, stdin=slave, stdout=slave, stderr=slave, env=env, start_new_session=True)
    os.close(slave)
    return proc, master, t0


def wait_for(master, marker, timeout=10.0):
    """Reads until [marker] arrives; answers the time it did."""
    seen = b""
    end = time.perf_counter() + timeout
    while marker not in seen:
        left = end - time.perf_counter()
        if left <= 0:
            raise RuntimeError("no %r in %r" % (marker, seen[-200:]))
        r, _, _ = select.select([master], [], [], left)
        if r:
            try:
                seen += os.read(master, 1 << 20)
            except BlockingIOError:
                pass
            except OSError:
                break
    return time.perf_counter()


def finish(proc, master):
    proc.kill()
    proc.wait()
    os.close(master)


def drain(master):
    while select.select([master], [], [], 0)[0]:
        try:
            if not os.read(master, 1 << 20):
                return
        except (BlockingIOError, OSError):
            return


def write_all(master, data):
    while data:
        try:
            n = os.write(master, data)
            data = data[n:]
        except BlockingIOError:
            drain(master)
            select.select([], [master], [], 1)
        drain(master)


PROGRAMS = [
    ("zyl", lambda zyl: [zyl], b">> "),
    ("python3 -q", lambda zyl: ["python3", "-q"], b">>> "),
    ("lua5.4", lambda zyl: ["lua5.4"], b"> "),
]


def start_times(zyl, runs, home):
    times = {name: [] for name, _, _ in PROGRAMS}
    for _ in range(runs):
        for name, argv, prompt in PROGRAMS:  # interleaved, so load changes hit all alike
            if not shutil.which(argv(zyl)[0]):
                continue
            proc, master, t0 = spawn(argv(zyl), home)
            times[name].append(wait_for(master, prompt) - t0)
            finish(proc, master)
    return {name: statistics.median(t) * 1000 for name, t in times.items() if t}


def edit_time(argv, prompt, code, result, keys, home):
    """Paste a 10,000-character line, go 5,000 back, type [keys] keys, Enter; seconds taken."""
    proc, master, _ = spawn(argv, home)
    wait_for(master, prompt)
    drain(master)
    body = b"a" * 10000
    t0 = time.perf_counter()
    write_all(master, PASTE_ON + code[0] + body + code[1] + PASTE_OFF)
    write_all(master, b"\x1b[D" * 5000)
    for _ in range(keys):
        write_all(master, b"b")
    write_all(master, b"\r")
    t1 = wait_for(master, result(10000 + keys), timeout=120)
    finish(proc, master)
    return t1 - t0


def key_latency(argv, prompt, code, home, keys=200):
    """Median time from a key written mid-way in the pasted line to the end of its redraw
    (output quiet for 2 ms, less those 2 ms), keys sent one by one."""
    proc, master, _ = spawn(argv, home)
    wait_for(master, prompt)
    write_all(master, PASTE_ON + code[0] + b"a" * 10000 + code[1] + PASTE_OFF)
    write_all(master, b"\x1b[D" * 5000)
    time.sleep(1.0)
    drain(master)
    times = []
    for _ in range(keys):
        t0 = time.perf_counter()
        os.write(master, b"b")
        got = False
        last = t0
        while True:
            r, _, _ = select.select([master], [], [], 0.002 if got else 2.0)
            if not r:
                break
            try:
                os.read(master, 1 << 20)
            except (BlockingIOError, OSError):
                pass
            got = True
            last = time.perf_counter()
        times.append(last - t0)
    finish(proc, master)
    return statistics.median(times) * 1000


def key_costs(zyl, home):
    cases = [
        ("zyl", [zyl], b">> ", (b'length? "', b'"'), lambda n: b"== %d" % n),
        ("python3", ["python3", "-q"], b">>> ", (b'len("', b'")'), lambda n: b"%d" % n),
    ]
    out = {}
    for name, argv, prompt, code, result in cases:
        if not shutil.which(argv[0]):
            continue
        base = min(edit_time(argv, prompt, code, result, 0, home) for _ in range(3))
        typed = min(edit_time(argv, prompt, code, result, 1000, home) for _ in range(3))
        out[name] = (typed - base) / 1000 * 1000  # ms a key
    return out


def main():
    zyl = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 100
    home = tempfile.mkdtemp(prefix="zyl-bench-")
    try:
        print("start to prompt on a pty, median of %d interleaved runs:" % runs)
        for name, ms in start_times(zyl, runs, home).items():
            print("  %-12s %7.2f ms" % (name, ms))
        print("a key typed mid-way in a pasted 10,000-character line (less a run without keys):")
        for name, ms in key_costs(zyl, home).items():
            print("  %-12s %7.3f ms a key" % (name, ms))
        print("the same, keys sent one by one, median time to the end of each key's output:")
        print("  %-12s %7.3f ms" % ("zyl", key_latency([zyl], b">> ", (b'length? "', b'"'), home)))
        if shutil.which("python3"):
            print("  %-12s %7.3f ms" % ("python3", key_latency(["python3", "-q"], b">>> ", (b'len("', b'")'), home)))
    finally:
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
