// boot/startup.cpp: the run-time start-up sequence, and the first language words.
//
// start_core brings every service up to the lexer; boot/image_start.cpp then loads the boot
// image and runs its top level. The boot-image tool stops at start_core.
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
#include "console/line_editor.h"
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

void start_core() {
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
    port::init_system();
    set_constant_words();
    line_editor::init();
}

void stop() {
    interp::set_tracing(false);
    collector::gc.active = false;
    error::forget_system();
    port::forget_system();
    line_editor::forget();
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
