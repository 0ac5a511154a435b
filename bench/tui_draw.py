# bench/tui_draw.py: the peer of BM_TuiDrawCommands: the same 10,000 draw commands, each checked
# and run through a table of Python functions onto a 200x60 list-of-lists grid.
import time

W, H = 200, 60


def line(g, st, a, b):
    (x0, y0), (x1, y1) = a, b
    dx, dy = abs(x1 - x0), -abs(y1 - y0)
    sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
    err = dx + dy
    while True:
        if 0 <= x0 < W and 0 <= y0 < H:
            g[y0][x0] = ("\u2588", st["pen"])
        if x0 == x1 and y0 == y1:
            break
        e2 = 2 * err
        if e2 >= dy:
            err += dy
            x0 += sx
        if e2 <= dx:
            err += dx
            y0 += sy


def box(g, st, a, b):
    (x0, y0), (x1, y1) = a, b
    for y in range(max(y0, 0), min(y1, H - 1) + 1):
        for x in range(max(x0, 0), min(x1, W - 1) + 1):
            edge = y in (y0, y1) or x in (x0, x1)
            g[y][x] = ("\u2500", st["pen"]) if edge else (" ", st["fill"])


def circle(g, st, c, r):
    cx, cy = c
    for dy in range(-r, r + 1):
        half = int(2 * r * (1 - (dy / r) ** 2) ** 0.5 + 0.5)
        y = cy + dy
        if 0 <= y < H:
            for x in (cx - half, cx + half):
                if 0 <= x < W:
                    g[y][x] = ("\u2588", st["pen"])


def triangle(g, st, a, b, c):
    pts = sorted([a, b, c], key=lambda p: p[1])
    (x0, y0), (x1, y1), (x2, y2) = pts
    for y in range(max(y0, 0), min(y2, H - 1) + 1):
        xa = x0 + (x2 - x0) * (y - y0) / ((y2 - y0) or 1)
        xb = (x0 + (x1 - x0) * (y - y0) / ((y1 - y0) or 1)) if y < y1 else (x1 + (x2 - x1) * (y - y1) / ((y2 - y1) or 1))
        for x in range(max(int(min(xa, xb)), 0), min(int(max(xa, xb)), W - 1) + 1):
            g[y][x] = (" ", st["fill"])


def text(g, st, p, s):
    x, y = p
    for ch in s:
        if 0 <= x < W and 0 <= y < H:
            g[y][x] = (ch, st["pen"])
        x += 1


def pen(g, st, c):
    st["pen"] = c


def fill_pen(g, st, c):
    st["fill"] = c


def line_width(g, st, n):
    pass


def rotate(g, st, n, blk):
    run(g, st, blk)


TABLE = {"pen": (pen, (tuple,)), "fill-pen": (fill_pen, (tuple,)), "line": (line, (tuple, tuple)),
         "box": (box, (tuple, tuple)), "circle": (circle, (tuple, int)),
         "triangle": (triangle, (tuple, tuple, tuple)), "text": (text, (tuple, str)),
         "line-width": (line_width, (int,)), "rotate": (rotate, (int, list))}


def run(g, st, cmds):
    i = 0
    while i < len(cmds):
        fn, kinds = TABLE[cmds[i]]
        args = cmds[i + 1:i + 1 + len(kinds)]
        for a, k in zip(args, kinds):
            if not isinstance(a, k):
                raise ValueError(i)
        fn(g, st, *args)
        i += 1 + len(kinds)


UNIT = ["pen", (255, 0, 0), "line", (3, 4), (150, 50), "fill-pen", (0, 0, 255), "box", (10, 10), (40, 20),
        "circle", (100, 30), 10, "triangle", (5, 5), (60, 40), (10, 50), "text", (2, 2), "hello",
        "line-width", 2, "rotate", 30, ["box", (1, 1), (5, 5)]]
CMDS = UNIT * 1250

best = None
for _ in range(5):
    g = [[(" ", None)] * W for _ in range(H)]
    t = time.perf_counter()
    run(g, {"pen": None, "fill": None}, CMDS)
    t = time.perf_counter() - t
    best = t if best is None else min(best, t)
print(f"python draw commands (10,000): {best * 1000:.2f} ms")
