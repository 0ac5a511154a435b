#!/usr/bin/env python3
# tests/process_driver.py: call, browse and the clipboard where the surroundings matter, each
# case in a child `zyl` run from a temporary folder: large transfers both ways, the descriptors
# a child inherits, zombies, stub desktop tools found on PATH, and OSC 52 seen through a
# pseudo-terminal.
#
#   process_driver.py ZYL
import base64
import atexit
import os
import shutil
import pty
import select
import stat
import subprocess
import sys
import tempfile
import time

ZYL = os.path.abspath(sys.argv[1])
failures = []


HOME = tempfile.mkdtemp(prefix="zyl-home-")  # the console keeps its settings here
atexit.register(shutil.rmtree, HOME, True)


def base_env(**extra):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["HOME"] = HOME
    env.update(extra)
    return env


def console_output(text):
    """What the console printed after its banner (two lines and an empty one), with the
    blanks at line ends and the empty line after each error report left out: the
    transcripts check those."""
    lines = text.split("\n")
    if len(lines) >= 3 and lines[0].startswith("--== Zyl "):
        lines = lines[3:]
    lines = [l.rstrip(" ") for l in lines]
    kept = [l for i, l in enumerate(lines) if not (l == "" and i > 0 and lines[i - 1].startswith("*** "))]
    return "\n".join(kept)


def run(source, env=None, cwd=None, timeout=120, **kw):
    p = subprocess.run([ZYL], input=source.encode(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       env=env or base_env(), cwd=cwd, timeout=timeout, **kw)
    return console_output(p.stdout.decode("utf-8", "replace"))


def expect(name, got, wanted):
    if got != wanted:
        failures.append(f"{name}:\n  expected {wanted!r}\n  got      {got!r}")


def script(path, text):
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)


# {== Processes

def large_transfers(folder):
    # The child writes 8 MB to each output, interleaved, before it reads its 8 MB of input:
    # a parent that fed the input first, or drained one output first, would wait forever.
    with open(os.path.join(folder, "in.bin"), "wb") as f:
        f.write(b"i" * (8 << 20))
    child = ("import os,sys\n"
             "for _ in range(128):\n"
             "    os.write(1, b'o' * 65536); os.write(2, b'e' * 65536)\n"
             "d = sys.stdin.buffer.read()\n"
             "os.write(1, str(len(d)).encode())\n")
    script(os.path.join(folder, "child.py"), child)
    got = run(f'o: copy #{{}} e: copy #{{}} call/input/output/error "{sys.executable} child.py" '
              'read/binary %in.bin o e\n'
              'print [length? o length? e to string! skip tail o -7]\n'
              # Ten megabytes to a child that reads none of them: the rest is dropped.
              'print call/input "true" read/binary %in.bin\n'
              'print call/input "true" append read/binary %in.bin read/binary %in.bin\n', cwd=folder)
    expect("8 MB each way, interleaved", got, "== 0\n8388615 8388608 8388608\n0\n0\n")


def inherited_descriptors(folder):
    # zyl itself gets an extra descriptor that is not close-on-exec; the child must not.
    r, w = os.pipe()
    os.set_inheritable(w, True)
    try:
        got = run('o: copy "" call/output "ls -l /proc/self/fd" o print o\n', cwd=folder, pass_fds=(w,))
    finally:
        os.close(r)
        os.close(w)
    fds = {}
    for line in got.splitlines():
        parts = line.split()
        if len(parts) >= 3 and parts[-2] == "->":
            fds[int(parts[-3])] = parts[-1]
    # ls lists its own reading of the folder as one more descriptor.
    extra = {n: t for n, t in fds.items() if n > 2 and not t.startswith("/proc/")}
    expect("the child has only 0-2 of ours", (sorted(n for n in fds if n <= 2), extra), ([0, 1, 2], {}))


def no_zombies(folder):
    p = subprocess.Popen([ZYL], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=base_env(), cwd=folder)
    p.stdin.write(b'loop 100 [call "true"] wait 0.5 call/wait "true" print "ready" wait 5\n')
    p.stdin.close()
    try:
        for _ in range(3):  # the banner
            p.stdout.readline()
        line = p.stdout.readline()
        zombies = 0
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[1]) == p.pid and fields[0] == "Z":
                zombies += 1
        expect("unwaited children are reaped", (line, zombies), (b"ready\n", 0))
    finally:
        p.kill()
        p.wait()


