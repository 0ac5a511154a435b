#!/usr/bin/env python3
# bench/files.py: whole-file reading and writing against cat, on a 100 MB file.
#
#   files.py ZYL [--mb N] [--runs N]
#
# In a temporary folder, makes an ASCII file and a mixed UTF-8 file (a third of the
# characters two to four bytes long), then times, median CPU time of N runs (5 by default)
# taken in turn:
#   copy:  `write/binary %b read/binary %a`  beside  `cat a > b`
#   text:  `read %a` (decoded to a string)   beside  `cat a > /dev/null`
# The ratio is zyl's time over cat's; zyl's includes its start-up, shown in the first row.
import os
import resource
import statistics
import subprocess
import sys
import tempfile


def cpu(cmd, cwd):
    """The CPU time (user + system) of [cmd]: other load on the machine disturbs it less
    than wall time."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(cmd, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime + after.ru_stime) - (before.ru_utime + before.ru_stime)


def medians(cmds, runs, cwd):
    times = [[] for _ in cmds]
    for _ in range(runs):
        for i, cmd in enumerate(cmds):
            times[i].append(cpu(cmd, cwd))
    return [statistics.median(t) for t in times]


def make_files(folder, mb):
    line = ("the quick brown fox jumps over the lazy dog 0123456789 " * 2)[:99] + "\n"
    ascii_bytes = (line * (mb * 1024 * 1024 // len(line) + 1))[: mb * 1024 * 1024].encode()
    with open(os.path.join(folder, "ascii"), "wb") as f:
        f.write(ascii_bytes)
    mixed_line = "héllo wörld ☃ 𝄞 abc déf " * 4 + "\n"
    mixed = mixed_line.encode() * (mb * 1024 * 1024 // len(mixed_line.encode()))
    with open(os.path.join(folder, "mixed"), "wb") as f:
        f.write(mixed)


def main():
    args = sys.argv[1:]
    zyl = os.path.abspath(args[0])
    mb = int(args[args.index("--mb") + 1]) if "--mb" in args else 100
    runs = int(args[args.index("--runs") + 1]) if "--runs" in args else 5
    with tempfile.TemporaryDirectory(prefix="zyl-bench-files-") as d:
        make_files(d, mb)
        scripts = {
            "empty": "",
            "copy": "write/binary %b read/binary %ascii",
            "ascii": "length? read %ascii",
            "mixed": "length? read %mixed",
        }
        for name, text in scripts.items():
            with open(os.path.join(d, name + ".zyl"), "w") as f:
                f.write("Zyl [] " + text + "\n")
        rows = [
            ("start-up", [zyl, "empty.zyl"], None),
            (f"copy {mb} MB", [zyl, "copy.zyl"], ["sh", "-c", "cat ascii > c"]),
            (f"read {mb} MB ASCII", [zyl, "ascii.zyl"], ["sh", "-c", "cat ascii > /dev/null"]),
            (f"read {mb} MB mixed UTF-8", [zyl, "mixed.zyl"], ["sh", "-c", "cat mixed > /dev/null"]),
        ]
        print(f"{'case':<26}{'zyl s':>10}{'cat s':>10}{'ratio':>8}")
        for label, z, c in rows:
            if c is None:
                (tz,) = medians([z], runs, d)
                print(f"{label:<26}{tz:>10.3f}")
                continue
            tz, tc = medians([z, c], runs, d)
            print(f"{label:<26}{tz:>10.3f}{tc:>10.3f}{tz / tc:>8.2f}")
        with open(os.path.join(d, "ascii"), "rb") as a, open(os.path.join(d, "b"), "rb") as b:
            if a.read() != b.read():
                sys.exit("the copy differs from its source")


main()
