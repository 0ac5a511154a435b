// bench/drained_pty.h: a pseudo-terminal of the benchmarks' screen size whose master side is read
// and thrown away, so painters write to a terminal without an emulator's cost.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <pty.h>
#include <thread>
#include <unistd.h>

namespace zyl::bench {

// A pseudo-terminal whose master side is read and thrown away, counting the bytes.
struct drained_pty {
    int master = -1, slave = -1;
    std::atomic<uint64_t> bytes{0};
    std::atomic<bool> stop{false};
    std::thread reader;
    explicit drained_pty(unsigned short width = 200, unsigned short height = 60) {
        winsize ws{height, width, 0, 0};
        openpty(&master, &slave, nullptr, nullptr, &ws);
        reader = std::thread([this] {
            char buf[65536];
            while (!stop) {
                ssize_t n = read(master, buf, sizeof buf);
                if (n <= 0) break;
                bytes += uint64_t(n);
            }
        });
    }
    // The bytes drained once the terminal has been quiet a moment.
    uint64_t settled() {
        uint64_t last = ~0ull;
        while (bytes != last) {
            last = bytes;
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        return last;
    }
    ~drained_pty() {
        stop = true;
        close(slave);
        reader.join();
        close(master);
    }
};

} // namespace zyl::bench
