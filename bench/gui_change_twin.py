# bench/gui_change_twin.py: the twin of gui_change.zyl, named apart so that the scripts table
# (whose rows must answer alike) leaves it out: faces as Python objects whose __setattr__ hook
# marks the changed field and, with auto-sync on, shows the face at once; show walks a
# window's tree and sends the changed faces to a recording backend in one update.
import os
import time

FIELDS = ["type", "offset", "size", "text", "image", "color", "menu", "data", "enabled", "visible",
          "selected", "flags", "options", "parent", "pane", "state", "rate", "edge", "para", "font",
          "actors", "extra", "draw"]
BIT = {name: 1 << i for i, name in enumerate(FIELDS)}
calls = []
relations = []
auto_sync = True


class Face:
    def __init__(self, **fields):
        for name in FIELDS:
            object.__setattr__(self, name, None)
        for name, value in fields.items():
            object.__setattr__(self, name, value)

    def __setattr__(self, word, new):
        old = getattr(self, word)
        object.__setattr__(self, word, new)
        if word in ("state", "extra"):
            return
        if word in ("size", "offset") and old == new:
            return
        for i in range(0, len(relations), 3):
            if relations[i] is self and relations[i + 1] == word:
                relations[i + 2]()
        state = self.state
        if state is not None:
            state[1] |= BIT[word]
            if state[0] is not None and auto_sync:
                show(self)


changed = []


def show(face, parent=None, nested=False):
    group = nested or face.pane is not None
    if group and not nested:
        if changed:
            calls.append(("update-view", list(changed)))
        changed.clear()
    state = face.state
    if state is not None and state[0] is not None:
        if state[2]:
            state[2] = []
        if state[1]:
            if group and face.type != "screen":
                changed.append(face)
            else:
                calls.append(("update-view", face))
                state[1] = 0
    else:
        object.__setattr__(face, "parent", parent)
        object.__setattr__(face, "state", [object(), 0, None, False])
        calls.append(("make-view", face))
    if face.pane is not None:
        for f in face.pane:
            if not isinstance(f, Face):
                raise TypeError(f)
            s = f.state
            if s is None or s[0] is None or s[1] or s[2] or f.pane is not None:
                show(f, face, True)
        if not nested:
            if changed:
                calls.append(("update-view", list(changed)))
                for f in changed:
                    f.state[1] = 0
            changed.clear()
            calls.append(("refresh-window", face))
    return True


def window_of(panels, fields):
    win = Face(type="window", size=(80, 24),
               pane=[Face(type="panel", pane=[Face(type="field") for _ in range(fields)])
                     for _ in range(panels)])
    show(win)
    calls.clear()
    return win


def micros(seconds, n):
    return round(seconds * 1e6 / n, 2)


def main():
    global auto_sync
    scale = float(os.environ.get("BENCH_SCALE", "1"))
    texts = ["abc", "abd"]
    for name, panels, fields in (("big", 10, 100), ("small", 2, 5)):
        win = window_of(panels, fields)
        f = win.pane[1].pane[-1]
        n = int(20000 * scale)
        t = time.perf_counter()
        for i in range(1, n + 1):
            f.text = texts[i & 1]
            if i & 1023 == 0:
                calls.clear()
        print(f"assign-{name}", micros(time.perf_counter() - t, n))
        auto_sync = False
        n = int((500 if name == "big" else 20000) * scale)
        t = time.perf_counter()
        for i in range(1, n + 1):
            f.text = texts[i & 1]
            show(win)
            if i & 1023 == 0:
                calls.clear()
        print(f"show-{name}", micros(time.perf_counter() - t, n))
        auto_sync = True


if __name__ == "__main__":
    main()
