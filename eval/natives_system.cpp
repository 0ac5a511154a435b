// eval/natives_system.cpp: the natives that reach the system: wait, checksum, set-env, get-env,
// list-env, now, call, size?, browse, compress and decompress.
//
// They check their arguments and hand them to the services. A native whose service (or
// result datatype) is not built yet refuses bad arguments as it will then, and raises
// "<name> is not yet available" where it would call the service.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/core.h"
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
#include "services/compress.h"

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

// The continuous day number of a date (1 March of year 0 counts from 0).
int64_t day_number(int64_t year, int64_t month, int64_t day) {
    int64_t m = (month + 9) % 12;
    int64_t y = year - m / 10;
    return 365 * y + y / 4 - y / 100 + y / 400 + (m * 306 + 5) / 10 + (day - 1);
}

// }==
// {== Compression

// The compression method that argument 1 names; an unknown word raises invalid-arg with it.
int compression_method() {
    const cell* w = stack::arg(1);
    int m = compress::method_of(w->w2);
    if (m == compress::M_COUNT) error::raise(error::cat_script, error::script_invalid_arg, w);
    return m;
}

// A codec result that is not a size request: an output past the largest buffer is out of
// memory, as making that binary would be; anything else is bad data (argument 0).
[[noreturn]] void codec_failed(int r) {
    if (r == compress::TOO_LARGE) error::raise(error::cat_internal, error::internal_no_memory);
    error::raise(error::cat_script, error::script_invalid_data, stack::arg(0));
}

// Runs [codec] (output, size) into a new binary! of [capacity], and once more with the size
// it asks for; the binary becomes the result. The binary is made before the codec runs, so
// no series moves while the codec holds pointers into them.
template <typename F> void fill_binary(uint64_t capacity, F codec) {
    for (int attempt = 0; attempt < 2; attempt++) {
        if (capacity > MAX_BUFFER_BYTES) error::raise(error::cat_internal, error::internal_no_memory);
        cell* out = binary::make_at(stack::push_slot(), uint32_t(capacity));
        series_buffer* b = memory::buffer_of(out->w2);
        size_t size = size_t(capacity);
        int r = codec(b->head, size);
        if (r == compress::OK) {
            b->tail = b->head + size;
            stack::set_last_keep(out);
            return;
        }
        stack::pop(1);
        if (r != compress::TOO_SMALL) codec_failed(r);
        capacity = size;
    }
    codec_failed(compress::MALFORMED);
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
void now(int32_t check, int32_t year, int32_t month, int32_t day, int32_t time_, int32_t zone, int32_t date,
         int32_t weekday, int32_t yearday, int32_t precise, int32_t utc) {
    (void)check;
    const int32_t asked[] = {year, month, day, time_, zone, date, weekday, yearday, precise};
    int32_t used = 0;
    for (int32_t r : asked) used += r >= 0;
    // One field at a time; /precise goes alone or with /time.
    if (used >= 2 && !(used == 2 && time_ >= 0 && precise >= 0))
        error::raise(error::cat_script, error::script_bad_refines);
    if (date >= 0 || used == 0 || (used == 1 && precise >= 0)) not_yet_available("date!");
    clock_reading c = read_clock(utc >= 0, precise >= 0);
    cell r = none_value;
    if (year >= 0) r = integer::make_value(c.year);
    if (month >= 0) r = integer::make_value(c.month);
    if (day >= 0) r = integer::make_value(c.day);
    if (time_ >= 0) time::make_at(c.local, &r);
    if (zone >= 0) time::make_at(c.zone, &r);
    int64_t days = day_number(c.year, c.month, c.day);
    if (weekday >= 0) r = integer::make_value(int32_t((days + 2) % 7 + 1));
    if (yearday >= 0) r = integer::make_value(int32_t(days - day_number(c.year, 1, 1) + 1));
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
    int m = compression_method();
    int lvl = -1;
    if (level >= 0) {
        const cell* l = stack::arg(static_cast<uint32_t>(level));
        lvl = integer::get(l);
        if (lvl < 1 || lvl > (m == compress::M_ZSTD ? 19 : 9)) error::raise(error::cat_script, error::script_out_of_range, l);
    }
    if (m == compress::M_ZSTD) not_yet_available("zstd");
    cell* data = stack::arg(0);
    bool bytes = data->type() == T_binary;
    std::vector<uint8_t> text; // a C++ copy: the conversion buffer would move under the output's allocation
    size_t length;
    if (bytes) {
        length = binary::rs_length_q(data);
    } else {
        int64_t n = -1;
        node_id conv = 0;
        const uint8_t* utf8 = unicode::to_utf8(data, n, conv);
        text.assign(utf8, utf8 + n);
        length = text.size();
    }
    fill_binary(compress::compress_capacity(length), [&](uint8_t* out, size_t& size) {
        const uint8_t* in = bytes ? binary::head_pointer(data) : text.data();
        return compress::compress_with(m, out, size, in, length, lvl);
    });
}

// decompress: data method [/size sz]
void decompress(int32_t check, int32_t size) {
    check_arg(check, ts_binary, 0);
    check_arg(check, ts_word, 1);
    check_refinement(check, ts_integer, size);
    int m = compression_method();
    if (m == compress::M_ZSTD) not_yet_available("zstd");
    cell* data = stack::arg(0);
    size_t length = binary::rs_length_q(data);
    uint64_t capacity = 0;
    if (size >= 0) {
        int32_t claim = integer::get(stack::arg(static_cast<uint32_t>(size)));
        if (claim > 0) capacity = compress::capped_claim(uint64_t(claim), length);
    }
    auto decode = [&](uint8_t* out, size_t& produced) {
        return compress::decompress_with(m, out, produced, binary::head_pointer(data), length, MAX_BUFFER_BYTES);
    };
    if (compress::decompress_measures(m, capacity, length)) {
        size_t need = 0;
        int r = decode(nullptr, need);
        if (r != compress::OK && r != compress::TOO_SMALL) codec_failed(r);
        capacity = need;
    }
    fill_binary(capacity, decode);
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
