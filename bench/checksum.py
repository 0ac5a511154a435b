# bench/checksum.py: CRC-32 and SHA-256 of 50 MB made in memory, the twin of checksum.zyl.
import hashlib
import zlib

data = bytes(range(256)) * 204800
crc = zlib.crc32(data)
crc = crc - (1 << 32) if crc >= 1 << 31 else crc  # as a signed 32-bit integer
sha = hashlib.sha256(data).hexdigest().upper()
print(len(data), crc, sha)