# }==
# {== browse

def browse(folder):
    bin_dir = os.path.join(folder, "bin")
    os.mkdir(bin_dir)
    log = os.path.join(folder, "opened.txt")
    script(os.path.join(bin_dir, "xdg-open"), f'#!/bin/sh\nprintf "%s|%s\\n" "$#" "$1" >> "{log}"\n')
    env = base_env(DISPLAY=":99", PATH=bin_dir + ":" + os.environ["PATH"])
    got = run('browse http://example.com/a?b=1\nbrowse %"x y.txt"\n', env=env, cwd=folder)
    lines = []
    for _ in range(100):  # the opener runs detached: wait for both
        if os.path.exists(log):
            with open(log) as f:
                lines = f.read().splitlines()
            if len(lines) == 2:
                break
        time.sleep(0.05)
    expect("browse runs the opener with one argument", (got, sorted(lines)),
           ("", sorted(["1|http://example.com/a?b=1", f"1|{os.path.realpath(folder)}/x y.txt"])))
    no_opener = base_env(DISPLAY=":99", PATH=os.path.join(folder, "nothing"))
    expect("browse without an opener", run('browse http://example.com\n', env=no_opener, cwd=folder),
           "*** Internal Error: browse is not available on this system\n*** Where: browse\n"
           "*** Near : browse http://example.com\n")


# }==
# {== The clipboard

def own_clipboard(folder):
    got = run('read-clipboard\n'
              'write-clipboard "héllo" read-clipboard\n'
              'write-clipboard [%a.txt %"b c"] read-clipboard\n'
              'write-clipboard i: make image! [2x1 #{FF000000FF00}] i = read-clipboard\n'
              'write-clipboard none read-clipboard\n'
              'write-clipboard "x" write-clipboard make image! 0x0 read-clipboard\n'
              'write-clipboard [1]\n'
              'write-clipboard [%a 1]\n'
              'read-clipboard\n', cwd=folder)
    here = os.path.realpath(folder)
    expect("the process's own clipboard", got,
           "== none\n"
           '== "héllo"\n'
           f'== [%{here}/a.txt %"{here}/b c"]\n'
           "== true\n"
           "== none\n"
           "== none\n"
           "*** Script Error: invalid argument: 1\n*** Where: write-clipboard\n*** Near : write-clipboard [1]\n"
           "*** Script Error: invalid argument: 1\n*** Where: write-clipboard\n*** Near : write-clipboard [%a 1]\n"
           "== none\n")


def osc52(folder):
    master, slave = pty.openpty()
    p = subprocess.Popen([ZYL], stdin=subprocess.PIPE, stdout=slave, stderr=slave, env=base_env(), cwd=folder)
    os.close(slave)
    p.stdin.write('write-clipboard "héllo"\n'.encode())
    p.stdin.close()
    out = b""
    while True:
        ready, _, _ = select.select([master], [], [], 30)
        if not ready:
            break
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        out += chunk
    p.wait()
    os.close(master)
    seq = b"\x1b]52;c;" + base64.b64encode("héllo".encode()) + b"\x07"
    expect("OSC 52 on a terminal", seq in out, True)


# Stub desktop tools: each keeps the selection in files of $SEL (one a type, and "types" listing
# them in order) and logs its arguments.
WL_COPY = r'''#!/bin/sh
echo "wl-copy $*" >> "$SEL/log"
[ -n "$HANG" ] && sleep 10
rm -f "$SEL"/t-* "$SEL/types"
[ "$1" = "--clear" ] && exit 0
f="$SEL/t-$(printf %s "$2" | tr '/;=' '___')"
cat > "$f"
echo "$2" > "$SEL/types"
'''
WL_PASTE = r'''#!/bin/sh
echo "wl-paste $*" >> "$SEL/log"
[ -n "$HANG" ] && sleep 10
[ -f "$SEL/types" ] || exit 1
if [ "$1" = "--list-types" ]; then cat "$SEL/types"; exit 0; fi
f="$SEL/t-$(printf %s "$3" | tr '/;=' '___')"
[ -f "$f" ] && cat "$f"
'''
XCLIP = r'''#!/bin/sh
echo "xclip $*" >> "$SEL/log"
t="$5"
if [ "$3" = "-i" ]; then
  rm -f "$SEL"/t-* "$SEL/types"
  cat > "$SEL/t-$(printf %s "$t" | tr '/;=' '___')"
  echo "$t" > "$SEL/types"
  exit 0
fi
[ -f "$SEL/types" ] || exit 1
if [ "$t" = "TARGETS" ]; then cat "$SEL/types"; exit 0; fi
f="$SEL/t-$(printf %s "$t" | tr '/;=' '___')"
[ -f "$f" ] && cat "$f"
'''


