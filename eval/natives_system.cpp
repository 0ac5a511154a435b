// eval/natives_system.cpp: the natives that reach the system: wait, checksum, set-env, get-env,
// list-env, now, size?, compress and decompress (call and browse: eval/natives_process.cpp).
//
// They check their arguments and hand them to the services. A native whose service (or
// result datatype) is not built yet refuses bad arguments as it will then, and raises
// "<name> is not yet available" where it would call the service.
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
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
#include "runtime/unicode_text.h"
#include "services/checksum.h"
#include "services/files.h"
#include "services/sysinfo.h"
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
constexpr cell ts_integer = typeset::of({T_integer});
constexpr cell ts_file = typeset::of({T_file});
constexpr cell ts_compress_data = typeset::unite(typeset::standard::any_string, typeset::of({T_binary}));
constexpr cell ts_binary = typeset::of({T_binary});

inline void check_refinement(int32_t check, const cell& ts, int32_t pos) {
    if (check && pos >= 0) error::check_arg_type(&ts, pos, stack::arg(static_cast<uint32_t>(pos)));
}

// The bytes a checksum reads: a binary!'s in place, or a text's UTF-8 in a C++ buffer, so
// that nothing moves them while the digest runs. Valid until the next run-time allocation.
struct checksum_bytes {
    std::vector<uint8_t> utf8;
    const uint8_t* data = nullptr;
    size_t length = 0;

    explicit checksum_bytes(cell* v) {
        if (v->type() == T_binary) {
            length = binary::rs_length_q(v);
            data = binary::head_pointer(v);
            return;
        }
        unicode::text::range r = unicode::text::range_of(v, -1);
        utf8.resize(size_t(unicode::utf8_size_of_range(r.start, r.end, r.unit)) + 1);
        length = size_t(unicode::write_utf8(v, utf8.data(), -1, false));
        data = utf8.data();
    }
};

// Raises what a digest that wrote nothing failed of.
void check_digest(checksum::status s) {
    if (s == checksum::NO_MEMORY) error::raise(error::cat_internal, error::internal_no_memory);
    if (s != checksum::OK) error::raise(error::cat_internal, error::internal_feature_na);
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

// checksum: data method [/with spec]. crc32, tcp and adler32 answer an integer! and take no
// key; the digests answer a binary!, keyed (HMAC) with /with; hash needs an integer key for
// its hash-table variant, which has no algorithm yet.
void checksum(int32_t check, int32_t with) {
    check_arg(check, ts_checksum_data, 0);
    check_arg(check, ts_word, 1);
    check_refinement(check, ts_checksum_key, with);
    cell* data = stack::arg(0);
    if (data->type() == T_file) files::read(data, -1, -1, true, false, data); // the file's bytes, whole
    if (data->type() != T_binary && data->type() != T_string)
        error::raise(error::cat_script, error::script_invalid_arg, data);
    const cell* word = stack::arg(1);
    checksum::method m = word->type() == T_word ? checksum::method_of(word->w2) : checksum::M_COUNT;
    if (m == checksum::M_COUNT) error::raise(error::cat_script, error::script_invalid_arg, word);
    checksum::algorithm a = checksum::algorithm_of(m);
    bool small = m == checksum::M_CRC32 || m == checksum::M_TCP || m == checksum::M_ADLER32;
    cell refinement = with_refinement();
    if (with >= 0 && small) error::raise(error::cat_script, error::script_invalid_refine_arg, &refinement, word);
    checksum_bytes in(data);
    if (small) {
        uint32_t sum = m == checksum::M_CRC32 ? checksum::crc32(in.data, in.length)
                       : m == checksum::M_TCP ? checksum::tcp(in.data, in.length)
                                              : checksum::adler32(in.data, in.length);
        cell r = integer::make_value(static_cast<int32_t>(sum));
        stack::set_last_keep(&r);
        return;
    }
    uint8_t out[checksum::MAX_DIGEST];
    if (with < 0) {
        if (m == checksum::M_HASH) error::raise(error::cat_script, error::script_invalid_refine_arg, &refinement, word);
        check_digest(checksum::digest(a, in.data, in.length, out));
    } else {
        cell* key = stack::arg(static_cast<uint32_t>(with));
        // The hash-table variant has no algorithm yet: refused rather than answered with a 0.
        if (key->type() == T_integer) error::raise(error::cat_internal, error::internal_not_done);
        if (key->type() != T_binary && key->type() != T_string)
            error::raise(error::cat_script, error::script_invalid_arg, key);
        if (m == checksum::M_HASH) error::raise(error::cat_script, error::script_invalid_refine_arg, &refinement, key);
        checksum_bytes k(key);
        check_digest(checksum::hmac(a, in.data, in.length, k.data, k.length, out));
    }
    cell* r = binary::push_from_buffer(out, static_cast<uint32_t>(checksum::digest_size(a)));
    stack::set_last_keep(r);
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

// list-env: the environment as a map! of name and value strings.
void list_env(int32_t check) {
    (void)check;
    auto pairs = sysinfo::environment(environ);
    cell* blk = block::push_new(int32_t(pairs.size() * 2));
    for (const auto& [name, value] : pairs) {
        string::load_in(reinterpret_cast<const uint8_t*>(name.data()), int64_t(name.size()), blk->w2,
                        string::ENCODING_UTF8);
        string::load_in(reinterpret_cast<const uint8_t*>(value.data()), int64_t(value.size()), blk->w2,
                        string::ENCODING_UTF8);
    }
    cell* m = stack::push_slot();
    map::make_at(m, blk, 0);
    stack::set_last_keep(m);
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

// size?: file. none for a folder or a missing file; a size past integer! overflows.
void size_q(int32_t check) {
    check_arg(check, ts_file, 0);
    int64_t size = files::size_of(stack::arg(0));
    if (size > INT32_MAX) error::raise(error::cat_math, error::math_overflow);
    cell r = size < 0 ? none_value : integer::make_value(int32_t(size));
    stack::set_last_keep(&r);
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
    cell* data = stack::arg(0);
    size_t length = binary::rs_length_q(data);
    uint64_t capacity = 0;
    if (size >= 0) {
        int32_t claim = integer::get(stack::arg(static_cast<uint32_t>(size)));
        if (claim > 0) capacity = compress::capped_claim(uint64_t(claim), m, binary::head_pointer(data), length);
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
    set_entry(86, e(&wait));
    set_entry(87, e(&checksum));
    set_entry(93, e(&set_env));
    set_entry(94, e(&get_env));
    set_entry(95, e(&list_env));
    set_entry(96, e(&now));
    set_entry(101, e(&size_q));
    set_entry(103, e(&compress));
    set_entry(104, e(&decompress));
}

// }==

} // namespace zyl::natives
