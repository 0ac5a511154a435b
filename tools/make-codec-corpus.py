#!/usr/bin/env python3
"""Writes the seed corpora of the codec fuzz targets: tests/fuzz/inflate_corpus (a mode byte,
then a raw deflate, zlib or gzip stream) and tests/fuzz/compress_corpus (a level/method byte,
then data). Hand-made streams cover each block type, the farthest distance, the longest
length, corrupt variants and each gzip header flag; python's zlib adds real-world streams."""
import os
import random
import struct
import sys
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fuzz")
RAW, ZLIB, GZIP = 0x3C, 0x3D, 0x3E  # mode byte: method = byte % 3, capacity = (byte >> 2) KB


class Bits:
    def __init__(self):
        self.out, self.acc, self.n = bytearray(), 0, 0

    def put(self, value, count):  # fields: least significant bit first
        for i in range(count):
            self.acc |= ((value >> i) & 1) << self.n
            self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                self.acc, self.n = 0, 0
        return self

    def code(self, value, count):  # Huffman codes: most significant bit first
        for i in reversed(range(count)):
            self.put((value >> i) & 1, 1)
        return self

    def align(self):
        if self.n:
            self.put(0, 8 - self.n)
        return self

    def lit(self, s):  # the fixed code
        if s < 144:
            return self.code(0x30 + s, 8)
        if s < 256:
            return self.code(0x190 + s - 144, 9)
        if s < 280:
            return self.code(s - 256, 7)
        return self.code(0xC0 + s - 280, 8)

    def done(self):
        return bytes(self.align().out)


def stored(data, last=True, nlen=None):
    b = Bits().put(int(last), 1).put(0, 2).align()
    b.put(len(data), 16).put((~len(data) & 0xFFFF) if nlen is None else nlen, 16)
    return b.done() + data


def gzip_member(body, flags=0, extra=b"", name=b"", comment=b"", hcrc=False, text=None):
    raw = zlib.compressobj(6, zlib.DEFLATED, -15)
    stream = raw.compress(body) + raw.flush()
    head = bytearray([31, 139, 8, flags, 0, 0, 0, 0, 0, 3])
    if flags & 4:
        head += struct.pack("<H", len(extra)) + extra
    if flags & 8:
        head += name + b"\0"
    if flags & 16:
        head += comment + b"\0"
    if flags & 2:
        head += struct.pack("<H", zlib.crc32(bytes(head)) & 0xFFFF)
    return bytes(head) + stream + struct.pack("<II", zlib.crc32(body), len(body) & 0xFFFFFFFF)


def main():
    rnd = random.Random(38)
    text = b"".join(rnd.choice([b"deflate ", b"window ", b"match ", b"zyl ", b"block\n", b"of "]) for _ in range(900))
    seeds = {}
    # Each block type, by hand.
    seeds["stored"] = (RAW, stored(b"hello"))
    seeds["stored_bad_nlen"] = (RAW, stored(b"abc", nlen=0))
    seeds["stored_empty_then_fixed"] = (RAW, stored(b"", last=False) + Bits().put(1, 1).put(1, 2).lit(ord("a")).lit(256).done())
    far = Bits().put(1, 1).put(1, 2).lit(285).code(29, 5).put(8191, 13).lit(256).done()
    seeds["fixed_far_258"] = (RAW, stored(bytes(rnd.getrandbits(8) for _ in range(32768)), last=False) + far)
    seeds["fixed_overlap"] = (RAW, Bits().put(1, 1).put(1, 2).lit(ord("x")).lit(264).code(0, 5).lit(256).done())
    seeds["fixed_too_far"] = (RAW, Bits().put(1, 1).put(1, 2).lit(ord("x")).lit(257).code(1, 5).lit(256).done())
    seeds["fixed_symbol_286"] = (RAW, Bits().put(1, 1).put(1, 2).lit(286).done())
    seeds["reserved_type"] = (RAW, Bits().put(1, 1).put(3, 2).done())
    dyn = zlib.compressobj(9, zlib.DEFLATED, -15)
    seeds["dynamic"] = (RAW, dyn.compress(text) + dyn.flush())
    seeds["dynamic_cut"] = (RAW, seeds["dynamic"][1][: len(seeds["dynamic"][1]) // 2])
    # python's zlib at several levels and strategies, zlib framing.
    for level in (0, 1, 6, 9):
        seeds["zlib_level_%d" % level] = (ZLIB, zlib.compress(text, level))
    for name, strategy in (("filtered", zlib.Z_FILTERED), ("huffman", zlib.Z_HUFFMAN_ONLY), ("rle", zlib.Z_RLE), ("fixed", zlib.Z_FIXED)):
        c = zlib.compressobj(6, zlib.DEFLATED, 15, 8, strategy)
        seeds["zlib_" + name] = (ZLIB, c.compress(text) + c.flush())
    seeds["zlib_bad_adler"] = (ZLIB, seeds["zlib_level_6"][1][:-1] + b"\0")
    seeds["zlib_fdict"] = (ZLIB, b"\x78\xbb" + seeds["zlib_level_6"][1][2:])
    seeds["zlib_small_capacity"] = (0x01, zlib.compress(text, 6))
    # gzip: each header flag, two members, bad trailers.
    body = text[:700]
    seeds["gzip_plain"] = (GZIP, gzip_member(body))
    seeds["gzip_ftext"] = (GZIP, gzip_member(body, flags=1))
    seeds["gzip_fhcrc"] = (GZIP, gzip_member(body, flags=2))
    seeds["gzip_fextra"] = (GZIP, gzip_member(body, flags=4, extra=b"AB\x02\x00xy"))
    seeds["gzip_fname"] = (GZIP, gzip_member(body, flags=8, name=b"name.txt"))
    seeds["gzip_fcomment"] = (GZIP, gzip_member(body, flags=16, comment=b"a comment"))
    seeds["gzip_all_flags"] = (GZIP, gzip_member(body, flags=31, extra=b"e", name=b"n", comment=b"c"))
    seeds["gzip_two_members"] = (GZIP, gzip_member(body) + gzip_member(b"second"))
    seeds["gzip_big_isize"] = (GZIP, gzip_member(body)[:-4] + struct.pack("<I", 0xFFFFFFF0))
    seeds["gzip_small_capacity"] = (0x02, gzip_member(text))
    write("inflate_corpus", {k: bytes([mode]) + v for k, (mode, v) in seeds.items()})
    plain = {
        "empty": b"\x00",
        "one": b"\x07A",
        "run_259": b"\x42" + b"a" * 259,
        "text_level_9": b"\x0a" + text,
        "text_gzip_none": b"\x16" + text,
        "random_zlib_1": b"\x0d" + bytes(rnd.getrandbits(8) for _ in range(3000)),
        "mixed": b"\x05" + text[:2000] + bytes(rnd.getrandbits(8) for _ in range(2000)) + text[:2000],
    }
    write("compress_corpus", plain)


def write(folder, files):
    path = os.path.join(ROOT, folder)
    os.makedirs(path, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)
    print("%s: %d files" % (folder, len(files)), file=sys.stderr)


main()
