#!/usr/bin/env python3
# tests/console_launch.py: the console's settings file and its command line, in child
# processes, each with a temporary HOME and folder of its own.
#
#   console_launch.py ZYL
import os
import shutil
import stat
import subprocess
import sys
import tempfile

ZYL = os.path.abspath(sys.argv[1])
failures = []
HEADER = 'Zyl [\n\tPurpose: "Zyl Console Configuration File"\n]\n'


def run(args, stdin, home, cwd=None):
    env = dict(os.environ, HOME=home)
    p = subprocess.run([ZYL] + args, input=stdin.encode(), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       env=env, cwd=cwd or home, timeout=120)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def expect(name, got, wanted):
    if got != wanted:
        failures.append(f"{name}:\n  expected {wanted!r}\n  got      {got!r}")


def body(out):
    """The output after the banner (two lines and an empty one)."""
    lines = out.split("\n")
    if len(lines) >= 3 and lines[0].startswith("--== Zyl "):
        lines = lines[3:]
    return "\n".join(l.rstrip(" ") for l in lines)


def cfg_file(home):
    return os.path.join(home, ".zyl", "Zyl-Console", "console-cfg.zyl")


def write_cfg(home, text):
    os.makedirs(os.path.dirname(cfg_file(home)), exist_ok=True)
    with open(cfg_file(home), "w", encoding="latin-1") as f:
        f.write(text)


def settings(home):
    # the folder at start, the file only at quit
    code, out, _ = run([], 'print exists? rejoin [system/options/cache %Zyl-Console/console-cfg.zyl]\n'
                           'print exists? rejoin [system/options/cache %Zyl-Console/]\n', home)
    expect("folder made at start, file at quit", (code, body(out), os.path.exists(cfg_file(home))),
           (0, "false\ntrue\n", True))

    # 150 lines of history are kept as the newest 100, in memory too
    write_cfg(home, HEADER + "history: [" + " ".join(f'"h{i}"' for i in range(150)) + "]\n")
    code, out, _ = run([], "cli-console-ctx/settings/save-cfg print length? system/console/history\n", home)
    _, back, _ = run([], "print [length? system/console/history first system/console/history "
                         "last system/console/history]\n", home)
    expect("history cut to 100", (body(out), body(back)), ("100\n", "100 h0 h99\n"))

    # keys it does not know stay; a history-only file gains buffer-lines
    write_cfg(home, HEADER + 'colour: "red"\nhistory: ["a" "b"]\n')
    _, out, _ = run([], "c: cli-console-ctx/settings/cfg print [mold c/colour c/buffer-lines mold c/history]\n", home)
    with open(cfg_file(home)) as f:
        saved = f.read()
    expect("unknown keys kept, buffer-lines added",
           (body(out), "colour:" in saved and "buffer-lines: 10000" in saved and '"a"' in saved),
           ('"red" 10000 ["a" "b"]\n', True))

    # a malformed file is ignored, then replaced whole at quit
    for bad in ["Zyl [ history: [", "no header here", "history: [1]", "\xff\xfe"]:
        write_cfg(home, bad)
        code, out, _ = run([], "print mold system/console/history\n", home)
        with open(cfg_file(home)) as f:
            saved = f.read()
        expect(f"malformed file {bad!r} ignored", (code, body(out), saved.startswith("Zyl [")),
               (0, "[]\n", True))

    # twenty consoles quitting together leave one whole file and no temporary
    write_cfg(home, HEADER + "history: []\n")
    env = dict(os.environ, HOME=home)
    procs = [subprocess.Popen([ZYL], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env=env, cwd=home) for _ in range(20)]
    for i, p in enumerate(procs):
        p.stdin.write(f'insert system/console/history "line {i} {"x" * 2000}"\n'.encode())
        p.stdin.flush()
    for p in procs:
        p.stdin.close()
    for p in procs:
        p.wait(timeout=120)
    # (a console that started after another had quit holds that one's line as well)
    _, out, _ = run([], "h: system/console/history print all [1 <= length? h 20 >= length? h"
                        " 2000 < length? first h]\n", home)
    left = os.listdir(os.path.dirname(cfg_file(home)))
    expect("concurrent saves", (body(out), left), ("true\n", ["console-cfg.zyl"]))


