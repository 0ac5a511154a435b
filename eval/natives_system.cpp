// eval/natives_system.cpp: the natives that reach the system: wait, checksum, set-env, get-env,
// list-env, now, call, size?, browse, compress and decompress.
//
// They check their arguments and hand them to the services. A native whose service (or
// result datatype) is not built yet refuses bad arguments as it will then, and raises
// "<name> is not yet available" where it would call the service.
#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/core.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/control_internal.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/platform/os.h"
#include "runtime/platform/tui_hooks.h"
#include "runtime/unicode.h"

namespace zyl::natives {

namespace {

using control::check_arg;

// {== Internal functions

constexpr cell ts_wait = typeset::unite(typeset::standard::number, typeset::of({T_time, T_block, T_none}));
constexpr cell ts_checksum_data = typeset::of({T_binary, T_string, T_file});
constexpr cell ts_word = typeset::of({T_word});
constexpr cell ts_checksum_key = typeset::unite(typeset::standard::any_string, typeset::of({T_binary, T_integer}));
constexpr cell ts_env_name = typeset::unite(typeset::standard::any_string, typeset::standard::any_word);
constexpr cell ts_env_value = typeset::unite(typeset::standard::any_string, typeset::of({T_none}));
constexpr cell ts_command = typeset::of({T_string, T_file});
constexpr cell ts_io = typeset::unite(typeset::standard::any_string, typeset::of({T_binary}));
constexpr cell ts_integer = typeset::of({T_integer});
constexpr cell ts_file = typeset::of({T_file});
constexpr cell ts_browse = typeset::of({T_url, T_file});
constexpr cell ts_compress_data = typeset::unite(typeset::standard::any_string, typeset::of({T_binary}));
constexpr cell ts_binary = typeset::of({T_binary});

inline void check_refinement(int32_t check, const cell& ts, int32_t pos) {
    if (check && pos >= 0) error::check_arg_type(&ts, pos, stack::arg(static_cast<uint32_t>(pos)));
}

// The checksum methods; the first three give an integer! and take no key.
enum method : uint32_t { M_CRC32, M_TCP, M_ADLER32, M_HASH, M_MD5, M_SHA1, M_SHA256, M_SHA384, M_SHA512, M_COUNT };
constexpr const char* METHOD_NAMES[M_COUNT] = {"crc32", "tcp",    "adler32", "hash",  "md5",
                                               "sha1",  "sha256", "sha384",  "sha512"};
uint32_t method_symbols[M_COUNT]; // canonical symbol ids, made by init_system

// The method word [w] names, or M_COUNT.
uint32_t method_of(const cell* w) {
    uint32_t s = symbol::resolve(w->w2);
    for (uint32_t m = 0; m < M_COUNT; m++) {
        if (method_symbols[m] == s) return m;
    }
    return M_COUNT;
}

// The refinement word /with, for errors about its argument.
cell with_refinement() {
    cell w = word::load("with");
    cells::set_type(&w, T_refinement);
    return w;
}

// The UTF-8 of environment name or value [v] (a word's name or a text). A NUL in it would
// make the system name another variable: that raises invalid-arg.
std::string env_text(const cell* v) {
    std::string text;
    if (word::any_word_type_q(v->type())) {
        text = symbol::c_name(v->w2);
    } else {
        int64_t length = -1;
        node_id conv = 0;
        const uint8_t* bytes = unicode::to_utf8(v, length, conv);
        text.assign(reinterpret_cast<const char*>(bytes), size_t(length));
    }
    if (text.find('\0') != std::string::npos) error::raise(error::cat_script, error::script_invalid_arg, v);
    return text;
}

// }==
// {== The clock, as now reads it

// A reading of the clock: the date fields and the time of day in the same zone.
struct clock_reading {
    int32_t year, month, day;
    double local; // seconds since the day's midnight, in [0, 86400)
    double zone;  // offset from UTC in seconds
};

constexpr double DAY = 86400.0;

// The zone bits of a packed date as seconds east of UTC.
double zone_seconds(uint32_t packed) {
    double s = double((packed >> 2) & 15) * 3600.0 + double(packed & 3) * 900.0;
    return (packed & 0x40) ? -s : s;
}

// The date of the packed date word and the time of day read around it agree only when the
// day did not change between the reads: the clock is read again when it did.
clock_reading read_clock(bool utc, bool precise) {
    for (;;) {
        double before = os::utc_time_of_day(precise);
        uint32_t packed = os::time_now(utc);
        double after = os::utc_time_of_day(precise);
        double zone = zone_seconds(packed);
        if (after < before || std::floor((before + zone) / DAY) != std::floor((after + zone) / DAY)) continue;
        double local = after + zone;
        if (local < 0) local += DAY;
        if (local >= DAY) local -= DAY;
        return {static_cast<int32_t>(packed) >> 17, int32_t((packed >> 12) & 15), int32_t((packed >> 7) & 31), local,
                zone};
    }
}

// }==
// {== Natives

// wait: value [/all]. Sleeps, then lets the terminal UI run its events once.
void wait(int32_t check, int32_t all) {
    (void)all;
    check_arg(check, ts_wait, 0);
    const cell* v = stack::arg(0);
    double seconds;
    switch (v->type()) {
    case T_integer: seconds = integer::get(v); break;
    case T_float_: seconds = float_::get(v); break;
    case T_time: seconds = float_::get(v); break;
    default: error::raise(error::cat_script, error::script_invalid_arg, v);
    }
    os::sleep(seconds);
    if (tui::do_events) tui::do_events();
    stack::set_last_keep(&unset_value);
}

// checksum: data method [/with spec]
void checksum(int32_t check, int32_t with) {
    check_arg(check, ts_checksum_data, 0);
    check_arg(check, ts_word, 1);
    check_refinement(check, ts_checksum_key, with);
    const cell* data = stack::arg(0);
    if (data->type() != T_binary && data->type() != T_string && data->type() != T_file)
        error::raise(error::cat_script, error::script_invalid_arg, data);
    const cell* word = stack::arg(1);
    uint32_t m = word->type() == T_word ? method_of(word) : M_COUNT;
    if (m == M_COUNT) error::raise(error::cat_script, error::script_invalid_arg, word);
    if (with >= 0) {
        const cell* key = stack::arg(static_cast<uint32_t>(with));
        cell refinement = with_refinement();
        bool keyed_text = key->type() == T_binary || string::is_text_type(key->type());
        if (m <= M_ADLER32) error::raise(error::cat_script, error::script_invalid_refine_arg, &refinement, key);
        // The hash-table variant has no algorithm yet: refused rather than answered with a 0.
        if (key->type() == T_integer) error::raise(error::cat_internal, error::internal_not_done);
        if (!keyed_text || m == M_HASH) error::raise(error::cat_script, error::script_invalid_refine_arg, &refinement, key);
    } else if (m == M_HASH) {
        error::raise(error::cat_script, error::script_invalid_arg, word);
    }
    not_yet_available("checksum");
}

// set-env: var value. A none value removes the variable.
void set_env(int32_t check) {
    check_arg(check, ts_env_name, 0);
    check_arg(check, ts_env_value, 1);
    std::string name = env_text(stack::arg(0));
    const cell* value = stack::arg(1);
    bool ok;
    if (value->type() == T_none) {
        ok = os::set_env(name.c_str(), nullptr);
    } else {
        std::string text = env_text(value);
        ok = os::set_env(name.c_str(), text.c_str());
    }
    // A name the system refuses (empty, or holding "=") sets nothing: say so.
    if (!ok) error::raise(error::cat_script, error::script_invalid_arg, stack::arg(0));
    stack::set_last_keep(stack::arg(1));
}

// get-env: var. none when it is not set.
void get_env(int32_t check) {
    check_arg(check, ts_env_name, 0);
    std::string name = env_text(stack::arg(0));
    const char* value = os::get_env(name.c_str());
    if (!value) {
        stack::set_last_keep(&none_value);
        return;
    }
    string::load_at(reinterpret_cast<const uint8_t*>(value), int64_t(std::strlen(value)), stack::arg(0),
                    string::ENCODING_UTF8);
    stack::keep();
}

// list-env: the environment as a map!, which is not built yet.
void list_env(int32_t check) {
    (void)check;
    not_yet_available("list-env");
}

// now [/year] [/month] [/day] [/time] [/zone] [/date] [/weekday] [/yearday] [/precise] [/utc]
void now(int32_t check, int32_t year, int32_t month, int32_t day, int32_t time_, int32_t zone, int32_t date_,
         int32_t weekday, int32_t yearday, int32_t precise, int32_t utc) {
    (void)check;
    const int32_t asked[] = {year, month, day, time_, zone, date_, weekday, yearday, precise};
    int32_t used = 0;
    for (int32_t r : asked) used += r >= 0;
    // One field at a time; /precise goes alone or with /time.
    if (used >= 2 && !(used == 2 && time_ >= 0 && precise >= 0))
        error::raise(error::cat_script, error::script_bad_refines);
    clock_reading c = read_clock(utc >= 0, precise >= 0);
    cell d;
    date::make_at(&d, c.year, c.month, c.day, c.local, int32_t(c.zone / 60.0), date_ < 0);
    cell r = d;
    const int32_t fields[] = {year, month, day, zone, time_, weekday, yearday};
    constexpr int32_t numbers[] = {date::F_YEAR, date::F_MONTH,   date::F_DAY,    date::F_ZONE,
                                   date::F_TIME, date::F_WEEKDAY, date::F_YEARDAY};
    for (int i = 0; i < 7; i++) {
        if (fields[i] >= 0) date::get_field(&d, numbers[i], &r);
    }
    stack::set_last_keep(&r);
}

// call: cmd [/wait] [/show] [/console] [/shell] [/input in] [/output out] [/error err]
void call_(int32_t check, int32_t wait_, int32_t show, int32_t console, int32_t shell, int32_t input, int32_t output,
          int32_t error_) {
    (void)wait_, (void)show, (void)console, (void)shell;
    check_arg(check, ts_command, 0);
    check_refinement(check, ts_io, input);
    check_refinement(check, ts_io, output);
    check_refinement(check, ts_io, error_);
    if (string::length_of(stack::arg(0)) == 0) {
        cell zero = integer::make_value(0);
        stack::set_last_keep(&zero);
        return;
    }
    not_yet_available("call");
}

// size?: file
void size_q(int32_t check) {
    check_arg(check, ts_file, 0);
    not_yet_available("size?");
}

// browse: url
void browse(int32_t check) {
    check_arg(check, ts_browse, 0);
    not_yet_available("browse");
}

// compress: data method [/level lvl]
void compress(int32_t check, int32_t level) {
    check_arg(check, ts_compress_data, 0);
    check_arg(check, ts_word, 1);
    check_refinement(check, ts_integer, level);
    not_yet_available("compress");
}

// decompress: data method [/size sz]
void decompress(int32_t check, int32_t size) {
    check_arg(check, ts_binary, 0);
    check_arg(check, ts_word, 1);
    check_refinement(check, ts_integer, size);
    not_yet_available("decompress");
}

// }==

template <typename F> entry_fn e(F f) { return reinterpret_cast<entry_fn>(f); }

} // namespace

// {== Registration

void init_system() {
    for (uint32_t m = 0; m < M_COUNT; m++) method_symbols[m] = symbol::resolve(symbol::make(METHOD_NAMES[m]));
    set_entry(86, e(&wait));
    set_entry(87, e(&checksum));
    set_entry(93, e(&set_env));
    set_entry(94, e(&get_env));
    set_entry(95, e(&list_env));
    set_entry(96, e(&now));
    set_entry(99, e(&call_));
    set_entry(101, e(&size_q));
    set_entry(102, e(&browse));
    set_entry(103, e(&compress));
    set_entry(104, e(&decompress));
}

// }==

} // namespace zyl::natives
