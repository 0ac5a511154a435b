#!/usr/bin/env python3
# tests/exit_status.py: runs `zyl` on small inputs in child processes and checks how the
# process ends: its exit status and what it printed before; and what start-up takes from the
# environment.
#
#   exit_status.py ZYL
import os
import subprocess
import sys

# (name, input, exit status, output)
CASES = [
    ("quit/return gives its status; nothing after it runs",
     'print "before"\nquit/return 3\nprint "after"\n', 3, "before\n"),
    ("quit without /return gives 0",
     "quit\nprint 1\n", 0, ""),
    ("quit-return ends at once",
     "quit-return 5\nprint 1\n", 5, ""),
    ("quit-return keeps what was printed before, a partial line too",
     'print "one" prin "two"\nquit-return 3\nprint "after"\n', 3, "one\ntwo"),
    ("with a console, quit saves the settings first",
     'system: context [console: true] ()\n_save-cfg: does [print "saved"] ()\nquit/return 4\n',
     4, "saved\n"),
    ("a settings save that raises does not keep quit from ending",
     'system: context [console: true] ()\n_save-cfg: does [1 / 0] ()\nquit\nprint 1\n', 0, ""),
    ("a settings save that throws does not keep quit from ending",
     'system: context [console: true] ()\n_save-cfg: does [throw 1] ()\nquit/return 2\n', 2, ""),
]


# The per-user folder comes from HOME, else /tmp: (name, HOME or None, output).
CACHE_CASES = [
    ("the cache folder is in HOME", "/home/someone", "%/home/someone/.zyl/\n"),
    ("the cache folder without HOME", None, "%/tmp/.zyl/\n"),
]


def main():
    zyl = sys.argv[1]
    failed = 0
    cases = [(n, t, s, o, None) for n, t, s, o in CASES]
    for name, home, output in CACHE_CASES:
        env = {k: v for k, v in os.environ.items() if k != "HOME"}
        if home is not None:
            env["HOME"] = home
        cases.append((name, "probe system/options/cache ()\n", 0, output, env))
    cases.append(("the command line reaches system/options and system/script",
                  "probe system/options/args probe system/script/args ()\n", 0,
                  '["-" "a b" ""]\n{- "a b" ""}\n', None, ["-", "a b", ""]))
    for name, text, status, output, env, *args in cases:
        p = subprocess.run([zyl] + (args[0] if args else []), input=text.encode(), stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=60, env=env)
        got = p.stdout.decode("utf-8", "replace")
        if p.returncode != status or got != output:
            failed += 1
            print(f"{name}: status {p.returncode} (expected {status}), output {got!r} "
                  f"(expected {output!r})")
    sys.exit(1 if failed else 0)


main()