def unwritable(home):
    # a settings folder that cannot be made (HOME is a file: permissions do not stop root):
    # the console starts, quits with 0 and says why
    blocker = os.path.join(home, "file")
    with open(blocker, "w") as f:
        f.write("x")
    code, out, err = run([], "print 1 + 1\nq\n", blocker, cwd=home)
    code2, _, _ = run([], "print 2\n", blocker, cwd=home)
    expect("unwritable settings folder", (code, body(out), "settings folder" in err, code2), (0, "2\n", True, 0))


def command_line(home):
    folder = os.path.join(home, "scripts")
    os.makedirs(folder)

    def script(name, text):
        with open(os.path.join(folder, name), "w") as f:
            f.write(text)
        return os.path.join(folder, name)

    s = script("s.zyl", 'Zyl [] print mold system/options/args print mold system/script/args\n')
    code, out, _ = run(["--catch", s, "a", "b c"], "print 42\n", home)
    expect("--catch with arguments: no banner, the prompt after",
           (code, out.replace("\r", "")), (0, '["a" "b c"]\n{a "b c"}\n42\n'))

    odd = script("--odd", 'Zyl [] print "odd ran"\n')
    code, out, _ = run(["--", "--odd"], "", folder)
    expect("-- before a name that starts with --", (code, out), (0, "odd ran\n"))

    c = script("comment.zyl", '; a comment\nprint "not run"\nZyl [Title: "c"] print "ran"\n')
    expect("header after a comment", run([c], "", home)[:2], (0, "ran\n"))

    cases = [
        ("no header", "zyl [] print 1\n", 1, "*** Error: Zyl header not found!\n"),
        ("systems code refused", "Zyl/System [] print 1\n", 1,
         "*** Error: contains Zyl/System code which requires compilation!\n"),
        ("a script's error", 'Zyl [] print "a" 1 / 0 print "b"\n', 254,
         "a\n*** Math Error: division by zero\n*** Where: /\n*** Near : 1 / 0 print \"b\"\n"),
        ("quit/return", "Zyl [] quit/return 3\n", 3, ""),
        ("halt", 'Zyl [] halt print "b"\n', 0, "(halted)\n"),
    ]
    for name, text, status, output in cases:
        path = script("case.zyl", text)
        code, out, _ = run([path], "", home)
        expect(name, (code, "\n".join(l.rstrip(" ") for l in out.split("\n"))), (status, output))

    where = script("where.zyl", "Zyl [] print mold what-dir\n")
    code, out, _ = run([where], "", home, cwd=home)
    expect("the script's folder becomes the current one", out, "%" + folder + "/\n")

    # The script's directives act from its own folder: an include runs there, a binary is read.
    script("inc.zyl", 'Zyl [] x: 42\n')
    with open(os.path.join(folder, "data.bin"), "wb") as f:
        f.write(b"\x01\x02")
    inc = script("directives.zyl", "Zyl [] #include %inc.zyl print x print mold #include-binary %data.bin\n")
    expect("#include and #include-binary in a command-line script", run([inc], "", home)[:2],
           (0, "42\n#{0102}\n"))

    code, out, _ = run([folder], "", home)
    expect("a folder as the script: reported, status 1", (code, out.startswith("*** Access Error")), (1, True))


def main():
    for test in (settings, unwritable, command_line):
        home = tempfile.mkdtemp(prefix="zyl-home-")
        try:
            test(home)
        finally:
            os.chmod(home, stat.S_IRWXU)
            shutil.rmtree(home, ignore_errors=True)
    for f in failures:
        print(f)
    sys.exit(1 if failures else 0)


main()
