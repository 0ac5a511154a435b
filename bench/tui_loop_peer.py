#!/usr/bin/env python3
# bench/tui_loop_peer.py: the peer of bench/tui_loop.zyl under bench/tui_loop.py: the same
# window in curses (50 fields on 200x60, each key through 8 handler functions twice, the whole
# window redrawn), or a 10 ms and a 500 ms timer on asyncio's call_at for 10 s.
import asyncio
import curses
import sys
import time


def keys(scr):
    curses.raw()
    scr.keypad(True)
    fields = ["" for _ in range(50)]
    handlers = [lambda f, k: k == 27 for _ in range(8)]
    focus = 0

    def redraw():
        scr.erase()
        for i, t in enumerate(fields):
            scr.addstr((i // 5) * 2, 1 + (i % 5) * 40, t[-38:].ljust(38))
        scr.move(0, 1 + len(fields[focus][-38:]))
        scr.refresh()

    redraw()
    while True:
        k = scr.getch()
        stop = False
        for _ in range(2):
            for h in handlers:
                stop = h(focus, k) or stop
        if stop:
            return
        if 32 <= k < 127:
            fields[focus] += chr(k)
        redraw()


async def timers():
    loop = asyncio.get_running_loop()
    counts = [0, 0]
    late = []
    end = loop.time() + 10
    done = loop.create_future()

    def tick(i, due, interval):
        now = loop.time()
        late.append(now - due)
        counts[i] += 1
        nxt = due + interval
        if nxt - now < 0:
            nxt = now + interval
        if now >= end:
            if not done.done():
                done.set_result(None)
            return
        loop.call_at(nxt, tick, i, nxt, interval)

    start = loop.time()
    loop.call_at(start + 0.01, tick, 0, start + 0.01, 0.01)
    loop.call_at(start + 0.5, tick, 1, start + 0.5, 0.5)
    await done
    late.sort()
    print("counts: %d %d p99-late %.3f ms" % (counts[0], counts[1], late[int(len(late) * 0.99) - 1] * 1000))


if __name__ == "__main__":
    if sys.argv[1:] == ["timers"]:
        asyncio.run(timers())
    else:
        curses.wrapper(keys)
