#!/usr/bin/env python3
# bench/scripts.py: times each Zyl benchmark script of bench/ against its Python twin.
#
#   scripts.py ZYL [NAME ...] [--runs N]
#   scripts.py ZYL --against ZYL2 [NAME ...] [--runs N]   the scripts under both programs, in turn
#
# For every bench/NAME.zyl with a bench/NAME.py beside it (all of them when no NAME is
# given), runs `ZYL NAME.zyl` and `NAME.py` under the running python3 N times each (5 by default), checks that
# both answer the same (the last line of zyl's output, without its "== ", against the last
# line Python prints) and prints the median time of each and their ratio. The two run in
# turn, round after round, so that a change of load on the machine falls on both. Times are CPU time
# (user + system) of the child process, which other load on the machine disturbs less than
# wall time. The first row is the start-up alone (an empty script, `python3 -c pass`), which
# every other row includes. A NAME.lua beside them runs in the same rounds under lua5.4, when
# it is installed, and its time and zyl's ratio to it close the row. A script that reads
# BENCH_SCALE (as its twin does) runs a second time on half its input (BENCH_SCALE=0.5); a last
# column shows full time / half time for each program, about 2 when the work grows linearly.
# Each ratio is followed by the compute ratio: each program's empty-script time taken off.
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
LUA = shutil.which("lua5.4")


def cpu_of_children():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def timed(cmd, env=None):
    start = cpu_of_children()
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600, env=env)
    elapsed = cpu_of_children() - start
    out = p.stdout.decode("utf-8", "replace").strip().split("\n")
    last = out[-1] if out else ""
    if p.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} exited with {p.returncode}: {last}")
    return elapsed, last


def median_runs(cmds, runs, env=None):
    """Runs the commands in turn, [runs] rounds, so that both see the same changes of load;
    answers the median time and the last answer of each."""
    times = [[] for _ in cmds]
    answers = [None for _ in cmds]
    for _ in range(runs):
        for i, cmd in enumerate(cmds):
            t, answers[i] = timed(cmd, env)
            times[i].append(t)
    return [(statistics.median(ts), a) for ts, a in zip(times, answers)]


def compute(t, t0, u, u0):
    """The ratio of two times with each program's empty-script time taken off."""
    a, b = t - t0, u - u0
    return f"{a / b:.2f}" if a > 0 and b > 0 else "-"


def names(wanted):
    found = sorted(f[:-4] for f in os.listdir(HERE)
                   if f.endswith(".zyl") and os.path.exists(os.path.join(HERE, f[:-4] + ".py")))
    return [n for n in found if not wanted or n in wanted]


def against(zyl, other, wanted, runs):
    """Each script under two zyl programs, run in turn round after round: their median times
    and the ratio of the first to the second."""
    print(f"{'benchmark':<16} {os.path.basename(zyl):>14} {os.path.basename(other):>14} {'ratio':>7}"
          f"   (CPU seconds, median of {runs})")
    failed = 0
    for name in names(wanted):
        script = os.path.join(HERE, name + ".zyl")
        try:
            (ta, aa), (tb, ab) = median_runs([[zyl, script], [other, script]], runs)
        except (RuntimeError, subprocess.TimeoutExpired) as e:
            print(f"{name:<16} failed: {e}")
            failed += 1
            continue
        note = "" if aa == ab else f"  (answers differ: {aa!r} and {ab!r})"
        failed += bool(note)
        print(f"{name:<16} {ta:>14.3f} {tb:>14.3f} {ta / tb:>7.3f}{note}")
    sys.exit(1 if failed else 0)


def runs_option(args):
    """The --runs N option taken out of [args] (5 when absent)."""
    runs = 5
    if "--runs" in args:
        i = args.index("--runs")
        runs = int(args[i + 1])
        del args[i:i + 2]
    return runs


def main():
    args = sys.argv[1:]
    runs = runs_option(args)
    if "--against" in args:
        i = args.index("--against")
        other = args[i + 1]
        del args[i:i + 2]
        against(args[0], other, set(args[1:]), runs)
    zyl, wanted = args[0], set(args[1:])
    print(f"{'benchmark':<16} {'zyl (s)':>9} {'python3 (s)':>12} {'zyl/python':>11}   (CPU seconds, median of {runs})")
    with tempfile.NamedTemporaryFile("w", suffix=".zyl", delete=False) as empty:
        empty.write("Zyl []\n")
    try:
        starts = [[zyl, empty.name], [sys.executable, "-c", "pass"]]
        if LUA:
            starts.append([LUA, "-e", ""])
        empty_times = [t for t, _ in median_runs(starts, runs)]
        tz, tp = empty_times[0], empty_times[1]
        base_lua = empty_times[2] if LUA else 0.0
        print(f"{'(start-up)':<16} {tz:>9.3f} {tp:>12.3f} {tz / tp:>11.2f}")
    finally:
        os.unlink(empty.name)
    failed = 0
    for name in names(wanted):
        base = os.path.join(HERE, name)
        cmds = [[zyl, base + ".zyl"], [sys.executable, base + ".py"]]
        lua = LUA and os.path.exists(base + ".lua")
        if lua:
            cmds.append([LUA, base + ".lua"])
        try:
            results = median_runs(cmds, runs)
        except (RuntimeError, subprocess.TimeoutExpired) as e:
            print(f"{name:<16} failed: {e}")
            failed += 1
            continue
        (tz, az), (tp, ap) = results[0], results[1]
        az = az[3:] if az.startswith("== ") else az
        note = "" if az == ap else f"  (answers differ: {az!r} and {ap!r})"
        if lua:
            tl, al = results[2]
            note += "" if al == ap else f"  (lua answers {al!r})"
            note = (f"   lua {tl:.3f} s, zyl/lua {tz / tl:.2f}"
                    f" (compute {compute(tz, empty_times[0], tl, base_lua)})" + note)
        failed += "differ" in note or "lua answers" in note
        scaling = ""
        with open(base + ".zyl", encoding="utf-8") as f:
            scaled = "BENCH_SCALE" in f.read()
        if scaled:
            half = dict(os.environ, BENCH_SCALE="0.5")
            (hz, _), (hp, _) = median_runs([[zyl, base + ".zyl"], [sys.executable, base + ".py"]],
                                           runs, half)
            scaling = f"   full/half: zyl {tz / hz:.2f}, python3 {tp / hp:.2f}"
        print(f"{name:<16} {tz:>9.3f} {tp:>12.3f} {tz / tp:>11.2f}"
              f" (compute {compute(tz, empty_times[0], tp, empty_times[1])}){note}{scaling}")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
