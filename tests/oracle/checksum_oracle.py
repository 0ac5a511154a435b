#!/usr/bin/env python3
# tests/oracle/checksum_oracle.py: holds the checksum service against independent tools on a
# corpus made here from a fixed seed: python's zlib, hashlib and hmac, the coreutils digest
# programs, xxhsum, and a plain model of the Internet sum on unbounded integers.
#
#   checksum_oracle.py ORACLE   ORACLE is the checksum-oracle program
import array
import hashlib
import hmac
import os
import random
import shutil
import subprocess
import sys
import tempfile
import zlib


def corpus():
    rng = random.Random(37)
    blobs = {}
    for n in [0, 1, 3, 15, 16, 17, 5551, 5552, 5553, 65535, 65536, 65537]:
        blobs[f"random-{n}"] = rng.randbytes(n)
    blobs["ones-65537"] = b"\xff" * 65537  # the largest sums between reductions
    blobs["random-1M"] = rng.randbytes(1 << 20)
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(1, 9))) for _ in range(500)]
    text = bytearray()
    while len(text) < 10 << 20:
        text += b" ".join(rng.choice(words) for _ in range(12)) + b"\n"
    blobs["text-10M"] = bytes(text[: 10 << 20])
    return blobs


def tcp_model(data):
    """Big-endian 16-bit words, an odd last byte added as it stands, folded until 16 bits."""
    even = len(data) & ~1
    words = array.array("H", data[:even])
    if sys.byteorder == "little":
        words.byteswap()
    s = sum(words)
    if len(data) & 1:
        s += data[-1]
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return ~s & 0xFFFF


def tool_digest(*command):
    return subprocess.run(list(command), check=True, capture_output=True, text=True).stdout.split()[0]


def main():
    oracle = sys.argv[1]
    failures = 0
    tools = {name: shutil.which(name) for name in ["md5sum", "sha1sum", "sha256sum", "sha512sum", "xxhsum"]}
    for name, path in tools.items():
        if not path:
            print(f"skipping the {name} comparisons: {name} is not installed")
    with tempfile.TemporaryDirectory() as tmp:
        for name, data in corpus().items():
            path = os.path.join(tmp, name)
            with open(path, "wb") as f:
                f.write(data)
            out = subprocess.run([oracle, "sums", path], check=True, capture_output=True, text=True).stdout
            got = dict(line.split() for line in out.splitlines())
            want = {
                "crc32": f"{zlib.crc32(data):08x}",
                "adler32": f"{zlib.adler32(data):08x}",
                "tcp": f"{tcp_model(data):04x}",
                "sha384": hashlib.sha384(data).hexdigest(),
            }
            want["crc32-table"] = want["crc32-sliced"] = want["crc32"]
            want["adler32-scalar"] = want["adler32"]
            for algo in ["md5", "sha1", "sha256", "sha512"]:
                tool = tools[algo + "sum"]
                if tool:
                    want[algo] = tool_digest(tool, path)
            if tools["xxhsum"]:
                want["xxh64"] = tool_digest(tools["xxhsum"], "-H64", path)
            for key, value in want.items():
                if got.get(key) != value:
                    print(f"{name} {key}: got {got.get(key)}, expected {value}")
                    failures += 1
        # HMAC at key lengths around both block sizes, on a short and a long message.
        rng = random.Random(2104)
        message = rng.randbytes(5000)
        path = os.path.join(tmp, "message")
        with open(path, "wb") as f:
            f.write(message)
        for algo, block in [("md5", 64), ("sha1", 64), ("sha256", 64), ("sha384", 128), ("sha512", 128)]:
            for klen in [0, block - 1, block, block + 1, 3 * block]:
                key = rng.randbytes(klen)
                out = subprocess.run([oracle, "hmac", algo, key.hex() or "-", path], check=True, capture_output=True,
                                     text=True).stdout.split()[1]
                expected = hmac.new(key, message, algo).hexdigest()
                if out != expected:
                    print(f"hmac {algo} key {klen}: got {out}, expected {expected}")
                    failures += 1
    print(f"checksum oracle: {failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
