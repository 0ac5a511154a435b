// boot/main.cpp: the program entry of `zyl`.
#include <cstdio>

int main() {
    std::printf("Zyl %s\n", ZYL_VERSION);
    return 0;
}
