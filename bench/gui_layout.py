# bench/gui_layout.py: the twin of gui_layout.zyl: the same layout over dict faces: a deep
# copy of the style's template, an option scan, placement in rows with a moving cursor, the
# alignment pass over each finished row and sizes from the text's width plus paddings.
import copy
import os

STYLES = {
    "text": {"type": "text", "size": (10, 1)},
    "field": {"type": "field", "size": (10, 1), "flags": "focusable"},
    "button": {"type": "button", "size": (5, 1), "flags": "focusable"},
    "check": {"type": "check", "size": (5, 1), "flags": "focusable"},
    "panel": {"type": "panel", "size": (80, 24)},
}
PADDINGS = {"check": ((2, 0), (0, 0)), "radio": ((2, 0), (0, 0))}
ORIGIN, SPACING = (1, 1), (1, 1)


def text_size(s):
    return (len(s), 1)


def fetch_options(face, spec, i):
    opts = {"size": None, "text": None}
    while i + 1 < len(spec):
        v = spec[i + 1]
        if isinstance(v, str) and v.startswith(":"):
            break
        if isinstance(v, str) and opts["text"] is None:
            opts["text"] = v
        else:
            break
        i += 1
    for k, v in opts.items():
        if v is not None:
            face[k] = v
    pad = PADDINGS.get(face["type"])
    pad = (pad[0][0] + pad[0][1], pad[1][0] + pad[1][1]) if pad else (0, 0)
    sz = face["size"]
    cs = text_size(face["text"]) if face.get("text") is not None else sz
    need = (pad[0] + cs[0], pad[1] + cs[1])
    face["size"] = (max(sz[0], need[0]), max(sz[1], need[1]))
    return i


def align(row, max_sz):
    for f in row:
        off = 0  # top alignment: no move
        if off:
            f["offset"] = (f["offset"][0], f["offset"][1] + off)


def layout(spec):
    faces, row = [], []
    cursor, bound, max_sz, pane = ORIGIN, ORIGIN, 0, (0, 0)
    i = 0
    while i < len(spec):
        v = spec[i]
        if v == ":return":
            bound = (max(bound[0], cursor[0]), max(bound[1], cursor[1]))
            if max_sz == 0:
                max_sz = SPACING[1]
                cursor = (cursor[0], cursor[1] + max_sz)
            align(row, max_sz)
            row = []
            cursor = (ORIGIN[0], SPACING[1] + max(bound[1], cursor[1] + max_sz))
            max_sz = 0
        else:
            face = copy.deepcopy(STYLES[v[1:]])
            i = fetch_options(face, spec, i)
            face["options"] = {"style": v[1:], "vid-align": "top", "at-offset": None}
            if max_sz > 0 and cursor[0] != ORIGIN[0]:
                cursor = (cursor[0] + SPACING[0], cursor[1])
            max_sz = max(max_sz, face["size"][1])
            face["offset"] = cursor
            cursor = (cursor[0] + face["size"][0], cursor[1])
            faces.append(face)
            row.append(face)
            end = (face["offset"][0] + face["size"][0], face["offset"][1] + face["size"][1])
            pane = (max(pane[0], end[0]), max(pane[1], end[1]))
        i += 1
    align(row, max_sz)
    return faces, (pane[0] + ORIGIN[0], pane[1] + ORIGIN[1])


n = int(1000 * float(os.environ.get("BENCH_SCALE", "1")))
spec = []
for i in range(1, n + 1):
    k = (i - 1) % 4
    spec.append(":" + ["text", "field", "button", "check"][k])
    spec.append(["Label ", "value ", "Go ", "Option "][k] + str(i))
    if i % 10 == 0:
        spec.append(":return")
panel = copy.deepcopy(STYLES["panel"])
panel["pane"], panel["size"] = layout(spec)
print(len(panel["pane"]), "%dx%d" % panel["size"])
