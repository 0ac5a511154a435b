# bench/gui_events.py: the twin of gui_events.zyl: key events dispatched through a list of eight
# global handlers (each run under a guard), a capture phase up the parent chain and the face's
# actor, bubbling to the parent; then the text of a 10,000-row text list without the focus.
import os
import time

EVT_NAMES = {t: "on-" + t for t in ("down", "up", "click", "over", "key", "key-down", "key-up",
                                    "focus", "unfocus", "change", "enter", "close", "select")}
DEBUG = False
CAPTURING = False


class Face:
    def __init__(self, type, parent=None, actors=None):
        self.type, self.parent, self.actors = type, parent, actors
        self.options = self.flags = self.state = self.data = self.text = None
        self.selected = None


class Event:
    def __init__(self, type, face, key):
        self.type, self.face, self.key = type, face, key
        self.flags, self.offset = [], (0, 0)


def esc(face, ev):
    if ev.type == "key" and ev.key == "\x1b":
        return "stop"
    return None


def tab(face, ev):
    if not (ev.type == "key-down" and ev.key == "\t"):
        return ev
    return "stop"


def field_sync(face, ev):
    if ev.type == "change" and face.type == "field":
        face.data = face.text
    return None


FACETS = {"scroller": "data", "slider": "data", "check": "data", "radio": "data",
          "field": "text", "area": "text", "text-list": "selected"}


def reactors(face, ev):
    facet = None
    if ev.type in ("change", "enter", "unfocus"):
        facet = FACETS.get(face.type)
    elif ev.type == "select" and face.type in ("field", "area"):
        facet = "selected"
    if face.type == "window" and ev.type in ("move", "moving", "resize", "resizing"):
        facet = "offset"
    return None


def radio(face, ev):
    if ev.type == "click" and face.type == "radio":
        ev.type = "change"
    return ev


def enter(face, ev):
    if ev.type == "key" and ev.key in ("\r", "\n"):
        if face.type in ("field", "drop-down"):
            ev.type = "enter"
    return ev


def debug(face, ev):
    if DEBUG:
        print("face> type:", face.type)
    return None


def dragging(face, ev):
    if not (isinstance(face.options, dict) and "drag-on" in face.options):
        return None
    return None


HANDLERS = [("esc", esc), ("tab", tab), ("field-sync", field_sync), ("reactors", reactors),
            ("radio", radio), ("enter", enter), ("debug", debug), ("dragging", dragging)]


def do_safe(fn, *args):
    try:
        return fn(*args)
    except Exception as e:
        print(e)
        return None


def do_actor(face, ev, type):
    if face.actors is None:
        return None
    act = face.actors.get(EVT_NAMES.get(type))
    if not act:
        return None
    return do_safe(act, face, ev)


def capture(face, ev):
    if face.parent is not None:
        r = capture(face.parent, ev)
        if r in ("stop", "done"):
            return r
    if CAPTURING:
        return do_actor(face, ev, "detect")
    return None


def awake(ev, face=None):
    if face is None:
        face = ev.face
        if face is None:
            return None
        for _, h in HANDLERS:
            r = do_safe(h, face, ev)
            if isinstance(r, Event):
                ev = r
            elif r:
                return r
        r = capture(face, ev)
        if r in ("stop", "done"):
            return r
    r = do_actor(face, ev, ev.type)
    if face.parent is not None and r not in ("done", "continue"):
        if awake(ev, face.parent) == "stop":
            return "stop"
    return r


def text_list(data, selected, head):
    out = []
    for i, entry in enumerate(data[head:], head + 1):
        out.append("\x1b[7m" + entry + "\n\x1b[27m" if i == selected else entry + "\n")
    return "".join(out)


def run(events, lists):
    calls = [0]

    def on_key(face, ev):
        calls[0] += 1
        return None

    screen = Face("screen")
    win = Face("window", screen)
    panel = Face("panel", win)
    field = Face("field", panel, {"on-key": on_key})
    t = time.perf_counter()
    for _ in range(events):
        awake(Event("key", field, "a"))
    per_event = (time.perf_counter() - t) / events * 1e6
    items = ["entry %d" % i for i in range(1, 10001)]
    t = time.perf_counter()
    for _ in range(lists):
        text = text_list(items, -1, 0)
    per_list = (time.perf_counter() - t) / lists * 1e3
    print("key event through awake: %.1f us" % per_event)
    print("text list of 10,000 rows: %.2f ms" % per_list)
    print(calls[0], len(text))


if __name__ == "__main__":
    scale = float(os.environ.get("BENCH_SCALE", "1"))
    run(int(20000 * scale), int(40 * scale))
