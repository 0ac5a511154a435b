#!/usr/bin/env python3
# bench/tui_decode.py: CPython's incremental UTF-8 decoder on the 1 MB of mixed terminal input
# that bench/tui_paint_bench.cpp's BM_TuiDecodeMixed decodes, in 64 KB reads; prints MB/s.
import codecs
import time

PIECE = ("The quick brown fox jumps over the lazy dog. été 中文 😀 "
         "\x1b[A\x1b[1;5C\x1b[<0;120;45M\x1b[<0;120;45m\r").encode()


def main():
    data = b""
    while len(data) < (1 << 20):
        data += PIECE
    chunks = [data[i:i + 65536] for i in range(0, len(data), 65536)]
    best = None
    for _ in range(50):
        dec = codecs.getincrementaldecoder("utf-8")()
        start = time.perf_counter()
        for c in chunks:
            dec.decode(c)
        took = time.perf_counter() - start
        best = took if best is None else min(best, took)
    print("CPython incremental UTF-8 decoder: %.1f MB/s (%.3f ms per MB)" % (len(data) / best / 1e6, best * 1e3))


if __name__ == "__main__":
    main()
