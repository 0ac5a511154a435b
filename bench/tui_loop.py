#!/usr/bin/env python3
# bench/tui_loop.py: the terminal UI's loop on a pseudo-terminal, drained, no emulator.
#
#   python3 bench/tui_loop.py ZYL [--keys N]
#
# Each measure is taken for zyl and for a CPython peer doing the same work (tui_loop_peer.py:
# curses, asyncio's call_at), one after the other.
#
# 1. keys: 50 fields on 200x60; a key typed into a field to the frame that paints it (one
#    write): median and p99 over N keys (default 500).
# 2. idle: a window open for 10 s: CPU time and voluntary context switches of the process.
# 3. timers: a 10 ms and a 500 ms timer over 10 s: their counts (ideal 1000 and 20) and the
#    10 ms timer's p99 lateness.
import fcntl
import os
import pty
import select
import statistics
import struct
import sys
import termios
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "tui_loop.zyl")
PEER = os.path.join(HERE, "tui_loop_peer.py")


def spawn(zyl, mode):
    pid, fd = pty.fork()
    if pid == 0:
        os.environ["TERM"] = "xterm-256color"
        if zyl == "peer":
            os.execv(sys.executable, [sys.executable, PEER, mode])
        os.execv(zyl, [zyl, SCRIPT, mode])
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 60, 200, 0, 0))
    return pid, fd


def drain(fd, quiet):
    """Reads until nothing comes for [quiet] seconds; answers the bytes."""
    out = b""
    while True:
        r, _, _ = select.select([fd], [], [], quiet)
        if not r:
            return out
        try:
            data = os.read(fd, 65536)
        except OSError:
            return out
        if not data:
            return out
        out += data
        # a cursor-position query: answer it as a terminal would
        if b"\x1b[6n" in data:
            os.write(fd, b"\x1b[1;1R")


def finish(pid, fd):
    os.write(fd, b"\x1b")
    out = drain(fd, 0.5)
    try:
        os.waitpid(pid, 0)
    except ChildProcessError:
        pass
    os.close(fd)
    return out


def keys(zyl, n):
    pid, fd = spawn(zyl, "keys")
    drain(fd, 0.5)
    lat = []
    for i in range(n):
        key = bytes([ord("a") + i % 26])
        t = time.perf_counter()
        os.write(fd, key)
        r, _, _ = select.select([fd], [], [], 1.0)
        if r:
            os.read(fd, 65536)
            lat.append((time.perf_counter() - t) * 1000)
        drain(fd, 0.003)
    finish(pid, fd)
    lat.sort()
    return statistics.median(lat), lat[int(len(lat) * 0.99) - 1]


def proc_stats(pid):
    with open("/proc/%d/stat" % pid) as f:
        parts = f.read().rsplit(")", 1)[1].split()
    cpu = (int(parts[11]) + int(parts[12])) / os.sysconf("SC_CLK_TCK")
    with open("/proc/%d/status" % pid) as f:
        vol = next(int(l.split()[1]) for l in f if l.startswith("voluntary_ctxt_switches"))
    return cpu, vol


def idle(zyl):
    pid, fd = spawn(zyl, "idle")
    drain(fd, 0.5)
    c0, v0 = proc_stats(pid)
    time.sleep(10)
    c1, v1 = proc_stats(pid)
    finish(pid, fd)
    return (c1 - c0) * 1000, v1 - v0


def timers(zyl):
    pid, fd = spawn(zyl, "timers")
    out = drain(fd, 12)
    os.waitpid(pid, 0)
    os.close(fd)
    for line in out.decode("utf-8", "replace").splitlines():
        if "counts:" in line:
            return line.split("counts:")[1].strip()
    return "?"


def main():
    zyl = sys.argv[1]
    n = int(sys.argv[sys.argv.index("--keys") + 1]) if "--keys" in sys.argv else 500
    for who in (zyl, "peer"):
        name = "zyl " if who == zyl else "peer"
        med, p99 = keys(who, n)
        print("%s keystroke to painted frame: median %.3f ms, p99 %.3f ms (%d keys)" % (name, med, p99, n))
    cpu, wakeups = idle(zyl)
    print("zyl  idle 10 s: %.1f ms CPU, %d voluntary context switches" % (cpu, wakeups))
    for who in (zyl, "peer"):
        name = "zyl " if who == zyl else "peer"
        print("%s timers 10 ms and 500 ms over 10 s: counts %s (ideal 1000 20)" % (name, timers(who)))


if __name__ == "__main__":
    main()
