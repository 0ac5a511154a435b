# bench/startup.py: start-up to the first script line: the median wall time of N runs (100 by
# default) of a script that prints one line, for zyl beside lua5.4 and python3 when present.
#   python3 bench/startup.py ZYL [--runs N]
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def median_ms(cmd, runs):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
        times.append((time.perf_counter() - t) * 1000)
    return statistics.median(times)


def main():
    zyl = sys.argv[1]
    runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 100
    with tempfile.TemporaryDirectory() as folder:
        script = os.path.join(folder, "hello")
        for ext, text in ((".zyl", 'Zyl [] print "hello"\n'), (".lua", 'print("hello")\n'), (".py", 'print("hello")\n')):
            with open(script + ext, "w") as f:
                f.write(text)
        rows = [("zyl", [zyl, script + ".zyl"])]
        if shutil.which("lua5.4"):
            rows.append(("lua5.4", ["lua5.4", script + ".lua"]))
        if shutil.which("python3"):
            rows.append(("python3", ["python3", script + ".py"]))
        for name, cmd in rows:
            print(f"{name:8} {median_ms(cmd, runs):8.2f} ms median of {runs} runs")


main()
