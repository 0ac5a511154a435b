// tests/oracle/image_oracle.cpp: the image codecs for the oracle script.
//   image-oracle decode FILE            prints "W H\n" then the pixels as R G B A bytes
//   image-oracle encode FORMAT W H OUT  reads W*H R G B A bytes from stdin, writes OUT
// FORMAT is bmp, png, gif, jpeg or tiff. Exit status 1 when decoding or encoding fails.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "services/image.h"

using namespace zyl::imaging;

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "decode") == 0) {
        std::ifstream in(argv[2], std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bitmap* b = nullptr;
        if (decode(data.data(), data.size(), &b) != status::ok) return 1;
        std::printf("%u %u\n", b->width, b->height);
        for (uint64_t i = 0; i < uint64_t(b->width) * b->height; i++) {
            uint32_t p = b->pixels[i];
            uint8_t o[4] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)};
            std::fwrite(o, 1, 4, stdout);
        }
        destroy(b);
        return 0;
    }
    if (argc == 6 && std::strcmp(argv[1], "encode") == 0) {
        const char* names[] = {"bmp", "png", "gif", "jpeg", "tiff"};
        int f = -1;
        for (int i = 0; i < 5; i++)
            if (std::strcmp(argv[2], names[i]) == 0) f = i;
        bitmap* b = create(uint32_t(std::stoul(argv[3])), uint32_t(std::stoul(argv[4])));
        if (f < 0 || !b) return 2;
        for (uint64_t i = 0; i < uint64_t(b->width) * b->height; i++) {
            uint8_t o[4];
            if (std::fread(o, 1, 4, stdin) != 4) return 2;
            b->pixels[i] = uint32_t(o[3]) << 24 | uint32_t(o[0]) << 16 | uint32_t(o[1]) << 8 | o[2];
        }
        std::vector<uint8_t> out;
        if (!encode(b, format(f), out)) return 1;
        std::ofstream(argv[5], std::ios::binary).write(reinterpret_cast<const char*>(out.data()), long(out.size()));
        destroy(b);
        return 0;
    }
    std::fprintf(stderr, "usage: image-oracle decode FILE | encode FORMAT W H OUT\n");
    return 2;
}
