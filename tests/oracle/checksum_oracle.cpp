// tests/oracle/checksum_oracle.cpp: prints the checksum service's results for a file, for
// checksum_oracle.py to hold against independent tools.
//
//   checksum-oracle sums FILE            one line a result: name and lowercase hex
//   checksum-oracle hmac ALG KEYHEX FILE the HMAC of the file under the key
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "services/checksum.h"

using namespace zyl;

namespace {

std::vector<uint8_t> read_file(const char* path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void print_hex(const char* name, const uint8_t* p, size_t n) {
    std::printf("%s ", name);
    for (size_t i = 0; i < n; i++) std::printf("%02x", p[i]);
    std::printf("\n");
}

const char* const NAMES[] = {"tcp", "crc32", "md5", "sha1", "sha256", "sha384", "sha512"};

checksum::algorithm algorithm_named(const char* name) {
    for (int a = checksum::A_MD5; a <= checksum::A_SHA512; a++) {
        if (std::strcmp(NAMES[a], name) == 0) return checksum::algorithm(a);
    }
    return checksum::A_NONE;
}

int sums(const std::vector<uint8_t>& d) {
    const uint8_t* p = d.data();
    size_t n = d.size();
    std::printf("crc32 %08x\n", checksum::crc32_update(0, p, n));
    std::printf("crc32-table %08x\n", checksum::crc32_update_table(0, p, n));
    std::printf("crc32-sliced %08x\n", checksum::crc32_update_sliced(0, p, n));
    std::printf("adler32 %08x\n", checksum::adler32_update(1, p, n));
    std::printf("adler32-scalar %08x\n", checksum::adler32_update_scalar(1, p, n));
    std::printf("tcp %04x\n", checksum::tcp(p, n));
    std::printf("xxh64 %016llx\n", static_cast<unsigned long long>(checksum::xxh64(p, n)));
    for (int a = checksum::A_MD5; a <= checksum::A_SHA512; a++) {
        uint8_t out[checksum::MAX_DIGEST];
        if (checksum::digest(checksum::algorithm(a), p, n, out) != checksum::OK) return 1;
        print_hex(NAMES[a], out, checksum::digest_size(checksum::algorithm(a)));
    }
    return 0;
}

int hmac(const char* alg, const char* key_hex, const std::vector<uint8_t>& d) {
    checksum::algorithm a = algorithm_named(alg);
    if (a == checksum::A_NONE) return 2;
    std::vector<uint8_t> key;
    for (size_t i = 0; key_hex[i] && key_hex[i + 1]; i += 2) key.push_back(uint8_t(std::stoi(std::string(key_hex + i, 2), nullptr, 16)));
    uint8_t out[checksum::MAX_DIGEST];
    if (checksum::hmac(a, d.data(), d.size(), key.data(), key.size(), out) != checksum::OK) return 1;
    print_hex(alg, out, checksum::digest_size(a));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    checksum::init_digests();
    if (argc == 3 && std::strcmp(argv[1], "sums") == 0) return sums(read_file(argv[2]));
    if (argc == 5 && std::strcmp(argv[1], "hmac") == 0) return hmac(argv[2], argv[3], read_file(argv[4]));
    std::fprintf(stderr, "usage: checksum-oracle sums FILE | hmac ALG KEYHEX FILE\n");
    return 2;
}
