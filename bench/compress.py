# bench/compress.py: compresses and decompresses 8 MB of text by deflate, zlib and gzip with
# python's zlib; the twin of compress.zyl.
import zlib

chunk = "Lorem ipsum, dolor sit amet; consectetur adipiscing elit. Sed do eiusmod tempor "
parts, size, n = [], 0, 0
while size < 8000000:
    piece = chunk + str(n) + "\n"
    parts.append(piece)
    size += len(piece)
    n += 37
data = "".join(parts).encode()
total, same = 0, True
for wbits in (-15, 15, 31):
    c = zlib.compressobj(6, zlib.DEFLATED, wbits)
    packed = c.compress(data) + c.flush()
    unpacked = zlib.decompress(packed, wbits)
    total += len(unpacked)
    same = same and unpacked == data
print(total, "true" if same else "false")
