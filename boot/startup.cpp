// boot/startup.cpp: the run-time start-up sequence, and the first language words.
//
// Until the boot image exists, the language's words are made from the embedded library
// sources: `make` is made first from C++ (it is the action that makes every other native and
// action value), then each source is loaded and evaluated in order.
#include "boot/startup.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/port.h"
#include "datatypes/core.h"
#include "datatypes/init.h"
#include "datatypes/system_fields.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "lexer/lexer.h"
#include "library/clipboard_routines.h"
#include "library/file_routines.h"
#include "library/predicates.h"
#include "library/process_routines.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/extres.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/platform/console_output.h"
#include "runtime/platform/os.h"
#include "runtime/words.h"
#include "services/checksum.h"
#include "services/compress.h"
#include "services/random.h"

namespace zyl::runtime {

namespace {

// Sets the global word [name] to [value].
void set_global(const char* name, const cell* value) {
    cell w = word::load(name);
    context::set_value(&w, value);
}

// The words of the constants that the boot image would bind first.
void set_constant_words() {
    set_global("none", &none_value);
    set_global("true", &true_value);
    set_global("false", &false_value);
}

// `make` is the first word: every later native and action value is made through it. Finds
// "make: make action! [spec n]" in the loaded actions source and makes it from C++.
void make_make(const cell* block) {
    const cell* head = reinterpret_cast<const cell*>(memory::buffer_of(block->w2)->head) + block->w1;
    const cell* tail = reinterpret_cast<const cell*>(memory::buffer_of(block->w2)->tail);
    uint32_t make_sym = symbol::resolve(symbol::make("make"));
    for (const cell* p = head; p + 3 < tail; p++) {
        if (p->type() != T_set_word || symbol::resolve(p->w2) != make_sym) continue;
        if (p[2].type() != T_word || p[3].type() != T_block) continue;
        cell* proto = stack::push(&unset_value);
        *proto = datatype::make_value(T_action);
        cell* spec = stack::push(&p[3]);
        cell w = *p; // read before make_typed allocates: [p] points into the block's buffer
        cell* made = actions::make_typed(proto, spec);
        context::set_value(&w, made);
        stack::pop(2);
        return;
    }
    runtime_error(101, "the actions source does not define make");
}

void eval_library() {
    function::making_library = true;
    for (size_t i = 0; i < library_source_count; i++) {
        const source& s = library_sources[i];
        cell* block = load_text(reinterpret_cast<const uint8_t*>(s.text), s.length);
        if (i == 0) make_make(block);
        interp::eval_block(block, false);
        stack::pop(1);
        stack::pop(1);
    }
    function::making_library = false;
}

} // namespace

cell* load_text(const uint8_t* text, size_t length) {
    cell* result = stack::push(&none_value);
    lexer::options o;
    lexer::scan(result, text, static_cast<int64_t>(length), o);
    return result;
}

void define_routine(const char* name, const char* spec_text, void (*code)()) {
    int32_t index = routine::find(name);
    if (index < 0) index = routine::add(name, code);
    cell* loaded = load_text(reinterpret_cast<const uint8_t*>(spec_text), std::strlen(spec_text));
    *loaded = *block::rs_head(loaded); // the spec block itself, rooted where the load was
    routine::make_value(loaded, nullptr, index, -1, 0);
    cell w = word::load(name);
    context::set_value(&w, stack::top());
    stack::pop(2);
}

void start() {
    console::init_print_hooks();
    os::init_io();
    random::init();
    memory::init();
    extres::init();
    memory::new_node_frame(NODE_FRAME_SLOTS);
    memory::new_series_frame();
    datatypes::init_all();
    actions::init();
    symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
    context::make_global();
    datatype::make_words();
    words::build();
    words::build_refinements();
    words::build_issue();
    system_fields::init();
    natives::init();
    owner::init();
    checksum::init();
    compress::init_method_words();
    stack::create(symbol::make("<body>"), symbol::make("<anon>"));
    lexer::init();
    interp::init();
    error::init_system();
    process_routines::init();
    port::init_system();
    set_constant_words();
    predicates::init();
    file_routines::init();
    clipboard_routines::init();
    collector::gc.active = true;
    eval_library();
}

void stop() {
    interp::set_tracing(false);
    collector::gc.active = false;
    error::forget_system();
    port::forget_system();
    owner::forget();
    context::forget_global();
    words::sym = {};
    words::global = {};
    words::loaded = {};
    words::refs = {};
    symbol::table = {};
    extres::sweep(); // nothing is marked now: every resource is released
    extres::shutdown();
    collector::gc = {};
    es = eval_stack{};
    memory::free_all();
    datatype::reg.words_made = false;
}

} // namespace zyl::runtime
