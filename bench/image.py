#!/usr/bin/env python3
# bench/image.py: the image codecs beside their peers on the 2048x2048 PNG of bench/image_bench.cpp:
# python's zlib inflating and deflating that PNG's IDAT data at zlib's default level (the floor
# for our PNG decode and encode), and ImageMagick turning the PNG into a PNG (slower than our
# decode plus encode, or we are doing something wrong).
#   image.py ZYL_BENCH    ZYL_BENCH is the benchmark program
import json
import os
import struct
import subprocess
import sys
import tempfile
import time
import zlib


def best(fn, runs=5):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times) * 1000


def main():
    bench = sys.argv[1]
    with tempfile.TemporaryDirectory() as d:
        png = os.path.join(d, "sample.png")
        out = subprocess.run([bench, "--benchmark_filter=BM_Image", "--benchmark_format=json"],
                             env=dict(os.environ, ZYL_BENCH_IMAGE_OUT=png), check=True, capture_output=True).stdout
        ours = {b["name"]: b["real_time"] for b in json.loads(out)["benchmarks"] if b["time_unit"] == "ms"}
        data = open(png, "rb").read()
        pos, idat = 8, b""
        while pos < len(data):
            n, kind = struct.unpack(">I4s", data[pos:pos + 8])
            if kind == b"IDAT":
                idat += data[pos + 8:pos + 8 + n]
            pos += 12 + n
        raw = zlib.decompress(idat)
        inflate = best(lambda: zlib.decompress(idat))
        deflate = best(lambda: zlib.compress(raw, 6))
        im = best(lambda: subprocess.run(["convert-im6.q16", png, os.path.join(d, "again.png")], check=True), 3)
    dec, enc = ours["BM_ImagePngDecode"], ours["BM_ImagePngEncode"]
    print(f"{'2048x2048 PNG':28} {'ms':>9} {'peer ms':>9} {'ratio':>7}")
    print(f"{'decode vs zlib inflate':28} {dec:9.1f} {inflate:9.1f} {dec / inflate:7.2f}")
    print(f"{'encode vs zlib deflate':28} {enc:9.1f} {deflate:9.1f} {enc / deflate:7.2f}")
    print(f"{'decode+encode vs convert':28} {dec + enc:9.1f} {im:9.1f} {(dec + enc) / im:7.2f}")
    print(f"{'BMP decode':28} {ours['BM_ImageBmpDecode']:9.1f}")
    print(f"{'JPEG decode':28} {ours['BM_ImageJpegDecode']:9.1f}")


if __name__ == "__main__":
    main()
