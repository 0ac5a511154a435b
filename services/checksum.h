// services/checksum.h: the checksums and digests behind the `checksum` native and the
// integrity checks of the compressed framings: CRC-32, Adler-32, the Internet ones'-complement
// sum, XXH64, the five message digests and HMAC over them.
//
// The running forms (crc32_update, adler32_update) carry a state between calls so that a
// stream can be checked piece by piece: the state of an empty input is the checksum of it
// (0 for CRC-32, 1 for Adler-32), and feeding a buffer in any split gives the same result as
// feeding it whole. Lengths are size_t throughout; nothing here allocates run-time memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::checksum {

// {== Method words

// The methods in the order their words are made; the first seven carry an algorithm number.
enum method : int32_t {
    M_TCP,
    M_MD5,
    M_SHA1,
    M_CRC32,
    M_ADLER32,
    M_SHA256,
    M_SHA384,
    M_SHA512,
    M_HASH,
    M_COUNT // not a method
};

// Algorithm numbers, as is-method's callers and the digests name them.
enum algorithm : int32_t { A_TCP, A_CRC32, A_MD5, A_SHA1, A_SHA256, A_SHA384, A_SHA512, A_NONE = -1 };

constexpr size_t MAX_DIGEST = 64; // the largest digest, SHA-512's

// Makes the nine method words; once, at start-up. May allocate (it interns symbols). The
// digest algorithms are fetched at their first use.
void init();
// Fetches every digest algorithm now (tests use it; a digest fetches its own otherwise). A
// digest the library refuses stays unfetched, and digest answers REFUSED for it.
void init_digests();
// The method that symbol [sym] names (compared through its canonical symbol), or M_COUNT.
method method_of(uint32_t sym);
// Whether symbol [sym] names one of the nine methods.
bool is_method(uint32_t sym);
// The algorithm number of [sym]: tcp 0, crc32 1, md5 2, sha1 3, sha256 4, sha384 5, sha512 6;
// A_NONE for adler32, hash and any other word.
algorithm method_number(uint32_t sym);
// The algorithm number of method [m], as method_number gives it.
algorithm algorithm_of(method m);
// The digest size in bytes of algorithm [a]; 0 for any algorithm that is not a digest.
size_t digest_size(algorithm a);
// The HMAC block size in bytes of digest algorithm [a]; 0 for any other.
size_t block_size(algorithm a);

// }==
// {== Checksums

// CRC-32 (reflected 0xEDB88320) continued from [crc], the result of the data before (0 to
// start). The fastest path the processor allows.
uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t len);
// The same through the byte-at-a-time table: the reference the fast paths are checked against.
uint32_t crc32_update_table(uint32_t crc, const uint8_t* data, size_t len);
// The same through slicing-by-8, the fast path of processors without carry-less multiply.
uint32_t crc32_update_sliced(uint32_t crc, const uint8_t* data, size_t len);
inline uint32_t crc32(const uint8_t* data, size_t len) { return crc32_update(0, data, len); }

// Adler-32 continued from [adler], the result of the data before (1 to start).
uint32_t adler32_update(uint32_t adler, const uint8_t* data, size_t len);
// The same by plain loops only: the reference for the vector path.
uint32_t adler32_update_scalar(uint32_t adler, const uint8_t* data, size_t len);
inline uint32_t adler32(const uint8_t* data, size_t len) { return adler32_update(1, data, len); }

// The Internet ones'-complement sum of big-endian 16-bit words; an odd last byte counts as a
// word of its own value. 0 .. 65535.
uint32_t tcp(const uint8_t* data, size_t len);

// XXH64 with seed 0.
uint64_t xxh64(const uint8_t* data, size_t len);

// }==
// {== Digests

// The outcome of a digest: OK, or why no digest was written.
enum status : int32_t { OK, REFUSED, NO_MEMORY };

// Digest of algorithm [a] (md5 .. sha512) of [len] bytes into [out] (MAX_DIGEST bytes of room;
// the first digest_size(a) are written). REFUSED when the library does not offer [a].
status digest(algorithm a, const uint8_t* data, size_t len, uint8_t* out);
// HMAC of [data] under [key] with digest algorithm [a], into [out] as digest writes it.
status hmac(algorithm a, const uint8_t* data, size_t len, const uint8_t* key, size_t key_len, uint8_t* out);

// }==

} // namespace zyl::checksum
