// runtime/platform/os.cpp: start-up of input and output, clocks, sleep, environment and the
// current folder over POSIX.
#include "runtime/platform/os.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <vector>

#include "runtime/platform/console_output.h"

namespace zyl::os {
namespace {

constexpr double MAX_SLEEP_MS = 1e15; // some 30,000 years: beyond it a duration is "forever"

std::vector<char> dir_buffer; // reused by get_current_dir

// The zone bits of a date for [offset] seconds east of UTC: sign, whole hours (at most 15,
// all that 4 bits hold) and the quarter hours left over.
uint32_t pack_zone(long offset) {
    uint32_t sign = offset < 0 ? 0x40 : 0;
    long magnitude = offset < 0 ? -offset : offset;
    long hours = magnitude / 3600;
    long quarters = magnitude % 3600 / 900;
    if (hours > 15) {
        hours = 15;
        quarters = 3;
    }
    return sign | static_cast<uint32_t>(hours) << 2 | static_cast<uint32_t>(quarters);
}

timespec now_real() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts;
}

} // namespace

void init_io() {
    console::init_output();
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    // Past the file-size limit a write fails with EFBIG and is reported, like a full disk.
    sigaction(SIGXFSZ, &ignore, nullptr);
}

const char* get_current_dir(size_t* length) {
    if (dir_buffer.size() < 256) dir_buffer.resize(256);
    while (getcwd(dir_buffer.data(), dir_buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            *length = 0;
            return nullptr;
        }
        dir_buffer.resize(dir_buffer.size() * 2);
    }
    *length = std::strlen(dir_buffer.data());
    return dir_buffer.data();
}

bool set_current_dir(const char* path) { return chdir(path) == 0; }

const char* get_env(const char* name) { return std::getenv(name); }

bool set_env(const char* name, const char* value) {
    if (name == nullptr || *name == 0 || std::strchr(name, '=') != nullptr) return false;
    if (value == nullptr) return unsetenv(name) == 0;
    return setenv(name, value, 1) == 0;
}

void sleep(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) ms = 1.0; // also catches NaN
    if (ms > MAX_SLEEP_MS) ms = MAX_SLEEP_MS;
    auto whole = static_cast<int64_t>(ms);
    timespec left{static_cast<time_t>(whole / 1000), static_cast<long>(whole % 1000) * 1000000};
    while (nanosleep(&left, &left) == -1 && errno == EINTR) {
    }
}

double utc_time_of_day(bool precise) {
    timespec ts = now_real();
    int64_t day_seconds = ts.tv_sec % 86400;
    if (day_seconds < 0) day_seconds += 86400;
    double t = static_cast<double>(day_seconds);
    if (precise) t += static_cast<double>(ts.tv_nsec / 100 * 100) / 1e9;
    return t;
}

uint32_t time_now(bool utc) {
    time_t now = now_real().tv_sec;
    tm parts = {};
    if (utc) {
        gmtime_r(&now, &parts);
    } else {
        tzset(); // localtime_r alone keeps the zone it first saw; TZ may have changed since
        localtime_r(&now, &parts);
    }
    uint32_t zone = utc ? 0 : pack_zone(parts.tm_gmtoff);
    auto year = static_cast<uint32_t>(parts.tm_year + 1900);
    auto month = static_cast<uint32_t>(parts.tm_mon + 1);
    auto day = static_cast<uint32_t>(parts.tm_mday);
    return year << 17 | month << 12 | day << 7 | zone;
}

int64_t monotonic_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace zyl::os
