#!/usr/bin/env python3
# tests/oracle/image_oracle.py: holds the image codecs against ImageMagick and small python
# readers and writers on files made here: what they write we decode to the pixels that
# ImageMagick prints, and what we write decodes back in ImageMagick and, for PNG and BMP, in
# the python readers below.
#
#   image_oracle.py ORACLE   ORACLE is the image-oracle program
import os
import random
import struct
import subprocess
import sys
import tempfile
import zlib

IM = "convert-im6.q16"  # the Debian name: another convert may shadow it


def im_pixels(path):
    return subprocess.run([IM, path + "[0]", "-depth", "8", "rgba:-"], check=True, capture_output=True).stdout


def ours(oracle, path):
    p = subprocess.run([oracle, "decode", path], capture_output=True)
    if p.returncode != 0:
        return None, None
    head, _, body = p.stdout.partition(b"\n")
    return tuple(int(x) for x in head.split()), body


def python_png(path, w, h, rgba):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\x00" + rgba[y * w * 4:(y + 1) * w * 4] for y in range(h))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def python_bmp(path, w, h, rgba):
    stride = (w * 3 + 3) & ~3
    rows = b""
    for y in reversed(range(h)):
        row = b"".join(bytes((rgba[i + 2], rgba[i + 1], rgba[i])) for i in range(y * w * 4, (y + 1) * w * 4, 4))
        rows += row + b"\0" * (stride - len(row))
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 54 + len(rows), 0, 0, 54)
                + struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(rows), 0, 0, 0, 0) + rows)


def read_png(data):
    # 8-bit RGBA, non-interlaced: what our encoder writes.
    pos, idat, w, h = 8, b"", 0, 0
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            w, h, depth, colour = struct.unpack(">IIBB", body[:10])
            assert (depth, colour) == (8, 6)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    raw, out, prev, bpp = zlib.decompress(idat), bytearray(), bytearray(w * 4), 4
    for y in range(h):
        f, line = raw[y * (w * 4 + 1)], bytearray(raw[y * (w * 4 + 1) + 1:(y + 1) * (w * 4 + 1)])
        for i in range(len(line)):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out += line
        prev = line
    return (w, h), bytes(out)


def read_bmp(data):
    # 32-bit bit fields with alpha, bottom-up: what our encoder writes.
    offset, = struct.unpack("<I", data[10:14])
    w, h, _, bits, comp = struct.unpack("<iiHHI", data[18:34])
    assert bits == 32 and comp == 3 and h > 0
    out = bytearray()
    for y in reversed(range(h)):
        row = data[offset + y * w * 4:offset + (y + 1) * w * 4]
        for i in range(0, len(row), 4):
            out += bytes((row[i + 2], row[i + 1], row[i], row[i + 3]))
    return (w, h), bytes(out)


