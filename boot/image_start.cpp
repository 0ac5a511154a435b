// boot/image_start.cpp: the start-up's second half, from the embedded boot image.
//
// The image holds the actions and natives as definitions (bound while it is decoded), then
// one block per boot source in section order. Those blocks are the top level: evaluated in
// order, with nothing around them, so an error ends the start with its report.
#include "boot/startup.h"

#include <cstdlib>

#include "boot/root.h"
#include "boot/top_level.h"
#include "boot/zylbin.h"
#include "datatypes/block.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/common.h"
#include "runtime/memory.h"

namespace zyl::runtime {

namespace {

// Room in the root block beyond the image's values, for blocks the run-time roots there.
constexpr uint32_t ROOT_SPARE = 64;

// Collecting at every allocation (ZYL_GC_STRESS) while the library's top level runs costs
// seconds per start and checks the same fixed code each time, so it waits for the top level's
// end unless ZYL_GC_STRESS_BOOT asks for it too; one test does.
struct boot_stress_hold {
    uint64_t saved = mm.stress_every;
    boot_stress_hold() {
        if (!std::getenv("ZYL_GC_STRESS_BOOT")) mm.stress_every = 0;
    }
    ~boot_stress_hold() { mm.stress_every = saved; }
};

} // namespace

void start() {
    start_core();
    // The root block never moves: its capacity is fixed from the count the image tool recorded.
    root::make(boot_image.values + ROOT_SPARE);
    if (root::load({boot_image.bytes, boot_image.length}) != boot_image.values)
        runtime_error(RT_ASSERTION); // a mismatched image
    collector::gc.active = true;
    boot_stress_hold hold;
    top_level::begin();
    node_id root = collector::gc.root_block;
    uint32_t count = uint32_t(series::length(root));
    for (uint32_t i = 0; i < count; i++) {
        cell* source = stack::push(block::cells_of(root) + i);
        if (source->type() == T_block) interp::eval_block(source, false);
        stack::pop(2); // the block and its value
    }
    top_level::finish();
}

} // namespace zyl::runtime
