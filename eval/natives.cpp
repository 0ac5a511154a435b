// eval/natives.cpp: the natives table: its fixed order, the shape of each entry, the stand-in
// entries of natives whose family is not built yet, and calling an entry with its refinements.
#include "eval/natives.h"

#include <algorithm>

#include <array>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/native.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"

namespace zyl::natives {

entry_fn entries[CAPACITY];

// The block that print and prin reduce their block arguments into; made by init.
cell print_scratch;

namespace {

constexpr uint32_t MAX_REFINEMENTS = 12;
constexpr uint32_t PRINT_SCRATCH_CELLS = 32;

// A native the run-time defines: its word and the shape of its entry, as native::has_shape
// reads it: the number of fixed arguments, then the argument count of each refinement in
// spec order (so the entry takes the check flag and strlen(shape) - 1 refinement integers).
struct native_def {
    const char* name;
    const char* shape;
};

// In native-number order: the boot image binds native N to entry N, so the order is fixed.
constexpr native_def defs[COUNT] = {
    {"if", "2"},                {"unless", "2"},          {"either", "3"},          // 1-3
    {"any", "1"},               {"all", "1"},             {"while", "2"},           // 4-6
    {"until", "1"},             {"loop", "2"},            {"repeat", "3"},          // 7-9
    {"forever", "1"},           {"foreach", "3"},         {"forall", "2"},          // 10-12
    {"remove-each", "3"},       {"func", "2"},            {"function", "20"},       // 13-15
    {"does", "1"},              {"has", "2"},             {"switch", "21"},         // 16-18
    {"case", "10"},             {"do", "10111"},          {"get", "100"},           // 19-21
    {"set", "20000"},           {"print", "1"},           {"prin", "1"},            // 22-24
    {"equal?", "2"},            {"not-equal?", "2"},      {"strict-equal?", "2"},   // 25-27
    {"lesser?", "2"},           {"greater?", "2"},        {"lesser-or-equal?", "2"}, // 28-30
    {"greater-or-equal?", "2"}, {"same?", "2"},           {"not", "1"},             // 31-33
    {"type?", "10"},            {"reduce", "11"},         {"compose", "1001"},      // 34-36
    {"stats", "000"},           {"bind", "20"},           {"in", "2"},              // 37-39
    {"parse", "2011"},          {"union", "201"},         {"intersect", "201"},     // 40-42
    {"unique", "101"},          {"difference", "201"},    {"exclude", "201"},       // 43-45
    {"complement?", "1"},       {"dehex", "1"},           {"enhex", "1"},           // 46-48
    {"negative?", "1"},         {"positive?", "1"},       {"max", "2"},             // 49-51
    {"min", "2"},               {"shift", "200"},         {"to-hex", "11"},         // 52-54
    {"sine", "10"},             {"cosine", "10"},         {"tangent", "10"},        // 55-57
    {"arcsine", "10"},          {"arccosine", "10"},      {"arctangent", "10"},     // 58-60
    {"arctangent2", "20"},      {"NaN?", "1"},            {"log-2", "1"},           // 61-63
    {"log-10", "1"},            {"log-e", "1"},           {"exp", "1"},             // 64-66
    {"square-root", "1"},       {"construct", "110"},     {"value?", "1"},          // 67-69
    {"try", "100"},             {"uppercase", "11"},      {"lowercase", "11"},      // 70-72
    {"as-pair", "2"},           {"as-point2D", "2"},      {"as-point3D", "3"},      // 73-75
    {"as-money", "2"},          {"break", "01"},          {"continue", "0"},        // 76-78
    {"exit", "0"},              {"return", "1"},          {"throw", "11"},          // 79-81
    {"catch", "11"},            {"extend", "20"},         {"debase", "11"},         // 82-84
    {"to-local-file", "10"},    {"wait", "10"},           {"checksum", "21"},       // 85-87
    {"unset", "1"},             {"new-line", "201"},      {"new-line?", "1"},       // 88-90
    {"enbase", "11"},           {"context?", "1"},        {"set-env", "2"},         // 91-93
    {"get-env", "1"},           {"list-env", "0"},        {"now", "00000000000"},   // 94-96
    {"sign?", "1"},             {"as", "2"},              {"call", "10000111"},     // 97-99
    {"zero?", "1"},             {"size?", "1"},           {"browse", "1"},          // 100-102
    {"compress", "21"},         {"decompress", "21"},     {"recycle", "000"},       // 103-105
    {"transcode", "10000111"},  {"apply", "200"},                                   // 106-107
};

constexpr uint32_t refinements_of(uint32_t i) {
    uint32_t n = 0;
    while (defs[i].shape[n]) n++;
    return n - 1;
}

template <size_t> using param = int32_t;

// The stand-in entry of native [N] (1-based), with the parameters its shape gives.
template <uint32_t N, typename Seq> struct stand_in;
template <uint32_t N, size_t... I> struct stand_in<N, std::index_sequence<I...>> {
    static void entry(int32_t, param<I>...) { not_yet_available(defs[N - 1].name); }
};

template <size_t... I> auto make_stand_ins(std::index_sequence<I...>) {
    return std::array<native_info, COUNT>{
        native_info{defs[I].name,
                    reinterpret_cast<entry_fn>(
                        &stand_in<I + 1, std::make_index_sequence<refinements_of(I)>>::entry)}...};
}

struct table_state {
    const char* names[CAPACITY];
    uint32_t next; // 1-based index of the next entry register_native_table fills
};
table_state table{{}, 1};

// Calls [f] as an entry of the refinement parameters [refs], after the check flag when
// [with_check].
template <size_t... I> void call_refs(entry_fn f, bool with_check, int32_t check, const int32_t* refs,
                                      std::index_sequence<I...>) {
    if (with_check) {
        reinterpret_cast<void (*)(int32_t, param<I>...)>(f)(check, refs[I]...);
    } else {
        reinterpret_cast<void (*)(param<I>...)>(f)(refs[I]...);
    }
}

using caller = void (*)(entry_fn, bool, int32_t, const int32_t*);

template <size_t N> void call_n(entry_fn f, bool with_check, int32_t check, const int32_t* refs) {
    call_refs(f, with_check, check, refs, std::make_index_sequence<N>());
}

template <size_t... N> constexpr std::array<caller, sizeof...(N)> make_callers(std::index_sequence<N...>) {
    return {&call_n<N>...};
}

constexpr auto callers = make_callers(std::make_index_sequence<MAX_REFINEMENTS + 1>());

// The block print reduces into: kept by the root block once there is one.
void make_print_scratch() {
    if (collector::gc.root_block) {
        cell root{T_block, 0, collector::gc.root_block, 0};
        print_scratch = *block::make_fixed_in(&root, PRINT_SCRATCH_CELLS);
    } else {
        block::make_at_fixed(&print_scratch, PRINT_SCRATCH_CELLS, true);
    }
}

} // namespace


const char* name(uint32_t n) { return n >= 1 && n <= CAPACITY ? table.names[n - 1] : nullptr; }

uint32_t next_index() { return table.next; }

void register_native_table(uint32_t count, const native_info* infos) {
    if (table.next - 1 + count > CAPACITY) runtime_error(RT_NO_SWITCH); // a build fault of the run-time
    for (uint32_t i = 0; i < count; i++, table.next++) {
        entries[table.next - 1] = infos[i].entry;
        table.names[table.next - 1] = infos[i].name;
    }
}

void set_entry(uint32_t n, entry_fn f) {
    ZYL_ASSERT(n >= 1 && n <= CAPACITY);
    entries[n - 1] = f;
}

void init() {
    table = table_state{{}, 1};
    std::fill(std::begin(entries), std::end(entries), nullptr);
    make_print_scratch();
    static const auto stand_ins = make_stand_ins(std::make_index_sequence<COUNT>());
    register_native_table(COUNT, stand_ins.data());
    init_function();
    init_word();
    init_control();
    init_compare();
    init_math();
    init_set();
    init_text();
    init_transcode();
    init_system();
    init_process();
    init_parse();
}

void call(entry_fn f, bool with_check, int32_t check, uint32_t nrefs, const int32_t* refs) {
    ZYL_ASSERT(nrefs <= MAX_REFINEMENTS);
    callers[nrefs](f, with_check, check, refs);
}

void not_yet_available(const char* name) {
    cell* text = string::push_new(32);
    string::concatenate_literal(text, name);
    string::concatenate_literal(text, " is not yet available");
    error::raise(error::cat_user, error::user_message, text);
}

} // namespace zyl::natives

namespace zyl::native {

const char* shape(uint32_t n) { return n >= 1 && n <= natives::COUNT ? natives::defs[n - 1].shape : nullptr; }

} // namespace zyl::native