def make_files(d):
    files = {}  # name -> tolerance
    # ImageMagick writes its gradients at 16 bits unless told; the 16-bit files are allowed 1 of
    # difference, as ImageMagick's scaling to 8 bits rounds some values down.
    S = ["-size", "29x17", "gradient:red-blue", "-depth", "8"]
    jobs = [
        ("progressive.jpg", S + ["-interlace", "JPEG"], 2), ("grey.jpg", S + ["-colorspace", "gray"], 2),
        ("cmyk.jpg", S + ["-colorspace", "CMYK"], 2), ("plain.jpg", S, 2),
        ("interlaced.gif", S + ["-interlace", "GIF"], 0),
        ("lzw.tif", S + ["-compress", "lzw"], 0), ("palette.tif", S + ["-colors", "7", "-type", "palette"], 0),
        ("deep.tif", S + ["-depth", "16"], 1),
        ("alpha.tif", S + ["-alpha", "set", "-channel", "A", "-fx", "i/w", "+channel"], 0),
        ("b1.bmp", S + ["-colors", "2", "-type", "palette", "bmp3:"], 0),
        ("b4.bmp", S + ["-colors", "16", "-type", "palette", "bmp3:"], 0),
        ("b8.bmp", S + ["-colors", "200", "-type", "palette", "bmp3:"], 0),
        ("rle8.bmp", S + ["-colors", "100", "-type", "palette", "-compress", "rle", "bmp3:"], 0),
        ("b24.bmp", S + ["bmp3:"], 0),
        ("interlaced.png", S + ["-interlace", "PNG"], 0), ("deep.png", S + ["-depth", "16", "png64:"], 1),
        ("palette.png", S + ["-colors", "5", "png8:"], 0), ("grey.png", S + ["-colorspace", "gray"], 0),
    ]
    for name, args, tol in jobs:
        out = os.path.join(d, name)
        spec = args[-1] if args[-1].endswith(":") else ""
        subprocess.run([IM] + (args[:-1] if spec else args) + [spec + out], check=True)
        files[out] = tol
    anim = os.path.join(d, "anim.gif")
    subprocess.run([IM, "-delay", "10", "-size", "29x17", "gradient:green-yellow", "-size", "29x17", "xc:red",
                    anim], check=True)
    files[anim] = 0
    rng = random.Random(35)
    rgba = bytes(rng.randrange(256) for _ in range(13 * 9 * 4))
    python_png(os.path.join(d, "python.png"), 13, 9, rgba)
    python_bmp(os.path.join(d, "python.bmp"), 13, 9, rgba)
    files[os.path.join(d, "python.png")] = 0
    files[os.path.join(d, "python.bmp")] = 0
    return files


def main():
    oracle = sys.argv[1]
    failures = 0
    with tempfile.TemporaryDirectory() as d:
        for path, tol in make_files(d).items():
            size, got = ours(oracle, path)
            want = im_pixels(path)
            if got is None or len(got) != len(want) or any(abs(a - b) > tol for a, b in zip(got, want)):
                print(f"FAIL decode {os.path.basename(path)}: {size} {len(got or b'')} vs {len(want)}")
                failures += 1
        # Our encodings back through ImageMagick and the python readers.
        w, h = 31, 19
        rng = random.Random(36)
        smooth = bytes(v for y in range(h) for x in range(w)  # 64 colours: GIF keeps them exactly
                       for v in (x % 8 * 32, y % 8 * 32, 64, 255 if (x + y) % 3 else 0))
        gradient = bytes(v for y in range(h) for x in range(w) for v in (x * 8, y * 13, (x + y) * 5, 255))
        noisy = bytes(rng.randrange(256) for _ in range(w * h * 4))
        for fmt, image, tol in [("png", noisy, 0), ("bmp", noisy, 0), ("tiff", noisy, 0), ("gif", smooth, 0),
                                ("jpeg", gradient, 3)]:
            out = os.path.join(d, "ours." + fmt)
            r = subprocess.run([oracle, "encode", fmt, str(w), str(h), out], input=image)
            if r.returncode != 0:
                print(f"FAIL encode {fmt}")
                failures += 1
                continue
            want = image
            if fmt == "gif":  # clear pixels come back as transparent black
                want = b"".join(image[i:i + 4] if image[i + 3] >= 128 else b"\0\0\0\0" for i in range(0, len(image), 4))
            back = im_pixels(out)
            if fmt == "jpeg":
                diff = sum(abs(back[i] - want[i]) for i in range(len(want)) if i % 4 != 3) / (w * h * 3)
                bad = len(back) != len(want) or diff > tol
            else:
                bad = back != want
            if bad:
                print(f"FAIL {fmt} through ImageMagick")
                failures += 1
            data = open(out, "rb").read()
            if fmt in ("png", "bmp"):
                size, pixels = (read_png if fmt == "png" else read_bmp)(data)
                if size != (w, h) or pixels != image:
                    print(f"FAIL {fmt} through the python reader")
                    failures += 1
    print(f"image oracle: {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
