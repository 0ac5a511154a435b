// services/checksum.cpp: the checksum method words, and the message digests and HMAC
// through libcrypto.
//
// A digest algorithm is fetched at its first use (fetching them all costs a third of an empty
// script's start-up) and one digest context is kept for the run: the run-time is
// single-threaded and no digest nests inside another.
#include "services/checksum.h"

#include <openssl/evp.h>

#include <cstring>

#include "datatypes/symbol.h"
#include "runtime/common.h"

namespace zyl::checksum {

namespace {

constexpr const char* METHOD_NAMES[M_COUNT] = {"tcp",    "md5",    "sha1",   "crc32", "adler32",
                                               "sha256", "sha384", "sha512", "hash"};
constexpr algorithm METHOD_ALGORITHMS[M_COUNT] = {A_TCP,    A_MD5,    A_SHA1,   A_CRC32, A_NONE,
                                                  A_SHA256, A_SHA384, A_SHA512, A_NONE};

uint32_t method_symbols[M_COUNT]; // canonical symbol ids, made by init

// {== Digest algorithms, by algorithm number (tcp and crc32 have none)

struct digest_info {
    const char* name; // the name libcrypto knows it by
    size_t size;      // bytes of the digest
    size_t block;     // bytes of the HMAC block
};

constexpr digest_info DIGESTS[] = {{nullptr, 0, 0},      {nullptr, 0, 0},       {"MD5", 16, 64},
                                   {"SHA1", 20, 64},     {"SHA256", 32, 64},    {"SHA384", 48, 128},
                                   {"SHA512", 64, 128}};
constexpr int32_t DIGEST_COUNT = int32_t(sizeof DIGESTS / sizeof DIGESTS[0]);

EVP_MD* fetched[DIGEST_COUNT]; // null: not fetched, or refused by the library
bool tried[DIGEST_COUNT];       // the fetch was asked for: a refusal is not asked again
EVP_MD_CTX* context;           // made on first use, kept for the run

inline bool is_digest(algorithm a) { return a >= A_MD5 && a < DIGEST_COUNT; }

// The algorithm of digest [a], fetched on first use; null when the library refuses it.
EVP_MD* algorithm_md(int32_t a) {
    if (!tried[a]) {
        tried[a] = true;
        fetched[a] = EVP_MD_fetch(nullptr, DIGESTS[a].name, nullptr);
    }
    return fetched[a];
}

// Starts a digest of [a] in the kept context.
status begin(algorithm a) {
    if (!is_digest(a) || !algorithm_md(a)) return REFUSED;
    if (!context && !(context = EVP_MD_CTX_new())) return NO_MEMORY;
    return EVP_DigestInit_ex2(context, fetched[a], nullptr) == 1 ? OK : REFUSED;
}

inline status feed(const uint8_t* data, size_t len) {
    return EVP_DigestUpdate(context, data, len) == 1 ? OK : REFUSED;
}

// Ends the digest into [out]; anything but the expected size is a failure.
status finish(algorithm a, uint8_t* out) {
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context, out, &size) != 1 || size != DIGESTS[a].size) return REFUSED;
    return OK;
}

// }==

} // namespace

// {== Method words

void init() {
    for (int32_t m = 0; m < M_COUNT; m++) method_symbols[m] = symbol::resolve(symbol::make(METHOD_NAMES[m]));
}

void init_digests() {
    for (int32_t a = A_MD5; a < DIGEST_COUNT; a++) algorithm_md(a);
}

method method_of(uint32_t sym) {
    uint32_t s = symbol::resolve(sym);
    for (int32_t m = 0; m < M_COUNT; m++) {
        if (method_symbols[m] == s) return method(m);
    }
    return M_COUNT;
}

bool is_method(uint32_t sym) { return method_of(sym) != M_COUNT; }

algorithm method_number(uint32_t sym) {
    method m = method_of(sym);
    return m == M_COUNT ? A_NONE : METHOD_ALGORITHMS[m];
}

algorithm algorithm_of(method m) { return m >= 0 && m < M_COUNT ? METHOD_ALGORITHMS[m] : A_NONE; }

size_t digest_size(algorithm a) { return is_digest(a) ? DIGESTS[a].size : 0; }
size_t block_size(algorithm a) { return is_digest(a) ? DIGESTS[a].block : 0; }

// }==
// {== Digests

status digest(algorithm a, const uint8_t* data, size_t len, uint8_t* out) {
    status s = begin(a);
    if (s == OK) s = feed(data, len);
    return s == OK ? finish(a, out) : s;
}

// The key, or its digest when longer than a block, padded with zeros to the block and
// XORed with 0x36 for the inner digest and 0x5C for the outer.
status hmac(algorithm a, const uint8_t* data, size_t len, const uint8_t* key, size_t key_len, uint8_t* out) {
    ZYL_ASSERT(is_digest(a)); // the native keeps the other methods away
    if (!is_digest(a)) return REFUSED;
    size_t block = DIGESTS[a].block, size = DIGESTS[a].size;
    uint8_t pad[128] = {}, inner[MAX_DIGEST];
    if (key_len > block) {
        status s = digest(a, key, key_len, pad);
        if (s != OK) return s;
    } else {
        std::memcpy(pad, key, key_len);
    }
    for (size_t i = 0; i < block; i++) pad[i] ^= 0x36;
    status s = begin(a);
    if (s == OK) s = feed(pad, block);
    if (s == OK) s = feed(data, len);
    if (s == OK) s = finish(a, inner);
    if (s != OK) return s;
    for (size_t i = 0; i < block; i++) pad[i] ^= 0x36 ^ 0x5C;
    s = begin(a);
    if (s == OK) s = feed(pad, block);
    if (s == OK) s = feed(inner, size);
    return s == OK ? finish(a, out) : s;
}

// }==

} // namespace zyl::checksum