def desktop_clipboard(folder):
    bin_dir = os.path.join(folder, "bin")
    sel = os.path.join(folder, "sel")
    os.makedirs(bin_dir, exist_ok=True)
    os.mkdir(sel)
    for name, text in (("wl-copy", WL_COPY), ("wl-paste", WL_PASTE), ("xclip", XCLIP)):
        script(os.path.join(bin_dir, name), text)
    path = bin_dir + ":" + os.environ["PATH"]
    here = os.path.realpath(folder)

    def log():
        with open(os.path.join(sel, "log")) as f:
            text = f.read()
        os.unlink(os.path.join(sel, "log"))
        return text

    wayland = base_env(WAYLAND_DISPLAY="w", PATH=path, SEL=sel)
    got = run('write-clipboard "héllo" read-clipboard\n', env=wayland, cwd=folder)
    expect("wayland: text", (got, log()), ('== "héllo"\n',
           "wl-copy --type text/plain;charset=utf-8\nwl-paste --list-types\n"
           "wl-paste --no-newline --type text/plain;charset=utf-8\n"))
    got = run('write-clipboard [%"a b"] read-clipboard\n', env=wayland, cwd=folder)
    with open(os.path.join(sel, "t-text_uri-list"), newline="") as f:
        uris = f.read()
    expect("wayland: files", (got, uris), (f'== [%"{here}/a b"]\n', f"file://{here}/a%20b\r\n"))
    log()
    got = run('write-clipboard make image! [1x1 #{0102FF}] read-clipboard\nwrite-clipboard none\n',
              env=wayland, cwd=folder)
    expect("wayland: image as PNG, then emptied", (got, log().splitlines()[-1]),
           ("== make image! [1x1 #{0102FF}]\n== true\n", "wl-copy --clear"))

    # What is offered first wins in the order text, files, PNG.
    def offer(types):
        with open(os.path.join(sel, "types"), "w") as f:
            f.write("".join(t + "\n" for t in types))
        for t in types:
            with open(os.path.join(sel, "t-" + t.replace("/", "_").replace(";", "_").replace("=", "_")), "w") as f:
                f.write({"text/uri-list": "# a comment\r\nfile:///tmp/x\r\nhttp://h/y\r\n"}.get(t, "txt"))

    offer(["image/png", "text/uri-list"])
    got = run("read-clipboard\n", env=wayland, cwd=folder)
    offer(["image/png", "text/uri-list", "text/plain;charset=utf-8"])
    got += run("read-clipboard\n", env=wayland, cwd=folder)
    expect("wayland: files before images, text before files", got, '== [%/tmp/x]\n== "txt"\n')
    log()

    hanging = dict(wayland, HANG="1")
    start = time.monotonic()
    got = run("read-clipboard\nwrite-clipboard {x}\n", env=hanging, cwd=folder)
    expect("a hanging tool gives false", (got, time.monotonic() - start < 8), ("== false\n== false\n", True))
    log()

    x11 = base_env(DISPLAY=":1", PATH=path, SEL=sel)
    got = run('write-clipboard "x11" read-clipboard\n', env=x11, cwd=folder)
    expect("x11: text through xclip", (got, log()), ('== "x11"\n',
           "xclip -selection clipboard -i -t text/plain;charset=utf-8\n"
           "xclip -selection clipboard -o -t TARGETS\n"
           "xclip -selection clipboard -o -t text/plain;charset=utf-8\n"))


# }==


def main():
    for case in (large_transfers, inherited_descriptors, no_zombies, browse, own_clipboard, osc52,
                 desktop_clipboard):
        with tempfile.TemporaryDirectory(prefix="zyl-test-") as folder:
            try:
                case(folder)
            except Exception as e:  # a case that breaks must not hide the others
                failures.append(f"{case.__name__}: {type(e).__name__}: {e}")
    for f in failures:
        print(f)
    sys.exit(1 if failures else 0)


main()
