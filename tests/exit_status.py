#!/usr/bin/env python3
# tests/exit_status.py: runs `zyl` on small inputs in child processes and checks how the
# process ends: its exit status and what it printed before.
#
#   exit_status.py ZYL
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
    ("with a console, quit saves the settings first",
     'system: context [console: true] ()\n_save-cfg: does [print "saved"] ()\nquit/return 4\n',
     4, "saved\n"),
    ("a settings save that raises does not keep quit from ending",
     'system: context [console: true] ()\n_save-cfg: does [1 / 0] ()\nquit\nprint 1\n', 0, ""),
    ("a settings save that throws does not keep quit from ending",
     'system: context [console: true] ()\n_save-cfg: does [throw 1] ()\nquit/return 2\n', 2, ""),
]


def main():
    zyl = sys.argv[1]
    failed = 0
    for name, text, status, output in CASES:
        p = subprocess.run([zyl], input=text.encode(), stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=60)
        got = p.stdout.decode("utf-8", "replace")
        if p.returncode != status or got != output:
            failed += 1
            print(f"{name}: status {p.returncode} (expected {status}), output {got!r} "
                  f"(expected {output!r})")
    sys.exit(1 if failed else 0)


main()
